#include "views/popover/active_session_card.h"

#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/tab_walk.h"
#include "support/await.h"
#include "support/paint_log.h"
#include "support/store_world.h"
#include "views/kit/palette.h"
#include "views/kit/pulsing_dot.h"

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

TimerSession session(const QString& taskId = QStringLiteral("task-a")) {
    TimerSession s;
    s.id = stableUUID(QStringLiteral("jt-1"));
    s.jobTimeServerId = QStringLiteral("jt-1");
    s.clientId = QStringLiteral("c-1");
    s.clientDisplayName = QStringLiteral("Kundin");
    s.jobTitle = QStringLiteral("Website");
    s.taskId = taskId;
    s.taskTitle = QStringLiteral("Design");
    s.startedAt = kNow.addSecs(-900);
    return s;
}

ClientDTO client(const QString& id, std::optional<QString> rate) {
    ClientDTO c;
    c.id = id;
    c.hourlyRate = std::move(rate);
    return c;
}

FakeResponse task(const std::string& id, const std::string& rate) {
    return FakeResponse::json(200, R"({"data":{"id":")" + id + R"(","rate":")" + rate + "\"}}");
}

QAbstractButton* stopButton(ActiveSessionCard& card) {
    for (auto* button : card.findChildren<QAbstractButton*>())
        if (button->accessibleName() == QStringLiteral("Stoppen"))
            return button;
    return nullptr;
}

struct CardWorld : test::StoreWorld {
    test::ClockScope clock{kNow};
    CardWorld() {
        store().setCurrentUser(APIUser{"1", "a@b.de"});
        store().setIsLoggedIn(true);
    }
    ~CardWorld() {
        test::spin(50ms);
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }
    void open(const TimerSession& s) {
        store().setSessions({s});
        store().setActiveSessionId(s.id);
    }
};

} // namespace

TEST(ActiveSessionCardState, BadgeAndStatusColourFollowTheSessionState) {
    const QDateTime started(QDate(2026, 3, 2), QTime(9, 41), Qt::LocalTime);
    // clang-format off
    const struct { bool running, onBreak; QString badge; bool pink; } cases[] = {
        {true, false, "LÄUFT · SEIT 09:41", true},
        {false, true, "PAUSE", false},
        {true, true, "PAUSE", false}, // a break wins over the running flag
        {false, false, "PAUSIERT", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        for (const bool light : {false, true}) {
            SCOPED_TRACE(c.badge.toStdString() + (light ? " light" : " dark"));
            TimerSession s = session();
            s.startedAt = started;
            std::tie(s.running, s.onBreak) = std::tie(c.running, c.onBreak);
            const CardContent content = cardContent(s, light, std::nullopt, kNow);
            EXPECT_EQ(content.badge, c.badge);
            EXPECT_EQ(content.running, c.pink);
            EXPECT_EQ(content.statusColor,
                      c.pink ? Palette::pink() : cardChromeColors(light).secondaryText);
        }
    }
    EXPECT_EQ(cardChromeColors(true).secondaryText, QColor(75, 85, 99));
    EXPECT_EQ(cardChromeColors(false).secondaryText, QColor::fromRgbF(1, 1, 1, 0.7f));
}

TEST(ActiveSessionCardState, RateComesFromTheTaskThenTheClientThenTheUser) {
    using Text = std::optional<QString>;
    // clang-format off
    const struct { Text taskRate, taskClientRate, listedRate; QString listedId; Text userRate; std::optional<double> rate; } cases[] = {
        {" 92,5 ", "70", "60", "c-1", "50", 92.5},
        {"0", "70", "60", "c-1", "50", 70},          // zero falls through
        {"-5", {}, "60", "c-1", "50", 60},           // so does a negative rate
        {"abc", {}, "60", "c-1", "50", 60},          // and one that is no number
        {"  ", {}, "60,25", "c-1", "50", 60.25},
        {{}, "0", "60", "c-1", "50", 50},            // the task's client rate stands for the list's
        {{}, {}, "60", "c-2", "50", 50},             // client missing from the list
        {{}, {}, "60", "c-2", {}, std::nullopt},
        {{}, {}, {}, "c-1", "1e999", std::nullopt},  // not finite
    };
    // clang-format on
    for (const auto& c : cases) {
        JobTaskDTO t;
        t.id = QStringLiteral("task-a");
        t.rate = c.taskRate;
        if (c.taskClientRate) {
            JobDTO job;
            job.client = client(QStringLiteral("c-1"), c.taskClientRate);
            t.job = job;
        }
        APIUser user{"1", "a@b.de"};
        user.defaultHourlyRate = c.userRate;
        EXPECT_EQ(
            sessionHourlyRate(t, QStringLiteral("c-1"), {client(c.listedId, c.listedRate)}, user),
            c.rate)
            << c.taskRate.value_or("-").toStdString();
    }
    // Without the task: the list, then the user.
    EXPECT_EQ(sessionHourlyRate(std::nullopt, QStringLiteral("c-1"),
                                {client(QStringLiteral("c-1"), QStringLiteral("85"))},
                                std::nullopt),
              85);
}

TEST(ActiveSessionCardState, RateLineAndEarnings) {
    // clang-format off
    const struct { double rate; QString text; } texts[] = {
        {85, "85 €/h · abrechenbar"}, {92.5, "92,5 €/h · abrechenbar"},
        {92.25, "92,25 €/h · abrechenbar"}, {1234.5, "1.234,5 €/h · abrechenbar"},
        {0.004, "0 €/h · abrechenbar"},
    };
    const struct { double rate; qint64 secs, cents; } earned[] = {
        {85, 5400, 12750}, {1, 18, 1} /* half a cent goes up */, {1, 54, 2}, {1, 17, 0},
        {1e300, kMax, kMax}, {85, 0, 0},
    };
    // clang-format on
    for (const auto& t : texts)
        EXPECT_EQ(hourlyRateText(t.rate), t.text);
    for (const auto& e : earned)
        EXPECT_EQ(earnedCents(e.rate, e.secs), e.cents) << e.rate << " " << e.secs;
    EXPECT_EQ(earnedCents(std::nullopt, 5400), std::nullopt);
    EXPECT_EQ(earnedText(12750), QStringLiteral("+127,50\u00A0€"));

    // Only this session's live seconds earn, not the task's earlier time.
    TimerSession s = session();
    s.startedAt = kNow.addSecs(-5400);
    s.trackedBeforeSecs = 36000;
    const CardContent content = cardContent(s, false, 85, kNow);
    EXPECT_EQ(content.rateText, QStringLiteral("85 €/h · abrechenbar"));
    EXPECT_EQ(content.earnedText, QStringLiteral("+127,50\u00A0€"));
    EXPECT_EQ(content.elapsedText, QStringLiteral("01:30:00"));
    EXPECT_EQ(cardContent(s, false, std::nullopt, kNow).rateText, std::nullopt);
    s.budgetSecs = 72000;
    EXPECT_EQ(cardSpokenText(s, cardContent(s, false, 85, kNow)),
              QStringLiteral("Läuft seit ") + formatClockTime(s.startedAt) +
                  QString::fromUtf16(u": Design für Kundin, Website, 1 Stunde 30. Budget 57% "
                                     u"genutzt, 8 Stunden 30 frei. 85 € pro Stunde abrechenbar, "
                                     u"bisher 127,50\u00A0€."));
}

TEST(ActiveSessionCardState, BudgetFiguresAndTheirColour) {
    // clang-format off
    const struct { qint64 budget, before, live; std::optional<int> percent; qint64 remaining; QString remainingText; } cases[] = {
        {3600, 1800, 900, 75, 900, "· 0:15 frei"},
        {3600, 3100, 900, 100, 0, "· 0:00 frei"},   // 4000 used: full, nothing left
        {0, 1800, 900, std::nullopt, 0, ""},
        {-60, 0, 900, std::nullopt, 0, ""},
        {3600, -99999, 900, 0, 3600, "· 1:00 frei"}, // nothing used below zero
        {3600, kMax, 900, 100, 0, "· 0:00 frei"},    // the sum stops at the end of the range
        {kMax, kMax, 900, 100, 0, "· 0:00 frei"},
        {360000, 0, 899, 0, 359101, "· 99:45 frei"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.budget);
        TimerSession s = session();
        s.budgetSecs = c.budget;
        s.trackedBeforeSecs = c.before;
        s.startedAt = kNow.addSecs(-c.live);
        const CardContent content = cardContent(s, false, std::nullopt, kNow);
        ASSERT_EQ(content.budget.has_value(), c.percent.has_value());
        if (!c.percent)
            continue;
        EXPECT_EQ(content.budget->percent, *c.percent);
        EXPECT_EQ(content.budgetPercentText, QString::number(*c.percent) + u'%');
        EXPECT_EQ(content.budget->remainingSecs, c.remaining);
        EXPECT_EQ(content.budgetRemainingText, c.remainingText);
    }
    const auto rgb = [](const QColor& c) { return std::tuple(c.red(), c.green(), c.blue()); };
    EXPECT_EQ(rgb(budgetColor(0)), std::tuple(52, 217, 153));
    EXPECT_EQ(rgb(budgetColor(100)), rgb(Palette::rose()));
    EXPECT_EQ(rgb(budgetColor(250)), rgb(Palette::rose()));
    EXPECT_EQ(rgb(budgetColor(-5)), std::tuple(52, 217, 153));
    EXPECT_EQ(rgb(budgetColor(50)), std::tuple(148, 140, 124));
}

TEST(ActiveSessionCardState, OnlyTheFiguresThatMovedAreDrawnAgain) {
    CardContent base;
    base.budget = BudgetFigures{.usedSecs = 900, .fraction = 0.25, .percent = 25};
    base.budgetPercentText = QStringLiteral("25%");
    base.budgetRemainingText = QStringLiteral("· 0:45 frei");
    base.elapsedText = QStringLiteral("15:00");
    base.rateText = QStringLiteral("80 €/h · abrechenbar");
    base.earnedText = QStringLiteral("+20,00 €");
    const auto with = [&](auto change) {
        CardContent c = base;
        change(c);
        return c;
    };
    // clang-format off
    const struct { const char* what; CardContent now; bool elapsed, budget, rate; } cases[] = {
        {"nothing", base, false, false, false},
        {"a second", with([](CardContent& c) { c.elapsedText = "15:01"; }), true, false, false},
        {"a cent", with([](CardContent& c) { c.earnedText = "+20,01 €"; }), false, false, true},
        {"earnings appear", with([](CardContent& c) { c.earnedText.reset(); }), false, false, true},
        {"a percent", with([](CardContent& c) { c.budgetPercentText = "26%"; }), false, true, false},
        {"a minute left less", with([](CardContent& c) { c.budgetRemainingText = "· 0:44 frei"; }), false, true, false},
        // 344 px: a quarter of a pixel is about 0.00073 of the bar.
        {"bar end within a quarter pixel", with([](CardContent& c) { c.budget->fraction = 0.2502; }), false, false, false},
        {"bar end a pixel on", with([](CardContent& c) { c.budget->fraction = 0.2530; }), false, true, false},
        {"bar beyond full stays full", with([](CardContent& c) { c.budget->fraction = 7; }), false, true, false},
        {"budget gone", with([](CardContent& c) { c.budget.reset(); }), false, true, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        const CardLiveChange change = cardLiveChange(base, c.now, 344);
        EXPECT_EQ(change.elapsed, c.elapsed) << c.what;
        EXPECT_EQ(change.budget, c.budget) << c.what;
        EXPECT_EQ(change.rate, c.rate) << c.what;
        EXPECT_EQ(change.any(), c.elapsed || c.budget || c.rate) << c.what;
    }
    CardContent full = with([](CardContent& c) { c.budget->fraction = 1; });
    EXPECT_FALSE(
        cardLiveChange(full, with([](CardContent& c) { c.budget->fraction = 3; }), 344).budget);
}

// The store counts a running session up every second; an open popover
// must not redraw the whole card for it, nor keep a stale title after a
// real change.
TEST(ActiveSessionCard, TheStoresSecondRedrawsTheLiveTimeOnlyAndRealChangesRedrawAll) {
    CardWorld w;
    TimerSession s = session(QString());
    w.open(s);
    ActiveSessionCard card(w.store());
    card.setSession(s);
    card.resize(372, card.sizeHint().height());
    card.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&card));
    test::spin(20ms);
    const QImage before = card.grab().toImage();
    const auto* dot = card.findChild<PulsingDot*>();
    ASSERT_NE(dot, nullptr);
    test::PaintLog log(&card);
    const auto paintedBesideTheDot = [&] { return log.all() - dot->geometry(); };

    w.clock.advance(1000);
    s.elapsedSecs += 1;
    card.setSession(s);
    test::spin(30ms);
    ASSERT_FALSE(paintedBesideTheDot().isEmpty());
    EXPECT_GT(paintedBesideTheDot().boundingRect().top(), card.height() / 2)
        << "the titles were drawn again";
    EXPECT_EQ(card.content().elapsedText, QStringLiteral("15:01"));

    log.clear();
    s.elapsedSecs += 1; // the same second counted twice: nothing to draw
    card.setSession(s);
    test::spin(30ms);
    EXPECT_TRUE(paintedBesideTheDot().isEmpty());

    s.taskTitle = QStringLiteral("Ganz andere Aufgabe");
    card.setSession(s);
    test::spin(30ms);
    EXPECT_EQ(paintedBesideTheDot().boundingRect().height(), card.height());
    const QImage after = card.grab().toImage();
    bool titleChanged = false;
    for (int y = dot->geometry().bottom() + 2; y < card.height() / 2 && !titleChanged; ++y)
        for (int x = 0; x < card.width() && !titleChanged; ++x)
            titleChanged = before.pixel(x, y) != after.pixel(x, y);
    EXPECT_TRUE(titleChanged);
}

TEST(ActiveSessionCard, TheDotsBreathRepaintsItsOwnSquareOnly) {
    CardWorld w;
    const TimerSession s = session(QString());
    w.open(s);
    QWidget popover; // what lies beneath the card
    auto* card = new ActiveSessionCard(w.store(), &popover);
    card->setSession(s);
    card->setGeometry(14, 14, 372, card->sizeHint().height());
    popover.resize(400, card->height() + 28);
    popover.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover));
    auto* dot = card->findChild<PulsingDot*>();
    ASSERT_NE(dot, nullptr);
    ASSERT_TRUE(dot->isPulsing());
    test::spin(30ms);

    test::PaintLog popoverLog(&popover);
    test::PaintLog cardLog(card);
    test::PaintLog dotLog(dot);
    ASSERT_TRUE(test::eventuallyTrue([&] { return dotLog.regions.size() >= 3; }));
    EXPECT_TRUE(cardLog.regions.empty()) << "the card was drawn again for a frame of the dot";
    EXPECT_TRUE(popoverLog.regions.empty()) << "the popover was drawn again for a frame of the dot";

    // Around the dot the square shows the card's own backdrop.
    const QImage image = card->grab().toImage();
    const QPoint corner = dot->geometry().topLeft();
    const QColor inSquare = image.pixelColor(corner);
    const QColor beside = image.pixelColor(corner - QPoint(1, 0));
    EXPECT_EQ(inSquare.alpha(), 255);
    EXPECT_LE(std::abs(inSquare.red() - beside.red()), 4);
    EXPECT_LE(std::abs(inSquare.green() - beside.green()), 4);
    EXPECT_LE(std::abs(inSquare.blue() - beside.blue()), 4);
}

TEST(ActiveSessionCard, ANewTaskDropsTheOldRateAndALateReplyForItIsIgnored) {
    CardWorld w;
    FakeResponse slow = task("task-a", "50");
    slow.delay = 400ms;
    w.service.on("GET", "/api/job-tasks/task-a", slow);
    w.service.on("GET", "/api/job-tasks/task-b", task("task-b", "70"));
    w.service.on("GET", "/api/job-tasks/task-c", task("task-c", "30"));
    ActiveSessionCard card(w.store());
    card.setSession(session("task-c"));
    card.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return card.content().rateText.has_value(); }));
    EXPECT_EQ(card.content().rateText, QStringLiteral("30 €/h · abrechenbar"));
    EXPECT_EQ(w.service.requestsTo("GET", "/api/job-tasks/task-c").at(0).query,
              "include_job_times=0");

    card.setSession(session("task-a"));
    EXPECT_EQ(card.content().rateText, std::nullopt); // not task C's rate while A loads
    ASSERT_TRUE(test::eventuallyTrue(
        [&] { return w.service.requestsTo("GET", "/api/job-tasks/task-a").size() == 1; }));
    card.setSession(session("task-b"));
    ASSERT_TRUE(test::eventuallyTrue([&] { return card.content().rateText.has_value(); }));
    ASSERT_TRUE(test::answersArrived()); // task A's, after B's
    EXPECT_EQ(card.content().rateText, QStringLiteral("70 €/h · abrechenbar"));
    EXPECT_EQ(card.taskForRate()->id, QStringLiteral("task-b"));

    // The same task again loads nothing more; a failed load falls back quietly.
    card.setSession(session("task-b"));
    w.service.on("GET", "/api/job-tasks/task-d", FakeResponse::json(500, "{}"));
    w.store().setClients({client(QStringLiteral("c-1"), QStringLiteral("40"))});
    card.setSession(session("task-d"));
    ASSERT_TRUE(test::eventuallyTrue(
        [&] { return w.service.requestsTo("GET", "/api/job-tasks/task-d").size() == 1; }));
    test::spin(100ms);
    EXPECT_EQ(card.content().rateText, QStringLiteral("40 €/h · abrechenbar"));
    EXPECT_EQ(w.service.requestsTo("GET", "/api/job-tasks/task-b").size(), 1u);
}

TEST(ActiveSessionCard, TheRateLoadsOnlyOnceShown) {
    CardWorld w;
    w.service.on("GET", "/api/job-tasks/task-a", task("task-a", "50"));
    ActiveSessionCard card(w.store());
    card.setSession(session("task-a"));
    test::spin(100ms);
    EXPECT_EQ(w.service.requestCount(), 0u);
    card.show();
    ASSERT_TRUE(test::eventuallyTrue([&] { return card.taskForRate().has_value(); }));
    card.hide();
    card.show();
    test::spin(100ms);
    EXPECT_EQ(w.service.requestCount(), 1u);
}

TEST(ActiveSessionCard, LiveClocksRunOnlyWhileShownAndRunning) {
    CardWorld w;
    ActiveSessionCard card(w.store());
    TimerSession s = session(QString());
    s.budgetSecs = 3600;
    card.setSession(s);
    EXPECT_FALSE(card.elapsedClockRunning());
    card.show();
    EXPECT_TRUE(card.elapsedClockRunning());
    EXPECT_TRUE(card.budgetClockRunning());

    s.onBreak = true;
    s.running = false;
    card.setSession(s);
    EXPECT_FALSE(card.elapsedClockRunning());
    EXPECT_FALSE(card.budgetClockRunning());
    s.onBreak = false;
    card.setSession(s); // paused
    EXPECT_FALSE(card.elapsedClockRunning());

    s.running = true;
    s.budgetSecs = 0;
    card.setSession(s);
    EXPECT_TRUE(card.elapsedClockRunning());
    EXPECT_FALSE(card.budgetClockRunning());
    card.hide();
    EXPECT_FALSE(card.elapsedClockRunning());

    // Hidden with its window, as when the popover closes.
    QWidget popover;
    auto* inside = new ActiveSessionCard(w.store(), &popover);
    inside->setSession(s);
    popover.show();
    EXPECT_TRUE(inside->elapsedClockRunning());
    popover.hide();
    EXPECT_FALSE(inside->elapsedClockRunning());
}

TEST(ActiveSessionCard, StopButtonStopsTheSessionOnceAndPlaysTheLevelChange) {
    CardWorld w;
    FakeResponse slow = FakeResponse::json(200, R"({"data":{"id":"jt-1"}})");
    slow.delay = 300ms;
    w.service.on("PATCH", "/api/job-times/jt-1/stop", slow);
    const TimerSession s = session(QString());
    w.open(s);
    ActiveSessionCard card(w.store());
    card.setSession(s);
    card.resize(card.sizeHint());
    card.show();
    QAbstractButton* stop = stopButton(card);
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(test::heard(&card), std::pair(QAccessible::Grouping, card.spokenText()));
    // A review reads a group's texts, never its name: the sentence is its first text too.
    QAccessibleInterface* text = QAccessible::queryAccessibleInterface(&card)->child(0);
    EXPECT_EQ(std::pair(text->role(), text->text(QAccessible::Name)),
              std::pair(QAccessible::StaticText, card.spokenText()));
    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(test::pressesOnReturn(stop), 1); // while the click's stop runs
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().lastStoppedSummary().has_value(); }));
    EXPECT_EQ(w.service.requestsTo("PATCH", "/api/job-times/jt-1/stop").size(), 1u);
    EXPECT_TRUE(w.store().sessions().empty());
    EXPECT_EQ(w.haptics.played.front(), platform::HapticPattern::LevelChange);
}

TEST(ActiveSessionCard, GoneWhileItsStopAndRateLoadAreUnderWay) {
    CardWorld w;
    FakeResponse slowStop = FakeResponse::json(200, R"({"data":{"id":"jt-1"}})");
    slowStop.delay = 300ms;
    FakeResponse slowTask = task("task-a", "50");
    slowTask.delay = 300ms;
    w.service.on("PATCH", "/api/job-times/jt-1/stop", slowStop);
    w.service.on("GET", "/api/job-tasks/task-a", slowTask);
    const TimerSession s = session();
    w.open(s);
    auto* card = new ActiveSessionCard(w.store());
    card->setSession(s);
    card->show();
    card->stop();
    delete card;
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.store().lastStoppedSummary().has_value(); }));
    test::spin(400ms);
    EXPECT_TRUE(w.store().sessions().empty());
}

TEST(ActiveSessionCard, HostileValuesKeepTheCardInItsWidth) {
    CardWorld w;
    TimerSession s = session(QString());
    s.clientDisplayName = QString(5000, u'K');
    s.jobTitle = QString(5000, u'J');
    s.taskTitle = QString(5000, u'T');
    s.budgetSecs = kMax;
    s.trackedBeforeSecs = kMax;
    s.running = false;
    s.elapsedSecs = kMax;
    w.store().setClients({client(QStringLiteral("c-1"), QStringLiteral("1e300"))});
    ActiveSessionCard card(w.store());
    card.setSession(s);
    EXPECT_LE(card.minimumSizeHint().width(), 220);
    EXPECT_LE(card.sizeHint().width(), 400);
    card.resize(372, card.sizeHint().height());
    card.show();
    EXPECT_FALSE(card.grab().isNull());
    const CardContent content = card.content();
    EXPECT_EQ(content.badge, QStringLiteral("PAUSIERT"));
    ASSERT_TRUE(content.earnedText.has_value());

    s.elapsedSecs = -500;
    s.startedAt = kNow.addSecs(600); // starts in the future
    s.running = true;
    card.setSession(s);
    EXPECT_EQ(card.content().elapsedText, QStringLiteral("00:00"));
}
