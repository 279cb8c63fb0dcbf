#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QUrlQuery>

#include <set>

#include <gtest/gtest.h>

using namespace orvane;
using test::FakeResponse;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 7, 10), Qt::UTC);

std::string running(const std::string& id, const std::string& members = "") {
    return R"({"id":")" + id + R"(","start_time":"2026-03-02T09:00:00Z")" + members + "}";
}

std::string booked(const std::string& id, const std::string& hhMm) {
    return R"({"id":")" + id + R"(","end_time":"x","rounded_duration":{"hh_mm":")" + hhMm + "\"}}";
}

TimerSession local(const QString& id) {
    TimerSession s{stableUUID(id), id};
    s.startedAt = kNow.addSecs(-600);
    return s;
}

std::string describe(const TimerSession& s) {
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9|")
               .arg(s.clientId, s.clientDisplayName, s.clientInitials, s.jobId, s.jobTitle,
                    s.jobNumber.value_or("-"), s.taskTitle, s.projectNumber.value_or("-"),
                    s.timeRoundDirection.value_or("-"))
               .toStdString() +
           std::to_string(s.timeRoundValue.value_or(0)) + "|" + std::to_string(s.elapsedSecs);
}

class TimerRestore : public ::testing::Test {
protected:
    TimerRestore() {
        defaults->setString(QStringLiteral("orvane_api_base_url"), service.baseURL());
        store = std::make_unique<AppStore>();
    }
    ~TimerRestore() override {
        store.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    bool restore(const std::vector<std::string>& entries) {
        std::string body;
        for (const std::string& e : entries)
            body += (body.empty() ? "" : ",") + e;
        service.on("GET", "/api/job-times/active",
                   FakeResponse::json(200, R"({"data":[)" + body + "]}"));
        return test::await(store->restoreActiveSessions());
    }
    void open(std::vector<TimerSession> sessions, std::optional<QUuid> active) {
        store->setSessions(std::move(sessions));
        store->setActiveSessionId(active);
        store->updateTickTimer();
    }

    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::ClockScope clock{kNow};
    std::unique_ptr<AppStore> store;
};

} // namespace

TEST_F(TimerRestore, SessionsFollowTheRunningJobTimesInReplyOrderWithNameFallbacks) {
    EXPECT_TRUE(restore({
        running("jt-2",
                R"(,"client_id":7,"round_direction":"up","round_value":15,)"
                R"("client":{"id":7,"customer_name":"Kundin","company_name":"Firma"},)"
                R"("job":{"id":70,"title":"Job","job_number":"J-70","project_number":"P-1"},)"
                R"("job_task":{"id":"T2","title":"Design"})"),
        R"({"id":"jt-bad","start_time":"gestern"})",
        running("jt-3", R"(,"client":{"id":9,"company_name":"Firma"})"),
        running("jt-done", R"(,"end_time":"2026-03-02T09:30:00Z")"),
        running("jt-1",
                R"(,"end_time":" ","job_task":{"id":"T1","job_id":71,"job_number":"J-71"})"),
    }));
    const auto& s = store->sessions();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(describe(s[0]), "7|Kundin|KU|70|Job|J-70|Design|P-1|up|15|4030");
    EXPECT_EQ(describe(s[1]), "9|Firma|FI||Auftrag|-|Aufgabe|-|-|0|4030");
    EXPECT_EQ(describe(s[2]), "|Kunde|KU|71|Auftrag|J-71|Aufgabe|-|-|0|4030");
    EXPECT_EQ(s[0].clientColorHex, clientColorHex("7"));
    EXPECT_EQ(s[2].clientColorHex, clientColorHex("Kunde"));
    EXPECT_EQ(s[2].id, stableUUID("jt-1"));
    EXPECT_EQ(store->activeSessionId(), stableUUID("jt-2"));
    EXPECT_TRUE(store->tickActive());
}

TEST_F(TimerRestore, BudgetAndTimeBookedBeforeComeFromTheTaskOrThePagedCount) {
    const std::string carried = R"(,"job_times":[)" + booked("jt-1", "9:00") + "," +
                                running("open") + "," + booked("old", "1:30") + "]";
    // The same task again, one booking longer by the hour: a body of the
    // same size, read anew.
    const std::string carriedLater = R"(,"job_times":[)" + booked("jt-1", "9:00") + "," +
                                     running("open") + "," + booked("old", "2:30") + "]";
    const std::string hour = R"(,"scheduled_time":"1")";
    const struct {
        int taskStatus;
        std::string task, snippet; // members of the task and of the entry's task snippet
        std::vector<int> pages;    // entries per page, the entry itself among them
        std::string meta;
        qint64 budget, trackedBefore;
        std::size_t pageRequests;
    } cases[] = {
        {200, R"(,"scheduled_time":"2,5")" + carried, "", {}, "", 9000, 5400, 0},
        {200, R"(,"scheduled_time":"2,5")" + carriedLater, "", {}, "", 9000, 9000, 0},
        {200, carried, "", {}, "", 0, 5400, 0},
        {200, hour, "", {100, 3}, "", 3600, 6060, 2},
        {200, hour, "", {99, 5}, "", 3600, 5880, 1},
        {200, hour, "", {100, 5}, R"(,"meta":{"last_page":1})", 3600, 5940, 1},
        {500, "", R"(,"scheduled_time":"0,5")", {99}, "", 1800, 5880, 1},
        {200, hour, "", {0}, "", 3600, 0, 1}, // the count fails
        {200, "", "", {}, "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.task + c.snippet);
        service.clearRequests();
        service.on("GET", "/api/job-tasks/T1",
                   FakeResponse::json(c.taskStatus, R"({"data":{"id":"T1")" + c.task + "}}"));
        service.on("GET", "/api/job-times", [c](const test::RecordedRequest& r) {
            const auto page = QUrlQuery(QString::fromStdString(r.query))
                                  .queryItemValue(QStringLiteral("page"))
                                  .toULongLong();
            if (c.pages[0] == 0)
                return FakeResponse::json(500, "{}");
            std::string body = booked("jt-1", "5:00");
            for (int i = 1; page <= c.pages.size() && i < c.pages[page - 1]; ++i) {
                std::string id = "p";
                id.append(std::to_string(page)).append("-").append(std::to_string(i));
                body.append(",").append(booked(id, "0:01"));
            }
            return FakeResponse::json(200, R"({"data":[)" + body + "]" + c.meta + "}");
        });
        restore({running("jt-1", R"(,"jobtask_id":"T1","job_task":{"id":"T1")" + c.snippet + "}")});
        ASSERT_EQ(store->sessions().size(), 1u);
        EXPECT_EQ(store->sessions()[0].budgetSecs, c.budget);
        EXPECT_EQ(store->sessions()[0].trackedBeforeSecs, c.trackedBefore);
        const auto pages = service.requestsTo("GET", "/api/job-times");
        EXPECT_EQ(pages.size(), c.pageRequests);
        for (std::size_t i = 0; i < pages.size(); ++i)
            EXPECT_EQ(pages[i].query,
                      "per_page=100&page=" + std::to_string(i + 1) + "&jobtask_id=T1");
    }
}

TEST_F(TimerRestore, TimeBookedBeforeStopsAtTheEndOfTheRange) {
    // Each booking fits on its own; two of them do not.
    const std::string huge = booked("a", "1388888888888888:00");
    std::string fullPage = huge;
    for (int i = 1; i < 100; ++i)
        fullPage.append(",").append(booked("b", "0:01"));
    const std::string hour = R"(,"scheduled_time":"1")";
    const std::string cases[] = {
        hour + R"(,"job_times":[)" + huge + "," + huge + "]", // carried by the task
        hour,                                                 // counted over two pages
    };
    for (const std::string& task : cases) {
        SCOPED_TRACE(task);
        service.on("GET", "/api/job-tasks/T1",
                   FakeResponse::json(200, R"({"data":{"id":"T1")" + task + "}}"));
        service.on(
            "GET", "/api/job-times",
            FakeResponse::json(200, R"({"data":[)" + fullPage + R"(],"meta":{"last_page":2}})"));
        restore({running("jt-1", R"(,"jobtask_id":"T1")")});
        ASSERT_EQ(store->sessions().size(), 1u);
        EXPECT_EQ(store->sessions()[0].trackedBeforeSecs, std::numeric_limits<qint64>::max());
    }
}

TEST_F(TimerRestore, ATaskTooLargeToReadIsNotAskedForAgainWhileItsTimerRuns) {
    FakeResponse tooLarge = FakeResponse::json(200, "");
    tooLarge.headers = {{"Content-Length", std::to_string(kTasksReplyBytes + 1)}};
    // Sent on until stopped: Qt repeats a read whose connection closed at once.
    tooLarge.streamed = test::StreamedBody{"", std::string(64 * 1024, ' '), 1024, ""};
    service.on("GET", "/api/job-tasks/T1", tooLarge);
    service.on("GET", "/api/job-times",
               FakeResponse::json(200, R"({"data":[)" + booked("o", "1:30") + "]}"));
    const std::string task = R"(,"jobtask_id":"T1","job_task":{"id":"T1","scheduled_time":"2"})";
    for (const std::string id : {"jt-1", "jt-1", "jt-1", "jt-2"}) { // the next timer asks again
        restore({running(id, task)});
        EXPECT_EQ(store->sessions().at(0).trackedBeforeSecs, 5400);
    }
    EXPECT_EQ(service.requestsTo("GET", "/api/job-tasks/T1").size(), 2u);
    EXPECT_EQ(service.requestsTo("GET", "/api/job-times").size(), 2u);
}

TEST_F(TimerRestore, ReportsAChangeOnlyWhenTheSetOfRunningJobTimesDiffers) {
    const struct {
        std::vector<QString> before;
        std::vector<std::string> after;
        bool changed;
    } cases[] = {
        {{}, {}, false},         {{"a", "b"}, {"b", "a"}, false},
        {{" a "}, {"a"}, false}, {{"a"}, {"a", "b"}, true},
        {{"a"}, {}, true},       {{""}, {}, false}, // a session without a service id does not count
    };
    for (const auto& c : cases) {
        std::vector<TimerSession> before;
        for (const QString& id : c.before)
            before.push_back(local(id));
        open(before, std::nullopt);
        std::vector<std::string> after;
        for (const std::string& id : c.after)
            after.push_back(running(id));
        EXPECT_EQ(restore(after), c.changed) << c.before.size() << " before, " << c.after.size();
    }
}

TEST_F(TimerRestore, KeepsALocalBreakHandsTheActiveSessionOverAndSurvivesAFailedRead) {
    const std::vector<std::string> both{running("jt-1"), running("jt-2")};
    restore(both);
    const std::vector<TimerSession> fresh = store->sessions();
    std::vector<TimerSession> before = fresh;
    std::tie(before[0].running, before[0].onBreak) = std::tuple(false, true);
    before[0].onBreakSince = kNow.addSecs(-120);
    std::tie(before[0].elapsedSecs, before[0].pauseCount, before[0].pauseSecs) =
        std::tuple(500, 2, 90);
    std::tie(before[1].elapsedSecs, before[1].pauseCount, before[1].pauseSecs) =
        std::tuple(7, 3, 40);
    open(before, before[1].id);
    store->setShowMultiTimerSheet(true);

    // Only a break in progress stays; a running session is taken as the service has it.
    EXPECT_FALSE(restore(both));
    EXPECT_EQ(store->sessions(), (std::vector{before[0], fresh[1]}));
    EXPECT_EQ(store->activeSessionId(), before[1].id);

    EXPECT_TRUE(restore({running("jt-1")})); // the active one was stopped elsewhere
    EXPECT_EQ(store->activeSessionId(), before[0].id);
    EXPECT_TRUE(store->tickActive());

    // A failed read changes nothing.
    const std::vector<TimerSession> one = store->sessions();
    service.on("GET", "/api/job-times/active", FakeResponse::json(500, "{}"));
    EXPECT_FALSE(test::await(store->restoreActiveSessions()));
    EXPECT_EQ(store->sessions(), one);
    EXPECT_EQ(store->activeSessionId(), before[0].id);
    EXPECT_EQ(store->loginError(), std::nullopt);

    EXPECT_TRUE(restore({}));
    EXPECT_TRUE(store->sessions().empty());
    EXPECT_EQ(store->activeSessionId(), std::nullopt);
    EXPECT_FALSE(store->showMultiTimerSheet());
    EXPECT_FALSE(store->tickActive());
}

TEST_F(TimerRestore, AListThatRepeatsOrSwellsGivesOneSessionPerJobTimeAndAPageAtMost) {
    std::vector<std::string> entries{running("jt-0", R"(,"job_task":{"id":"T0"})")};
    for (int i = 0; i < 300; ++i)
        entries.push_back(running("jt-" + std::to_string(i),
                                  R"(,"job_task":{"id":"T)" + std::to_string(i) + "\"}"));
    service.on("GET", "/api/job-tasks/T0", FakeResponse::json(200, R"({"data":{"id":"T0"}})"));
    EXPECT_TRUE(restore(entries));
    const auto& s = store->sessions();
    ASSERT_EQ(s.size(), 100u);
    std::set<QUuid> ids;
    for (const TimerSession& session : s)
        ids.insert(session.id);
    EXPECT_EQ(ids.size(), 100u);
    EXPECT_EQ(s.front().jobTimeServerId, "jt-0");
    EXPECT_EQ(s.back().jobTimeServerId, "jt-99");
    EXPECT_EQ(service.requestsTo("GET", "/api/job-tasks/T0").size(), 1u);
    EXPECT_EQ(service.requestCount(), 101u); // the list and one task each
}
