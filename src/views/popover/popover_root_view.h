#pragma once

#include "platform/model_container.h"
#include "store/app_store.h"
#include "views/kit/chrome.h"
#include "views/popover/local_key_monitor.h"
#include "views/popover/popover_root_state.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QScrollArea;
class QVBoxLayout;
class QWindow;

namespace orvane {

namespace platform {
class ClockSleep;
}

class PopoverRootView;
class TextBlock;

// How the root builds the views it places. Each maker is called only while
// its view is needed; one left empty leaves its slot empty.
struct PopoverViews {
    using Make = std::function<QWidget*(PopoverRootView& root, QWidget* parent)>;
    Make login;
    Make header;
    Make todayCard;
    Make quickStart;
    Make recent;
    Make footer;
    std::function<QWidget*(PopoverRootView& root, std::function<void(std::optional<QUuid>)> done,
                           QWidget* parent)>
        sessionFlow;
    Make multiTimer;
    std::function<QWidget*(PopoverRootView& root, std::function<void()> done, QWidget* parent)>
        summary;
    Make card;
    std::function<void(QWidget* card, const TimerSession& session, bool useLight)> updateCard;
    // Whether a panel wants clicks on the dim layer ignored for now (while it
    // stops timers, or asks about unsaved changes).
    std::function<bool(QWidget* panel)> dimLayerInert;
};

// The one view the popover hosts: the sign-in view while signed out, else
// header, error line, sections and footer; over that at most one panel
// (session flow, multi-timer choice, summary) above a dim layer. While on
// screen it keeps the store fresh and owns the popover's two shortcuts.
class PopoverRootView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize kSize{400, 560};
    static constexpr int kMostErrorLines = 3;

    PopoverRootView(AppStore& store, platform::ModelContext* modelContext, PopoverViews views,
                    QWidget* parent = nullptr);
    ~PopoverRootView() override;

    AppStore& store() const { return *store_; }
    ChromeSetting& chrome() { return chrome_; }

    std::optional<TimerSession> currentSession() const;
    bool showSessionFlow() const { return showSessionFlow_; }
    bool isOverlayPresented() const;
    OverlayPanel shownOverlay() const { return overlayKind_; }
    QWidget* overlayPanel() const { return overlayPanel_; }
    QWidget* mainPanel() const { return mainPanel_; }
    bool dimLayerShown() const;
    QString errorLineText() const; // empty while no error line shows
    QString syncKey() const { return syncKey_; }
    LocalKeyMonitor& keyHandler() { return keyHandler_; }

    void openSessionFlow();
    void startOrStop();
    void stopSessionTask(TimerSession session);
    void dismissTopOverlay();
    void dismissOverlayAnimated();
    void closeSummary();
    void closeSessionFlow(std::optional<QUuid> startedSession);

Q_SIGNALS:
    void overlayChanged(orvane::OverlayPanel panel);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SyncRun;

    void onStoreChanged(AppStore::Property property);
    void rebuildMainPanel();
    void keepKeyboardFrom(QWidget* leaving);
    void updateOverlay();
    void layoutOverlay();
    void updateCard();
    void announceTimer(const std::optional<TimerSession>& before);
    void orderColumnFocus();
    void updateErrorLine();
    void refreshOnLogin();
    void scheduleSyncLoop();
    void applySyncLoopKey();
    static QCoro::Task<void> syncLoop(QPointer<AppStore> store, std::shared_ptr<SyncRun> run);

    QPointer<AppStore> store_;
    QPointer<platform::ModelContext> modelContext_;
    PopoverViews views_;
    ChromeSetting chrome_;
    LocalKeyMonitor keyHandler_;
    bool showSessionFlow_ = false;

    QPointer<QWidget> mainPanel_;
    std::optional<MainPanel> mainKind_;
    QPointer<QWidget> card_;
    std::optional<TimerSession> announcedSession_; // the timer screen readers last heard of
    std::optional<QString> announcedError_;
    QVBoxLayout* scrollColumn_ = nullptr;
    QWidget* errorLine_ = nullptr;
    TextBlock* errorText_ = nullptr;

    QWidget* dimLayer_ = nullptr;
    QWidget* overlayFrame_ = nullptr;
    QPointer<QWidget> overlayPanel_;
    OverlayPanel overlayKind_ = OverlayPanel::None;

    std::shared_ptr<SyncRun> syncRun_;
    QString syncKey_;
    bool syncRestartPending_ = false;

    // A double-click's second press after its first changed what is under
    // the pointer.
    QPointer<QWindow> pointerWindow_;
    bool contentMovedSincePress_ = false;
    bool swallowingClick_ = false;
};

} // namespace orvane
