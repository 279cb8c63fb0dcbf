#include "store/app_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QBuffer>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const std::string kSummary = R"({"timezone":"Europe/Berlin",
  "today":{"from":"2026-03-02","to":"2026-03-02","amount":"142.50"},
  "week":{"from":"2026-02-23","to":"2026-03-01","amount":"855"},
  "month":{"from":"2026-03-01","to":"2026-03-31","amount":"142.5"}})";
const std::string kRunning =
    R"({"data":[{"id":"j1","client_id":"c1","jobtask_id":"t1","start_time":"2026-03-02T10:00:00Z"}]})";
const std::string kClients = R"({"data":[{"id":3}]})";
const std::string kNoneRunning = R"({"data":[]})";
const std::string kFinishedToday =
    R"({"data":[{"id":"j2","jobtask_id":"t1","start_time":"2026-03-02T08:00:00Z",
        "end_time":"2026-03-02T09:00:00Z","rounded_duration":{"hh_mm":"1:00"},
        "job_task":{"id":"t1","rate":"80"}}]})";
const std::string kNotReady =
    R"({"reason":"dpa_required","account_requirements":{"dpa_signed":false}})";
const std::string kUser = R"({"id":42,"email":"ada@example.com","account_requirements":)";
const std::string kUserNotReady = kUser + R"({"dpa_signed":false}})";
const std::string kUserReady = kUser + R"({"ready":true}})";

// A signed-in store against a service that knows one client, no running
// timer and no job times; Monday 2 March 2026, noon in Berlin.
struct World {
    test::ClockScope clock{QDateTime(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC)};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    std::optional<AppStore> store;

    World() {
        answer("/api/clients", kClients);
        answer("/api/job-times/active", kNoneRunning);
        answer("/api/job-times/invoiceable-summary", kSummary);
        answer("/api/job-times", R"({"data":[]})");
        defaults->setString("orvane_api_base_url", service.baseURL());
        store.emplace();
        store->api().setToken(QStringLiteral("t"));
        store->setCurrentUser(APIUser{.id = "42", .email = "ada@example.com"});
        store->setIsLoggedIn(true);
    }
    // Idle keep-alive connections would hold the service's shutdown back.
    ~World() { OrvaneAPIClient::session().manager().clearConnectionCache(); }

    // Like the real service: nothing without the token.
    void answer(const char* path, const std::string& body, std::chrono::milliseconds delay = {}) {
        FakeResponse ok = FakeResponse::json(200, body);
        ok.delay = delay;
        service.on("GET", path, [ok](const test::RecordedRequest& r) {
            return r.header("Authorization") == "Bearer t"
                       ? ok
                       : FakeResponse::json(401, R"({"message":"Unauthenticated."})");
        });
    }
    size_t count(const char* path) const { return service.requestsTo("GET", path).size(); }
    size_t dashboardRuns() const { return count("/api/job-times/invoiceable-summary"); }
    // List requests over the 548-day history window of the recent tasks.
    size_t recentTaskRuns() const {
        size_t n = 0;
        for (const auto& r : service.requestsTo("GET", "/api/job-times"))
            n += QUrlQuery(QString::fromStdString(r.query)).queryItemValue("from") == "2024-08-31";
        return n;
    }
};

TEST(Refresh, TwoFullRefreshesBackToBackSendOneSetOfRequests) {
    World w;
    QCoro::Task<void> first = w.store->refreshAll();
    QCoro::Task<void> second = w.store->refreshAll();
    test::await(std::move(second));
    EXPECT_EQ(w.store->clients().size(), 1u) << "the joining call returns after the run";
    test::await(std::move(first));

    EXPECT_EQ(w.count("/api/clients"), 1u);
    EXPECT_EQ(w.count("/api/job-times/active"), 1u);
    EXPECT_EQ(w.dashboardRuns(), 1u);
    EXPECT_EQ(w.recentTaskRuns(), 1u);
}

TEST(Refresh, ThrottledRefreshRunsAgainOnlyTwoAndAHalfSecondsAfterTheLast) {
    const struct {
        const char* name;
        bool recentTasks;
        qint64 passedMs, wallClockShiftSecs;
        size_t runs;
    } cases[] = {
        {"1 s later", false, 1000, 0, 0},
        {"3 s later", false, 3000, 0, 1},
        {"clock set back an hour, 3 s later", false, 3000, -3600, 1},
        {"clock set forward an hour, no time passed", false, 0, 3600, 0},
        {"recent tasks 1 s later", true, 1000, 0, 0},
        {"recent tasks 3 s later", true, 3000, 0, 1},
        {"recent tasks, clock set back an hour, 3 s later", true, 3000, -3600, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        for (int run = 0; run < 2; ++run) {
            if (run == 1) {
                w.service.clearRequests();
                w.clock.setWallClock(w.clock.now().addSecs(c.wallClockShiftSecs));
                w.clock.advance(c.passedMs);
            }
            if (c.recentTasks)
                test::await(w.store->refreshRecentTasksThrottled());
            else
                test::await(w.store->refreshDashboardAggregatesThrottled());
        }
        EXPECT_EQ(c.recentTasks ? w.recentTaskRuns() : w.dashboardRuns(), c.runs);
    }
}

// After a stop, a save or a start the figures must show that change: neither
// a refresh that finished a moment ago nor one still waiting on an answer
// made before the change may stand in for it.
TEST(Refresh, AnOwnChangeShowsEvenRightAfterOrDuringAnotherRefresh) {
    for (const bool during : {false, true}) {
        SCOPED_TRACE(during ? "during a refresh" : "right after a refresh");
        World w;
        std::optional<QCoro::Task<void>> earlier;
        if (during) {
            w.answer("/api/job-times/invoiceable-summary", kSummary, 300ms);
            earlier.emplace(w.store->refreshDashboardAggregatesThrottled());
            ASSERT_TRUE(test::eventuallyTrue([&] { return w.dashboardRuns() == 1; }));
        } else {
            test::await(w.store->refreshDashboardAggregatesThrottled());
        }
        std::string changed = kSummary;
        changed.replace(changed.find("142.50"), 6, "100.00");
        w.answer("/api/job-times/invoiceable-summary", changed);
        test::await(w.store->refreshAfterSessionChange());
        ASSERT_TRUE(w.store->invoiceableSummary());
        EXPECT_EQ(w.store->invoiceableSummary()->today.amountEuroCents, 10000);
        if (earlier)
            test::await(std::move(*earlier));
        EXPECT_EQ(w.store->invoiceableSummary()->today.amountEuroCents, 10000)
            << "the earlier answer came last and won";
    }
}

TEST(Refresh, SyncRefreshesWhatTheStateOfTheTimersCallsFor) {
    enum Now { Same, NoneRunning, Running, Fails };
    const struct {
        const char* name;
        bool openBefore;
        Now now;
        bool onOpen; // the application became active instead of the periodic sync
        size_t dashboard, recent;
    } cases[] = {
        {"no timer, nothing changed", false, NoneRunning, false, 1, 0},
        {"timer open, nothing changed", true, Same, false, 0, 1},
        {"timer started elsewhere", false, Running, false, 1, 1},
        {"timer stopped elsewhere", true, NoneRunning, false, 1, 1},
        {"restore fails, no timer", false, Fails, false, 1, 0},
        {"restore fails, timer open", true, Fails, false, 0, 1},
        {"activation, nothing changed", false, NoneRunning, true, 0, 1},
        {"activation, timer started elsewhere", false, Running, true, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        if (c.openBefore) {
            w.service.on("GET", "/api/job-times/active", FakeResponse::json(200, kRunning));
            test::await(w.store->restoreActiveSessions());
            ASSERT_EQ(w.store->sessions().size(), 1u);
        }
        const FakeResponse answers[] = {
            FakeResponse::json(200, kRunning), FakeResponse::json(200, kNoneRunning),
            FakeResponse::json(200, kRunning), FakeResponse::json(500, "{}")};
        w.service.on("GET", "/api/job-times/active", answers[c.now]);
        w.service.clearRequests();

        if (c.onOpen)
            test::await(w.store->refreshOnPopoverOpen());
        else
            test::await(w.store->syncWithServer());
        EXPECT_EQ(w.dashboardRuns(), c.dashboard);
        EXPECT_EQ(w.recentTaskRuns(), c.recent);
    }
}

// The flow's reload while the first load of the clients still waits: the
// later load's list stays, whatever the earlier one brings after it. One that
// answered first is what the store says until the later one answers.
TEST(Refresh, AnEarlierClientsLoadThatAnswersLastChangesNothing) {
    const struct {
        const char* name;
        int status;
        std::string body;
        bool lateUser = false; // late while the user record is read again
        bool settled = false;  // answered before the later load is asked for
    } earlier[] = {
        {"fails", 500, R"({"message":"kaputt"})"},
        {"brings the old list", 200, R"({"data":[{"id":1}]})"},
        {"account not ready", 403, R"({"reason":"dpa_required","account_requirements":{}})", true},
        // A restored session's refresh right after a caller's own load.
        {"failed before", 502, "<html>Bad Gateway</html>", false, true},
    };
    for (const auto& c : earlier) {
        SCOPED_TRACE(c.name);
        World w;
        std::atomic<int> calls{0};
        FakeResponse user = FakeResponse::json(200, R"({"id":1,"email":"a@b.de"})");
        user.delay = 400ms;
        w.service.on("GET", "/api/user", user);
        w.service.on("GET", "/api/clients", [&](const test::RecordedRequest&) {
            if (++calls == 1) {
                FakeResponse late = FakeResponse::json(c.status, c.body);
                late.delay = c.lateUser || c.settled ? 0ms : 400ms;
                return late;
            }
            return FakeResponse::json(200, kClients);
        });
        QCoro::Task<void> first = w.store->loadClients();
        if (c.settled)
            test::await(std::move(first));
        ASSERT_TRUE(test::eventuallyTrue([&] {
            return c.lateUser ? !w.service.requestsTo("GET", "/api/user").empty() : calls == 1;
        }));
        QCoro::Task<void> later = w.store->loadClients();
        if (c.settled) {
            EXPECT_TRUE(w.store->clientsFetchError()) << "told until the later load has its answer";
        }
        test::await(std::move(later));
        if (!c.settled)
            test::await(std::move(first));
        std::vector<QString> ids;
        for (const ClientDTO& client : w.store->clients())
            ids.push_back(client.id);
        EXPECT_EQ(ids, std::vector<QString>{"3"});
        EXPECT_EQ(w.store->clientsFetchError(), std::nullopt);
    }
}

TEST(Refresh, SyncWhileSignedOutSendsNothing) {
    World w;
    w.store->setIsLoggedIn(false);
    test::await(w.store->syncWithServer());
    test::await(w.store->refreshOnPopoverOpen());
    EXPECT_EQ(w.service.requestCount(), 0u);
}

TEST(Refresh, ClientsRefusedForTheAccountEmptyTheListAfterTheAccountCheck) {
    World w;
    w.service.on("GET", "/api/clients", FakeResponse::json(403, kNotReady));
    w.service.on("GET", "/api/user", FakeResponse::json(200, kUserNotReady));
    w.store->setClients({ClientDTO{.id = "1"}});
    std::vector<AppStore::Property> order;
    QObject::connect(&*w.store, &AppStore::changed, [&](auto p) { order.push_back(p); });

    test::await(w.store->loadClients());
    EXPECT_TRUE(w.store->clients().empty());
    EXPECT_EQ(w.store->clientsFetchError(),
              "Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im Web in deinem Profil.");
    EXPECT_EQ(w.count("/api/user"), 1u);
    EXPECT_FALSE(w.store->currentUser()->accountRequirements->isReady());
    EXPECT_LT(std::find(order.begin(), order.end(), AppStore::Property::CurrentUser),
              std::find(order.begin(), order.end(), AppStore::Property::Clients))
        << "the account check runs before the list is emptied";
}

TEST(Refresh, RefusalForAnAccountThatTurnedReadyDoesNotHoldTheRefreshesUp) {
    const struct {
        const char* name;
        const char* refused;
        std::string body; // once the account is ready
        std::function<QCoro::Task<void>(AppStore&)> run;
    } cases[] = {
        {"clients of a full refresh", "/api/clients", kClients,
         [](AppStore& s) { return s.refreshAll(); }},
        {"today's figures of a sync", "/api/job-times/invoiceable-summary", kSummary,
         [](AppStore& s) { return s.syncWithServer(); }},
        {"recent tasks", "/api/job-times", R"({"data":[]})",
         [](AppStore& s) { return s.refreshRecentTasksThrottled(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.service.on("GET", c.refused, FakeResponse::json(403, kNotReady));
        w.service.on("GET", "/api/user", FakeResponse::json(200, kUserReady));
        test::await(c.run(*w.store));
        ASSERT_TRUE(test::eventuallyTrue([&] {
            const auto& user = w.store->currentUser();
            return user && user->accountRequirements && user->accountRequirements->isReady();
        }));

        w.service.on("GET", c.refused, FakeResponse::json(200, c.body));
        w.clock.advance(3000);
        test::await(w.store->refreshAll());
        EXPECT_EQ(w.store->clients().size(), 1u);
        EXPECT_EQ(w.count("/api/user"), 1u);
    }
}

TEST(Refresh, SignOutDuringARefreshWritesNothingOfTheOldAccount) {
    // Signed out while the clients load, or while today's figures and the
    // recent tasks both wait for their job times.
    const struct {
        const char* slow;
        std::string body;
        size_t waiting;
    } cases[] = {{"/api/clients", kClients, 1}, {"/api/job-times", kFinishedToday, 2}};
    for (const auto& [slow, body, waiting] : cases) {
        SCOPED_TRACE(slow);
        World w;
        w.answer("/api/job-times", kFinishedToday);
        w.answer("/api/job-tasks/t1", R"({"data":{"id":"t1","rounded_total_seconds":3600}})");
        w.answer(slow, body, 400ms);

        QCoro::Task<void> refresh = w.store->refreshAll();
        ASSERT_TRUE(test::eventuallyTrue(
            [&, slow = slow, waiting = waiting] { return w.count(slow) == waiting; }));
        w.store->signOut();
        test::await(std::move(refresh));

        EXPECT_TRUE(w.store->clients().empty());
        EXPECT_TRUE(w.store->recentTasks().empty());
        EXPECT_EQ(w.store->todayTotalSecs(), 0);
        EXPECT_EQ(w.store->todayBillableEuroCents(), 0);
        EXPECT_EQ(w.store->invoiceableSummary(), std::nullopt);
        EXPECT_FALSE(w.defaults->object(AppStore::dashboardCacheKey("42")));
    }
}

TEST(Refresh, AvatarIsAnImageOnlyWhenTheServiceSendsOne) {
    const auto encoded = [](const char* format) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::red);
        image.save(&buffer, format);
        return buffer.data().toStdString();
    };
    const struct {
        const char* name;
        int status;
        std::string body;
        bool image;
        bool signedOutWhileDecoded = false;
    } cases[] = {
        {"PNG", 200, encoded("PNG"), true},
        {"JPEG", 200, encoded("JPEG"), true},
        {"not found", 404, encoded("PNG"), false},
        {"empty", 200, "", false},
        {"no image", 200, "<html></html>", false},
        {"for a sign-in that is gone", 200, encoded("PNG"), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        FakeResponse answer = FakeResponse::json(c.status, c.body);
        answer.contentType = "image/png";
        w.service.on("GET", "/avatars/ada", answer);
        const QUrl url(w.service.baseURL() + "/avatars/ada");
        std::optional<test::HeldWorkers> held;
        if (c.signedOutWhileDecoded)
            held.emplace();
        QCoro::Task<std::optional<QImage>> loading = w.store->loadAvatarImage(url);
        if (held) {
            ASSERT_TRUE(test::eventuallyTrue([&] {
                return !w.service.requestsTo("GET", "/avatars/ada").empty() &&
                       test::answersAwaited() == 0;
            }));
            w.store->signOut();
            held.reset();
        }
        const std::optional<QImage> image = test::await(std::move(loading));
        EXPECT_EQ(image.has_value(), c.image);
        if (image) {
            EXPECT_EQ(image->size(), QSize(3, 3)); // the centre square
        }
        EXPECT_EQ(w.service.requestsTo("GET", "/avatars/ada").at(0).header("Authorization"),
                  "Bearer t");
    }
}

} // namespace
