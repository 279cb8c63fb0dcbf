#include "store/app_store.h"
#include "store/stopped_session_record.h"
#include "store/time_money_helpers.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDate kDay(2026, 3, 2);
const QDateTime kNow(kDay, QTime(10, 7, 10), Qt::UTC);
const FakeResponse kAlreadyStopped =
    FakeResponse::json(422, R"({"errors":{"job_time":["Job time already stopped."]}})");

FakeResponse jobTime(const std::string& members = "") {
    return FakeResponse::json(200, R"({"data":{"id":"jt-1")" + members + "}}");
}
FakeResponse bookedAs(const std::string& hhMm) {
    return jobTime(R"(,"end_time":"x","rounded_duration":{"hh_mm":")" + hhMm + "\"}");
}

TimerSession session(const QString& id) {
    TimerSession s{stableUUID(id), id};
    std::tie(s.clientDisplayName, s.jobTitle, s.taskTitle) = std::tuple("Kundin", "Job", "Design");
    s.startedAt = QDateTime(kDay, QTime(10, 0, 40), Qt::UTC);
    return s;
}

// Every stored record as its values joined by "|", read through a connection of its own.
QStringList records(const QString& path) {
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "reader");
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q(QStringLiteral("SELECT * FROM StoppedSessionRecord"), db);
        while (q.next()) {
            QStringList values;
            for (int i = 0; i < q.record().count(); ++i)
                values << q.value(i).toString();
            out << values.join(u'|');
        }
    }
    QSqlDatabase::removeDatabase("reader");
    return out;
}

class TimerStop : public ::testing::Test {
protected:
    TimerStop() {
        defaults->setString(QStringLiteral("orvane_api_base_url"), service.baseURL());
        store = std::make_unique<AppStore>();
        store->setCurrentUser(APIUser{"1", "a@b.de"});
        store->setIsLoggedIn(true);
    }
    ~TimerStop() override {
        for (std::size_t seen = SIZE_MAX; seen != service.requestCount();) {
            seen = service.requestCount();
            test::spin(100ms); // lets spawned refreshes finish
        }
        store.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    void open(std::vector<TimerSession> sessions, std::size_t active = 0) {
        store->setActiveSessionId(sessions.at(active).id);
        store->setSessions(std::move(sessions));
        store->updateTickTimer();
    }
    // Stops `s` with the service's `reply`; the summary shows one turn later.
    void stop(const TimerSession& s, FakeResponse reply) {
        service.on("PATCH", "/api/job-times/" + s.jobTimeServerId.toStdString() + "/stop", reply);
        test::await(store->stopSession(s.id));
        test::spin(20ms);
    }

    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeHaptics haptics;
    test::ClockScope clock{kNow};
    std::unique_ptr<AppStore> store;
};

using StoppedSessionRecords = TimerStop;

} // namespace

TEST_F(TimerStop, BookedSecondsComeFromTheReplyElseFromTheMinuteGrid) {
    using Rule = std::pair<std::optional<QString>, std::optional<qint64>>;
    const auto rounded = [](const char* direction, int step) {
        return jobTime(std::string(R"(,"round_direction":")") + direction + R"(","round_value":)" +
                       std::to_string(step));
    };
    const QTime at(10, 7, 10);
    // clang-format off
    const struct { FakeResponse reply; Rule ofSession; QTime stoppedAt; qint64 booked; Rule shown; } cases[] = {
        {bookedAs("0:30"), {"up", 15}, at, 1800, {"up", 15}},
        {rounded("up", 15), {}, at, 900, {"up", 15}},
        {rounded("closest", 15), {}, at, 0, {"closest", 15}},
        {rounded("down", 15), {}, at, 0, {"down", 15}},
        {jobTime(), {}, at, 420, {}},
        {jobTime(), {"up", 15}, at, 900, {"up", 15}},
        {rounded("up", 5), {}, QTime(10, 0, 55), 300, {"up", 5}}, // within the start's minute
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body);
        clock.setWallClock(QDateTime(kDay, c.stoppedAt, Qt::UTC));
        TimerSession s = session("jt-1");
        std::tie(s.timeRoundDirection, s.timeRoundValue) = c.ofSession;
        open({s});
        stop(s, c.reply);
        ASSERT_TRUE(store->lastStoppedSummary());
        const StoppedSummary& summary = *store->lastStoppedSummary();
        EXPECT_EQ(summary.elapsedSecs, c.booked);
        EXPECT_EQ(std::pair(summary.timeRoundDirection, summary.timeRoundValueMinutes), c.shown);
    }
}

TEST_F(TimerStop, SummaryIsPublishedAfterTheStopOnlyWhileSignedIn) {
    TimerSession s = session("jt-1");
    s.clientInitials = QStringLiteral("KI");
    s.clientColorHex = 0xABCDEF;
    s.pauseCount = 2;
    s.pauseSecs = 60;
    s.trackedBeforeSecs = 2700;
    s.budgetSecs = -5;
    open({s});
    store->setPendingPick(PendingStart(ClientDTO{}, JobDTO{}, JobTaskDTO{}));
    store->setShowMultiTimerSheet(true);
    store->setLoginError(QStringLiteral("alt"));
    stop(s, bookedAs("0:15"));
    EXPECT_EQ(store->pendingPick(), std::nullopt);
    EXPECT_FALSE(store->showMultiTimerSheet());
    EXPECT_EQ(store->loginError(), std::nullopt);
    ASSERT_TRUE(store->lastStoppedSummary());
    // clang-format off
    const StoppedSummary want{store->lastStoppedSummary()->id, "jt-1", "Kundin", "KI", 0xABCDEF,
        "Job", "Design", 900, s.startedAt, kNow, 2, 60, {}, {}, true, 2700, 3600, 0};
    // clang-format on
    EXPECT_EQ(store->lastStoppedSummary(), want);

    // Signed out when the answer comes, or once the stop is done but before the summary shows.
    store->setLastStoppedSummary(std::nullopt);
    store->setIsLoggedIn(false);
    open({s});
    stop(s, jobTime());
    EXPECT_EQ(store->lastStoppedSummary(), std::nullopt);
    store->setIsLoggedIn(true);
    store->setLoginError(QStringLiteral("alt"));
    open({s});
    QObject::connect(store.get(), &AppStore::changed, store.get(), [this](AppStore::Property p) {
        if (p == AppStore::Property::LoginError) // the stop's last change
            store->setIsLoggedIn(false);
    });
    stop(s, jobTime());
    EXPECT_EQ(store->lastStoppedSummary(), std::nullopt);
}

TEST_F(TimerStop, ProjectTimeOfTheSummaryStopsAtTheEndOfTheRange) {
    const std::string huge = "1388888888888888:00"; // fits once, not twice
    TimerSession s = session("jt-1");
    s.trackedBeforeSecs = *parseDurationString(QString::fromStdString(huge));
    open({s});
    stop(s, bookedAs(huge));
    ASSERT_TRUE(store->lastStoppedSummary());
    EXPECT_EQ(store->lastStoppedSummary()->projectTrackedSecs, std::numeric_limits<qint64>::max());

    service.on("PATCH", "/api/job-times/jt-1", bookedAs(huge));
    service.on("GET", "/api/job-times/jt-1", bookedAs(huge));
    test::await(store->updateStoppedEntry(true, "up", 5));
    EXPECT_EQ(store->lastStoppedSummary()->projectTrackedSecs, std::numeric_limits<qint64>::max());
}

TEST_F(TimerStop, StoppingHandsTheActiveSessionOverAndEndsTheTickWithTheLast) {
    const std::tuple<std::size_t, std::size_t, std::optional<QString>> cases[] = {
        {3, 0, "jt-2"}, {3, 2, "jt-3"}, {1, 0, std::nullopt}};
    for (const auto& [count, active, activeAfter] : cases) {
        std::vector<TimerSession> sessions{session("jt-1"), session("jt-2"), session("jt-3")};
        sessions.resize(count);
        open(sessions, active);
        stop(sessions[0], jobTime());
        EXPECT_EQ(store->sessions().size(), count - 1);
        EXPECT_EQ(store->activeSessionId(),
                  activeAfter ? std::optional(stableUUID(*activeAfter)) : std::nullopt);
        EXPECT_EQ(store->tickActive(), count > 1);
    }
}

TEST_F(TimerStop, AlreadyStoppedOnTheServiceDropsTheSessionOtherErrorsKeepIt) {
    const TimerSession s = session("jt-1");
    open({s});
    store->setLoginError(QStringLiteral("früher"));
    stop(s, FakeResponse::json(500, "{}"));
    EXPECT_EQ(store->sessions(), std::vector{s});
    EXPECT_EQ(store->loginError(), "HTTP 500: {}");
    EXPECT_TRUE(haptics.played.empty());

    store->setLoginError(QStringLiteral("früher"));
    stop(s, kAlreadyStopped);
    EXPECT_TRUE(store->sessions().empty());
    EXPECT_FALSE(store->tickActive());
    EXPECT_EQ(haptics.played, std::vector{platform::HapticPattern::Generic});
    EXPECT_EQ(store->loginError(), "früher");
    EXPECT_EQ(store->lastStoppedSummary(), std::nullopt);
}

TEST_F(TimerStop, UpdateOfTheStoppedEntrySendsANormalisedRuleAndReadsTheEntryBack) {
    const FakeResponse missing = FakeResponse::json(404, "{}");
    const FakeResponse unbooked = jobTime(R"(,"end_time":"x")");
    // clang-format off
    const struct { QString direction; qint64 value; QString sent; qint64 step; FakeResponse reread, updated; qint64 booked; } cases[] = {
        {" UP ", 0, "up", 1, bookedAs("0:45"), unbooked, 2700},
        {"sideways", -5, "down", 1, bookedAs("0:45"), unbooked, 2700},
        {"closest", 15, "closest", 15, missing, bookedAs("0:20"), 1200},
        {"up", 5, "up", 5, jobTime(), unbooked, 600}, // 6 minutes on the grid
        {"down", 5, "down", 5, missing, jobTime(), 300},
    };
    // clang-format on
    StoppedSummary summary{QUuid::createUuid(), "jt-1"};
    summary.startedAt = QDateTime(kDay, QTime(10, 0, 40), Qt::UTC);
    summary.endedAt = QDateTime(kDay, QTime(10, 6, 50), Qt::UTC);
    summary.trackedBeforeExcludingThisEntrySecs = 1000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.direction.toStdString());
        const bool billable = c.value != 0;
        store->setLastStoppedSummary(summary);
        service.clearRequests();
        service.on("PATCH", "/api/job-times/jt-1", c.updated);
        service.on("GET", "/api/job-times/jt-1", c.reread);
        test::await(store->updateStoppedEntry(billable, c.direction, c.value));
        const QJsonObject body{
            {"billable", billable}, {"round_direction", c.sent}, {"round_value", c.step}};
        EXPECT_EQ(service.requestsTo("PATCH", "/api/job-times/jt-1").at(0).json().object(), body);
        StoppedSummary want = summary;
        std::tie(want.elapsedSecs, want.timeRoundDirection, want.timeRoundValueMinutes,
                 want.billable, want.projectTrackedSecs) =
            std::tuple(c.booked, c.sent, c.step, billable, 1000 + c.booked);
        EXPECT_EQ(store->lastStoppedSummary(), want);
    }

    service.on("PATCH", "/api/job-times/jt-1", FakeResponse::json(500, "{}"));
    store->setLastStoppedSummary(summary);
    EXPECT_THROW(test::await(store->updateStoppedEntry(true, "up", 5)), OrvaneAPIError);
    EXPECT_EQ(store->lastStoppedSummary(), summary);
    store->setLastStoppedSummary(std::nullopt);
    service.clearRequests();
    test::await(store->updateStoppedEntry(true, "up", 5));
    // Earlier saves' figure refreshes may still land; no entry is saved.
    EXPECT_TRUE(service.requestsTo("PATCH", "/api/job-times/jt-1").empty());
}

TEST_F(TimerStop, EndingABreakCountsItAsPauseOrAsWork) {
    // clang-format off
    const struct { bool asWork, hasStart; qint64 elapsed, pauseCount, pauseSecs; } cases[] = {
        {false, true, 100, 2, 100}, {true, true, 190, 1, 10}, {false, false, 100, 1, 10}};
    // clang-format on
    for (const auto& c : cases) {
        TimerSession s = session("jt-1");
        s.running = false;
        s.onBreak = true;
        std::tie(s.elapsedSecs, s.pauseCount, s.pauseSecs) = std::tuple(100, 1, 10);
        if (c.hasStart)
            s.onBreakSince = kNow.addSecs(-90);
        open({s});
        store->resumeFromBreak(s.id, c.asWork);
        const TimerSession& after = store->sessions().at(0);
        EXPECT_EQ(std::tie(after.elapsedSecs, after.pauseCount, after.pauseSecs),
                  std::tie(c.elapsed, c.pauseCount, c.pauseSecs));
        // Without a break start the session stays on its break.
        EXPECT_EQ(std::tie(after.running, after.onBreak), std::tuple(c.hasStart, !c.hasStart));
        EXPECT_FALSE(after.onBreakSince.has_value());
    }
}

TEST_F(StoppedSessionRecords, OneRowPerJobTimeOnceAContextIsAttachedSurvivingARestart) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/default.store");
    auto container = platform::ModelContainer::open(path, {StoppedSessionRecord::schema()});
    ASSERT_TRUE(container);
    const TimerSession early = session("jt-0");
    open({early});
    stop(early, jobTime());
    EXPECT_TRUE(records(path).isEmpty()); // no context yet

    store->setModelContext(container->mainContext());
    TimerSession s = session("jt-1");
    s.pauseCount = 2;
    s.pauseSecs = 30;
    for (int twice = 0; twice < 2; ++twice) {
        open({s});
        stop(s, jobTime());
    }
    const TimerSession gone = session("jt-2");
    open({gone});
    stop(gone, kAlreadyStopped);

    container.reset(); // the context goes with it
    EXPECT_EQ(store->modelContext(), nullptr);
    open({gone});
    stop(gone, jobTime());

    ASSERT_TRUE(platform::ModelContainer::open(path, {StoppedSessionRecord::schema()}));
    EXPECT_EQ(records(path), QStringList{s.id.toString(QUuid::WithoutBraces) +
                                         "|jt-1|Kundin|Job|Design|2026-03-02T10:00:40.000Z|"
                                         "2026-03-02T10:07:10.000Z|420|2|30"});
}

TEST_F(TimerStop, ASessionWhoseStopIsUnderWayIsNotStoppedAgain) {
    const TimerSession s = session("jt-1");
    open({s});
    FakeResponse slow = jobTime();
    slow.delay = 300ms;
    service.on("PATCH", "/api/job-times/jt-1/stop", slow);
    // A double click, the card's button and the shortcut at once.
    auto first = store->stopSession(s.id);
    auto second = store->stopSession(s.id);
    auto third = store->stopSession(s.id);
    test::await(std::move(first));
    test::await(std::move(second));
    test::await(std::move(third));
    ASSERT_TRUE(test::answersArrived()); // and whatever the store would send later
    EXPECT_EQ(service.requestsTo("PATCH", "/api/job-times/jt-1/stop").size(), 1u);
    EXPECT_TRUE(store->sessions().empty());

    // Once that stop has ended, the same session can be stopped again.
    service.on("PATCH", "/api/job-times/jt-1/stop", FakeResponse::json(500, "{}"));
    open({s});
    test::await(store->stopSession(s.id));
    test::await(store->stopSession(s.id));
    ASSERT_TRUE(test::answersArrived());
    EXPECT_EQ(service.requestsTo("PATCH", "/api/job-times/jt-1/stop").size(), 3u);
}

// The save changes today's billable sum: the figures are read again after it,
// even when a refresh finished a moment before.
TEST_F(TimerStop, ASavedEntryHasTheFiguresReadAgainAfterIt) {
    service.on("PATCH", "/api/job-times/jt-1", bookedAs("0:45"));
    service.on("GET", "/api/job-times/jt-1", bookedAs("0:45"));
    test::await(store->refreshDashboardAggregatesThrottled());
    store->setLastStoppedSummary(StoppedSummary{QUuid::createUuid(), "jt-1"});
    service.clearRequests();
    test::await(store->updateStoppedEntry(false, "up", 15));
    EXPECT_TRUE(test::eventuallyTrue(
        [&] { return !service.requestsTo("GET", "/api/job-times/invoiceable-summary").empty(); }));
    const auto requests = service.requests();
    EXPECT_EQ(requests.front().method, "PATCH") << "figures read before the save landed";
}

TEST_F(TimerStop, ASavedEntryReplacesOnlyTheSummaryItWasSavedFrom) {
    StoppedSummary older{QUuid::createUuid(), "jt-1"};
    older.taskTitle = QStringLiteral("älter");
    StoppedSummary newer{QUuid::createUuid(), "jt-2"};
    newer.taskTitle = QStringLiteral("neuer");
    FakeResponse slow = bookedAs("0:45");
    slow.delay = 200ms;
    service.on("PATCH", "/api/job-times/jt-1", slow);
    service.on("GET", "/api/job-times/jt-1", bookedAs("0:45"));
    // What happens to the summary while the save is on its way.
    const std::optional<StoppedSummary> meanwhile[] = {std::nullopt, newer};
    for (const auto& shown : meanwhile) {
        store->setLastStoppedSummary(older);
        service.clearRequests();
        auto saving = store->updateStoppedEntry(false, "up", 15);
        ASSERT_TRUE(test::eventuallyTrue(
            [&] { return !service.requestsTo("PATCH", "/api/job-times/jt-1").empty(); }));
        store->setLastStoppedSummary(shown);
        test::await(std::move(saving));
        EXPECT_EQ(store->lastStoppedSummary(), shown);
    }
}

TEST_F(TimerStop, OneStopGoesOutPerJobTimeWhicheverRoadAsksFirst) {
    const TimerSession s = session("jt-1");
    FakeResponse slow = bookedAs("0:05");
    slow.delay = 400ms;
    service.on("PATCH", "/api/job-times/jt-1/stop", slow);
    const auto ask = [&](bool choicePanel) -> QCoro::Task<void> {
        if (choicePanel)
            co_await store->stopAllAndStartPending();
        else
            co_await store->stopSession(s.id);
    };
    for (const bool choiceFirst : {true, false}) {
        SCOPED_TRACE(choiceFirst ? "choice panel, then shortcut" : "card, then choice panel");
        service.clearRequests();
        open({s});
        store->setPendingPick(PendingStart(ClientDTO{"c1"}, JobDTO{"j1"}, JobTaskDTO{"T2"}));
        auto first = ask(choiceFirst);
        test::spin(50ms); // well inside the first stop's 400 ms
        auto second = ask(!choiceFirst);
        test::await(std::move(first));
        test::await(std::move(second));
        EXPECT_EQ(service.requestsTo("PATCH", "/api/job-times/jt-1/stop").size(), 1u);
    }
}

namespace {
// The service's view of a job time it ended at 10:20:40, booked as 20 minutes.
FakeResponse endedOnTheService(const QString& id) {
    return FakeResponse::json(
        200, R"({"data":{"id":")" + id.toStdString() +
                 R"(","start_time":"2026-03-02T10:00:40Z","end_time":"2026-03-02T10:20:40Z",)"
                 R"("rounded_duration":{"hh_mm":"0:20"}}})");
}
} // namespace

// The service carried the stop out, but its answer never came back whole: the
// retry or the next list of running timers shows it ended, and it ends here.
// A stop the service refused before acting stays refused.
TEST_F(StoppedSessionRecords, AStopWhoseAnswerWasLostEndsHereOnceTheServiceShowsItEnded) {
    const std::pair<const char*, FakeResponse> lost[] = {
        {"gateway", FakeResponse::json(502, "<html>Bad Gateway</html>")},
        {"empty 200", FakeResponse::json(200, "")},
        {"truncated 200", FakeResponse::json(200, R"({"data":{"id":"jt-1","end_)")},
    };
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/default.store");
    auto container = platform::ModelContainer::open(path, {StoppedSessionRecord::schema()});
    ASSERT_TRUE(container);
    store->setModelContext(container->mainContext());
    const auto readBack = [&](const std::string& running) {
        service.on("GET", "/api/job-times/active", FakeResponse::json(200, running));
        test::await(store->restoreActiveSessions());
    };
    int n = 0;
    for (const bool byRetry : {true, false}) {
        for (const auto& [name, reply] : lost) {
            SCOPED_TRACE(std::string(name) + (byRetry ? ", then stopped again" : ", then a sync"));
            const QString id = QStringLiteral("jt-%1").arg(++n);
            service.on("GET", "/api/job-times/" + id.toStdString(), endedOnTheService(id));
            const TimerSession s = session(id);
            open({s});
            stop(s, reply);
            EXPECT_EQ(store->sessions(), std::vector{s}); // not known yet
            EXPECT_TRUE(store->loginError().has_value());
            if (byRetry)
                stop(s, kAlreadyStopped);
            else
                readBack(R"({"data":[]})");
            ASSERT_TRUE(test::eventuallyTrue([&] {
                return store->lastStoppedSummary() &&
                       store->lastStoppedSummary()->jobTimeServerId == id;
            }));
            EXPECT_TRUE(store->sessions().empty());
            EXPECT_EQ(store->loginError(), std::nullopt);
            EXPECT_EQ(std::tuple(store->lastStoppedSummary()->elapsedSecs,
                                 store->lastStoppedSummary()->endedAt),
                      std::tuple(1200, QDateTime(kDay, QTime(10, 20, 40), Qt::UTC)));
            const QStringList rows = records(path);
            ASSERT_EQ(rows.size(), n);
            EXPECT_TRUE(rows.filter(u'|' + id + u'|')
                            .value(0)
                            .contains("|Kundin|Job|Design|2026-03-02T10:00:40.000Z|2026-03-02T10:"
                                      "20:40.000Z|1200|"));
        }
    }

    const TimerSession s = session("jt-9");
    open({s});
    stop(s, FakeResponse::json(503, R"({"message":"Wartung"})"));
    readBack(R"({"data":[{"id":"jt-9","start_time":"2026-03-02T10:00:40Z","jobtask_id":""}]})");
    ASSERT_EQ(store->sessions().size(), 1u);
    EXPECT_EQ(store->loginError(), R"(HTTP 503: {"message":"Wartung"})");
    // Stopped elsewhere later: gone without a record, as any such timer.
    stop(store->sessions()[0], kAlreadyStopped);
    EXPECT_TRUE(store->sessions().empty());
    EXPECT_EQ(records(path).size(), n);
    EXPECT_TRUE(service.requestsTo("GET", "/api/job-times/jt-9").empty());
}

// The check-up after a lost stop may itself fail, or meet a second road to the
// same end: the stop is kept for the next read-back, and recorded once.
TEST_F(StoppedSessionRecords, ALostStopsCheckUpThatFailsOrMeetsAnotherStillRecordsItOnce) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/default.store");
    auto container = platform::ModelContainer::open(path, {StoppedSessionRecord::schema()});
    ASSERT_TRUE(container);
    store->setModelContext(container->mainContext());
    const auto readBack = [&] {
        service.on("GET", "/api/job-times/active", FakeResponse::json(200, R"({"data":[]})"));
        test::await(store->restoreActiveSessions());
    };
    const auto summaryOf = [&](const QString& id) {
        return test::eventuallyTrue([&] {
            return store->lastStoppedSummary() &&
                   store->lastStoppedSummary()->jobTimeServerId == id;
        });
    };

    {
        SCOPED_TRACE("the check-up's own request fails");
        const TimerSession s = session("jt-1");
        open({s});
        stop(s, FakeResponse::json(502, "<html>Bad Gateway</html>"));
        service.on("GET", "/api/job-times/jt-1", FakeResponse::json(500, "{}"));
        readBack();
        ASSERT_TRUE(test::eventuallyTrue(
            [&] { return !service.requestsTo("GET", "/api/job-times/jt-1").empty(); }));
        test::spin(100ms);
        EXPECT_FALSE(store->lastStoppedSummary());
        service.on("GET", "/api/job-times/jt-1", endedOnTheService("jt-1"));
        readBack();
        ASSERT_TRUE(summaryOf("jt-1"));
        EXPECT_EQ(records(path).size(), 1);
    }
    {
        SCOPED_TRACE("a sync's check-up meets the retried stop's");
        const TimerSession s = session("jt-2");
        open({s});
        stop(s, FakeResponse::json(502, "<html>Bad Gateway</html>"));
        FakeResponse slow = endedOnTheService("jt-2");
        slow.delay = 300ms;
        service.on("GET", "/api/job-times/jt-2", slow);
        service.on("PATCH", "/api/job-times/jt-2/stop", kAlreadyStopped);
        int summariesShown = 0;
        QObject::connect(store.get(), &AppStore::changed, [&](AppStore::Property p) {
            summariesShown += p == AppStore::Property::LastStoppedSummary;
        });
        auto retry = store->stopSession(s.id);
        ASSERT_TRUE(test::eventuallyTrue(
            [&] { return !service.requestsTo("GET", "/api/job-times/jt-2").empty(); }));
        readBack();
        test::await(std::move(retry));
        ASSERT_TRUE(summaryOf("jt-2"));
        ASSERT_TRUE(test::answersArrived()); // every check-up's
        EXPECT_EQ(summariesShown, 1);
        EXPECT_EQ(records(path).size(), 2);
        EXPECT_TRUE(store->sessions().empty());
    }
}

TEST_F(TimerStop, AClockBehindTheTimersStartStillStopsItWithTheEndAtTheStart) {
    // The service refuses an end before the start, as the real one does.
    const auto refusesEndsBeforeTheStart = [](const test::RecordedRequest& r) {
        const QDateTime start(kDay, QTime(10, 0, 40), Qt::UTC);
        const auto end = parseServerDate(r.json().object().value("ended_at").toString());
        if (!end || *end < start)
            return FakeResponse::json(
                422, R"({"message":"x","errors":{"ended_at":["Das Ende liegt vor dem Beginn."]}})");
        return jobTime(R"(,"start_time":"2026-03-02T10:00:40Z","end_time":")" +
                       end->toString(Qt::ISODate).toStdString() + "\"");
    };
    const struct {
        const char* name;
        bool stopAll; // the stop of every timer before the picked one starts
    } cases[] = {{"stop of all before a start", true}, {"stop", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Set back by an NTP correction: ten minutes before the timer's start.
        clock.setWallClock(QDateTime(kDay, QTime(9, 50, 40), Qt::UTC));
        const TimerSession s = session("jt-1");
        open({s});
        service.on("PATCH", "/api/job-times/jt-1/stop", refusesEndsBeforeTheStart);
        service.on("GET", "/api/job-times/active", FakeResponse::json(200, R"({"data":[]})"));
        if (c.stopAll) {
            service.on("POST", "/api/job-times/start",
                       jobTime(R"(,"start_time":"2026-03-02T09:50:40Z")"));
            store->setPendingPick(
                PendingStart(ClientDTO{.id = "c"}, JobDTO{}, JobTaskDTO{.id = "t"}));
            test::await(store->stopAllAndStartPending());
        } else {
            test::await(store->stopSession(s.id));
            test::spin(20ms);
        }
        const auto stops = service.requestsTo("PATCH", "/api/job-times/jt-1/stop");
        ASSERT_FALSE(stops.empty());
        EXPECT_EQ(parseServerDate(stops.back().json().object().value("ended_at").toString()),
                  s.startedAt);
        if (!c.stopAll) {
            EXPECT_EQ(store->loginError(), std::nullopt);
            EXPECT_TRUE(store->sessions().empty());
            ASSERT_TRUE(store->lastStoppedSummary());
            EXPECT_EQ(store->lastStoppedSummary()->endedAt, s.startedAt);
            EXPECT_EQ(store->lastStoppedSummary()->elapsedSecs, 0);
        }
        store->setLastStoppedSummary(std::nullopt);
        service.clearRequests();
    }
}
