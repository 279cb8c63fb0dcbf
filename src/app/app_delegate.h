#pragma once

#include "app/pill_window.h"
#include "app/popover_window.h"
#include "app/status_icon.h"
#include "platform/model_container.h"
#include "platform/status_notifier_item.h"
#include "store/app_store.h"
#include "views/popover/popover_root_view.h"

#include <QObject>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace orvane {

// Owns what the application is made of, for the life of the process: the
// store, the local record store, the status item with the pill, the popover
// and the sync ticker.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    enum class StatusItemPlace { Panel, PillWindow };

    static constexpr int kSyncIntervalMs = 30'000;
    // Long enough for a sync's replies to be in and read.
    static constexpr int kHeapTrimDelayMs = 5'000;

    // `recordStorePath`: where stopped sessions are recorded; the default
    // place when empty.
    // `bus`: where the panel item is offered (the session bus).
    explicit AppDelegate(QString recordStorePath = {},
                         QDBusConnection bus = QDBusConnection::sessionBus(),
                         QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();

    void statusButtonClicked();
    // Opens or closes the popover next to `anchor` (a panel item's click
    // point, or the pill window).
    void togglePopoverAt(const QRect& anchor);
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
    platform::StatusNotifierItem* panelItem() const { return panelItem_.get(); }
    // Whether the status item shows on the panel (else as the pill window):
    // only while a panel shows the watcher's items.
    bool onPanel() const { return panelItem_ && panelItem_->shownOnPanel(); }
    PopoverWindow* popover() const { return popover_.get(); }
    PopoverRootView* root() const { return root_; }
    const QTimer& remoteSyncTicker() const { return remoteSyncTicker_; }
    const QTimer& heapTrim() const { return heapTrim_; }
    double statusItemLength() const { return statusItemLength_; }

Q_SIGNALS:
    // Where the user finds Orvane, once that is known and whenever it changes.
    void statusItemPlaced(orvane::AppDelegate::StatusItemPlace place);

private:
    std::unique_ptr<platform::ModelContainer> openModelContainer() const;
    void chooseStatusItemForm();
    // A click on the panel item, at the point its host gave.
    void panelItemClicked(QPoint reported);
    // Opens at `at`, or where the item is thought to be, or closes.
    void togglePopoverFromPanel(std::optional<QPoint> at, bool fromMenuEntry);
    QPoint placeOfItem() const;
    void updatePanelItem();
    void scheduleHeapTrim();

    QString recordStorePath_;
    QDBusConnection bus_;

    // Declared first, destroyed last: the windows go before the store.
    std::unique_ptr<AppStore> appStore_;
    std::unique_ptr<platform::ModelContainer> modelContainer_;
    std::unique_ptr<platform::ModelContainer> popoverContainer_;
    std::unique_ptr<PillWindow> statusItem_;
    std::unique_ptr<platform::StatusNotifierItem> panelItem_;
    std::optional<StatusIconFace> panelIconFace_;
    std::unique_ptr<StatusIconFiles> iconFiles_;
    std::unique_ptr<PopoverWindow> popover_;
    PopoverRootView* root_ = nullptr; // the popover's content
    QTimer remoteSyncTicker_;
    QTimer heapTrim_; // a while after a burst of work
    double lastButtonCenterScreenX_ = 0;
    double statusItemLength_ = -1; // variable until the first fit
    std::optional<StatusItemPlace> announcedPlace_;
    QElapsedTimer clock_; // the moments of panel clicks
    PanelClickMoments panelClicks_;
    // Where the last click that told found the item, under which monitors.
    std::optional<std::pair<QPoint, QList<QRect>>> itemPlace_;
};

} // namespace orvane
