#include "store/app_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include <sys/stat.h>

using namespace orvane;
using test::FakeResponse;

namespace orvane {
static void PrintTo(const AppStore::DayFigures& f, std::ostream* out) {
    *out << "{total " << f.totalSecs << ", billable " << f.billableWorkedSecs << " s "
         << f.billableEuroCents << " ct, sessions " << f.sessionsCount << ", projects "
         << f.projectsCount << "}";
}
} // namespace orvane

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
// Booked hours whose seconds fit once but not twice.
constexpr const char* kHugeBooking = "1388888888888888:00";

// Monday 2 March 2026, noon in Berlin; the day began at 23:00 UTC.
const QDateTime kNoon(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC);
const std::string kSummary = R"({"timezone":"Europe/Berlin",
  "today":{"from":"2026-03-02","to":"2026-03-02","amount":"142.50"},
  "week":{"from":"2026-02-23","to":"2026-03-01","amount":"855"},
  "month":{"from":"2026-03-01","to":"2026-03-31","amount":"142.5"}})";

using Members = std::initializer_list<std::pair<QString, QJsonValue>>;

QJsonObject jobTime(const char* start, const char* end, const char* booked, Members more = {}) {
    QJsonObject o{{"id", "j"},
                  {"start_time", start},
                  {"end_time", end},
                  {"rounded_duration", QJsonObject{{"hh_mm", booked}}}};
    for (const auto& [key, value] : more)
        o.insert(key, value);
    return o;
}
// One hour this morning, booked as such.
QJsonObject hour(Members more = {}) {
    return jobTime("2026-03-02T08:00:00Z", "2026-03-02T09:00:00Z", "1:00", more);
}
QJsonObject rate(const char* key, const char* value) {
    return QJsonObject{{"id", 1}, {key, value}};
}

std::string page(const QJsonArray& data, int lastPage = 0) {
    QJsonObject o{{"data", data}};
    if (lastPage > 0)
        o.insert("meta", QJsonObject{{"last_page", lastPage}});
    return QJsonDocument(o).toJson().toStdString();
}

struct World {
    test::ClockScope clock{kNoon};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    std::optional<AppStore> store;
    APIUser user{.id = "42", .email = "ada@example.com"};

    World() {
        service.on("GET", "/api/job-times/invoiceable-summary", FakeResponse::json(200, kSummary));
        defaults->setString("orvane_api_base_url", service.baseURL());
        store.emplace();
        store->api().setToken(QStringLiteral("t"));
        store->setCurrentUser(user);
        store->setIsLoggedIn(true);
    }
    // Idle keep-alive connections would hold the service's shutdown back.
    ~World() { OrvaneAPIClient::session().manager().clearConnectionCache(); }

    AppStore::DayFigures figures() const {
        return {store->todayTotalSecs(), store->todayBillableWorkedSecs(),
                store->todayBillableEuroCents(), store->todaySessionsCount(),
                store->todayProjectsCount()};
    }
};

TEST(Dashboard, TodaysFiguresCountTheShareOfEachEntryInsideTheBerlinDay) {
    const struct {
        const char* name;
        std::optional<QString> userRate;
        AppStore::DayFigures expected;
        QJsonArray entries;
    } cases[] = {
        {"23:00 to 01:00 booked 2:00 at the task's 80",
         "75",
         {3600, 3600, 8000, 1, 0},
         {jobTime("2026-03-01T22:00:00Z", "2026-03-02T00:00:00Z", "2:00",
                  {{"job_task", rate("rate", "80")}, {"client", rate("hourly_rate", "90")}})}},
        {"booked less than the span",
         {},
         {5400, 5400, 0, 1, 0},
         {jobTime("2026-03-02T08:00:00Z", "2026-03-02T10:00:00Z", "1:30")}},
        {"yesterday, running, blank end, end at start",
         "80",
         {0, 0, 0, 0, 0},
         {jobTime("2026-03-01T10:00:00Z", "2026-03-01T12:00:00Z", "2:00"),
          QJsonObject{{"id", "r"}, {"start_time", "2026-03-02T10:00:00Z"}},
          jobTime("2026-03-02T08:00:00Z", " ", "1:00"),
          jobTime("2026-03-02T08:00:00Z", "2026-03-02T08:00:00Z", "1:00")}},
        {"billable unless marked not billable or already billed",
         "80",
         {14400, 7200, 16000, 4, 0},
         {hour({{"billable", true}, {"billed", true}}), hour({{"billable", false}}),
          hour({{"billed", false}}), hour()}},
        {"task rate 0, client rate no number, user rate 75,5",
         "75,5",
         {3600, 3600, 7550, 1, 0},
         {hour({{"job_task", rate("rate", "0")}, {"client", rate("hourly_rate", "n/a")}})}},
        {"client rate before the user's",
         "75",
         {3600, 3600, 9000, 1, 0},
         {hour({{"client", rate("hourly_rate", "90")}})}},
        {"half a cent rounds away from zero",
         {},
         {1800, 1800, 13, 1, 0},
         {jobTime("2026-03-02T08:00:00Z", "2026-03-02T08:30:00Z", "0:30",
                  {{"job_task", rate("rate", "0.25")}})}},
        {"bookings and amounts beyond the range stop at its end",
         "80",
         {kMax, kMax, kMax, 2, 0},
         {jobTime("2026-03-02T08:00:00Z", "2026-03-02T09:00:00Z", kHugeBooking),
          jobTime("2026-03-02T09:00:00Z", "2026-03-02T10:00:00Z", kHugeBooking)}},
        {"an amount beyond the range stops at its end",
         {},
         {3600, 3600, kMax, 1, 0},
         {hour({{"job_task", rate("rate", "99999999999999999999")}})}},
        {"projects are distinct jobs",
         {},
         {10800, 10800, 0, 3, 1},
         {hour({{"job", QJsonObject{{"id", 5}}}}), hour({{"job", QJsonObject{{"id", "5"}}}}),
          hour()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.user.defaultHourlyRate = c.userRate;
        w.store->setCurrentUser(w.user);
        w.service.on("GET", "/api/job-times", FakeResponse::json(200, page(c.entries)));
        test::await(w.store->refreshDashboardAggregates());
        EXPECT_EQ(w.figures(), c.expected);
    }
}

TEST(Dashboard, PagingStopsAtTheLastPageAnEmptyPageOrAFailure) {
    const struct {
        const char* name;
        int lastPage; // 0: the reply has no meta
        int emptyPage, failingPage;
        std::vector<int> pages;
        AppStore::DayFigures expected;
        bool todaysShown = false; // today's figures are shown, here from today's cache
    } cases[] = {
        {"no meta", 0, 0, 0, {1}, {3600, 3600, 0, 1, 0}},
        {"three pages", 3, 0, 0, {1, 2, 3}, {10800, 10800, 0, 3, 0}},
        {"empty second page", 3, 2, 0, {1, 2}, {3600, 3600, 0, 1, 0}},
        {"second page fails: the summary's amount", 3, 0, 2, {1, 2}, {0, 0, 14250, 0, 0}},
        {"second page fails: today's figures stay", 3, 0, 2, {1, 2}, {0, 0, 0, 9, 0}, true},
        {"a million pages announced: eighty read", 1'000'000, 0, 0, {}, {288000, 288000, 0, 80, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.service.on("GET", "/api/job-times", [&c](const test::RecordedRequest& r) {
            const int n = QUrlQuery(QString::fromStdString(r.query)).queryItemValue("page").toInt();
            if (n == c.failingPage)
                return FakeResponse::json(500, "{}");
            return FakeResponse::json(
                200, page(n == c.emptyPage ? QJsonArray{} : QJsonArray{hour()}, c.lastPage));
        });
        w.store->setTodaySessionsCount(9);
        if (c.todaysShown) {
            w.store->saveDashboardAggregatesCache();
            w.store->loadDashboardAggregatesCache();
        }
        test::await(w.store->refreshDashboardAggregates());

        EXPECT_EQ(w.figures(), c.expected);
        EXPECT_TRUE(w.defaults->object("orvane_dashboard_aggregates_v3_42")) << "saved either way";
        std::vector<int> pages;
        for (const auto& r : w.service.requestsTo("GET", "/api/job-times")) {
            const QUrlQuery q(QString::fromStdString(r.query));
            pages.push_back(q.queryItemValue("page").toInt());
            EXPECT_EQ(q.toString(), "per_page=100&page=" + QString::number(pages.back()) +
                                        "&from=2026-03-01&to=2026-03-02");
        }
        std::vector<int> expectedPages = c.pages;
        if (expectedPages.empty())
            for (int n = 1; n <= 80; ++n)
                expectedPages.push_back(n);
        EXPECT_EQ(pages, expectedPages);
    }
}

TEST(Dashboard, CachedFiguresAreShownOnlyWhenTheyAreTheUsersAndReadable) {
    const RecentTaskItem shown{.taskId = "shown"}, cached{.taskId = "cached"};
    InvoiceableSummaryDTO shownSummary, cachedSummary;
    shownSummary.today.amountEuroCents = 100;
    cachedSummary.today.amountEuroCents = 14250;
    const struct {
        const char* name;
        std::function<void(QJsonObject&)> edit;
        bool applied;
        RecentTaskItem recent;
        std::optional<InvoiceableSummaryDTO> summary;
    } cases[] = {
        {"own entry", [](QJsonObject&) {}, true, cached, cachedSummary},
        {"another user's entry under this key", [](QJsonObject& o) { o["user_id"] = "7"; }, false,
         shown, shownSummary},
        {"empty recent-task list", [](QJsonObject& o) { o["recent_tasks"] = QJsonArray(); }, true,
         shown, cachedSummary},
        {"no summary", [](QJsonObject& o) { o.remove("invoiceable_summary"); }, true, cached,
         std::nullopt},
        {"no total", [](QJsonObject& o) { o.remove("today_total_secs"); }, false, shown,
         shownSummary},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.store->setTodayTotalSecs(3600);
        w.store->setInvoiceableSummary(cachedSummary);
        w.store->setRecentTasks({cached});
        w.store->saveDashboardAggregatesCache();
        const QString key = QStringLiteral("orvane_dashboard_aggregates_v3_42");
        const QJsonObject saved = w.defaults->object(key).value_or(QJsonObject()).toObject();
        EXPECT_EQ(saved["user_id"].toString(), "42");
        EXPECT_EQ(saved["saved_at"].toDouble(), 794142000.0) << "seconds since 1 January 2001";
        EXPECT_EQ(saved["invoiceable_summary"]["today"]["amount"].toDouble(), 142.5);
        EXPECT_EQ(saved["recent_tasks"][0]["task_id"].toString(), "cached");
        QJsonObject entry = saved;
        c.edit(entry);
        w.defaults->set(key, entry);

        w.store->setTodayTotalSecs(1);
        w.store->setInvoiceableSummary(shownSummary);
        w.store->setRecentTasks({shown});
        w.store->loadDashboardAggregatesCache();
        EXPECT_EQ(w.store->todayTotalSecs(), c.applied ? 3600 : 1);
        EXPECT_EQ(w.store->recentTasks(), std::vector<RecentTaskItem>{c.recent});
        EXPECT_EQ(w.store->invoiceableSummary(), c.summary);
    }
}

TEST(Dashboard, DailyTargetIsTodaysHoursInTheBerlinWeek) {
    const auto hours = [](std::map<QString, qint64> perDay) {
        return std::optional(WorkSchedule{.hoursPerDay = std::move(perDay)});
    };
    const struct {
        const char* name;
        bool signedIn;
        std::optional<WorkSchedule> schedule;
        QDateTime now;
        qint64 target;
    } cases[] = {
        {"nobody signed in", false, {}, kNoon, 28800},
        {"no schedule", true, {}, kNoon, 28800},
        {"Monday 6 hours", true, hours({{"Monday", 6}}), kNoon, 21600},
        {"no hours on Monday", true, hours({{"Tuesday", 8}}), kNoon, 0},
        {"negative hours", true, hours({{"Monday", -2}}), kNoon, 0},
        {"Sunday in UTC, Monday in Berlin", true, hours({{"Monday", 6}, {"Sunday", 3}}),
         QDateTime(QDate(2026, 3, 1), QTime(23, 30), Qt::UTC), 21600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.clock.setWallClock(c.now);
        w.user.workSchedule = c.schedule;
        w.store->setCurrentUser(c.signedIn ? std::optional(w.user) : std::nullopt);
        EXPECT_EQ(w.store->todayTargetSecs(), c.target);
    }
}

TEST(Dashboard, LiveTrackedTimeAddsTheRunningTimersToTodaysFigure) {
    for (const bool withSummary : {false, true}) {
        SCOPED_TRACE(withSummary ? "summary present" : "no summary");
        World w;
        w.store->setSessions({TimerSession{.startedAt = kNoon.addSecs(-600)}});
        w.store->setTodayTotalSecs(5000);
        w.store->setTodayBillableWorkedSecs(1000);
        if (withSummary)
            w.store->setInvoiceableSummary(InvoiceableSummaryDTO{});
        EXPECT_EQ(w.store->todayTrackedSecsLive(), (withSummary ? 1000 : 5000) + 600);
    }
    World w;
    w.store->setSessions({TimerSession{.startedAt = kNoon.addSecs(-600)}});
    w.store->setTodayTotalSecs(kMax);
    EXPECT_EQ(w.store->todayTrackedSecsLive(), kMax);
}

} // namespace

namespace {

// Identifies the file on disk: an atomic write puts a new one in its place.
ino_t fileId(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

TEST(Dashboard, SyncsThatChangeNoFigureLeaveTheCacheFileAlone) {
    const struct {
        const char* name;
        std::function<void(World&)> change;
        bool written;
    } cases[] = {
        {"nothing changed, a minute later", [](World&) {}, false},
        {"a new hour booked",
         [](World& w) {
             w.service.on("GET", "/api/job-times",
                          FakeResponse::json(200, page({hour(), hour({{"id", "k"}})})));
         },
         true},
        {"another summary",
         [](World& w) {
             std::string changed = kSummary;
             changed.replace(changed.find("142.50"), 6, "100.00");
             w.service.on("GET", "/api/job-times/invoiceable-summary",
                          FakeResponse::json(200, changed));
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.service.on("GET", "/api/job-times", FakeResponse::json(200, page({hour()})));
        test::await(w.store->refreshDashboardAggregates());
        const ino_t before = fileId(w.defaults->filePath());
        ASSERT_NE(before, 0u);
        c.change(w);
        w.clock.advance(60'000);
        test::await(w.store->refreshDashboardAggregates());
        EXPECT_EQ(fileId(w.defaults->filePath()) != before, c.written);
        const auto saved = w.defaults->object(AppStore::dashboardCacheKey("42"));
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->toObject()["saved_at"].toDouble(), c.written ? 794142060.0 : 794142000.0);
    }
}
