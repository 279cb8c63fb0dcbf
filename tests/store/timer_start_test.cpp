#include "service/json_coding.h"
#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/raw_server.h"
#include "support/temp_user_defaults.h"

#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 7, 10), Qt::UTC);
const std::string kStarted = R"({"data":{"id":"jt-9","start_time":"2026-03-02T10:07:10Z",)"
                             R"("round_direction":"up","round_value":15}})";
const QUuid kStartedId = stableUUID("jt-9");

std::string booked(const std::string& id, const std::string& hhMm) {
    return R"({"id":")" + id + R"(","end_time":"x","rounded_duration":{"hh_mm":")" + hhMm + "\"}}";
}

template <class T> T decoded(const std::string& json) {
    return wire::decodeJSON<T>(QByteArray::fromStdString(json));
}

class TimerStart : public ::testing::Test {
protected:
    TimerStart() {
        defaults->setString(QStringLiteral("orvane_api_base_url"), service.baseURL());
        store = std::make_unique<AppStore>();
        store->setCurrentUser(APIUser{"1", "a@b.de"});
        store->setIsLoggedIn(true);
        service.on("POST", "/api/job-times/start", FakeResponse::json(200, kStarted));
        // The task's job times, answered late: the new one (not counted), 0:10 and 0:20.
        service.on("GET", "/api/job-times", [](const test::RecordedRequest& r) {
            FakeResponse page = FakeResponse::json(200, R"({"data":[]})");
            if (r.query.find("jobtask_id=T1") != std::string::npos) {
                page.body = R"({"data":[)" + booked("jt-9", "5:00") + "," + booked("a", "0:10") +
                            "," + booked("b", "0:20") + "]}";
                page.delay = 150ms;
            }
            return page;
        });
    }
    ~TimerStart() override {
        settle();
        store.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    // Lets spawned work run until the service has heard nothing for a while.
    void settle() {
        for (std::size_t seen = SIZE_MAX; seen != service.requestCount();) {
            seen = service.requestCount();
            test::spin(100ms);
        }
    }
    void settleOn(const test::RawServer& raw) {
        for (std::size_t seen = SIZE_MAX; seen != raw.requests().size();) {
            seen = raw.requests().size();
            test::spin(100ms);
        }
    }
    bool trackedBeforeBecomes(qint64 secs) {
        return test::eventuallyTrue(
            [&] { return store->sessions().at(0).trackedBeforeSecs == secs; });
    }
    void open(const QString& jobTimeId) {
        std::vector<TimerSession> sessions = store->sessions();
        sessions.push_back({stableUUID(jobTimeId), jobTimeId});
        sessions.back().startedAt = kNow;
        store->setSessions(sessions);
    }
    void refuseStarts() {
        store->setCurrentUser(APIUser{.id = "1", .accountRequirements = {{.ready = false}}});
    }
    std::size_t sent(const std::string& method, const std::string& path, const char* query = "") {
        std::size_t n = 0;
        for (const auto& r : service.requestsTo(method, path))
            n += r.query.find(query) != std::string::npos;
        return n;
    }
    std::size_t starts() { return sent("POST", "/api/job-times/start"); }

    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::ClockScope clock{kNow};
    std::unique_ptr<AppStore> store;
    ClientDTO client{"c1"};
    JobDTO job{"j1", "Job"};
    JobTaskDTO task{"T1"};
    RecentTaskItem item{"c1", "j1", "T1", "Kundin"};
};

} // namespace

TEST_F(TimerStart, StartFromAPickBuildsTheSessionWithBudgetAndTimeBookedBefore) {
    const std::string hours = R"(,"scheduled_time":"2,5")";
    const std::string carried = R"(,"job_times":[)" + booked("jt-9", "1:00") + "," +
                                booked("a", "0:30") + "," + booked("b", "0:15") + "]";
    job = decoded<JobDTO>(R"({"id":"j1","title":"Job","project":{"id":1,"project_number":"P"}})");
    // clang-format off
    const struct { std::optional<QString> customer, company; std::string task; QString shown; qint64 budget, before, later; } cases[] = {
        {"Kundin", "Firma", hours + carried, "Kundin", 9000, 2700, 2700},
        {{}, "Firma", hours, "Firma", 9000, 0, 1800}, // loaded after the start
        {{}, {}, carried, "Kunde", 0, 0, 0},
        {"", "Firma", "", "", 0, 0, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        std::tie(client.customerName, client.companyName) = std::tie(c.customer, c.company);
        task = decoded<JobTaskDTO>(R"({"id":"T1","title":"Design")" + c.task + "}");
        store->setLoginError(QStringLiteral("alt"));
        EXPECT_EQ(test::await(store->requestStart(client, job, task)), kStartedId);
        ASSERT_EQ(store->sessions().size(), 1u);
        const TimerSession& s = store->sessions()[0];
        EXPECT_EQ(std::tie(s.clientDisplayName, s.jobTitle, s.taskTitle, s.projectNumber),
                  std::tuple(c.shown, "Job", "Design", "P"));
        EXPECT_EQ(std::tie(s.timeRoundDirection, s.timeRoundValue, s.startedAt, s.clientColorHex),
                  std::tuple("up", 15, kNow, clientColorHex("c1")));
        EXPECT_EQ(std::tie(s.budgetSecs, s.trackedBeforeSecs), std::tie(c.budget, c.before));
        EXPECT_EQ(std::tuple(store->activeSessionId(), store->loginError(), store->tickActive()),
                  std::tuple(kStartedId, std::nullopt, true));
        EXPECT_EQ(service.requestsTo("POST", "/api/job-times/start").back().json().object(),
                  QJsonObject({{"client_id", "c1"}, {"jobtask_id", "T1"}}));
        settle();
        EXPECT_TRUE(trackedBeforeBecomes(c.later));
        EXPECT_EQ(sent("GET", "/api/job-times", "jobtask_id=T1"), c.later != c.before ? 1u : 0u);
        store->setSessions({});
        service.clearRequests();
    }
}

TEST_F(TimerStart, RefusedGateStartsNothingAndLeavesThePickAlone) {
    refuseStarts();
    EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
    open("jt-1");
    EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
    EXPECT_EQ(test::await(store->startFromRecentTask(item)), std::nullopt);
    EXPECT_EQ(store->pendingPick(), std::nullopt);
    EXPECT_FALSE(store->showMultiTimerSheet());
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(TimerStart, StopAllAndStartStopsEveryTimerInOrderThenStartsTheLatestPick) {
    EXPECT_EQ(test::await(store->stopAllAndStartPending()), std::nullopt); // nothing picked
    open("jt-1");
    open("jt-2");
    test::await(store->requestStart(client, job, task));
    EXPECT_TRUE(store->showMultiTimerSheet());
    task.id = QStringLiteral("T2");
    EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
    EXPECT_EQ(store->pendingPick(), PendingStart(client, job, task));
    EXPECT_EQ(service.requestCount(), 0u);

    service.on("PATCH", "/api/job-times/jt-1/stop", FakeResponse::json(500, "{}"));
    service.on("PATCH", "/api/job-times/jt-2/stop", FakeResponse::json(200, kStarted));
    EXPECT_EQ(test::await(store->stopAllAndStartPending()), kStartedId);
    std::vector<std::string> order;
    for (const auto& r : service.requests())
        order.push_back(r.method + " " + r.path);
    order.resize(3); // refreshes may follow
    EXPECT_EQ(order, (std::vector<std::string>{"PATCH /api/job-times/jt-1/stop",
                                               "PATCH /api/job-times/jt-2/stop",
                                               "POST /api/job-times/start"}));
    EXPECT_EQ(service.requestsTo("POST", "/api/job-times/start")[0].json()["jobtask_id"], "T2");
    EXPECT_EQ(store->sessions().size(), 1u);
    EXPECT_EQ(store->activeSessionId(), kStartedId);
    EXPECT_EQ(store->pendingPick(), std::nullopt);
    EXPECT_FALSE(store->showMultiTimerSheet());

    // An account that fell behind meanwhile: the timers stop, nothing starts.
    test::await(store->requestStart(client, job, task));
    refuseStarts();
    service.on("PATCH", "/api/job-times/jt-9/stop", FakeResponse::json(200, kStarted));
    EXPECT_EQ(test::await(store->stopAllAndStartPending()), std::nullopt);
    EXPECT_EQ(sent("PATCH", "/api/job-times/jt-9/stop"), 1u);
    EXPECT_TRUE(store->sessions().empty());
    EXPECT_EQ(store->activeSessionId(), std::nullopt); // no session left to point at
    EXPECT_FALSE(store->tickActive());
    EXPECT_EQ(starts(), 1u);
}

TEST_F(TimerStart, FailedOrUnreadableStartShowsAMessageAndAddsNoSession) {
    const std::tuple<int, std::string, QString> cases[] = {
        {200, R"({"data":{"id":"jt-9"}})",
         "Start-Zeitpunkt vom Server konnte nicht gelesen werden."},
        {500, R"({"message":"kaputt"})", R"(HTTP 500: {"message":"kaputt"})"},
    };
    for (const auto& [status, body, message] : cases) {
        service.on("POST", "/api/job-times/start", FakeResponse::json(status, body));
        EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
        EXPECT_EQ(store->loginError(), message);
        EXPECT_TRUE(store->sessions().empty());
    }
}

TEST_F(TimerStart, QuickStartSendsTheEntryAsItIsAndLoadsTimeBookedBefore) {
    item.taskId = QStringLiteral(" \n");
    EXPECT_EQ(test::await(store->startFromRecentTask(item)), std::nullopt);
    EXPECT_EQ(store->loginError(), "Aufgabe unvollständig (Kunde oder Aufgabe fehlen). Bitte aus "
                                   "„Neue Session“ starten.");
    EXPECT_EQ(starts(), 0u);

    item.taskId = QStringLiteral("T1");
    item.clientId = QStringLiteral(" c1 ");
    item.clientColorHex = 0x123456;
    service.on("POST", "/api/job-times/start",
               FakeResponse::json(200,
                                  R"({"data":{"id":"jt-9","start_time":"2026-03-02T10:07:10Z",)"
                                  R"("job_task":{"id":"T1","scheduled_time":"1"}}})"));
    EXPECT_EQ(test::await(store->startFromRecentTask(item)), kStartedId);
    EXPECT_EQ(service.requestsTo("POST", "/api/job-times/start")[0].json()["client_id"], " c1 ");
    const TimerSession& s = store->sessions().at(0);
    EXPECT_EQ(std::tie(s.clientId, s.clientDisplayName, s.clientColorHex, s.budgetSecs),
              std::tuple(item.clientId, item.clientName, item.clientColorHex, 3600));
    EXPECT_EQ(store->loginError(), std::nullopt);
    settle();
    EXPECT_TRUE(trackedBeforeBecomes(1800));
}

TEST_F(TimerStart, QuickStartWhileATimerRunsLooksUpTaskJobAndClient) {
    service.on("GET", "/api/jobs",
               FakeResponse::json(200, R"({"data":[{"id":"j0"},{"id":"j1"}]})"));
    service.on("GET", "/api/clients", FakeResponse::json(200, R"({"data":[{"id":"c1"}]})"));
    // clang-format off
    const struct { std::string task; QString jobId, clientId; std::optional<QString> message; } cases[] = {
        {R"({"id":"T1"})", "", "c1", "Auftrag konnte nicht geladen werden."},
        {R"({"id":"T1","job_id":"j9"})", "", "c1", "Auftrag konnte nicht gefunden werden."},
        {R"({"id":"T1","job":{"id":"j1"}})", "", "", "Kunde konnte nicht geladen werden."},
        {R"({"id":"T1"})", "j1", "c9", "Kunde konnte nicht gefunden werden."},
        {R"({"id":"T1","job_id":"j1"})", "", "c1", std::nullopt}, // the pick waits
    };
    // clang-format on
    open("jt-1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.task);
        store->setLoginError(std::nullopt);
        service.on("GET", "/api/job-tasks/T1",
                   FakeResponse::json(200, R"({"data":)" + c.task + "}"));
        item.jobId = c.jobId;
        item.clientId = c.clientId;
        EXPECT_EQ(test::await(store->startFromRecentTask(item)), std::nullopt);
        EXPECT_EQ(store->loginError(), c.message);
        EXPECT_EQ(store->pendingPick().has_value(), !c.message);
    }
    ASSERT_TRUE(store->pendingPick());
    EXPECT_EQ(std::tie(store->pendingPick()->job.id, store->pendingPick()->client.id),
              std::tuple("j1", "c1"));
    EXPECT_EQ(sent("GET", "/api/job-tasks/T1", "include_job_times=0"), 5u);
    EXPECT_EQ(service.requestsTo("GET", "/api/jobs").at(0).query,
              "per_page=100&client_id=c1&archived=0");
    EXPECT_EQ(starts(), 0u);
}

TEST_F(TimerStart, SecondStartWhileTheFirstAwaitsTheServiceSendsNothing) {
    FakeResponse late = FakeResponse::json(200, kStarted);
    late.delay = 300ms;
    service.on("POST", "/api/job-times/start", late);
    const std::function<QCoro::Task<std::optional<QUuid>>()> seconds[] = {
        [&] { return store->requestStart(client, job, task); },
        [&] { return store->startFromRecentTask(item); },
        [&] {
            store->setPendingPick(PendingStart(client, job, task));
            return store->stopAllAndStartPending();
        },
    };
    for (const auto& second : seconds) {
        store->setSessions({});
        service.clearRequests();
        auto first = store->requestStart(client, job, task);
        auto other = second();
        EXPECT_EQ(test::await(std::move(other)), std::nullopt);
        EXPECT_EQ(test::await(std::move(first)), kStartedId);
        EXPECT_EQ(starts(), 1u);
        settle();
    }
    // Once the first has its answer, the next request is heard again.
    EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
    EXPECT_TRUE(store->showMultiTimerSheet());
}

// The service may run the job time although its answer never arrived: the
// running timer shows at once, not only at the next periodic sync.
TEST_F(TimerStart, AStartWhoseAnswerWasLostShowsTheTimerTheServiceRuns) {
    const struct {
        const char* name;
        std::function<test::RawReply()> answer;
        QString message;
    } cases[] = {
        {"connection dropped", [] { return test::RawReply::dropped(); },
         "Die Netzwerkverbindung wurde unterbrochen."},
        {"gateway failed", [] { return test::RawReply{test::rawHttpReply(502, "")}; },
         "HTTP 502: "},
        {"no start time",
         [] { return test::RawReply{test::rawHttpReply(200, R"({"data":{"id":"jt-9"}})")}; },
         "Start-Zeitpunkt vom Server konnte nicht gelesen werden."},
    };
    const auto readBacks = [](const test::RawServer& raw) {
        int n = 0;
        for (const auto& r : raw.requests())
            n += r.target.rfind("/api/job-times/active", 0) == 0;
        return n;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            // It did not run there after all: the read-back shows nothing,
            // and the message stays for the user to read.
            store->setSessions({});
            store->setLoginError(std::nullopt);
            test::RawServer raw([&](const test::RawRequest& r) {
                if (r.method == "POST")
                    return c.answer();
                return test::RawReply{test::rawHttpReply(200, R"({"data":[]})")};
            });
            defaults->setString(QStringLiteral("orvane_api_base_url"), raw.baseURL());
            EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
            EXPECT_TRUE(test::eventuallyTrue([&] { return readBacks(raw) >= 1; }));
            settleOn(raw);
            EXPECT_EQ(store->loginError(), c.message);
            EXPECT_TRUE(store->sessions().empty());
        }
        store->setSessions({});
        test::RawServer raw([&](const test::RawRequest& r) {
            if (r.method == "POST")
                return c.answer();
            if (r.target.rfind("/api/job-times/active", 0) == 0)
                return test::RawReply{
                    test::rawHttpReply(200, R"({"data":[{"id":"jt-9","jobtask_id":"T1",)"
                                            R"("start_time":"2026-03-02T10:07:10Z"}]})")};
            return test::RawReply{test::rawHttpReply(404, "")};
        });
        defaults->setString(QStringLiteral("orvane_api_base_url"), raw.baseURL());
        EXPECT_EQ(test::await(store->requestStart(client, job, task)), std::nullopt);
        EXPECT_EQ(store->loginError(), c.message);
        EXPECT_TRUE(test::eventuallyTrue([&] { return store->sessions().size() == 1; }));
        ASSERT_EQ(store->sessions().size(), 1u);
        EXPECT_EQ(store->sessions()[0].jobTimeServerId, "jt-9");
        EXPECT_EQ(store->activeSessionId(), kStartedId);
        int starts = 0;
        for (const auto& r : raw.requests())
            starts += r.method == "POST";
        EXPECT_EQ(starts, 1);
        settleOn(raw);
    }
}
