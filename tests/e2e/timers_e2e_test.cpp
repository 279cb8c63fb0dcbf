#include "e2e_world.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::e2e;

namespace {

// Booked on the demo data's task "Entwürfe" before any case starts: four
// finished entries of 2:30, 3:15, 2:00 and 4:00.
constexpr qint64 kEntwuerfeHistorySecs = 42300;

class TimersEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        world.signIn();
        ASSERT_TRUE(store().isLoggedIn()) << "sign-in before the case";
        // Nordlicht rounds up to 15 minutes, the bakery to the closest 5.
        entwuerfe.emplace(world.pick(QStringLiteral("Nordlicht Design GmbH"),
                                     QStringLiteral("Logo-Überarbeitung"),
                                     QStringLiteral("Entwürfe")));
        produktseiten.emplace(world.pick(QStringLiteral("Bäckerei Sonnenschein"),
                                         QStringLiteral("Shop-Relaunch"),
                                         QStringLiteral("Produktseiten")));
    }

    AppStore& store() { return world.store(); }

    // A start while no timer runs.
    QUuid start(const Pick& pick) {
        const auto id = test::await(store().requestStart(pick.client, pick.job, pick.task));
        world.settle();
        if (!id)
            throw std::runtime_error("start refused: " +
                                     store().loginError().value_or("no message").toStdString());
        return *id;
    }

    void stop(const QUuid& id) {
        test::await(store().stopSession(id));
        world.settle();
    }

    const TimerSession& onlySession() {
        if (store().sessions().size() != 1)
            throw std::runtime_error("expected exactly one open session");
        return store().sessions().front();
    }

    JobTimeCompactDTO onService(const QString& jobTimeId) {
        return test::await(store().api().fetchJobTime(jobTimeId));
    }

    World world;
    std::optional<Pick> entwuerfe;
    std::optional<Pick> produktseiten;
};

} // namespace

TEST_F(TimersEndToEnd, StartFromAPickRunsOnTheServiceAndTicks) {
    const QUuid id = start(*entwuerfe);
    const TimerSession session = onlySession();
    EXPECT_EQ(session.id, id);
    EXPECT_EQ(session.clientDisplayName, QStringLiteral("Nordlicht Design"));
    EXPECT_EQ(session.taskTitle, QStringLiteral("Entwürfe"));
    EXPECT_EQ(session.jobNumber, QStringLiteral("A-1042"));
    EXPECT_EQ(session.startedAt, kStart) << "the service's start time";
    EXPECT_EQ(session.budgetSecs, 12 * 3600);
    EXPECT_EQ(session.trackedBeforeSecs, kEntwuerfeHistorySecs);
    EXPECT_EQ(store().activeSessionId(), id);

    const auto running = test::await(store().api().fetchActiveJobTimes());
    ASSERT_EQ(running.size(), 1u) << "running on the service";
    EXPECT_EQ(running.front().id, session.jobTimeServerId);

    SCOPED_TRACE("tick");
    EXPECT_TRUE(store().tickActive());
    world.advance(90s);
    store().tick();
    EXPECT_EQ(onlySession().elapsedSecs, 90);
}

TEST_F(TimersEndToEnd, SecondStartWaitsAsPendingUntilStopAllAndStart) {
    start(*entwuerfe);
    const QString first = onlySession().jobTimeServerId;
    {
        SCOPED_TRACE("second start");
        const auto id = test::await(
            store().requestStart(produktseiten->client, produktseiten->job, produktseiten->task));
        EXPECT_FALSE(id);
        ASSERT_TRUE(store().pendingPick());
        EXPECT_EQ(store().pendingPick()->task.id, produktseiten->task.id);
        EXPECT_TRUE(store().showMultiTimerSheet());
        EXPECT_EQ(onlySession().jobTimeServerId, first) << "the first one keeps running";
    }
    world.advance(10min);
    {
        SCOPED_TRACE("stop all and start");
        const auto id = test::await(store().stopAllAndStartPending());
        world.settle();
        ASSERT_TRUE(id) << store().loginError().value_or("no message").toStdString();
        EXPECT_EQ(onlySession().taskId, produktseiten->task.id);
        EXPECT_FALSE(store().pendingPick());
        EXPECT_FALSE(store().showMultiTimerSheet());
        EXPECT_TRUE(onService(first).endTime) << "the first job time is stopped on the service";
        const auto running = test::await(store().api().fetchActiveJobTimes());
        ASSERT_EQ(running.size(), 1u);
        EXPECT_EQ(running.front().id, onlySession().jobTimeServerId);
    }
}

TEST_F(TimersEndToEnd, StopBooksTheRoundedTime) {
    const QUuid id = start(*entwuerfe);
    const QString jobTimeId = onlySession().jobTimeServerId;
    world.advance(25min + 10s);
    stop(id);

    EXPECT_TRUE(store().sessions().empty());
    EXPECT_FALSE(store().tickActive());
    ASSERT_TRUE(store().lastStoppedSummary()) << "the summary after the stop";
    const StoppedSummary& summary = *store().lastStoppedSummary();
    EXPECT_EQ(summary.jobTimeServerId, jobTimeId);
    EXPECT_EQ(summary.elapsedSecs, 30 * 60) << "25 minutes rounded up to 15";
    EXPECT_EQ(summary.timeRoundDirection, QStringLiteral("up"));
    EXPECT_EQ(summary.timeRoundValueMinutes, 15);
    EXPECT_TRUE(summary.billable);
    EXPECT_EQ(summary.projectTrackedSecs, kEntwuerfeHistorySecs + 30 * 60);
    EXPECT_EQ(summary.projectBudgetSecs, 12 * 3600);

    const JobTimeCompactDTO entry = onService(jobTimeId);
    EXPECT_EQ(entry.endTime, QStringLiteral("2026-03-04T13:25:10.000000Z"));
    ASSERT_TRUE(entry.roundedDuration);
    EXPECT_EQ(entry.roundedDuration->hhMm, QStringLiteral("0:30"));
}

TEST_F(TimersEndToEnd, SummaryUpdateRoundsAgainOnTheService) {
    const QUuid id = start(*entwuerfe);
    const QString jobTimeId = onlySession().jobTimeServerId;
    world.advance(25min + 10s);
    stop(id);
    ASSERT_TRUE(store().lastStoppedSummary());

    struct Case {
        const char* direction;
        qint64 step;
        bool billable;
        qint64 bookedSecs;
        const char* hhMm;
    };
    // 25 whole minutes on the service's grid.
    for (const Case c :
         {Case{"down", 10, false, 20 * 60, "0:20"}, Case{"closest", 10, true, 30 * 60, "0:30"},
          Case{"closest", 20, true, 20 * 60, "0:20"}, Case{"up", 60, false, 60 * 60, "1:00"}}) {
        SCOPED_TRACE(std::string("update ") + c.direction + " " + std::to_string(c.step));
        test::await(
            store().updateStoppedEntry(c.billable, QString::fromLatin1(c.direction), c.step));
        ASSERT_TRUE(store().lastStoppedSummary());
        EXPECT_EQ(store().lastStoppedSummary()->elapsedSecs, c.bookedSecs);
        EXPECT_EQ(store().lastStoppedSummary()->billable, c.billable);
        const JobTimeCompactDTO entry = onService(jobTimeId);
        EXPECT_EQ(entry.billable, c.billable);
        EXPECT_EQ(entry.roundDirection, QString::fromLatin1(c.direction));
        EXPECT_EQ(entry.roundValue, c.step);
        ASSERT_TRUE(entry.roundedDuration);
        EXPECT_EQ(entry.roundedDuration->hhMm, QString::fromLatin1(c.hhMm));
    }
}

TEST_F(TimersEndToEnd, AlreadyStoppedOnTheServiceDropsTheSessionWithoutSummary) {
    const QUuid id = start(*entwuerfe);
    const QString jobTimeId = onlySession().jobTimeServerId;
    world.advance(5min);
    {
        SCOPED_TRACE("stop behind the store's back");
        const auto [status, body] =
            world.call("PATCH", "/api/job-times/" + jobTimeId.toStdString() + "/stop");
        ASSERT_EQ(status, 200);
    }
    {
        SCOPED_TRACE("stop from the app");
        world.advance(1min);
        stop(id);
        EXPECT_TRUE(store().sessions().empty());
        EXPECT_FALSE(store().lastStoppedSummary());
        EXPECT_FALSE(store().loginError());
        EXPECT_EQ(onService(jobTimeId).endTime, QStringLiteral("2026-03-04T13:05:00.000000Z"))
            << "the first stop stands";
    }
}

TEST_F(TimersEndToEnd, TodaysFiguresAndRecentTasksAfterAFewStops) {
    {
        SCOPED_TRACE("figures after sign-in");
        // The demo data's entry of today: 1:15 on a task billed at 110.00.
        EXPECT_EQ(store().todayTotalSecs(), 75 * 60);
        EXPECT_EQ(store().todaySessionsCount(), 1);
        EXPECT_EQ(store().todayProjectsCount(), 1);
        EXPECT_EQ(store().todayBillableEuroCents(), 13750);
    }
    {
        SCOPED_TRACE("two stops");
        const QUuid first = start(*entwuerfe);
        world.advance(40min);
        stop(first); // 45 minutes at 95.00
        world.advance(1min);
        const QUuid second = start(*produktseiten);
        world.advance(22min);
        stop(second);      // 20 minutes at 70.00
        world.advance(3s); // past the refresh throttle
        test::await(store().refreshDashboardAndRecentTasks());
        world.settle();
    }
    {
        SCOPED_TRACE("today's figures");
        EXPECT_EQ(store().todayTotalSecs(), (75 + 45 + 20) * 60);
        EXPECT_EQ(store().todaySessionsCount(), 3);
        EXPECT_EQ(store().todayProjectsCount(), 3);
        EXPECT_EQ(store().todayBillableEuroCents(), 13750 + 7125 + 2333);
        ASSERT_TRUE(store().invoiceableSummary());
        EXPECT_EQ(store().invoiceableSummary()->today.jobTimeCount, 3);
        EXPECT_EQ(store().invoiceableSummary()->today.amountEuroCents, 23208);
        EXPECT_EQ(store().todayTrackedSecsLive(), (75 + 45 + 20) * 60);
    }
    {
        SCOPED_TRACE("recent tasks");
        const std::vector<RecentTaskItem>& recent = store().recentTasks();
        ASSERT_GE(recent.size(), 3u);
        EXPECT_EQ(recent[0].taskId, produktseiten->task.id) << "the latest stop first";
        EXPECT_EQ(recent[0].todayTrackedSecs, 20 * 60);
        EXPECT_EQ(recent[0].clientName, QStringLiteral("Bäckerei Sonnenschein"));
        EXPECT_EQ(recent[1].taskId, entwuerfe->task.id);
        EXPECT_EQ(recent[1].todayTrackedSecs, 45 * 60);
        EXPECT_EQ(recent[1].totalTrackedSecs, kEntwuerfeHistorySecs + 45 * 60);
        EXPECT_EQ(recent[2].taskTitle, QStringLiteral("Fehlerbehebung"));
        EXPECT_EQ(recent.size(), 9u) << "every task of the demo history, once";
    }
}

TEST_F(TimersEndToEnd, AccountFallingBehindRefusesTheStartWithTheServicesMessage) {
    ASSERT_TRUE(world.service().setAccountRequirements(
        kDemoEmail,
        QJsonObject{{"profile_complete", true}, {"dpa_signed", true}, {"dpa_outdated", true}}));
    const auto id =
        test::await(store().requestStart(entwuerfe->client, entwuerfe->job, entwuerfe->task));
    world.settle();
    EXPECT_FALSE(id);
    EXPECT_TRUE(store().sessions().empty());
    EXPECT_EQ(store().loginError(), QStringLiteral("Die AVV wurde aktualisiert. Bitte bestätige "
                                                   "die neue Fassung im Web in deinem Profil."));
    EXPECT_TRUE(store().startGateRefuses()) << "the store now knows the account is not ready";
}

TEST_F(TimersEndToEnd, MissingFieldsSentAsAListDoNotStopTheWork) {
    ASSERT_TRUE(world.service().setAccountRequirements(
        kDemoEmail, QJsonObject{{"missing_profile_fields", QJsonArray{"phone"}}}));
    test::await(store().refreshCurrentUser());
    ASSERT_TRUE(store().currentUser() && store().currentUser()->accountRequirements);
    EXPECT_TRUE(store().currentUser()->accountRequirements->isReady());
    EXPECT_NO_THROW(start(*entwuerfe));
}

TEST_F(TimersEndToEnd, RunningTimerComesBackAtTheNextStart) {
    const QUuid id = start(*entwuerfe);
    world.advance(10min);
    world.restart();

    AppStore& next = world.store();
    ASSERT_TRUE(world.spinUntil([&] { return next.isLoggedIn() && !next.sessions().empty(); }))
        << "the running timer was not restored";
    world.settle();
    const TimerSession session = onlySession();
    EXPECT_EQ(session.id, id) << "the same session for the same job time";
    EXPECT_EQ(session.startedAt, kStart);
    EXPECT_EQ(session.elapsedSecs, 600);
    EXPECT_EQ(session.clientDisplayName, QStringLiteral("Nordlicht Design"));
    EXPECT_EQ(session.budgetSecs, 12 * 3600);
    EXPECT_EQ(session.trackedBeforeSecs, kEntwuerfeHistorySecs);
    EXPECT_TRUE(next.tickActive());
}

TEST_F(TimersEndToEnd, QuickStartFromARecentTask) {
    ASSERT_FALSE(store().recentTasks().empty());
    // The demo data's latest entry: "Fehlerbehebung", early today.
    const RecentTaskItem latest = store().recentTasks().front();
    ASSERT_EQ(latest.taskTitle, QStringLiteral("Fehlerbehebung"));
    {
        SCOPED_TRACE("quick start");
        const auto id = test::await(store().startFromRecentTask(latest));
        world.settle();
        ASSERT_TRUE(id) << store().loginError().value_or("no message").toStdString();
        EXPECT_EQ(onlySession().taskId, latest.taskId);
        EXPECT_EQ(onlySession().budgetSecs, 10 * 3600);
        EXPECT_EQ(onlySession().trackedBeforeSecs, (75 + 105 + 90 + 75) * 60)
            << "the task's four earlier entries";
    }
    {
        SCOPED_TRACE("second quick start");
        const RecentTaskItem other = store().recentTasks().at(1);
        EXPECT_FALSE(test::await(store().startFromRecentTask(other)));
        ASSERT_TRUE(store().pendingPick());
        EXPECT_EQ(store().pendingPick()->task.id, other.taskId);
        EXPECT_TRUE(store().showMultiTimerSheet());
    }
}
