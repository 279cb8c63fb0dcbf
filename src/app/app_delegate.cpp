#include "app/app_delegate.h"

#include "app/paint_probe.h"
#include "app/popover_placement.h"
#include "app/status_icon.h"
#include "platform/free_memory.h"
#include "views/popover/popover_views.h"
#include "store/stopped_session_record.h"

#include "app/desktop_window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QPointer>

namespace orvane {

AppDelegate::AppDelegate(QString recordStorePath, QDBusConnection bus, QObject* parent)
    : QObject(parent),
      recordStorePath_(recordStorePath.isEmpty() ? platform::ModelContainer::defaultPath()
                                                 : std::move(recordStorePath)),
      bus_(std::move(bus)) {
    clock_.start();
}

AppDelegate::~AppDelegate() {
    popover_.reset();
    panelItem_.reset();
    statusItem_.reset();
}

std::unique_ptr<platform::ModelContainer> AppDelegate::openModelContainer() const {
    return platform::ModelContainer::open(recordStorePath_, {StoppedSessionRecord::schema()});
}

void AppDelegate::applicationDidFinishLaunching() {
    appStore_ = std::make_unique<AppStore>();
    modelContainer_ = openModelContainer();

    const QPointer<AppDelegate> self(this);
    statusItem_ = std::make_unique<PillWindow>(*appStore_, [self] {
        if (self)
            self->togglePopover();
    });
    connect(statusItem_.get(), &PillWindow::clicked, this, &AppDelegate::statusButtonClicked);
    // Refitted when the pill's content changes rather than on a ticker: the
    // same widths, without waking twice a second.
    connect(statusItem_->pill(), &MenuBarPillView::contentChanged, this,
            &AppDelegate::updateStatusItemLength);
    updateStatusItemLength();
    connect(statusItem_->pill(), &MenuBarPillView::contentChanged, this,
            &AppDelegate::updatePanelItem);
    // The panel's notification area where a watcher runs; else the pill window.
    if (bus_.isConnected()) {
        panelItem_ = std::make_unique<platform::StatusNotifierItem>(bus_);
        panelItem_->setMenuEntry(QStringLiteral("Orvane öffnen"));
        updatePanelItem();
        connect(panelItem_.get(), &platform::StatusNotifierItem::activated, this,
                &AppDelegate::panelItemClicked);
        connect(panelItem_.get(), &platform::StatusNotifierItem::menuEntryChosen, this,
                [this] { togglePopoverFromPanel(std::nullopt, true); });
        connect(panelItem_.get(), &platform::StatusNotifierItem::menuShown, this,
                [this](bool shown) {
                    if (!shown || !popover_)
                        return;
                    panelClicks_.menuOpenedAt = clock_.elapsed();
                    panelClicks_.openWhenMenuOpened = popover_->isOpen();
                });
        connect(panelItem_.get(), &platform::StatusNotifierItem::activationTokenProvided, this,
                [](const QString& token) { qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8()); });
        connect(panelItem_.get(), &platform::StatusNotifierItem::watcherPresenceChanged, this,
                &AppDelegate::chooseStatusItemForm);
        connect(panelItem_.get(), &platform::StatusNotifierItem::hostRegisteredChanged, this,
                &AppDelegate::chooseStatusItemForm);
        // A name owner that is no watcher shows nothing: the pill stands in.
        connect(panelItem_.get(), &platform::StatusNotifierItem::refusedChanged, this,
                &AppDelegate::chooseStatusItemForm);
    }
    chooseStatusItemForm();
    lastButtonCenterScreenX_ = statusButtonCenterScreenX();
    connect(statusItem_.get(), &PillWindow::geometryChanged, this,
            &AppDelegate::repositionPopoverIfNeeded);

    remoteSyncTicker_.setInterval(kSyncIntervalMs);
    remoteSyncTicker_.setTimerType(Qt::CoarseTimer);
    connect(&remoteSyncTicker_, &QTimer::timeout, this, &AppDelegate::syncTick);
    remoteSyncTicker_.start();

    heapTrim_.setSingleShot(true);
    heapTrim_.setInterval(kHeapTrimDelayMs);
    heapTrim_.setTimerType(Qt::CoarseTimer);
    connect(&heapTrim_, &QTimer::timeout, this, [] { platform::returnFreeHeapMemory(); });

    if (!modelContainer_)
        popoverContainer_ = openModelContainer();
    popover_ = std::make_unique<PopoverWindow>();
    // A panel that is up keeps Escape for itself.
    popover_->setEscapeCloses([this] { return !root_ || !root_->isOverlayPresented(); });
    connect(popover_.get(), &PopoverWindow::shownChanged, this, [this](bool shown) {
        if (!shown)
            scheduleHeapTrim();
    });
    connect(popover_.get(), &PopoverWindow::closedByItself, this,
            [this] { panelClicks_.closedByItselfAt = clock_.elapsed(); });
    PaintProbe::installIfAsked(popover_.get());
    platform::ModelContainer* container = popoverModelContainer();
    root_ = new PopoverRootView(*appStore_, container ? container->mainContext() : nullptr,
                                defaultPopoverViews());
    popover_->setContent(root_);
}

platform::ModelContainer* AppDelegate::popoverModelContainer() const {
    return modelContainer_ ? modelContainer_.get() : popoverContainer_.get();
}

void AppDelegate::chooseStatusItemForm() {
    if (!statusItem_)
        return;
    if (!onPanel())
        updateStatusItemLength(); // not kept up while hidden
    statusItem_->setVisible(!onPanel());
    // Told once the panel (if any) has said whether it shows items.
    if (panelItem_ && panelItem_->watcherPresent() && !panelItem_->hostKnown() &&
        !panelItem_->refused())
        return;
    const StatusItemPlace place = onPanel() ? StatusItemPlace::Panel : StatusItemPlace::PillWindow;
    if (announcedPlace_ != place) {
        announcedPlace_ = place;
        Q_EMIT statusItemPlaced(place);
    }
}

void AppDelegate::updatePanelItem() {
    if (!panelItem_ || !statusItem_)
        return;
    const PillContent& content = statusItem_->pill()->content();
    // Each carries a change only: the label once a second at most while a
    // clock runs, the icon once a minute.
    const StatusIconFace face = statusIconFace(content);
    if (panelIconFace_ != face) {
        const qint64 cpuBefore = PaintProbe::asked() ? PaintProbe::threadCpuNs() : 0;
        panelIconFace_ = face;
        if (!iconFiles_)
            iconFiles_ = std::make_unique<StatusIconFiles>();
        // Drawn once for the files and the pixmaps both.
        const QList<QImage> images = statusIconImages(face);
        panelItem_->setIconName(iconFiles_->nameFor(face, images), iconFiles_->themePath());
        panelItem_->setIcon(images);
        if (PaintProbe::asked())
            PaintProbe::noteIconCost(PaintProbe::threadCpuNs() - cpuBefore);
    }
    // The time once, in the title: LXQt shows the title alone, XFCE the title
    // when there is no text, Plasma both.
    panelItem_->setToolTip(statusToolTipTitle(content), QString());
    const QString label = statusLabel(content);
    panelItem_->setLabel(label, labelGuide(label));
}

void AppDelegate::statusButtonClicked() {
    togglePopover();
}

void AppDelegate::togglePopover() {
    if (!statusItem_)
        return;
    // Handed over by a second start: open where the user looks for Orvane.
    if (onPanel())
        togglePopoverFromPanel(std::nullopt, false);
    else
        togglePopoverAt(statusItem_->anchor());
}

namespace {
// What decides where panels are: the monitors, and which is the primary one.
QList<QRect> screenLayout() {
    QList<QRect> layout;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        layout.append(primary->geometry());
    for (const QScreen* screen : QGuiApplication::screens())
        layout.append(screen->geometry());
    return layout;
}
} // namespace

void AppDelegate::panelItemClicked(QPoint reported) {
    const std::optional<QPoint> at =
        panelClickPoint(reported, panelItem_->cursorPosition(), pointerTrust());
    if (at)
        itemPlace_ = {*at, screenLayout()};
    togglePopoverFromPanel(at, false);
}

void AppDelegate::togglePopoverFromPanel(std::optional<QPoint> at, bool fromMenuEntry) {
    if (!popover_)
        return;
    panelClicks_.open = popover_->isOpen();
    const PanelClick action = panelClickAction(panelClicks_, clock_.elapsed(), fromMenuEntry);
    // That menu's part is played: a later one starts afresh.
    if (fromMenuEntry)
        panelClicks_ = {};
    switch (action) {
    case PanelClick::Close:
        popover_->dismiss();
        return;
    case PanelClick::Nothing:
        return;
    case PanelClick::Open:
        break;
    }
    popover_->openAt(QRect(at ? *at : placeOfItem(), QSize(1, 1)));
}

QPoint AppDelegate::placeOfItem() const {
    // The panel may have moved with a change of monitors.
    if (itemPlace_ && itemPlace_->second == screenLayout())
        return itemPlace_->first;
    const std::optional<DesktopPanels> panels = desktopPanels();
    // A pointer that follows the user is by the item's menu: at the panel
    // across from it.
    std::optional<QPoint> pointer = panelItem_ ? panelItem_->cursorPosition() : std::nullopt;
    if (pointerTrust() != PointerTrust::Current)
        pointer.reset();
    if (QScreen* screen = pointer ? QGuiApplication::screenAt(*pointer) : nullptr)
        return panelEdgeAnchor(screen->geometry(), popoverAreaOf(*screen, panels), pointer);
    // Else at the end of a panel: on the first monitor that has one, the
    // primary one first.
    QList<QScreen*> screens = QGuiApplication::screens();
    if (QScreen* primary = QGuiApplication::primaryScreen()) {
        screens.removeAll(primary);
        screens.prepend(primary);
    }
    if (screens.isEmpty())
        return pointer.value_or(QPoint());
    for (QScreen* screen : screens) {
        const QRect area = popoverAreaOf(*screen, panels);
        if (area != screen->geometry())
            return panelEdgeAnchor(screen->geometry(), area);
    }
    return panelEdgeAnchor(screens.first()->geometry(), popoverAreaOf(*screens.first(), panels));
}

void AppDelegate::togglePopoverAt(const QRect& anchor) {
    if (!popover_)
        return;
    if (popover_->isOpen()) {
        popover_->dismiss();
        return;
    }
    // The click on the status item that made the popover close itself.
    if (popover_->justClosedByItself())
        return;
    popover_->openAt(anchor);
}

void AppDelegate::updateStatusItemLength() {
    // A hidden pill window needs no fitting; measuring the clock's text every
    // second would be the idle app's largest cost.
    if (!statusItem_ || onPanel())
        return;
    if (const auto length =
            fittedStatusItemLength(statusItemLength_, statusItem_->pill()->fittingWidth())) {
        statusItemLength_ = *length;
        statusItem_->setItemLength(static_cast<int>(*length));
    }
}

double AppDelegate::statusButtonCenterScreenX() const {
    return statusItem_ ? statusItem_->pillCenter().x() : 0;
}

void AppDelegate::repositionPopoverIfNeeded() {
    const double x = statusButtonCenterScreenX();
    const double dx = x - lastButtonCenterScreenX_;
    lastButtonCenterScreenX_ = x;
    if (!popover_ || !popover_->isOpen())
        return;
    if (const auto slide = popoverSlide(dx))
        popover_->slideBy(*slide);
}

void AppDelegate::syncTick() {
    if (appStore_ && appStore_->isLoggedIn()) {
        appStore_->syncWithServer();
        scheduleHeapTrim(); // once its replies are read
    }
}

// At most once per delay, however busy the user is.
void AppDelegate::scheduleHeapTrim() {
    if (!heapTrim_.isActive())
        heapTrim_.start();
}

} // namespace orvane
