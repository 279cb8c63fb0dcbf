#include "app/app_delegate.h"
#include "app/menu_bar_pill_view.h"
#include "app/paint_probe.h"
#include "app/pill_accessible.h"
#include "app/popover_placement.h"
#include "app/single_instance.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/private_bus.h"
#include "support/temp_user_defaults.h"

#include <QAccessible>
#include <QApplication>
#include <QBackingStore>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <time.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC);

TimerSession session(const char* id, qint64 runningForSecs, bool onBreak = false) {
    TimerSession s;
    s.id = stableUUID(QString::fromLatin1(id));
    s.jobTimeServerId = QString::fromLatin1(id);
    s.startedAt = kNow.addSecs(-runningForSecs);
    s.running = !onBreak;
    s.onBreak = onBreak;
    if (onBreak) {
        s.onBreakSince = kNow.addSecs(-60);
        s.elapsedSecs = 600;
    }
    return s;
}

} // namespace

// ---- What the pill shows ----

TEST(PillContent, FollowsTheDisplayedSessionAndTheSignInState) {
    using Kind = PillContent::Kind;
    const auto second = stableUUID(QStringLiteral("j2"));
    const struct {
        const char* name;
        bool signedIn;
        std::vector<TimerSession> sessions;
        std::optional<QUuid> active;
        qint64 today;
        PillContent shown;
    } cases[] = {
        {"running, 3725 s",
         true,
         {session("j1", 3725)},
         std::nullopt,
         0,
         {Kind::Running, "01:02:05"}},
        {"active names the second",
         true,
         {session("j1", 10), session("j2", 20)},
         second,
         0,
         {Kind::Running, "00:00:20"}},
        {"active names none: the first",
         true,
         {session("j1", 10), session("j2", 20)},
         QUuid::createUuid(),
         0,
         {Kind::Running, "00:00:10"}},
        {"started in the future",
         true,
         {session("j1", -30)},
         std::nullopt,
         0,
         {Kind::Running, "00:00:00"}},
        {"a hundred hours",
         true,
         {session("j1", 360000)},
         std::nullopt,
         0,
         {Kind::Running, "100:00:00"}},
        {"on a break: today's total",
         true,
         {session("j1", 900, true)},
         std::nullopt,
         4500,
         {Kind::Idle, "01:15:00"}},
        {"on a break, negative total",
         true,
         {session("j1", 900, true)},
         std::nullopt,
         -5,
         {Kind::Idle, "00:00:00"}},
        {"signed in, nothing open", true, {}, std::nullopt, 59, {Kind::Idle, "00:00:59"}},
        {"signed out, nothing open: the icon", false, {}, std::nullopt, 59, {}},
        {"signed out, a timer runs: its clock",
         false,
         {session("j1", 61)},
         std::nullopt,
         0,
         {Kind::Running, "00:01:01"}},
        {"signed out, on a break: the icon", false, {session("j1", 61, true)}, std::nullopt, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PillContent shown = pillContent(c.signedIn, c.sessions, c.active, c.today, kNow);
        EXPECT_EQ(shown.kind, c.shown.kind);
        EXPECT_EQ(shown.text.toStdString(), c.shown.text.toStdString());
    }
}

TEST(PillContent, ClockWakesJustAfterTheSessionsNextSecond) {
    TimerSession s = session("j1", 0);
    s.startedAt = kNow.addMSecs(-3725'250); // a quarter into its second
    EXPECT_EQ(msUntilNextSecond(s, kNow), 755);
    s.pauseSecs = 5;
    EXPECT_EQ(msUntilNextSecond(s, kNow), 755);
    s.startedAt = kNow.addMSecs(-1000);
    EXPECT_EQ(msUntilNextSecond(s, kNow), 1005);
    s.startedAt = kNow.addMSecs(250); // starts in the future
    EXPECT_EQ(msUntilNextSecond(s, kNow), 255);
}

TEST(PillContent, IconAloneIsNarrowerAndTheClockDoesNotChangeTheWidth) {
    const PillContent icon;
    const PillContent morning{PillContent::Kind::Running, QStringLiteral("00:00:00")};
    const PillContent evening{PillContent::Kind::Running, QStringLiteral("18:48:11")};
    EXPECT_EQ(pillFittingWidth(icon), 18.0); // 1 + 16 + 1, no spacing
    EXPECT_DOUBLE_EQ(pillFittingWidth(morning), pillFittingWidth(evening));
    EXPECT_GT(pillFittingWidth(morning), pillFittingWidth(icon) + 5 + 8 + 5);
}

// ---- Status item and popover geometry ----

TEST(StatusItemLength, IsTheFittingWidthRoundedUpAndChangesOnlyBeyondHalfAPixel) {
    const struct {
        double current, fitting;
        std::optional<double> next;
    } cases[] = {
        {-1, 12.3, 20},  {-1, 57.2, 58},        {58, 57.2, std::nullopt},
        {58, 58.01, 59}, {20, 3, std::nullopt}, {59, 57.9, 58},
        {-1, 0, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.current) + " / " + std::to_string(c.fitting));
        EXPECT_EQ(fittedStatusItemLength(c.current, c.fitting), c.next);
    }
}

TEST(PopoverPlacement, OpensBesideTheAnchorInsideTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(400, 560);
    const struct {
        const char* name;
        QRect anchor;
        QPoint origin;
    } cases[] = {
        {"pill at the bottom right: above it, against the right edge", QRect(1820, 1040, 88, 28),
         QPoint(1520, 1040 - 6 - 560)},
        {"panel item at the top: below it, centred", QRect(900, 5, 1, 1), QPoint(700, 12)},
        {"panel item at the top left: against the left edge", QRect(10, 5, 1, 1), QPoint(0, 12)},
        {"panel at the bottom, item in the middle", QRect(960, 1070, 1, 1),
         QPoint(760, 1070 - 6 - 560)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(popoverOrigin(c.anchor, size, screen), c.origin);
    }
    // A screen too small for it: the top left stays on screen.
    EXPECT_EQ(popoverOrigin(QRect(100, 100, 10, 10), size, QRect(0, 0, 300, 300)), QPoint(0, 0));
}

// What hosts send with Activate, and where the pointer was at the click.
TEST(PopoverPlacement, APanelsClickPointGivesWayToThePointerWhereItCannotBeTheItems) {
    constexpr auto stale = PointerTrust::Stale;
    const struct {
        const char* host;
        QPoint reported;
        std::optional<QPoint> pointer;
        std::optional<QPoint> anchor;
        PointerTrust trust = PointerTrust::Current;
    } cases[] = {
        {"a host that sends no place", {0, 0}, QPoint(1712, 14), QPoint(1712, 14)},
        {"MATE at the top", {0, 25}, QPoint(1400, 12), QPoint(1400, 12)},
        {"MATE on a vertical panel", {33, 0}, QPoint(12, 730), QPoint(12, 730)},
        {"waybar: a point inside its own widget", {10, 15}, QPoint(1890, 10), QPoint(1890, 10)},
        {"Plasma, XFCE, LXQt: the item's place", {10, 15}, QPoint(20, 12), QPoint(10, 15)},
        {"Wayland, no pointer known", {10, 15}, std::nullopt, QPoint(10, 15)},
        {"Wayland, no pointer and no place", {0, 0}, std::nullopt, std::nullopt},
        {"GNOME on Wayland, double click", {1268, 15}, QPoint(638, 32), QPoint(1268, 15), stale},
        {"GNOME on Wayland: a middle click", {0, 0}, QPoint(638, 32), std::nullopt, stale},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(panelClickPoint(c.reported, c.pointer, c.trust), c.anchor);
    }
}

// Where panels are, as the X server and the window manager tell it; the
// popover opened anywhere on the monitor never covers a panel.
TEST(PopoverPlacement, KeepsEveryPanelFreeAndOpensAtThePanelWithoutAClickPoint) {
    const QRect left(0, 0, 1280, 800), right(1280, 0, 1280, 800);
    const QRect xfce(1246, 0, 34, 800); // at the inner edge, as xfce4-panel reserves it
    const DesktopPanels fromMonitorEdge{{{xfce, {0, 34, 0, 0}}}, {}},
        fromScreenEdge{{{xfce, {0, 1314, 0, 0}}}, {}}, halfOfIt{{{left, {640, 0, 0, 0}}}, {}},
        gnome{{}, {left, QRect(1280, 32, 1280, 768)}}; // the top bar on the second monitor
    struct Row {
        std::string desktop;
        QRect monitor;
        DesktopPanels panels;
        QRect free;
        QPoint edgeAnchor;
    };
    std::vector<Row> rows = {
        {"xfce, from the monitor's edge", left, fromMonitorEdge, {0, 0, 1246, 800}, {1262, 799}},
        {"xfce, from the screen's edge", left, fromScreenEdge, {0, 0, 1246, 800}, {1262, 799}},
        {"xfce4-panel seen from the other monitor", right, fromMonitorEdge, right, {2559, 0}},
        {"GNOME, from mutter's work areas", right, gnome, {1280, 32, 1280, 768}, {2559, 16}},
        {"a strip of half the monitor is no panel's", left, halfOfIt, left, {1279, 0}},
    };
    // Work areas left stale or bogus by another program: the whole monitor stands.
    const QRect wide(0, 0, 1600, 1000);
    for (const QRect& stale :
         {QRect(1580, 0, 20, 1000), QRect(0, 0, 1, 1), QRect(0, 0, 800, 1000)}) {
        const std::string name = "work area " + std::to_string(stale.width());
        rows.push_back({name, wide, DesktopPanels{{}, {stale}}, wide, {1599, 0}});
    }
    // Plasma, XFCE and LXQt: every edge, at 16, 24 and 64 px.
    for (const int px : {16, 24, 64}) {
        const QRect at[] = {
            {0, 0, px, 800}, {1280 - px, 0, px, 800}, {0, 0, 1280, px}, {0, 800 - px, 1280, px}};
        const QRect free[] = {{px, 0, 1280 - px, 800},
                              {0, 0, 1280 - px, 800},
                              {0, px, 1280, 800 - px},
                              {0, 0, 1280, 800 - px}};
        const QPoint anchor[] = {
            {px / 2, 799}, {1279 - px / 2, 799}, {1279, px / 2}, {1279, 799 - px / 2}};
        for (const int side : {0, 1, 2, 3}) {
            DesktopPanels panel{{{at[side], {}}}, {}};
            panel.panels[0].strut[side] = quint32(px);
            rows.push_back({"edge " + std::to_string(side) + " at " + std::to_string(px), left,
                            panel, free[side], anchor[side]});
        }
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(r.desktop);
        const QRect free = panelFreeArea(r.monitor, r.monitor, r.panels);
        EXPECT_EQ(free, r.free);
        EXPECT_EQ(panelEdgeAnchor(r.monitor, free), r.edgeAnchor);
        for (const QPoint at :
             {r.monitor.topLeft(), r.monitor.center(), r.monitor.bottomRight(), r.edgeAnchor}) {
            const QRect popover(popoverOrigin(QRect(at, QSize(1, 1)), QSize(400, 560), free),
                                QSize(400, 560));
            EXPECT_TRUE(r.monitor.contains(popover));
            for (const PanelWindow& p : r.panels.panels) // an honoured one
                EXPECT_TRUE(r.free == r.monitor || !popover.intersects(p.geometry))
                    << at.x() << "," << at.y();
        }
    }
    // By the item's menu, the pointer says where along the panel it is.
    EXPECT_EQ(panelEdgeAnchor(left, QRect(0, 32, 1280, 768), QPoint(900, 62)), QPoint(900, 16));
}

// A click on the panel item, or its menu entry, at moments in milliseconds.
TEST(PopoverPlacement, EveryClickOnThePanelItemOrItsEntryTogglesThePopover) {
    using enum PanelClick;
    const struct {
        const char* name;
        PanelClickMoments moments; // open, closed by itself, menu opened, open then
        qint64 now;
        bool fromMenuEntry;
        PanelClick action;
    } cases[] = {
        {"open: any click closes", {true, {}, 900, true}, 1000, true, Close},
        {"closed: a click opens", {}, 1000, false, Open},
        {"closed: the entry opens", {false, {}, 900, false}, 1000, true, Open},
        {"the click that took the keyboard", {false, 900}, 1000, false, Nothing},
        {"a click a while after", {false, 500}, 1000, false, Open},
        {"the menu opened over it", {false, 5000, 4000, true}, 9000, true, Nothing},
        {"the menu closed it, told first", {false, 3700, 4000, false}, 9000, true, Nothing},
        {"the menu closed it, told after", {false, 4300, 4000, false}, 9000, true, Nothing},
        {"closed long before the menu", {false, 1000, 4000, false}, 9000, true, Open},
        {"a host silent of its menu", {false, 500}, 9000, true, Open},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(panelClickAction(c.moments, c.now, c.fromMenuEntry), c.action);
    }
}

TEST(PopoverPlacement, StaysInsideTheScreensPixelsAtFractionalScales) {
    const QSize size(400, 560);
    const struct {
        double scale;
        QRect native;  // the screen's available pixels
        QRect logical; // what Qt reports for them, rounded
        int right;     // the last logical column a window may fill
    } cases[] = {
        {1.0, QRect(0, 0, 1920, 1050), QRect(0, 0, 1920, 1050), 1919},
        {1.5, QRect(0, 0, 1366, 768), QRect(0, 0, 911, 512), 909},
        {1.5, QRect(0, 0, 1280, 800), QRect(0, 0, 853, 533), 852},
        {1.25, QRect(0, 0, 1366, 768), QRect(0, 0, 1093, 614), 1091},
        {1.75, QRect(0, 0, 1366, 768), QRect(0, 0, 781, 439), 779},
        {2.0, QRect(0, 0, 2560, 1440), QRect(0, 0, 1280, 720), 1279},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.scale) + " on " + std::to_string(c.native.width()));
        const QRect area = placementArea(c.logical, c.native, c.scale);
        EXPECT_EQ(area.right(), c.right);
        // Opened at the right edge, its pixels end inside the screen's.
        const QPoint origin = popoverOrigin(QRect(area.right(), 700, 1, 1), size, area);
        EXPECT_LE(qRound(origin.x() * c.scale) + qRound(size.width() * c.scale),
                  c.native.right() + 1);
    }
}

TEST(PopoverPlacement, SlidesOnlyForMovesOfMoreThanHalfAPixel) {
    EXPECT_EQ(popoverSlide(0.4), std::nullopt);
    EXPECT_EQ(popoverSlide(-0.5), std::nullopt);
    EXPECT_EQ(popoverSlide(0.6), 1);
    EXPECT_EQ(popoverSlide(30), 30);
    EXPECT_EQ(popoverSlide(-44.2), -44);
}

// ---- The application, offscreen ----

namespace {

struct Shell {
    test::ClockScope clock{kNow};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    QTemporaryDir data;
    std::optional<AppDelegate> delegate;

    explicit Shell(bool usableRecordStore = true) {
        defaults->setString("orvane_api_base_url", service.baseURL());
        service.on("GET", "/api/job-times/active", test::FakeResponse::json(200, R"({"data":[]})"));
        QString path = data.filePath("orvane/default.store");
        if (!usableRecordStore) {
            // A file where the store's folder should be: no record store can open.
            QFile blocker(data.filePath("file"));
            blocker.open(QIODevice::WriteOnly);
            path = data.filePath("file/orvane/default.store");
        }
        delegate.emplace(path);
        delegate->applicationDidFinishLaunching();
    }
    ~Shell() {
        delegate.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }
    AppStore& store() { return *delegate->appStore(); }
    PopoverWindow& popover() { return *delegate->popover(); }
};

void clickPill(PillWindow& pill, Qt::MouseButton button) {
    QTest::mouseClick(&pill, button, {}, pill.rect().center());
}

} // namespace

TEST(Shell, LaunchShowsThePillAndKeepsThePopoverHidden) {
    Shell shell;
    ASSERT_TRUE(shell.delegate->statusItem());
    EXPECT_TRUE(shell.delegate->statusItem()->isVisible());
    EXPECT_FALSE(shell.popover().isVisible());
    EXPECT_EQ(shell.popover().size(), QSize(400, 560));
    EXPECT_TRUE(shell.delegate->modelContainer());
    EXPECT_EQ(shell.delegate->statusItemLength(), 20); // the icon alone
    EXPECT_FALSE(shell.delegate->statusItem()->pill()->clockRunning());
    EXPECT_TRUE(shell.delegate->remoteSyncTicker().isActive());
    EXPECT_EQ(shell.delegate->remoteSyncTicker().interval(), 30000);
    EXPECT_EQ(shell.delegate->remoteSyncTicker().timerType(), Qt::CoarseTimer);
}

TEST(Shell, EitherButtonTogglesThePopoverOncePerClick) {
    Shell shell;
    PillWindow& pill = *shell.delegate->statusItem();
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        SCOPED_TRACE(button == Qt::LeftButton ? "left" : "right");
        clickPill(pill, button);
        EXPECT_TRUE(shell.popover().isVisible());
        clickPill(pill, button);
        EXPECT_FALSE(shell.popover().isVisible());
    }
    // The pill keeps its creator's callback without calling it: a call as well
    // would have toggled twice per click above.
    EXPECT_TRUE(static_cast<bool>(pill.pill()->onTap()));
    // A screen reader's press runs it, without taking the keyboard anywhere.
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(pill.pill());
    ASSERT_EQ(button->role(), QAccessible::Button);
    EXPECT_FALSE(button->state().focusable);
    ASSERT_EQ(button->actionInterface()->actionNames(),
              QStringList{QAccessibleActionInterface::pressAction()});
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(shell.popover().isVisible());
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(shell.popover().isVisible());
}

TEST(PillContent, IsReadOutAsOrvaneWithTheRunningClock) {
    const struct {
        PillContent content;
        const char* name;
        const char* description;
    } rows[] = {
        {{PillContent::Kind::Running, "01:23:05"}, "Orvane, 1:23 läuft", ""},
        {{PillContent::Kind::Running, "100:00:00"}, "Orvane, 100:00 läuft", ""},
        {{PillContent::Kind::Idle, "04:35:00"}, "Orvane", "Heute 4:35"},
        {{}, "Orvane", ""},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(pillAccessibleName(r.content), QString::fromUtf8(r.name));
        EXPECT_EQ(pillAccessibleDescription(r.content), QString::fromUtf8(r.description));
    }
}

// Closed most of the day, the popover holds no window-sized pixels; opened
// again, it has them back.
TEST(Shell, TheClosedPopoverGivesBackItsPixelsAndHasThemAgainWhenOpened) {
    Shell shell;
    for (int opening = 1; opening <= 2; ++opening) {
        SCOPED_TRACE(opening);
        shell.delegate->togglePopover();
        ASSERT_TRUE(shell.popover().isVisible());
        ASSERT_TRUE(test::eventuallyTrue([&] {
            const QBackingStore* store = shell.popover().backingStore();
            return store && store->size() == shell.popover().size();
        }));
        shell.delegate->togglePopover();
        ASSERT_FALSE(shell.popover().isVisible());
        const QBackingStore* store = shell.popover().backingStore();
        ASSERT_TRUE(store);
        EXPECT_LE(store->size().width() * store->size().height(), 1);
        test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
    }
}

// The heap's free pages go back a while after a burst of work, and a user
// busy opening and closing does not push that back for ever.
TEST(Shell, FreeMemoryGoesBackAWhileAfterABurstOfWork) {
    Shell shell;
    EXPECT_FALSE(shell.delegate->heapTrim().isActive());
    shell.delegate->togglePopover();
    EXPECT_FALSE(shell.delegate->heapTrim().isActive());
    shell.delegate->togglePopover();
    ASSERT_TRUE(shell.delegate->heapTrim().isActive());
    EXPECT_EQ(shell.delegate->heapTrim().interval(), AppDelegate::kHeapTrimDelayMs);
    test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
    const int left = shell.delegate->heapTrim().remainingTime();
    shell.delegate->togglePopover();
    shell.delegate->togglePopover();
    EXPECT_LE(shell.delegate->heapTrim().remainingTime(), left);
}

TEST(Shell, ToggleRightAfterThePopoverClosedItselfIsTheClosingClick) {
    Shell shell;
    shell.delegate->togglePopover();
    ASSERT_TRUE(shell.popover().isVisible());
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&shell.popover(), &deactivate);
    EXPECT_FALSE(shell.popover().isVisible());
    shell.delegate->togglePopover(); // the click on the pill that took the focus away
    EXPECT_FALSE(shell.popover().isVisible());
    test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
    shell.delegate->togglePopover();
    EXPECT_TRUE(shell.popover().isVisible());
}

TEST(Shell, ShownPopoverFollowsThePillWhenItsWidthChanges) {
    Shell shell;
    shell.delegate->togglePopover();
    const int before = shell.popover().x();
    // Signed in with a timer running: the pill grows to the left by its clock.
    shell.store().setIsLoggedIn(true);
    shell.store().setSessions({session("j1", 3725)});
    const int grownBy = static_cast<int>(shell.delegate->statusItemLength()) - 20;
    ASSERT_GT(grownBy, 30);
    EXPECT_TRUE(shell.delegate->statusItem()->pill()->clockRunning());
    EXPECT_TRUE(shell.popover().sliding());
    ASSERT_TRUE(test::eventuallyTrue([&] { return !shell.popover().sliding(); }));
    EXPECT_NEAR(shell.popover().x(), before - grownBy / 2, 1);
    // Hidden, the popover stays where it was; the next move counts from the pill's new centre.
    shell.delegate->togglePopover();
    shell.store().setSessions({});
    EXPECT_FALSE(shell.popover().sliding());
    EXPECT_FALSE(shell.delegate->statusItem()->pill()->clockRunning());
}

TEST(Shell, SyncTickerAsksTheServiceOnlyWhileSignedIn) {
    Shell shell;
    shell.delegate->syncTick();
    test::spin(100ms);
    EXPECT_EQ(shell.service.requestCount(), 0u);
    shell.store().api().setToken(QStringLiteral("t"));
    shell.store().setIsLoggedIn(true);
    shell.delegate->syncTick();
    EXPECT_TRUE(test::eventuallyTrue(
        [&] { return shell.service.requestsTo("GET", "/api/job-times/active").size() == 1; }));
}

TEST(Shell, WithoutARecordStoreTheAppRunsAndRecordsNothing) {
    Shell shell(false);
    EXPECT_FALSE(shell.delegate->modelContainer());
    EXPECT_FALSE(shell.delegate->popoverModelContainer());
    shell.delegate->togglePopover();
    EXPECT_TRUE(shell.popover().isVisible());
    EXPECT_EQ(shell.store().modelContext(), nullptr);
}

TEST(Shell, PopoverRecordsIntoTheLaunchStoreOnceShown) {
    Shell shell;
    EXPECT_EQ(shell.store().modelContext(), nullptr);
    shell.delegate->togglePopover();
    EXPECT_EQ(shell.store().modelContext(), shell.delegate->modelContainer()->mainContext());
}

// ---- One instance per desktop session ----

// Each on a bus of its own: ctest runs the suites side by side, and on a shared
// bus one test's owner would answer another's hand-over.
TEST(SingleInstance, ALaterStartHandsTheClickToTheRunningOne) {
    test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    SingleInstance running(bus.connect(QStringLiteral("first")));
    SingleInstance later(bus.connect(QStringLiteral("second")));
    ASSERT_EQ(running.claim(), SingleInstance::Claim::Owner);
    QSignalSpy toggled(&running, &SingleInstance::toggleRequested);
    EXPECT_EQ(later.claim(), SingleInstance::Claim::AnotherRuns);
    EXPECT_TRUE(later.askRunningToToggle());
    EXPECT_EQ(toggled.count(), 1);
    EXPECT_TRUE(later.askRunningToToggle());
    EXPECT_EQ(toggled.count(), 2);
}

TEST(SingleInstance, NoOneToAskIsAFailedHandOver) {
    test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    SingleInstance later(bus.connect(QStringLiteral("lonely")));
    EXPECT_FALSE(later.askRunningToToggle(300));
}

namespace {
// An Orvane whose event loop ended while a hand-over was on its way: it
// gives the name up, never answers, and its process leaves the bus.
class QuittingOrvane : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.orvane.Orvane")
public:
    explicit QuittingOrvane(QDBusConnection bus) : bus_(std::move(bus)) {
        bus_.registerObject(QString::fromLatin1(SingleInstance::kObjectPath), this,
                            QDBusConnection::ExportAllSlots);
        bus_.registerService(SingleInstance::serviceName());
    }
    int asked = 0;
public Q_SLOTS:
    void TogglePopover(const QDBusMessage& message) {
        ++asked;
        message.setDelayedReply(true);
        bus_.unregisterService(SingleInstance::serviceName());
        QTimer::singleShot(0, this, [this] {
            const QString name = bus_.name();
            bus_ = QDBusConnection(QString());
            QDBusConnection::disconnectFromBus(name);
        });
    }

private:
    QDBusConnection bus_;
};
} // namespace

// A start while the running one quits: that one's name is free (released at
// once, or gone with the process), and the start runs instead of leaving
// with nothing of Orvane on screen.
TEST(SingleInstance, AStartWhileTheRunningOneQuitsRuns) {
    test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    const QDBusConnection observer = bus.connect(QStringLiteral("observer"));
    const auto owner = [&] {
        return observer.interface()->serviceOwner(SingleInstance::serviceName()).value();
    };
    {
        SingleInstance quitting(bus.connect(QStringLiteral("released")));
        ASSERT_EQ(quitting.start(), SingleInstance::Start::Run);
        quitting.release();
        const QDBusConnection nextBus = bus.connect(QStringLiteral("after-release"));
        SingleInstance next(nextBus);
        EXPECT_EQ(next.start(), SingleInstance::Start::Run);
        EXPECT_EQ(owner(), nextBus.baseService());
        next.release();
    }
    // Asked just as it goes. The bound is one load cannot reach: the
    // outcome comes from the call's end, when the bus says the owner left.
    QuittingOrvane going(bus.connect(QStringLiteral("going")));
    ASSERT_FALSE(owner().isEmpty());
    const QDBusConnection nextBus = bus.connect(QStringLiteral("after-exit"));
    SingleInstance next(nextBus);
    EXPECT_EQ(next.start(int(std::chrono::milliseconds(test::kPatience).count())),
              SingleInstance::Start::Run);
    EXPECT_EQ(going.asked, 1);
    EXPECT_EQ(owner(), nextBus.baseService());
}

// Any program may own the instance's name. Orvane runs anyway, next in line
// for the name, and a later start still finds it there.
TEST(SingleInstance, AStrangerOnTheNameNeitherStopsTheStartNorAllowsASecondOrvane) {
    test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    QDBusConnection stranger = bus.connect(QStringLiteral("stranger"));
    ASSERT_TRUE(stranger.registerService(SingleInstance::serviceName()));
    const QDBusConnection firstBus = bus.connect(QStringLiteral("first"));
    SingleInstance first(firstBus);
    QSignalSpy toggled(&first, &SingleInstance::toggleRequested);
    ASSERT_EQ(first.start(), SingleInstance::Start::Run);

    SingleInstance later(bus.connect(QStringLiteral("later")));
    EXPECT_EQ(later.start(), SingleInstance::Start::HandedOver);
    EXPECT_EQ(toggled.count(), 1);

    stranger.unregisterService(SingleInstance::serviceName());
    EXPECT_TRUE(test::eventuallyTrue([&] {
        return firstBus.interface()->serviceOwner(SingleInstance::serviceName()).value() ==
               firstBus.baseService();
    })) << "the name passes to the running Orvane";
    SingleInstance third(bus.connect(QStringLiteral("third")));
    EXPECT_EQ(third.start(), SingleInstance::Start::HandedOver);
    EXPECT_EQ(toggled.count(), 2);
}

TEST(PaintProbe, NotesTheFirstPaintAfterEachShowingOnlyWhenAsked) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("paints"));
    const auto lines = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n').size() - 1 : 0;
    };
    QWidget unasked;
    PaintProbe::installIfAsked(&unasked);
    qputenv("ORVANE_PAINT_PROBE", path.toUtf8());
    QWidget window;
    PaintProbe::installIfAsked(&window);
    qunsetenv("ORVANE_PAINT_PROBE");
    unasked.show();
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    window.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return lines() == 1; }));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_GE(file.readLine().trimmed().toLongLong(),
              qint64(before.tv_sec) * 1'000'000'000 + before.tv_nsec);

    window.repaint(); // no showing: nothing noted
    test::spin(30ms);
    EXPECT_EQ(lines(), 1);
    window.hide();
    window.show();
    EXPECT_TRUE(test::eventuallyTrue([&] { return lines() == 2; }));
}

#include "shell_test.moc"
