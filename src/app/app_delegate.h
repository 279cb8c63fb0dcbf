#pragma once

#include "app/pill_window.h"
#include "app/popover_window.h"
#include "platform/model_container.h"
#include "store/app_store.h"
#include "views/popover/popover_root_view.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace orvane {

// Owns what the application is made of, for the life of the process: the
// store, the local record store, the status item with the pill, the popover
// and the sync ticker.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int kSyncIntervalMs = 30'000;

    // `recordStorePath`: where stopped sessions are recorded; the default
    // place when empty.
    explicit AppDelegate(QString recordStorePath = {}, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();

    void statusButtonClicked();
    void togglePopover();
    void updateStatusItemLength();
    void repositionPopoverIfNeeded();
    double statusButtonCenterScreenX() const;
    // One firing of the sync ticker.
    void syncTick();

    AppStore* appStore() const { return appStore_.get(); }
    platform::ModelContainer* modelContainer() const { return modelContainer_.get(); }
    // The container the popover records into: the launch one, or the second
    // attempt's; none when both failed (then nothing is recorded).
    platform::ModelContainer* popoverModelContainer() const;
    PillWindow* statusItem() const { return statusItem_.get(); }
    PopoverWindow* popover() const { return popover_.get(); }
    PopoverRootView* root() const { return root_; }
    const QTimer& remoteSyncTicker() const { return remoteSyncTicker_; }
    double statusItemLength() const { return statusItemLength_; }

private:
    std::unique_ptr<platform::ModelContainer> openModelContainer() const;

    QString recordStorePath_;

    // Declared first, destroyed last: the windows go before the store.
    std::unique_ptr<AppStore> appStore_;
    std::unique_ptr<platform::ModelContainer> modelContainer_;
    std::unique_ptr<platform::ModelContainer> popoverContainer_;
    std::unique_ptr<PillWindow> statusItem_;
    std::unique_ptr<PopoverWindow> popover_;
    PopoverRootView* root_ = nullptr; // the popover's content
    QTimer remoteSyncTicker_;
    double lastButtonCenterScreenX_ = 0;
    double statusItemLength_ = -1; // variable until the first fit
};

} // namespace orvane
