#include "store/app_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

// 23:00 in Berlin on Monday 2 March 2026; six hours booked that day.
const QDateTime kLateEvening(QDate(2026, 3, 2), QTime(22, 0), Qt::UTC);
const std::string kRunning = R"({"data":[{"id":"j1","client_id":"c1","jobtask_id":"t1",
    "start_time":"2026-03-02T21:30:00Z"}]})";
const std::string kBookedMonday = R"({"data":[{"id":"j2","jobtask_id":"t1",
    "start_time":"2026-03-02T08:00:00Z","end_time":"2026-03-02T14:00:00Z",
    "rounded_duration":{"hh_mm":"6:00"},"job":{"id":"J"},"job_task":{"id":"t1","rate":"22.5"}}]})";
const std::string kBucket = R"({"from":"2026-03-02","to":"2026-03-02","amount":137.5})";

// Answers made as a request arrives are held while `held` is not negative.
void waitWhileHeld(std::atomic<int>& held) {
    for (int n = held < 0 ? 0 : ++held; n > 0; n = held)
        std::this_thread::sleep_for(1ms);
}

// A signed-in store whose service answers by the day the request was made on.
struct DayWorld {
    test::ClockScope clock{kLateEvening};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeHaptics haptics;
    std::optional<AppStore> store;
    std::shared_ptr<std::atomic<bool>> timerRuns = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> listFails = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int>> held = std::make_shared<std::atomic<int>>(-1);

    DayWorld() {
        service.on("GET", "/api/clients", FakeResponse::json(200, R"({"data":[]})"));
        service.on("GET", "/api/job-times/active",
                   [runs = timerRuns](const test::RecordedRequest&) {
                       return FakeResponse::json(200, *runs ? kRunning : R"({"data":[]})");
                   });
        service.on("GET", "/api/job-times/invoiceable-summary",
                   FakeResponse::json(200, R"({"timezone":"Europe/Berlin","today":)" + kBucket +
                                               R"(,"week":)" + kBucket + R"(,"month":)" + kBucket +
                                               "}"));
        service.on("GET", "/api/job-times", [fails = listFails, held = held](auto& r) {
            if (r.query.find("from=2026-03-01") != std::string::npos) // today's figures
                waitWhileHeld(*held);
            return *fails ? FakeResponse::json(503, "{}") : FakeResponse::json(200, kBookedMonday);
        });
        // The task's "today" as the service counts it: six hours on Monday, none on Tuesday.
        service.on("GET", "/api/job-tasks/t1", [this, held = held](auto&) {
            const bool monday = clock.now() < QDateTime(QDate(2026, 3, 2), QTime(23, 0), Qt::UTC);
            waitWhileHeld(*held);
            return FakeResponse::json(
                200, std::string(R"({"data":{"id":"t1","rounded_today_seconds":)") +
                         (monday ? "21600" : "0") + "}}");
        });
        defaults->setString("orvane_api_base_url", service.baseURL());
        store.emplace();
        store->api().setToken(QStringLiteral("t"));
        store->setCurrentUser(APIUser{.id = "42", .email = "ada@example.com"});
        store->setIsLoggedIn(true);
    }
    ~DayWorld() { OrvaneAPIClient::session().manager().clearConnectionCache(); }

    qint64 recentTaskToday() const {
        const auto& tasks = store->recentTasks();
        return tasks.empty() ? -1 : tasks.front().todayTrackedSecs;
    }
};

} // namespace

TEST(DayChange, TodaysFiguresAndTasksMoveToTheNewDayAtTheNextSyncOrOpening) {
    // How the new day begins.
    enum { Online, Offline, Midnight, NextStart, Held, TasksHeld, FiguresHeld };
    const struct {
        const char* name;
        bool timerRuns;
        bool onOpen;      // the popover opened instead of the periodic sync
        qint64 liveAfter; // today's clock at 00:30: the timer counts from midnight
        int offline = Online;
    } cases[] = {
        {"timer running over midnight, sync", true, false, 1800},
        {"timer running over midnight, popover opened", true, true, 1800},
        {"no timer, sync", false, false, 0},
        // The service out of reach: yesterday's figures are not today's meanwhile.
        {"timer running, offline, sync", true, false, 1800, Offline},
        {"no timer, offline, popover opened", false, true, 0, Offline},
        {"midnight, before any request", true, false, 1800, Midnight},
        {"next start from the saved figures, offline", false, false, 0, NextStart},
        // Monday's answers arrive on Tuesday; then a start offline.
        {"figures and task totals in flight at midnight", false, false, 0, Held},
        {"task totals in flight at midnight", false, false, 0, TasksHeld},
        {"only the figures of a sync in flight at midnight", false, false, 0, FiguresHeld},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DayWorld w;
        *w.timerRuns = c.timerRuns;
        test::await(w.store->refreshAll());
        ASSERT_EQ(w.store->todayTotalSecs(), 21600);
        ASSERT_EQ(w.store->todayBillableEuroCents(), 13500);
        ASSERT_EQ(w.recentTaskToday(), 21600);

        std::optional<QCoro::Task<void>> inFlight;
        if (c.offline >= Held) {
            w.clock.advance(30'000);
            *w.held = 0;
            inFlight.emplace(c.offline == Held        ? w.store->refreshDashboardAndRecentTasks()
                             : c.offline == TasksHeld ? w.store->refreshRecentTasksThrottled()
                                                      : w.store->syncWithServer());
            ASSERT_TRUE(test::eventuallyTrue([&] { return *w.held == (c.offline == Held) + 1; }));
        }
        w.clock.advance(90 * 60 * 1000); // 00:30 on Tuesday
        *w.held = -1;
        if (inFlight)
            test::await(std::move(*inFlight));
        if (c.offline != Online)
            w.defaults->setString("orvane_api_base_url", "http://127.0.0.1:1");
        if (c.offline >= NextStart) {
            w.store.emplace();
            w.store->setCurrentUser(APIUser{.id = "42"});
            w.store->loadDashboardAggregatesCache();
        } else if (c.offline == Midnight)
            w.store->followDayChange(); // as the store's own timer does
        else if (c.onOpen)
            test::await(w.store->refreshOnPopoverOpen());
        else
            test::await(w.store->syncWithServer());
        EXPECT_EQ(w.store->todayTotalSecs(), 0);
        EXPECT_EQ(w.store->todaySessionsCount(), 0);
        EXPECT_EQ(w.store->todayBillableEuroCents(), 0);
        EXPECT_EQ(w.store->todayTrackedSecsLive(), c.liveAfter);
        if (!c.onOpen || c.offline) {
            EXPECT_EQ(w.recentTaskToday(), 0);
        }
    }
}

TEST(DayChange, FiguresThatFailedToLoadAreReadAgainByTheNextSyncWhileATimerRuns) {
    DayWorld w;
    *w.timerRuns = true;
    *w.listFails = true;
    test::await(w.store->refreshAll());
    ASSERT_EQ(w.store->todayTotalSecs(), 0) << "a failed read shows no figures";

    *w.listFails = false; // the service is back
    w.clock.advance(30'000);
    test::await(w.store->syncWithServer());
    EXPECT_EQ(w.store->todayTotalSecs(), 21600);

    // Once read, a sync with the timer open leaves today's figures alone again.
    const auto lists = [&] { return w.service.requestsTo("GET", "/api/job-times").size(); };
    const size_t before = lists();
    w.clock.advance(30'000);
    test::await(w.store->syncWithServer());
    EXPECT_EQ(lists(), before + 1) << "the recent tasks only";
}

TEST(DayChange, TimeTheTimerRanBeforeMidnightIsNotCountedAsToday) {
    DayWorld w;
    const struct {
        const char* name;
        QDateTime startedAt;
        qint64 today;
        QDateTime now = QDateTime(QDate(2026, 3, 2), QTime(23, 15), Qt::UTC);
    } cases[] = {
        // 00:15 in Berlin.
        {"started yesterday at 22:30", QDateTime(QDate(2026, 3, 2), QTime(21, 30), Qt::UTC), 900},
        {"started after midnight", QDateTime(QDate(2026, 3, 2), QTime(23, 5), Qt::UTC), 600},
        // 03:30 summer time, the night the clocks went forward: 2.5 hours since midnight.
        {"over the night the clocks went forward",
         QDateTime(QDate(2026, 3, 28), QTime(22, 0), Qt::UTC), 9000,
         QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC)},
        // 03:30 winter time, the night the clocks went back: 4.5 hours since midnight.
        {"over the night the clocks went back",
         QDateTime(QDate(2026, 10, 24), QTime(21, 0), Qt::UTC), 16200,
         QDateTime(QDate(2026, 10, 25), QTime(2, 30), Qt::UTC)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        w.clock.setWallClock(c.now);
        TimerSession s{.startedAt = c.startedAt};
        s.running = true;
        w.store->setSessions({s});
        w.store->setTodayTotalSecs(0);
        EXPECT_EQ(w.store->todayTrackedSecsLive(), c.today);
    }
}
