#include "store/app_store.h"
#include "store/timer_session.h"
#include "support/await.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <set>

using namespace orvane;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

TimerSession runningSince(const QDateTime& startedAt, const QString& jobTimeId = "jt-1") {
    TimerSession s;
    s.id = stableUUID(jobTimeId);
    s.jobTimeServerId = jobTimeId;
    s.startedAt = startedAt;
    return s;
}

TimerSession onBreak(qint64 elapsedSecs, std::optional<QDateTime> since) {
    TimerSession s = runningSince(kNow.addSecs(-3600));
    s.running = false;
    s.onBreak = true;
    s.elapsedSecs = elapsedSecs;
    s.onBreakSince = since;
    return s;
}

TimerSession stopped(const QDateTime& startedAt, qint64 elapsedSecs,
                     std::optional<QString> direction = {}, std::optional<qint64> step = {}) {
    TimerSession s = runningSince(startedAt);
    s.running = false;
    s.elapsedSecs = elapsedSecs;
    s.timeRoundDirection = std::move(direction);
    s.timeRoundValue = step;
    return s;
}

} // namespace

TEST(SessionShownTime, RunningSessionFollowsTheClockLessItsPauses) {
    const struct {
        qint64 startedSecsAgo;
        qint64 pauseSecs;
        qint64 expected;
    } cases[] = {
        {3661, 61, 3600}, {3661, 0, 3661},
        {0, 0, 0},        {-60, 0, 0}, // started in the future by the service's clock
        {-60, 30, 0},                  // and the pause does not push it below 0
        {100, 250, 0},                 // more pause than time since the start
        {100, 100, 0},
    };
    for (const auto& c : cases) {
        TimerSession s = runningSince(kNow.addSecs(-c.startedSecsAgo));
        s.pauseSecs = c.pauseSecs;
        s.elapsedSecs = 12345; // a stale tick value plays no part
        EXPECT_EQ(s.liveElapsedSecs(kNow), c.expected)
            << c.startedSecsAgo << " s ago, " << c.pauseSecs << " s paused";
    }
}

TEST(SessionShownTime, RunningSessionCountsWholeSecondsOnly) {
    const TimerSession s = runningSince(kNow.addMSecs(-900));
    EXPECT_EQ(s.liveElapsedSecs(kNow), 0);
    EXPECT_EQ(s.liveElapsedSecs(kNow.addMSecs(1099)), 1);
    EXPECT_EQ(s.liveElapsedSecs(kNow.addMSecs(99)), 0);
    EXPECT_EQ(s.liveElapsedSecs(kNow.addMSecs(100)), 1);
}

TEST(SessionShownTime, BreakCountsDownFromTheClockNotFromTheGivenTime) {
    test::ClockScope clock(kNow);
    EXPECT_EQ(onBreak(600, kNow.addSecs(-120)).liveElapsedSecs(kNow), 480);
    // The time a view passes in does not matter during a break.
    EXPECT_EQ(onBreak(600, kNow.addSecs(-120)).liveElapsedSecs(kNow.addSecs(86400)), 480);
    EXPECT_EQ(onBreak(600, kNow.addSecs(-700)).liveElapsedSecs(kNow), 0);
    EXPECT_EQ(onBreak(600, std::nullopt).liveElapsedSecs(kNow.addSecs(5000)), 600);
    // A break that begins later than the clock reads takes nothing off.
    EXPECT_EQ(onBreak(600, kNow.addSecs(30)).liveElapsedSecs(kNow), 600);

    const TimerSession resting = onBreak(600, kNow);
    clock.advance(90'500);
    EXPECT_EQ(resting.liveElapsedSecs(kNow), 510);
    EXPECT_EQ(resting.onBreakAdjustedElapsedSecs(), 510);
    clock.advance(600'000);
    EXPECT_EQ(resting.liveElapsedSecs(kNow), 0);
}

TEST(SessionShownTime, BreakFlagWinsOverRunning) {
    test::ClockScope clock(kNow);
    TimerSession s = onBreak(300, kNow.addSecs(-60));
    s.running = true; // a local break while the service still runs the timer
    EXPECT_EQ(s.liveElapsedSecs(kNow.addSecs(9999)), 240);
}

TEST(SessionShownTime, StoppedSessionShowsItsRoundedSpanAtAnyTime) {
    const QDateTime start = QDateTime(QDate(2026, 3, 2), QTime(10, 0, 40), Qt::UTC);
    const struct {
        qint64 elapsed;
        std::optional<QString> direction;
        std::optional<qint64> step;
        qint64 expected;
    } cases[] = {
        {1500, "up", 15, 1800}, // 10:00:40 to 10:25:40
        {1500, {}, {}, 1500},   // 10:00 to 10:25 on whole minutes
        {1500, "down", 15, 900}, {1500, "closest", 15, 1800},
        {10, "up", 15, 900}, // a few seconds still book one step
        {10, {}, {}, 0},         {0, "down", 15, 0},
    };
    for (const auto& c : cases) {
        const TimerSession s = stopped(start, c.elapsed, c.direction, c.step);
        EXPECT_EQ(s.liveElapsedSecs(kNow), c.expected)
            << c.elapsed << " " << c.direction.value_or("-").toStdString();
        EXPECT_EQ(s.liveElapsedSecs(kNow.addSecs(7200)), c.expected) << "changed with time";
    }
}

TEST(SessionIdentity, SameJobTimeGivesTheSameIdEverywhere) {
    EXPECT_EQ(stableUUID("4711"), stableUUID("  4711\n"));
    // Fixed by the SHA-256 of the id, so another machine derives the same value.
    EXPECT_EQ(stableUUID("4711"), QUuid("de650d61-f5bd-466a-91f8-ccec3158297d"));
    EXPECT_EQ(stableUUID("jt-123"), QUuid("adc2c6c3-408d-48a7-a799-83e051229f76"));
    EXPECT_NE(stableUUID("4711"), stableUUID("4712"));
    EXPECT_NE(stableUUID("4711"), stableUUID("47 11"));
}

TEST(SessionIdentity, BlankIdGivesAFreshRandomIdEachTime) {
    std::set<QString> seen;
    for (const char* blank : {"", "", "   ", "\n\t ", ""})
        seen.insert(stableUUID(QString::fromUtf8(blank)).toString());
    EXPECT_EQ(seen.size(), 5u);
}

TEST(SessionIdentity, EveryIdHasTheVersionFourLayout) {
    for (const char* id : {"1", "4711", "jt-123", "Ünïcødé", "", "  ",
                           "a-very-long-job-time-identifier-0123456789"}) {
        const QStringList groups =
            stableUUID(QString::fromUtf8(id)).toString(QUuid::WithoutBraces).split(u'-');
        ASSERT_EQ(groups.size(), 5) << id;
        EXPECT_EQ(groups[2].at(0), u'4') << id;
        EXPECT_TRUE(QStringLiteral("89ab").contains(groups[3].at(0))) << id;
    }
}

namespace {

class SessionTick : public ::testing::Test {
protected:
    void SetUp() override {
        QObject::connect(&store, &AppStore::changed, [this](AppStore::Property p) {
            if (p == AppStore::Property::Sessions)
                ++sessionChanges;
            if (p == AppStore::Property::LastLiveActivitySyncFromTick)
                ++stampChanges;
        });
    }

    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::ClockScope clock{kNow};
    AppStore store;
    int sessionChanges = 0;
    int stampChanges = 0;
};

} // namespace

TEST_F(SessionTick, ExistsExactlyWhileSessionsExist) {
    EXPECT_FALSE(store.tickActive());
    store.updateTickTimer();
    EXPECT_FALSE(store.tickActive());

    store.setSessions({runningSince(kNow)});
    EXPECT_FALSE(store.tickActive()) << "only updateTickTimer starts it";
    store.updateTickTimer();
    EXPECT_TRUE(store.tickActive());
    store.setSessions({runningSince(kNow), stopped(kNow, 60)});
    store.updateTickTimer();
    EXPECT_TRUE(store.tickActive());

    store.setSessions({});
    store.updateTickTimer();
    EXPECT_FALSE(store.tickActive());
    store.updateTickTimer();
    EXPECT_FALSE(store.tickActive());
}

TEST_F(SessionTick, FiresOnItsOwnOnceASecond) {
    store.setSessions({runningSince(kNow.addSecs(-30))});
    store.updateTickTimer();
    test::eventuallyTrue([&] { return store.sessions()[0].elapsedSecs != 0; });
    ASSERT_EQ(store.sessions().size(), 1u);
    EXPECT_EQ(store.sessions()[0].elapsedSecs, 30);
    EXPECT_EQ(store.lastLiveActivitySyncFromTick(), kNow);

    // Once the last session is gone nothing ticks any more.
    store.setSessions({});
    store.updateTickTimer();
    sessionChanges = 0;
    stampChanges = 0;
    // No tick is set further out; timers due earlier fire first.
    bool pastTheNextTick = false;
    QTimer::singleShot(1005, Qt::PreciseTimer, &store, [&] { pastTheNextTick = true; });
    ASSERT_TRUE(test::eventuallyTrue([&] { return pastTheNextTick; }));
    EXPECT_EQ(sessionChanges, 0);
    EXPECT_EQ(stampChanges, 0);
    EXPECT_TRUE(store.lastLiveActivitySyncFromTick().has_value()) << "no tick cleared it";
}

// One tick turns every clock on screen: it comes just after the next second
// of the session the views show, or of the first that runs.
TEST_F(SessionTick, ComesJustAfterTheShownSessionsNextSecond) {
    const TimerSession a = runningSince(kNow.addMSecs(-3725'250), "a"); // a quarter into its second
    const TimerSession b = runningSince(kNow.addMSecs(-60'600), "b");
    const TimerSession resting = onBreak(600, kNow.addSecs(-120));
    const struct {
        const char* name;
        std::vector<TimerSession> sessions;
        std::optional<QUuid> active;
        int ms;
    } cases[] = {
        {"none runs: once a second", {resting}, std::nullopt, 1000},
        {"the first", {a, b}, std::nullopt, 755},
        {"the active one", {a, b}, b.id, 405},
        {"the active one rests: the first that runs", {resting, b, a}, resting.id, 405},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store.setSessions(c.sessions);
        store.setActiveSessionId(c.active);
        EXPECT_EQ(store.msUntilNextTick(kNow), c.ms);
    }
}

TEST_F(SessionTick, WritesOneChangePerRunningSession) {
    TimerSession a = runningSince(kNow.addSecs(-100), "a");
    TimerSession b = runningSince(kNow.addSecs(-3661), "b");
    b.pauseSecs = 61;
    const TimerSession resting = onBreak(600, kNow.addSecs(-120));
    const TimerSession done = stopped(kNow.addSecs(-4000), 1500, "up", 15);
    store.setSessions({a, resting, b, done});
    sessionChanges = 0;

    store.tick();
    EXPECT_EQ(sessionChanges, 2);
    const auto& s = store.sessions();
    EXPECT_EQ(s[0].elapsedSecs, 100);
    EXPECT_EQ(s[1], resting);
    EXPECT_EQ(s[2].elapsedSecs, 3600);
    EXPECT_EQ(s[3], done);

    clock.advance(1000);
    store.tick();
    EXPECT_EQ(sessionChanges, 4);
    EXPECT_EQ(store.sessions()[0].elapsedSecs, 101);
    EXPECT_EQ(store.sessions()[2].elapsedSecs, 3601);
}

TEST_F(SessionTick, FutureStartAndOversizedPauseAreWrittenAsZero) {
    TimerSession early = runningSince(kNow.addSecs(90), "early");
    early.elapsedSecs = 7;
    TimerSession paused = runningSince(kNow.addSecs(-100), "paused");
    paused.pauseSecs = 500;
    paused.elapsedSecs = 3;
    store.setSessions({early, paused});
    store.tick();
    EXPECT_EQ(store.sessions()[0].elapsedSecs, 0);
    EXPECT_EQ(store.sessions()[1].elapsedSecs, 0);
}

TEST_F(SessionTick, StampFollowsTheClockInWholeSeconds) {
    store.setSessions({runningSince(kNow.addSecs(-10))});
    EXPECT_EQ(store.lastLiveActivitySyncFromTick(), std::nullopt);
    store.tick();
    EXPECT_EQ(store.lastLiveActivitySyncFromTick(), kNow);

    clock.advance(600);
    store.tick();
    EXPECT_EQ(store.lastLiveActivitySyncFromTick(), kNow) << "less than a second later";
    clock.advance(400);
    store.tick();
    EXPECT_EQ(store.lastLiveActivitySyncFromTick(), kNow.addMSecs(1000));
}

TEST_F(SessionTick, BreakOnlyLeavesTheSessionAloneAndClearsTheStamp) {
    store.setSessions({runningSince(kNow.addSecs(-10))});
    store.tick();
    ASSERT_TRUE(store.lastLiveActivitySyncFromTick().has_value());

    const TimerSession resting = onBreak(600, kNow.addSecs(-30));
    store.setSessions({resting});
    sessionChanges = 0;
    stampChanges = 0;
    clock.advance(5000);
    store.tick();
    EXPECT_EQ(sessionChanges, 0);
    EXPECT_EQ(store.sessions()[0], resting);
    EXPECT_EQ(store.lastLiveActivitySyncFromTick(), std::nullopt);
    EXPECT_EQ(stampChanges, 1);
    store.tick();
    EXPECT_EQ(stampChanges, 1) << "staying absent is no change";
}
