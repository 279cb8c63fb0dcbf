#include "app/app_delegate.h"
#include "app/status_icon.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fake_status_notifier_watcher.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/private_bus.h"
#include "support/temp_user_defaults.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

#include <sys/wait.h>
#include <unistd.h>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC);
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");

// What a panel hears of the item: its change signals, by name.
class Panel : public QObject {
    Q_OBJECT
public:
    QStringList heard;
public Q_SLOTS:
    void record(const QDBusMessage& message) { heard.append(message.member()); }
};

TimerSession running(qint64 forSecs) {
    TimerSession s;
    s.id = stableUUID(QStringLiteral("j1"));
    s.jobTimeServerId = QStringLiteral("j1");
    s.startedAt = kNow.addSecs(-forSecs);
    return s;
}

class PanelItem : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running())
            GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
        watcher.emplace(bus.connect("watcher"));
        ASSERT_TRUE(watcher->start());
        host = bus.connect("host");
        defaults->setString("orvane_api_base_url", service.baseURL());
        delegate.emplace(data.filePath("default.store"), bus.connect("app"));
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(delegate->panelItem());
        ASSERT_TRUE(test::eventuallyTrue([&] { return delegate->panelItem()->registered(); }));
        host.connect(delegate->panelItem()->serviceName(), "/StatusNotifierItem", kItem, QString(),
                     &panel, SLOT(record(QDBusMessage)));
    }
    void TearDown() override {
        delegate.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    QVariant property(const char* name) {
        QDBusMessage get = QDBusMessage::createMethodCall(delegate->panelItem()->serviceName(),
                                                          "/StatusNotifierItem",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get.setArguments({kItem, QString::fromLatin1(name)});
        QDBusPendingCall pending = host.asyncCall(get, 5000);
        EXPECT_TRUE(test::eventuallyTrue([&] { return pending.isFinished(); }));
        return pending.reply().arguments().value(0).value<QDBusVariant>().variant();
    }
    int heard(const char* signal) const { return panel.heard.count(QString::fromLatin1(signal)); }
    AppStore& store() { return *delegate->appStore(); }

    test::ClockScope clock{kNow};
    test::PrivateBus bus;
    std::optional<test::FakeStatusNotifierWatcher> watcher;
    QDBusConnection host{QString()};
    Panel panel;
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    QTemporaryDir data;
    std::optional<AppDelegate> delegate;
};

} // namespace

TEST_F(PanelItem, ShowsThePillsStateAsLabelTooltipAndIcon) {
    EXPECT_TRUE(delegate->onPanel());
    EXPECT_FALSE(delegate->statusItem()->isVisible()) << "no pill window beside the panel item";
    EXPECT_EQ(property("XAyatanaLabel").toString(), "Orvane") << "MATE draws it for the icon";

    store().setIsLoggedIn(true);
    store().setTodayTotalSecs(4500);
    test::spin(20ms);
    EXPECT_EQ(property("XAyatanaLabel").toString(), "01:15:00");
    EXPECT_EQ(property("XAyatanaLabelGuide").toString(), "00:00:00");

    store().setSessions({running(3725)});
    test::spin(20ms);
    EXPECT_EQ(property("XAyatanaLabel").toString(), "01:02:05");
    const int icons = heard("NewIcon");
    const int labels = heard("XAyatanaNewLabel");
    EXPECT_GE(icons, 2); // idle, then running

    // Redraws with the same text and state say nothing to the panel.
    store().setTodayTotalSecs(10);
    store().setActiveSessionId(stableUUID(QStringLiteral("j1")));
    test::spin(300ms);
    EXPECT_EQ(heard("NewIcon"), icons);
    EXPECT_EQ(heard("XAyatanaNewLabel"), labels);
    // A second later: one new label, the same icon.
    clock.advance(1000);
    EXPECT_TRUE(test::eventuallyTrue([&] { return heard("XAyatanaNewLabel") == labels + 1; }));
    test::spin(300ms);
    EXPECT_EQ(heard("XAyatanaNewLabel"), labels + 1);
    EXPECT_EQ(heard("NewIcon"), icons);
    EXPECT_EQ(property("XAyatanaLabel").toString(), "01:02:06");
}

TEST_F(PanelItem, ActivationTogglesThePopoverAtTheClickPoint) {
    QDBusMessage activate = QDBusMessage::createMethodCall(
        delegate->panelItem()->serviceName(), "/StatusNotifierItem", kItem, "Activate");
    activate.setArguments({300, 10});
    QDBusPendingCall first = host.asyncCall(activate);
    ASSERT_TRUE(test::eventuallyTrue([&] { return delegate->popover()->isVisible(); }));
    EXPECT_NEAR(delegate->popover()->geometry().center().x(), 300, 1);
    EXPECT_GT(delegate->popover()->y(), 10) << "below an item at the top of the screen";
    QDBusPendingCall second = host.asyncCall(activate);
    EXPECT_TRUE(test::eventuallyTrue([&] { return !delegate->popover()->isVisible(); }));

    // GNOME's extension answers a click with the menu; its entry toggles the
    // same way, at the item's place the double click told.
    const auto fromMenu = [&](bool takesTheKeyboard) {
        for (const auto& [id, event] : {std::pair{0, "opened"}, std::pair{1, "clicked"}}) {
            if (id == 1 && takesTheKeyboard && delegate->popover()->isVisible()) {
                QEvent deactivate(QEvent::WindowDeactivate);
                QApplication::sendEvent(delegate->popover(), &deactivate);
            }
            QDBusMessage call =
                QDBusMessage::createMethodCall(delegate->panelItem()->serviceName(), "/MenuBar",
                                               "com.canonical.dbusmenu", "Event");
            call.setArguments({id, event, QVariant::fromValue(QDBusVariant(0)), 0u});
            QDBusPendingCall pending = host.asyncCall(call);
            EXPECT_TRUE(test::eventuallyTrue([&] { return pending.isFinished(); }));
        }
        return delegate->popover()->isVisible();
    };
    EXPECT_TRUE(fromMenu(false));
    EXPECT_NEAR(delegate->popover()->geometry().center().x(), 300, 1);
    EXPECT_FALSE(fromMenu(false)) << "the menu left it open: its entry closes it";
    EXPECT_TRUE(fromMenu(false));
    EXPECT_FALSE(fromMenu(true)) << "the menu's opening closed it: the entry keeps it closed";
    EXPECT_TRUE(fromMenu(true));
}

TEST_F(PanelItem, ExtremeClickPointsFromTheBusOpenThePopoverOnTheScreen) {
    constexpr int kMax = std::numeric_limits<int>::max(), kMin = std::numeric_limits<int>::min();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QPoint at : {QPoint(kMax, kMax), QPoint(kMin, kMin), QPoint(kMax, kMin)}) {
        QDBusMessage activate = QDBusMessage::createMethodCall(
            delegate->panelItem()->serviceName(), "/StatusNotifierItem", kItem, "Activate");
        activate.setArguments({at.x(), at.y()});
        QDBusPendingCall open = host.asyncCall(activate);
        ASSERT_TRUE(test::eventuallyTrue([&] { return delegate->popover()->isVisible(); }));
        EXPECT_TRUE(screen.contains(delegate->popover()->geometry())) << at.x() << "," << at.y();
        delegate->popover()->dismiss();
        ASSERT_TRUE( // the next call is no click that closed it
            test::eventuallyTrue([&] { return !delegate->popover()->justClosedByItself(); }));
    }
}

TEST_F(PanelItem, ThePillWindowStandsInWhileNoWatcherRuns) {
    watcher->stop();
    ASSERT_TRUE(test::eventuallyTrue([&] { return !delegate->onPanel(); }));
    EXPECT_TRUE(delegate->statusItem()->isVisible());
    ASSERT_TRUE(watcher->start());
    ASSERT_TRUE(test::eventuallyTrue([&] { return delegate->onPanel(); }));
    EXPECT_FALSE(delegate->statusItem()->isVisible());
    EXPECT_TRUE(test::eventuallyTrue([&] { return delegate->panelItem()->registered(); }));
}

// Any program may own the watcher's name without being one: the item it
// refuses shows nowhere, so the pill stays until a real watcher comes.
TEST(PanelItemBesideAStranger, ANameOwnerThatIsNoWatcherLeavesThePillOnScreen) {
    test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    QDBusConnection stranger = bus.connect("stranger");
    ASSERT_TRUE(stranger.registerService("org.kde.StatusNotifierWatcher"));
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    QTemporaryDir data;
    AppDelegate delegate(data.filePath("default.store"), bus.connect("app"));
    QSignalSpy placed(&delegate, &AppDelegate::statusItemPlaced);
    delegate.applicationDidFinishLaunching();
    // Told once both answers are in: the refusal and the host's.
    ASSERT_TRUE(test::eventuallyTrue([&] { return !placed.isEmpty(); }));
    EXPECT_EQ(placed.last()[0].value<AppDelegate::StatusItemPlace>(),
              AppDelegate::StatusItemPlace::PillWindow);
    EXPECT_TRUE(delegate.statusItem()->isVisible()) << "nothing of Orvane on screen";
    EXPECT_FALSE(delegate.onPanel());
    EXPECT_TRUE(delegate.panelItem()->refused());

    stranger.unregisterService("org.kde.StatusNotifierWatcher");
    test::FakeStatusNotifierWatcher watcher(bus.connect("watcher"));
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(test::eventuallyTrue([&] { return delegate.panelItem()->registered(); }));
    EXPECT_FALSE(delegate.panelItem()->refused());
    ASSERT_TRUE(test::eventuallyTrue([&] { return delegate.onPanel(); }));
    EXPECT_FALSE(delegate.statusItem()->isVisible());
}

TEST(StatusIcon, CarriesTheStateAtEverySize) {
    for (const int size : {16, 22, 32, 48}) {
        SCOPED_TRACE(size);
        const QImage signedOut = statusIconImage(PillContent::Kind::SignedOut, size);
        const QImage idle = statusIconImage(PillContent::Kind::Idle, size);
        const QImage runningIcon = statusIconImage(PillContent::Kind::Running, size);
        EXPECT_EQ(signedOut.size(), QSize(size, size));
        EXPECT_NE(signedOut, idle);
        EXPECT_NE(idle, runningIcon);
        EXPECT_NE(signedOut, runningIcon);
    }
    EXPECT_EQ(labelGuide(QStringLiteral("117:02:59")), "000:00:00");
}

#include "panel_item_test.moc"

// Panels that draw no label (XFCE's and LXQt's trays) still show the running
// clock: in the tooltip's title, and as hours and minutes in the icon.
TEST_F(PanelItem, TheClockShowsInTheTooltipTitleAndTheIconWhereNoLabelIsDrawn) {
    const auto toolTipTitle = [&] {
        const QDBusArgument tip = property("ToolTip").value<QDBusArgument>();
        QString icon, title, text;
        tip.beginStructure();
        tip >> icon;
        tip.beginArray();
        while (!tip.atEnd()) {
            int w = 0, h = 0;
            QByteArray bytes;
            tip.beginStructure();
            tip >> w >> h >> bytes;
            tip.endStructure();
        }
        tip.endArray();
        tip >> title >> text;
        tip.endStructure();
        return title + u'|' + text;
    };
    EXPECT_EQ(toolTipTitle(), "Orvane|");
    store().setIsLoggedIn(true);
    store().setSessions({running(3725)});
    // The time once: Plasma shows title and text together.
    EXPECT_TRUE(test::eventuallyTrue([&] { return toolTipTitle() == "Orvane 01:02:05|"; }));
    const int icons = heard("NewIcon");
    const QString clockIcon = property("IconThemePath").toString() + "/orvane-clock-1-02.png";
    EXPECT_TRUE(QFile::exists(clockIcon)) << "by name too, for hosts that load only names";
    // The icon's face changes with the minute, not with the second.
    clock.advance(54'000);
    EXPECT_TRUE(test::eventuallyTrue([&] { return toolTipTitle() == "Orvane 01:02:59|"; }));
    EXPECT_EQ(heard("NewIcon"), icons);
    clock.advance(1000);
    EXPECT_TRUE(test::eventuallyTrue([&] { return heard("NewIcon") == icons + 1; }));
    EXPECT_EQ(property("IconName").toString(), "orvane-clock-1-03") << "hosts that load names";
    EXPECT_FALSE(QFile::exists(clockIcon)) << "one minute's file at a time";
}

// Folders left by an Orvane that is gone (a crash, a kill) go at the next start; no others.
TEST(StatusIconFiles, AStartClearsTheFoldersOfOrvanesThatAreGoneAndNoOthers) {
    QTemporaryDir runtime;
    const auto restore =
        qScopeGuard([saved = qgetenv("XDG_RUNTIME_DIR")] { qputenv("XDG_RUNTIME_DIR", saved); });
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::pair<QString, bool> folders[] = {
        {QStringLiteral("orvane-icons-%1-a1").arg(gone), false},
        {QStringLiteral("orvane-icons-%1-a1").arg(getppid()), true},
        {QStringLiteral("orvane-icons-a1"), true}};
    for (const auto& [name, kept] : folders)
        ASSERT_TRUE(QDir(runtime.path()).mkpath(name + "/hicolor"));
    StatusIconFiles files;
    for (const auto& [name, kept] : folders)
        EXPECT_EQ(QDir(runtime.filePath(name)).exists(), kept) << name.toStdString();
    EXPECT_TRUE(files.themePath().contains(QStringLiteral("/orvane-icons-%1-").arg(getpid())));
}

TEST(StatusIconFace, CarriesHoursAndMinutesOnlyWhileRunning) {
    const struct {
        PillContent content;
        QString clock;
    } cases[] = {
        {{PillContent::Kind::Running, "01:02:05"}, "1:02"},
        {{PillContent::Kind::Running, "00:00:00"}, "0:00"},
        {{PillContent::Kind::Running, "100:59:59"}, "100:59"},
        {{PillContent::Kind::Idle, "01:15:00"}, ""},
        {{PillContent::Kind::SignedOut, ""}, ""},
        {{PillContent::Kind::Running, "garbage"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.text.toStdString());
        EXPECT_EQ(statusIconFace(c.content).clock, c.clock);
        // Never an empty label: MATE draws it in place of the icon.
        EXPECT_EQ(statusLabel(c.content), c.content.text.isEmpty() ? "Orvane" : c.content.text);
        const QList<QImage> images = statusIconImages(statusIconFace(c.content));
        ASSERT_EQ(images.size(), 4);
        EXPECT_EQ(images[1].size(), QSize(22, 22));
    }
}

// Panels draw the item as a small square: the time must fill it to be read.
TEST(StatusIcon, TheClockFillsTheSquareAtPanelSizes) {
    const auto inkOf = [](const QImage& icon) {
        QRect ink;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x) {
                const QColor c = icon.pixelColor(x, y);
                if (c.alpha() > 200 && std::min({c.red(), c.green(), c.blue()}) > 110)
                    ink |= QRect(x, y, 1, 1);
            }
        return ink;
    };
    const struct {
        QString clock;
        double minHeight; // of the square's side
    } cases[] = {{"0:07", 0.35}, {"1:02", 0.35}, {"10:45", 0.25}};
    for (const auto& c : cases)
        for (const int size : {16, 22}) {
            SCOPED_TRACE(c.clock.toStdString() + " at " + std::to_string(size));
            const QList<QImage> images =
                statusIconImages(StatusIconFace{PillContent::Kind::Running, c.clock});
            const QImage icon = images[size == 16 ? 0 : 1];
            ASSERT_EQ(icon.size(), QSize(size, size));
            const QRect ink = inkOf(icon);
            EXPECT_GE(ink.height(), c.minHeight * size);
            EXPECT_GE(ink.width(), 0.6 * size) << "the time spans the square";
            EXPECT_LE(ink.right(), size - 2) << "inside the rim";
            EXPECT_GE(ink.left(), 1);
        }
}
