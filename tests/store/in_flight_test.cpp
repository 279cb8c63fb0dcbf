#include "store/app_store.h"
#include "store/biometric_credential_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;
using test::RecordedRequest;

namespace {

const std::string kClients = R"({"data":[{"id":"c1","company_name":"Acme"}]})";
const std::string kOtherClients = R"({"data":[{"id":"c2","company_name":"Beta"}]})";
const std::string kNoneRunning = R"({"data":[]})";
const std::string kSummary = R"({"timezone":"Europe/Berlin",
  "today":{"from":"2026-03-02","to":"2026-03-02","amount":"0"},
  "week":{"from":"2026-02-23","to":"2026-03-01","amount":"0"},
  "month":{"from":"2026-03-01","to":"2026-03-31","amount":"0"}})";
const std::string kStarted =
    R"({"data":{"id":"j9","client_id":"c1","jobtask_id":"t1","start_time":"2026-03-02T10:59:00Z"}})";
const std::string kStopped =
    R"({"data":{"id":"j1","client_id":"c1","jobtask_id":"t1","start_time":"2026-03-02T10:00:00Z",
        "end_time":"2026-03-02T11:00:00Z","rounded_duration":{"hh_mm":"1:00"}}})";
const std::string kRunningJ1 =
    R"({"data":[{"id":"j1","client_id":"c1","jobtask_id":"t1","start_time":"2026-03-02T10:00:00Z"}]})";
const std::string kTask = R"({"data":{"id":"t1","title":"Design"}})";
const std::string kUser = R"({"id":42,"email":"ada@example.com"})";
const std::string kLogin = R"({"token":"t","user":{"id":42,"email":"ada@example.com"}})";
const std::string kTodayEntry =
    R"({"data":[{"id":"j2","jobtask_id":"t1","start_time":"2026-03-02T08:00:00Z",
        "end_time":"2026-03-02T09:00:00Z","rounded_duration":{"hh_mm":"1:00"},
        "job_task":{"id":"t1","title":"Design"}}]})";
const std::string kUnauthenticated = R"({"message":"Unauthenticated."})";

TimerSession runningSession(const QString& jobTimeId) {
    TimerSession s;
    s.id = stableUUID(jobTimeId);
    s.jobTimeServerId = jobTimeId;
    s.clientId = QStringLiteral("c1");
    s.taskId = QStringLiteral("t1");
    s.startedAt = QDateTime(QDate(2026, 3, 2), QTime(10, 0), Qt::UTC);
    return s;
}

// A signed-in store on Monday 2 March 2026 against a service where every
// answer may be held back for a while.
struct World {
    test::ClockScope clock{QDateTime(QDate(2026, 3, 2), QTime(11, 0), Qt::UTC)};
    test::FakeService service;
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeHaptics haptics;
    std::unique_ptr<AppStore> store;
    std::atomic<int> delayMs{0};

    World() {
        on("GET", "/api/clients", kClients);
        on("GET", "/api/job-times/active", kNoneRunning);
        on("GET", "/api/job-times/invoiceable-summary", kSummary);
        on("GET", "/api/job-times", R"({"data":[]})");
        on("GET", "/api/job-tasks/t1", kTask);
        on("GET", "/api/user", kUser);
        on("POST", "/api/auth/login", kLogin);
        on("POST", "/api/job-times/start", kStarted, 201);
        on("PATCH", "/api/job-times/j1/stop", kStopped);
        on("PATCH", "/api/job-times/j1", kStopped);
        on("GET", "/api/job-times/j1", kStopped);
        defaults->setString("orvane_api_base_url", service.baseURL());
        store = std::make_unique<AppStore>();
        signIn("t");
    }
    ~World() {
        store.reset();
        test::spin(50ms);
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }

    void signIn(const QString& token) {
        store->api().setToken(token);
        store->setCurrentUser(APIUser{.id = "42", .email = "ada@example.com"});
        store->setIsLoggedIn(true);
    }

    // Answers only requests that carry the token "t", like the real service.
    void on(const std::string& method, const std::string& path, const std::string& body,
            int status = 200) {
        service.on(method, path, [this, body, status](const RecordedRequest& r) {
            FakeResponse answer =
                r.header("Authorization") == "Bearer t" || r.path == "/api/auth/login"
                    ? FakeResponse::json(status, body)
                    : FakeResponse::json(401, kUnauthenticated);
            answer.delay = std::chrono::milliseconds(delayMs.load());
            return answer;
        });
    }
    // The same, always this late.
    void slow(const std::string& method, const std::string& path, const std::string& body,
              std::chrono::milliseconds delay, int status = 200) {
        service.on(method, path, [body, status, delay](const RecordedRequest& r) {
            FakeResponse answer = r.header("Authorization") == "Bearer t"
                                      ? FakeResponse::json(status, body)
                                      : FakeResponse::json(401, kUnauthenticated);
            answer.delay = delay;
            return answer;
        });
    }
    size_t count(const std::string& method, const std::string& path) const {
        return service.requestsTo(method, path).size();
    }
};

} // namespace

// ---- The store goes away while its work waits on the service ----

namespace {

struct WorkOfTheStore {
    const char* name;
    std::function<QCoro::Task<void>(AppStore&)> work;
};
void PrintTo(const WorkOfTheStore& work, std::ostream* out) {
    *out << work.name;
}

const WorkOfTheStore kWorkOfTheStore[] = {
    {"FullRefresh", [](AppStore& s) { return s.refreshAll(); }},
    {"Sync", [](AppStore& s) { return s.syncWithServer(); }},
    {"FullRefreshAndSync",
     [](AppStore& s) -> QCoro::Task<void> {
         QCoro::Task<void> refresh = s.refreshAll();
         co_await s.syncWithServer();
         co_await std::move(refresh);
     }},
    {"PopoverOpened", [](AppStore& s) { return s.refreshOnPopoverOpen(); }},
    {"Start",
     [](AppStore& s) -> QCoro::Task<void> {
         const ClientDTO client{.id = "c1"};
         const JobDTO job{.id = "jb1"};
         const JobTaskDTO task{.id = "t1"};
         co_await s.requestStart(client, job, task);
     }},
    {"Stop",
     [](AppStore& s) {
         s.setSessions({runningSession(QStringLiteral("j1"))});
         return s.stopSession(stableUUID(QStringLiteral("j1")));
     }},
    {"StopAllAndStart",
     [](AppStore& s) -> QCoro::Task<void> {
         s.setSessions({runningSession(QStringLiteral("j1"))});
         s.setPendingPick(
             PendingStart(ClientDTO{.id = "c1"}, JobDTO{.id = "jb1"}, JobTaskDTO{.id = "t1"}));
         co_await s.stopAllAndStartPending();
     }},
    {"SummaryUpdate",
     [](AppStore& s) -> QCoro::Task<void> {
         StoppedSummary summary;
         summary.jobTimeServerId = QStringLiteral("j1");
         s.setLastStoppedSummary(summary);
         try {
             co_await s.updateStoppedEntry(true, QStringLiteral("up"), 15);
         } catch (...) {
         }
     }},
    {"SignIn",
     [](AppStore& s) {
         s.signOut();
         return s.login(QStringLiteral("ada@example.com"), QStringLiteral("pw"), std::nullopt);
     }},
    {"SessionRestore",
     [](AppStore& s) {
         s.signOut();
         return s.restoreSession(QStringLiteral("t"));
     }},
    {"UserRefresh", [](AppStore& s) { return s.refreshCurrentUser(); }},
    {"QuickStartWhileATimerRuns",
     [](AppStore& s) -> QCoro::Task<void> {
         s.setSessions({runningSession(QStringLiteral("j1"))});
         RecentTaskItem item;
         item.clientId = QStringLiteral("c1");
         item.jobId = QStringLiteral("jb1");
         item.taskId = QStringLiteral("t1");
         co_await s.startFromRecentTask(item);
     }},
};

class StoreGoneWhileWorkWaits : public ::testing::TestWithParam<WorkOfTheStore> {};

} // namespace

TEST_P(StoreGoneWhileWorkWaits, WorkEndsWithoutTouchingItOrAskingTheServiceAgain) {
    const WorkOfTheStore& c = GetParam();
    // 0: the moment the first answer came in, before its waiter resumed.
    for (const int goneAfterMs : {0, 20, 350, 650}) {
        SCOPED_TRACE("gone after " + std::to_string(goneAfterMs));
        World w;
        w.delayMs = 300;
        const auto goneAtFirstAnswer =
            QObject::connect(&OrvaneAPIClient::session().manager(),
                             &QNetworkAccessManager::finished, [&](QNetworkReply*) {
                                 if (goneAfterMs == 0)
                                     w.store.reset();
                             });
        QCoro::Task<void> running = c.work(*w.store);
        // A stop goes out through a network manager of its own, whose answer
        // is not seen here: then the store goes a second in.
        test::eventuallyTrue([&] { return !w.store; },
                             std::chrono::milliseconds(goneAfterMs ? goneAfterMs : 1000));
        QObject::disconnect(goneAtFirstAnswer);
        // Not while a request or an answer is on its way: the service then
        // has all that was sent.
        if (w.store) {
            ASSERT_TRUE(test::eventuallyTrue([&] {
                return test::answersAwaited() ==
                       w.service.requestCount() - w.service.answeredCount();
            }));
        }
        w.store.reset();
        const size_t sentBeforeGone = w.service.requestCount();
        EXPECT_TRUE(test::eventuallyTrue([&] { return running.isReady(); }));
        // The held-back answers are out, and what they woke has run.
        ASSERT_TRUE(test::eventuallyTrue(
            [&] { return w.service.answeredCount() == w.service.requestCount(); }));
        ASSERT_TRUE(test::answersArrived());
        if (goneAfterMs >= 350) {
            EXPECT_GE(sentBeforeGone, 1u);
        }
        EXPECT_EQ(w.service.requestCount(), sentBeforeGone);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKindOfWork, StoreGoneWhileWorkWaits,
                         ::testing::ValuesIn(kWorkOfTheStore),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- A new sign-in while work of the old one is in flight ----

TEST(RefreshOfAnEarlierSignIn, AStartOfTheEarlierSignInHoldsNoStartOfTheNext) {
    World w;
    const ClientDTO client{.id = "c1"};
    const JobDTO job{.id = "jb1"};
    const JobTaskDTO task{.id = "t1"};
    w.slow("POST", "/api/job-times/start", kStarted, 1200ms, 201);
    QCoro::Task<std::optional<QUuid>> first = w.store->requestStart(client, job, task);
    test::spin(100ms);
    w.store->signOut();
    test::await(
        w.store->login(QStringLiteral("ada@example.com"), QStringLiteral("pw"), std::nullopt));
    QCoro::Task<std::optional<QUuid>> second = w.store->requestStart(client, job, task);
    EXPECT_TRUE(test::await(std::move(second)));
    EXPECT_EQ(w.count("POST", "/api/job-times/start"), 2u);
    // The first one's end must not clear the flag of a start of this sign-in.
    EXPECT_FALSE(test::await(std::move(first)));
    EXPECT_EQ(w.store->sessions().size(), 1u);
}

TEST(RefreshOfAnEarlierSignIn, BiometricSignInOvertakenByAPasswordSignInLeavesItAlone) {
    World w;
    test::FakeBiometrics biometrics;
    w.store->signOut();
    BiometricCredentialStore::store(QStringLiteral("bob@example.com"), QStringLiteral("pw-b"),
                                    QStringLiteral("tok-b"));
    w.store->setBiometricLoginEnabled(true);
    w.service.on("GET", "/api/user", [](const RecordedRequest& r) {
        const bool bob = r.header("Authorization") == "Bearer tok-b";
        FakeResponse a = FakeResponse::json(200, bob ? R"({"id":7,"email":"bob@example.com"})"
                                                     : R"({"id":42,"email":"ada@example.com"})");
        a.delay = bob ? 500ms : 0ms;
        return a;
    });
    QCoro::Task<void> biometric = w.store->loginWithBiometrics(false);
    test::spin(50ms);
    test::await(
        w.store->login(QStringLiteral("ada@example.com"), QStringLiteral("pw"), std::nullopt));
    test::await(std::move(biometric));
    ASSERT_TRUE(w.store->currentUser());
    EXPECT_EQ(w.store->currentUser()->email, QStringLiteral("ada@example.com"));
    EXPECT_EQ(w.store->api().currentToken(), QStringLiteral("t"));
    EXPECT_TRUE(w.store->isLoggedIn());
}

TEST(RefreshOfAnEarlierSignIn, NeitherHoldsNorEmptiesTheNextOnes) {
    const struct {
        const char* name;
        std::function<void(World&)> firstSignIn;
        bool signOutBetween;
    } cases[] = {
        {"signed out during the refresh, then signed in again",
         [](World& w) {
             QCoro::Task<void> running = w.store->login(QStringLiteral("ada@example.com"),
                                                        QStringLiteral("pw"), std::nullopt);
             ASSERT_TRUE(test::eventuallyTrue([&] { return w.store->isLoggedIn(); }));
             test::spin(100ms);
         },
         true},
        {"signed out while the first sign-in's clients are decoded",
         [](World& w) {
             {
                 const test::HeldWorkers held;
                 QCoro::Task<void> running = w.store->login(QStringLiteral("ada@example.com"),
                                                            QStringLiteral("pw"), std::nullopt);
                 // Every answer in, the clients' list among them, none decoded.
                 ASSERT_TRUE(test::eventuallyTrue([&] {
                     return w.count("GET", "/api/clients") == 1 && test::answersAwaited() == 0;
                 }));
                 w.store->signOut();
             }
             ASSERT_TRUE(test::answersArrived());
             EXPECT_TRUE(w.store->clients().empty()); // the gone account's list is dropped
         },
         false},
        {"password sign-in while the start-up restore loads the clients",
         [](World& w) {
             QCoro::Task<void> running = w.store->restoreSession(QStringLiteral("t"));
             ASSERT_TRUE(test::eventuallyTrue([&] { return w.store->isLoggedIn(); }));
             test::spin(100ms);
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.store->signOut();
        w.on("GET", "/api/job-times", kTodayEntry);
        w.slow("GET", "/api/clients", kClients, 700ms);
        c.firstSignIn(w);
        if (c.signOutBetween)
            w.store->signOut();
        test::await(
            w.store->login(QStringLiteral("bob@example.com"), QStringLiteral("pw"), std::nullopt));
        EXPECT_TRUE(w.store->isLoggedIn());
        EXPECT_EQ(w.store->clients().size(), 1u);
        EXPECT_EQ(w.count("GET", "/api/clients"), 2u);
        EXPECT_EQ(w.store->todayTotalSecs(), 3600);
        EXPECT_EQ(w.store->recentTasks().size(), 1u);
        EXPECT_FALSE(w.store->isRefreshingRecentTasks());
        ASSERT_TRUE(test::answersArrived()); // the first one's, which change nothing
        EXPECT_EQ(w.store->clients().size(), 1u);
        EXPECT_EQ(w.store->todayTotalSecs(), 3600);
    }
}

// ---- Starts and stops while the running timers are read back ----

TEST(ReadBackOfRunningTimers, KeepsWhatWasStartedOrStoppedMeanwhile) {
    const ClientDTO client{.id = "c1"};
    const JobDTO job{.id = "jb1"};
    const JobTaskDTO task{.id = "t1"};
    {
        SCOPED_TRACE("started during the read-back");
        World w;
        w.slow("GET", "/api/job-times/active", kNoneRunning, 500ms);
        QCoro::Task<bool> readBack = w.store->restoreActiveSessions();
        test::spin(100ms);
        const auto started = test::await(w.store->requestStart(client, job, task));
        ASSERT_TRUE(started);
        EXPECT_TRUE(test::await(std::move(readBack)));
        ASSERT_EQ(w.store->sessions().size(), 1u);
        EXPECT_EQ(w.store->sessions()[0].jobTimeServerId, QStringLiteral("j9"));
        EXPECT_EQ(w.store->activeSessionId(), started);
        EXPECT_TRUE(w.store->tickActive());
        // A second start now asks the multi-timer question instead of starting.
        EXPECT_FALSE(test::await(w.store->requestStart(client, job, task)));
        EXPECT_TRUE(w.store->showMultiTimerSheet());
        EXPECT_EQ(w.count("POST", "/api/job-times/start"), 1u);
    }
    {
        SCOPED_TRACE("stopped during the read-back");
        World w;
        w.store->setSessions({runningSession(QStringLiteral("j1"))});
        w.slow("GET", "/api/job-times/active", kRunningJ1, 500ms);
        QCoro::Task<bool> readBack = w.store->restoreActiveSessions();
        test::spin(100ms);
        test::await(w.store->stopSession(stableUUID(QStringLiteral("j1"))));
        EXPECT_TRUE(w.store->sessions().empty());
        EXPECT_TRUE(test::await(std::move(readBack)));
        EXPECT_TRUE(w.store->sessions().empty());
        EXPECT_EQ(w.store->activeSessionId(), std::nullopt);
        EXPECT_FALSE(w.store->tickActive());
    }
    {
        SCOPED_TRACE("a start whose answer comes after a read-back that lists it");
        World w;
        w.slow("POST", "/api/job-times/start", kStarted, 500ms, 201);
        w.on("GET", "/api/job-times/active",
             R"({"data":[{"id":"j9","client_id":"c1","jobtask_id":"t1",
                 "start_time":"2026-03-02T10:59:00Z"}]})");
        QCoro::Task<std::optional<QUuid>> start = w.store->requestStart(client, job, task);
        test::spin(100ms);
        test::await(w.store->restoreActiveSessions());
        EXPECT_TRUE(test::await(std::move(start)));
        ASSERT_EQ(w.store->sessions().size(), 1u);
        EXPECT_EQ(w.store->activeSessionId(), stableUUID(QStringLiteral("j9")));
    }
    {
        SCOPED_TRACE("two read-backs: the older answer, coming last, is not applied");
        World w;
        std::atomic<int> calls{0};
        w.service.on("GET", "/api/job-times/active", [&](const RecordedRequest&) {
            const bool first = calls++ == 0;
            FakeResponse a = FakeResponse::json(200, first ? kRunningJ1 : kNoneRunning);
            a.delay = first ? 600ms : 50ms;
            return a;
        });
        QCoro::Task<bool> older = w.store->restoreActiveSessions();
        test::spin(100ms);
        test::await(w.store->restoreActiveSessions());
        EXPECT_FALSE(test::await(std::move(older)));
        EXPECT_TRUE(w.store->sessions().empty());
    }
    {
        SCOPED_TRACE("nothing happened meanwhile: the answer replaces");
        World w;
        w.store->setSessions({runningSession(QStringLiteral("j7"))});
        w.slow("GET", "/api/job-times/active", kRunningJ1, 200ms);
        EXPECT_TRUE(test::await(w.store->restoreActiveSessions()));
        ASSERT_EQ(w.store->sessions().size(), 1u);
        EXPECT_EQ(w.store->sessions()[0].jobTimeServerId, QStringLiteral("j1"));
    }
}

// ---- The service refuses the token in the middle of a session ----

TEST(TokenRefusedWhileSignedIn, EndsTheSessionAndShowsWhy) {
    const struct {
        const char* name;
        std::function<QCoro::Task<void>(AppStore&)> work;
    } cases[] = {
        {"full refresh", [](AppStore& s) { return s.refreshAll(); }},
        {"sync", [](AppStore& s) { return s.syncWithServer(); }},
        {"popover opened", [](AppStore& s) { return s.refreshOnPopoverOpen(); }},
        {"user refresh", [](AppStore& s) { return s.refreshCurrentUser(); }},
        {"start",
         [](AppStore& s) -> QCoro::Task<void> {
             // Named: g++ 12 frees braced temporaries passed to a coroutine twice.
             const ClientDTO client{.id = "c1"};
             const JobDTO job{.id = "jb1"};
             const JobTaskDTO task{.id = "t1"};
             co_await s.requestStart(client, job, task);
         }},
        {"stop",
         [](AppStore& s) {
             s.setSessions({runningSession(QStringLiteral("j1"))});
             return s.stopSession(stableUUID(QStringLiteral("j1")));
         }},
        {"summary update",
         [](AppStore& s) -> QCoro::Task<void> {
             StoppedSummary summary;
             summary.jobTimeServerId = QStringLiteral("j1");
             s.setLastStoppedSummary(summary);
             try {
                 co_await s.updateStoppedEntry(true, QStringLiteral("up"), 15);
             } catch (...) {
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        w.signIn(QStringLiteral("revoked"));
        test::await(c.work(*w.store));
        EXPECT_FALSE(w.store->isLoggedIn());
        EXPECT_EQ(w.store->currentUser(), std::nullopt);
        EXPECT_EQ(w.store->api().currentToken(), std::nullopt);
        EXPECT_TRUE(w.store->sessions().empty());
        ASSERT_TRUE(w.store->loginError());
        EXPECT_TRUE(w.store->loginError()->contains(u"401"))
            << w.store->loginError()->toStdString();
        // Nothing more is asked with the dead token.
        const size_t sent = w.service.requestCount();
        test::await(w.store->syncWithServer());
        EXPECT_EQ(w.service.requestCount(), sent);
    }
}

TEST(TokenRefusedWhileSignedIn, AnOldTokensRefusalDoesNotEndTheNextSession) {
    World w;
    w.signIn(QStringLiteral("revoked"));
    w.slow("GET", "/api/clients", kClients, 400ms);
    QCoro::Task<void> old = w.store->refreshAll();
    test::spin(100ms);
    w.store->signOut();
    test::await(
        w.store->login(QStringLiteral("bob@example.com"), QStringLiteral("pw"), std::nullopt));
    test::await(std::move(old));
    test::spin(100ms);
    EXPECT_TRUE(w.store->isLoggedIn());
    EXPECT_EQ(w.store->loginError(), std::nullopt);
}

// ---- The history window of the recent tasks ----

TEST(RecentTaskWindow, StaysTheSameForEveryPageAcrossMidnight) {
    World w;
    // 23:59:58 in Berlin.
    w.clock.setWallClock(QDateTime(QDate(2026, 3, 2), QTime(22, 59, 58), Qt::UTC));
    w.slow("GET", "/api/job-times",
           R"({"data":[{"id":"j2","jobtask_id":"t1","end_time":"2026-03-02T09:00:00Z"}],
               "meta":{"current_page":1,"last_page":3}})",
           300ms);
    QCoro::Task<void> refresh = w.store->refreshRecentTasks();
    test::spin(150ms);
    w.clock.setWallClock(w.clock.now().addSecs(5));
    test::spin(400ms);
    w.clock.setWallClock(w.clock.now().addSecs(5));
    test::await(std::move(refresh));
    const auto pages = w.service.requestsTo("GET", "/api/job-times");
    ASSERT_EQ(pages.size(), 3u);
    for (const auto& page : pages) {
        EXPECT_NE(page.query.find("from=2024-08-31"), std::string::npos) << page.query;
        EXPECT_NE(page.query.find("to=2026-03-02"), std::string::npos) << page.query;
    }
}
