#include "store/app_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/store_world.h"
#include "support/temp_user_defaults.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);
const std::string kRunning = R"({"data":[{"id":"j1","client_id":"c1","jobtask_id":"t1",
    "start_time":"2026-03-02T09:00:00Z"}]})";
const std::string kStarted = R"({"data":{"id":"j2","start_time":"2026-03-02T10:00:00Z"}})";

// A signed-in store with one timer running on the service.
struct BackWorld {
    test::ClockScope clock{kNow};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeHaptics haptics;
    std::optional<AppStore> store;

    BackWorld() {
        service.on("GET", "/api/job-times/active", FakeResponse::json(200, kRunning));
        service.on("GET", "/api/job-times", FakeResponse::json(200, R"({"data":[]})"));
        service.on("GET", "/api/job-times/invoiceable-summary", FakeResponse::json(200, "{}"));
        online();
        store.emplace();
        store->api().setToken(QStringLiteral("t"));
        store->setCurrentUser(APIUser{.id = "42", .email = "ada@example.com"});
        store->setIsLoggedIn(true);
        test::await(store->restoreActiveSessions());
    }
    ~BackWorld() {
        test::spin(50ms); // lets spawned refreshes finish
        store.reset();
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }
    void online() { defaults->setString("orvane_api_base_url", service.baseURL()); }
    void offline() {
        defaults->setString("orvane_api_base_url",
                            QStringLiteral("http://127.0.0.1:%1").arg(test::closedPort()));
    }
    void sync() {
        clock.advance(30'000);
        test::await(store->syncWithServer());
    }
};

} // namespace

TEST(ServiceBack, AFailedTimerActionsMessageGoesOnceTheServiceAnswersASyncAgain) {
    const QString noConnection =
        QStringLiteral("Es konnte keine Verbindung zum Server hergestellt werden.");
    const struct {
        const char* name;
        std::function<void(BackWorld&)> fail; // the action fails
        bool goes;                            // the message goes with the next sync
    } cases[] = {
        {"stop while the service is unreachable",
         [](BackWorld& w) {
             w.offline();
             test::await(w.store->stopSession(stableUUID("j1")));
         },
         true},
        {"start while the service is unreachable",
         [](BackWorld& w) {
             w.offline();
             test::await(
                 w.store->startSession(ClientDTO{.id = "c"}, JobDTO{}, JobTaskDTO{.id = "t"}));
         },
         true},
        {"stop the service answers with a failure (503)",
         [](BackWorld& w) {
             w.service.on("PATCH", "/api/job-times/j1/stop", FakeResponse::json(503, "{}"));
             w.service.on("GET", "/api/job-times/active", FakeResponse::json(503, "{}"));
             test::await(w.store->stopSession(stableUUID("j1")));
         },
         false},
        {"stop the service refuses (403)",
         [](BackWorld& w) {
             w.service.on("PATCH", "/api/job-times/j1/stop",
                          FakeResponse::json(403, R"({"message":"Nein."})"));
             test::await(w.store->stopSession(stableUUID("j1")));
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BackWorld w;
        c.fail(w);
        ASSERT_TRUE(w.store->loginError());
        const QString shown = *w.store->loginError();
        if (std::string(c.name).find("unreachable") != std::string::npos) {
            EXPECT_EQ(shown, noConnection);
        }
        w.sync(); // still away, or refusing while it answers: the message stays
        EXPECT_EQ(w.store->loginError(), shown);

        w.online();
        w.service.on("GET", "/api/job-times/active", FakeResponse::json(200, kRunning));
        w.service.on("PATCH", "/api/job-times/j1/stop", FakeResponse::json(503, "{}"));
        w.service.on("POST", "/api/job-times/start", FakeResponse::json(200, kStarted));
        w.sync();
        EXPECT_EQ(w.store->loginError().has_value(), !c.goes);
        EXPECT_EQ(w.store->sessions().size(), 1u) << "the timer still runs on the service";
    }
}

TEST(ServiceBack, AnAnswerToASyncSentBeforeTheFailureLeavesTheMessage) {
    BackWorld w;
    FakeResponse slow = FakeResponse::json(200, kRunning);
    slow.delay = 300ms;
    w.service.on("GET", "/api/job-times/active", slow);
    w.clock.advance(30'000);
    QCoro::Task<void> sync = w.store->syncWithServer();
    ASSERT_TRUE(test::eventuallyTrue(
        [&] { return w.service.requestsTo("GET", "/api/job-times/active").size() == 2; }));
    w.offline();
    test::await(w.store->stopSession(stableUUID("j1")));
    ASSERT_TRUE(w.store->loginError());
    w.online();
    test::await(std::move(sync));
    EXPECT_TRUE(w.store->loginError()) << "that answer says nothing of the service since";
    w.sync();
    EXPECT_FALSE(w.store->loginError());
}
