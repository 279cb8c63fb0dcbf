#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDateTime kNoon(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC);

// A finished job time of `task` (a text or a number, as the service sends it).
QJsonObject finished(const QJsonValue& task, const QString& end) {
    return {{"id", "j"}, {"jobtask_id", task}, {"client_id", "c1"}, {"end_time", end}};
}

std::string page(const QJsonArray& data, int lastPage = 0) {
    QJsonObject o{{"data", data}};
    if (lastPage > 0)
        o.insert("meta", QJsonObject{{"last_page", lastPage}});
    return QJsonDocument(o).toJson().toStdString();
}

std::string jobTask(const QString& id, qint64 today, qint64 total) {
    return QStringLiteral(R"({"data":{"id":"%1","rounded_today_seconds":%2,)"
                          R"("rounded_total_seconds":%3}})")
        .arg(id)
        .arg(today)
        .arg(total)
        .toStdString();
}

TimerSession session(const QString& task) {
    return TimerSession{.id = QUuid::createUuid(), .taskId = task, .startedAt = kNoon};
}

struct World {
    test::ClockScope clock{kNoon};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    std::optional<AppStore> store;

    World() {
        defaults->setString("orvane_api_base_url", service.baseURL());
        store.emplace();
        store->api().setToken(QStringLiteral("t"));
        store->setCurrentUser(APIUser{.id = "42", .email = "ada@example.com"});
        store->setIsLoggedIn(true);
    }
    // Idle keep-alive connections would hold the service's shutdown back.
    ~World() { OrvaneAPIClient::session().manager().clearConnectionCache(); }

    void history(const QJsonArray& entries) {
        service.on("GET", "/api/job-times", FakeResponse::json(200, page(entries)));
    }
    void refresh(const std::vector<QString>& sessionTasks = {}) {
        std::vector<TimerSession> open;
        for (const QString& task : sessionTasks)
            open.push_back(session(task));
        store->setSessions(open);
        test::await(store->refreshRecentTasksThrottled());
    }
    std::vector<QString> shownTasks() const {
        std::vector<QString> ids;
        for (const RecentTaskItem& item : store->recentTasks())
            ids.push_back(item.taskId);
        return ids;
    }
};

TEST(RecentTasks, OpenSessionsComeFirstThenTheMostRecentlyFinishedOncePerTask) {
    std::vector<QString> twelve;
    for (int i = 1; i <= 12; ++i)
        twelve.push_back(QStringLiteral("s%1").arg(i));
    const QJsonObject running{{"id", "r"}, {"jobtask_id", "R"}};
    const struct {
        const char* name;
        std::vector<QString> sessions, expected;
        QJsonArray history;
    } cases[] = {
        {"latest end first, unreadable end last, running left out",
         {},
         {"A", "B", "C"},
         {finished("C", "gestern"), finished("B", "2026-03-01T16:00:00Z"),
          finished("A", "2026-03-02T08:00:00Z"), running}},
        {"one entry per task",
         {},
         {"A", "B"},
         {finished("A", "2026-03-01T08:00:00Z"), finished("B", "2026-03-01T12:00:00Z"),
          finished("A", "2026-03-02T09:00:00Z"), finished("A", "2026-03-01T07:00:00Z")}},
        {"open sessions first, in their order",
         {"B", "X", "B"},
         {"B", "X", "A"},
         {finished("A", "2026-03-02T08:00:00Z"), finished("B", "2026-03-02T07:00:00Z")}},
        {"twelve open sessions",
         twelve,
         std::vector<QString>(twelve.begin(), twelve.begin() + 10),
         {finished("A", "2026-03-02T08:00:00Z")}},
        {"task sent as a number", {"7"}, {"7"}, {finished(7, "2026-03-02T08:00:00Z")}},
        {"blank task reference", {}, {}, {finished(" ", "2026-03-02T08:00:00Z")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.history(c.history);
        w.refresh(c.sessions);
        EXPECT_EQ(w.shownTasks(), c.expected);
        EXPECT_TRUE(w.service.requestsTo("GET", "/api/job-tasks/").empty());
    }
}

TEST(RecentTasks, EntriesCarryTheLatestJobTimeOrTheSessionAndTheTasksTotals) {
    World w;
    w.service.on("GET", "/api/job-times", FakeResponse::json(200, R"({"data":[
      {"id":"j3","client":{"id":12,"customer_name":"Nordlicht Design"},
       "job":{"id":345,"title":"Relaunch","job_number":"J-1","project_number":"P-7"},
       "job_task":{"id":6789,"title":"Entwürfe"},"end_time":"2026-03-02T08:00:00Z",
       "round_direction":"up","round_value":15},
      {"id":"j1","job_task":{"id":6789},"end_time":"2026-03-01T08:00:00Z","round_value":5}]})"));
    w.service.on("GET", "/api/job-tasks/6789", FakeResponse::json(200, jobTask("6789", 18, 72)));
    w.service.on("GET", "/api/job-tasks/X", FakeResponse::json(200, jobTask("X", 60, 120)));
    const TimerSession open{.clientId = "c9",
                            .clientDisplayName = "Bäckerei",
                            .clientInitials = "BÄ",
                            .clientColorHex = 0x123456,
                            .jobId = "j9",
                            .jobTitle = "Shop",
                            .taskId = "X",
                            .taskTitle = "Produktseiten",
                            .timeRoundValue = 10};
    w.store->setSessions({open});
    test::await(w.store->refreshRecentTasksThrottled());

    // Client, job, task, names, numbers, badge, today, total, rounding.
    const std::vector<RecentTaskItem> expected{
        {"c9",
         "j9",
         "X",
         "Bäckerei",
         "Shop",
         {},
         {},
         "Produktseiten",
         "BÄ",
         0x123456,
         60,
         120,
         {},
         10},
        {"12", "345", "6789", "Nordlicht Design", "Relaunch", "J-1", "P-7", "Entwürfe",
         clientInitials("Nordlicht Design"), clientColorHex("12"), 18, 72, "up", 15}};
    EXPECT_EQ(w.store->recentTasks(), expected);
    EXPECT_EQ(w.service.requestsTo("GET", "/api/job-tasks/6789").at(0).query,
              "include_job_times=0");
}

TEST(RecentTasks, TotalsAreRequestedOnlyForTasksTheListCanShowFiveAtATime) {
    World w;
    QJsonArray history;
    std::atomic<int> inFlight = 0, mostInFlight = 0, requests = 0;
    for (int i = 0; i < 30; ++i) {
        const int k = (i * 7) % 30 + 1; // each task once, out of order
        const QString id = QStringLiteral("t%1").arg(k);
        history.append(
            finished(id, QStringLiteral("2026-03-02T08:%1:00Z").arg(k, 2, 10, QChar(u'0'))));
        w.service.on("GET", "/api/job-tasks/" + id.toStdString(),
                     [&, id, k](const test::RecordedRequest&) {
                         ++requests;
                         const int now = ++inFlight;
                         for (int seen = mostInFlight; now > seen;)
                             mostInFlight.compare_exchange_weak(seen, now);
                         std::this_thread::sleep_for(60ms);
                         --inFlight;
                         return FakeResponse::json(200, jobTask(id, k, 100 * k));
                     });
    }
    w.history(history);
    w.refresh({"t5"}); // an old task, open again

    std::vector<QString> expected{"t5"};
    for (int k = 30; k > 21; --k)
        expected.push_back(QStringLiteral("t%1").arg(k));
    EXPECT_EQ(w.shownTasks(), expected);
    for (const RecentTaskItem& item : w.store->recentTasks()) {
        const int k = item.taskId.mid(1).toInt();
        EXPECT_EQ(item.todayTrackedSecs, k) << item.taskId.toStdString();
        EXPECT_EQ(item.totalTrackedSecs, 100 * k) << item.taskId.toStdString();
    }
    EXPECT_LE(requests.load(), 11);
    EXPECT_LE(mostInFlight.load(), 5);
    EXPECT_GE(mostInFlight.load(), 2) << "the requests of a group overlap";
}

TEST(RecentTasks, HistoryIsReadUpToEightyPagesAndAFailureKeepsTheList) {
    const struct {
        const char* name;
        int lastPage; // 0: the reply has no meta
        int failingPage, pagesRead;
        QString shown;
    } cases[] = {
        {"no meta", 0, 0, 1, "A"},
        {"two hundred pages announced", 200, 0, 80, "A"},
        {"third page fails", 5, 3, 3, "kept"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.service.on("GET", "/api/job-times", [&c](const test::RecordedRequest& r) {
            const QUrlQuery q(QString::fromStdString(r.query));
            if (q.queryItemValue("page").toInt() == c.failingPage)
                return FakeResponse::json(500, "{}");
            return FakeResponse::json(200,
                                      page({finished("A", "2026-03-02T08:00:00Z")}, c.lastPage));
        });
        w.store->setRecentTasks({RecentTaskItem{.taskId = "kept"}});
        w.refresh();

        EXPECT_EQ(w.shownTasks(), std::vector<QString>{c.shown});
        EXPECT_FALSE(w.store->isRefreshingRecentTasks());
        const auto requests = w.service.requestsTo("GET", "/api/job-times");
        ASSERT_EQ(requests.size(), static_cast<size_t>(c.pagesRead));
        EXPECT_EQ(requests.back().query, "per_page=100&page=" + std::to_string(c.pagesRead) +
                                             "&from=2024-08-31&to=2026-03-02");
        EXPECT_EQ(w.defaults->object(AppStore::dashboardCacheKey("42")).has_value(),
                  c.failingPage == 0)
            << "a failed refresh saves nothing";
    }
}

} // namespace

// A history read again unchanged gives the same list; a changed one is read anew.
TEST(RecentTasks, TheListFollowsTheHistoryFromOneReadToTheNext) {
    World w;
    const QJsonObject a = finished("A", "2026-03-02T08:00:00Z");
    const QJsonObject b = finished("B", "2026-03-02T09:00:00Z");
    const QJsonObject c = finished("C", "2026-03-02T09:00:00Z"); // a page of b's size
    const std::pair<QJsonArray, std::vector<QString>> reads[] = {
        {{a}, {"A"}}, {{a}, {"A"}}, {{b, a}, {"B", "A"}}, {{c, a}, {"C", "A"}}};
    for (const auto& [history, shown] : reads) {
        w.history(history);
        w.clock.advance(3000);
        w.refresh();
        EXPECT_EQ(w.shownTasks(), shown);
    }
}
