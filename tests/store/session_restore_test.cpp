#include "service/orvane_api_config.h"
#include "service/token_storage.h"
#include "platform/keychain_thread.h"
#include "service/transport_error.h"
#include "store/app_store.h"
#include "store/biometric_credential_store.h"
#include "support/await.h"
#include "support/store_world.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

// Readable failure output for texts.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;

namespace {

const QString kEmail = QStringLiteral("a@b.de");
const QString kPassword = QStringLiteral("geheim");
const QString kToken = QStringLiteral("tok-r");
const std::string kUser = R"({"id":1,"email":"a@b.de","first_name":"Ada"})";

// The service, the user defaults, the keyring, biometry and haptics of one
// case; the store on demand.
struct SessionWorld : test::StoreWorld {
    void restore(const QString& token) { test::await(store().restoreSession(token)); }

    // Signed in through a restore of `kToken`, the user as `kUser`.
    void signInByRestore() {
        service.on("GET", "/api/user", FakeResponse::json(200, kUser));
        store();
        saveAuthToken(kToken);
        restore(kToken);
        ASSERT_TRUE(store().isLoggedIn());
    }

    void expectSignedOutSilently() {
        EXPECT_FALSE(store().isLoggedIn());
        EXPECT_EQ(store().currentUser(), std::nullopt);
        EXPECT_EQ(store().loginError(), std::nullopt);
        EXPECT_EQ(store().api().currentToken(), std::nullopt);
    }
};

// ---- Session restore ----

TEST(SessionRestore, TokenTheServiceAcceptsSignsIn) {
    SessionWorld w;
    w.signInByRestore();

    ASSERT_EQ(w.userRequests(), 1u);
    EXPECT_EQ(w.service.requestsTo("GET", "/api/user")[0].header("Authorization"), "Bearer tok-r");
    ASSERT_TRUE(w.store().currentUser());
    EXPECT_EQ(w.store().currentUser()->email, kEmail);
    EXPECT_EQ(w.store().currentUser()->firstName, QStringLiteral("Ada"));
    EXPECT_EQ(w.store().api().currentToken(), kToken);
    EXPECT_EQ(w.store().loginError(), std::nullopt);
    EXPECT_EQ(w.storedToken(), QByteArray("tok-r"));
    // The full refresh follows; a restore plays no haptic.
    EXPECT_EQ(w.service.requestsTo("GET", "/api/clients").size(), 1u);
    EXPECT_TRUE(w.haptics.played.empty());
}

TEST(SessionRestore, FailureDeletesTheTokenOnlyWhenTheServiceRefusedIt) {
    const struct {
        const char* name;
        std::optional<FakeResponse> answer; // none: nobody listens
        bool tokenKept;
    } cases[] = {
        {"token refused", FakeResponse::json(401, R"({"message":"Unauthenticated."})"), false},
        {"server error", FakeResponse::json(500, "boom"), true},
        {"rate limit", FakeResponse::json(429, "{}"), true},
        {"account not ready",
         FakeResponse::json(403, R"({"reason":"dpa_required","account_requirements":{}})"), true},
        {"offline", std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionWorld w;
        w.store();
        if (c.answer)
            w.service.on("GET", "/api/user", *c.answer);
        else
            w.goOffline();
        saveAuthToken(kToken);
        const quint64 generation = w.store().signInGeneration();
        w.restore(kToken);

        EXPECT_EQ(w.userRequests(), c.answer ? 1u : 0u);
        EXPECT_EQ(w.storedToken().has_value(), c.tokenKept);
        EXPECT_EQ(w.store().signInGeneration(), generation);
        w.expectSignedOutSilently();
    }
}

TEST(SessionRestore, SignOutBeforeTheUserArrivesLeavesTheStoreSignedOut) {
    SessionWorld w;
    FakeResponse user = FakeResponse::json(200, kUser);
    user.delay = 300ms;
    w.service.on("GET", "/api/user", user);
    w.store();
    saveAuthToken(kToken);

    auto restoring = w.store().restoreSession(kToken);
    w.store().signOut();
    test::await(std::move(restoring));

    EXPECT_EQ(w.userRequests(), 1u);
    EXPECT_EQ(w.storedToken(), std::nullopt);
    EXPECT_EQ(w.service.requestsTo("GET", "/api/clients").size(), 0u);
    w.expectSignedOutSilently();
}

TEST(SessionRestore, StartUpRestoresTheStoredTokenOnlyWhenRememberedAndNotSignedOut) {
    enum class Removal { NoSignOut, Confirmed, Fails, Hangs };
    const struct {
        const char* name;
        bool rememberMe;
        Removal removal;
        bool failsAgain; // at the next start too
        bool restored;
        bool tokenLeft;
    } cases[] = {
        {"remembered", true, Removal::NoSignOut, false, true, true},
        {"not remembered", false, Removal::NoSignOut, false, false, true},
        {"signed out", true, Removal::Confirmed, false, false, false},
        {"signed out, the keyring refused the removal", true, Removal::Fails, false, false, false},
        {"signed out, the keyring did not answer", true, Removal::Hangs, false, false, false},
        {"signed out, not remembered, no answer", false, Removal::Hangs, false, false, false},
        {"signed out, refused again at the start", true, Removal::Fails, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionWorld w;
        platform::KeychainThread::shared().setAnswerTime(200ms);
        w.service.on("GET", "/api/user", FakeResponse::json(200, kUser));
        w.defaults->setBool(QStringLiteral("orvane_remember_me"), c.rememberMe);
        saveAuthToken(kToken);
        if (c.removal != Removal::NoSignOut) {
            w.store();
            if (c.rememberMe) { // this start's restore is done with the service
                EXPECT_TRUE(test::eventuallyTrue([&] { return w.store().isLoggedIn(); }));
            }
            if (c.removal == Removal::Fails)
                w.keychain->failEvery(platform::KeychainStatus::InteractionNotAllowed);
            w.keychain->setHanging(c.removal == Removal::Hangs);
            w.store().signOut();
            EXPECT_FALSE(w.store().isLoggedIn()) << "signed out at once";
            test::KeychainScope::settle();
            EXPECT_EQ(authTokenRemovalPending(), c.removal != Removal::Confirmed);
            if (!c.failsAgain)
                w.keychain->failEvery(std::nullopt);
            w.keychain->setHanging(false);
            w.storePtr.reset(); // quit
        }
        const std::size_t userRequestsBefore = w.userRequests();
        w.store();

        if (c.restored) {
            EXPECT_TRUE(test::eventuallyTrue([&] { return w.store().isLoggedIn(); }));
        }
        test::spin(300ms); // lets the refresh that follows finish
        EXPECT_EQ(w.store().isLoggedIn(), c.restored);
        EXPECT_EQ(w.userRequests() - userRequestsBefore, c.restored ? 1u : 0u);
        EXPECT_EQ(w.storedToken().has_value(), c.tokenLeft);
        EXPECT_EQ(authTokenRemovalPending(), c.failsAgain) << "owed until the keyring confirms";
    }
}

TEST(SessionRestore, ASignInWhileTheKeyringIsReadKeepsItsOwnToken) {
    SessionWorld w;
    w.service.on("GET", "/api/user", FakeResponse::json(200, kUser));
    w.service.on("POST", "/api/auth/login",
                 FakeResponse::json(200, R"({"token":"tok-new","user":)" + kUser + "}"));
    saveAuthToken(kToken);
    w.keychain->setHanging(true); // the start-up read waits
    w.storePtr = std::make_unique<AppStore>();
    test::await(w.store().login(kEmail, kPassword, std::nullopt));
    w.keychain->setHanging(false);
    test::KeychainScope::settle();
    test::spin(300ms);

    EXPECT_TRUE(w.store().isLoggedIn());
    EXPECT_EQ(w.store().api().currentToken(), QStringLiteral("tok-new"));
    for (const auto& request : w.service.requests())
        EXPECT_NE(request.header("Authorization"), "Bearer tok-r") << request.path;
    EXPECT_EQ(w.storedToken(), QByteArray("tok-new"));
}

TEST(SessionRestore, StartUpSendsTheStoredTokenOnlyToTheServiceThatIssuedIt) {
    enum class Origin { InTheItem, NotedBeside, NeverRecorded, RecordedAndLost };
    const struct {
        const char* name;
        Origin origin;
        bool issuedHere;
        bool restored;
    } cases[] = {
        {"issued by this service", Origin::InTheItem, true, true},
        {"issued by the service named before", Origin::InTheItem, false, false},
        {"kept bare, noted for this service", Origin::NotedBeside, true, true},
        {"kept bare, noted for the service named before", Origin::NotedBeside, false, false},
        // Kept by a version that noted no origin: it has only gone to the
        // service named then, and goes on doing so.
        {"kept bare before origins were noted", Origin::NeverRecorded, true, true},
        // Its note may have been dropped by a version that lost it.
        {"kept bare after an origin was recorded", Origin::RecordedAndLost, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionWorld w;
        test::FakeService before;
        w.service.on("GET", "/api/user", FakeResponse::json(200, kUser));
        const QString origin = c.issuedHere ? OrvaneAPIConfig::serviceOrigin()
                                            : OrvaneAPIConfig::originOf(QUrl(before.baseURL()));
        if (c.origin == Origin::InTheItem)
            saveAuthToken(kToken, origin);
        else
            w.keychain->add({authTokenService(), kAuthTokenAccount, kToken.toUtf8(), false});
        if (c.origin == Origin::NotedBeside)
            w.defaults->setString(QLatin1String(kAuthTokenOriginKey), origin);
        if (c.origin == Origin::RecordedAndLost)
            w.defaults->setBool(QLatin1String(kAuthTokenOriginRecordedKey), true);
        w.store();

        if (c.restored) {
            EXPECT_TRUE(test::eventuallyTrue([&] { return w.store().isLoggedIn(); }));
        }
        test::spin(300ms);
        EXPECT_EQ(w.store().isLoggedIn(), c.restored);
        for (const auto& request : w.service.requests())
            EXPECT_EQ(request.header("Authorization").has_value(), c.restored) << request.path;
        EXPECT_EQ(w.userRequests(), c.restored ? 1u : 0u);
        EXPECT_EQ(before.requestCount(), 0u);
        // Kept for the service it belongs to.
        EXPECT_EQ(w.storedToken(), QByteArray("tok-r"));
        if (c.origin == Origin::NeverRecorded) {
            EXPECT_EQ(w.defaults->string(QLatin1String(kAuthTokenOriginKey)), origin);
        }
    }
}

// ---- Sign-out ----

TEST(SignOut, ClearsTheSessionAndLeavesTheSettings) {
    SessionWorld w;
    w.signInByRestore();
    AppStore& s = w.store();
    ClientDTO client;
    client.id = QStringLiteral("c1");
    TimerSession session;
    session.id = QUuid::createUuid();
    session.startedAt = QDateTime::currentDateTimeUtc();
    RecentTaskItem recent;
    recent.taskId = QStringLiteral("t1");
    StoppedSummary summary;
    summary.id = QUuid::createUuid();
    s.setClients({client});
    s.setClientsFetchError(QStringLiteral("Fehler"));
    s.setSessions({session});
    s.setActiveSessionId(session.id);
    s.updateTickTimer();
    ASSERT_TRUE(s.tickActive());
    s.setRecentTasks({recent});
    s.setPendingPick(PendingStart(client, JobDTO{}, JobTaskDTO{}));
    s.setShowMultiTimerSheet(true);
    s.setLastStoppedSummary(summary);
    s.setInvoiceableSummary(InvoiceableSummaryDTO{});
    s.setTodayTotalSecs(3600);
    s.setTodaySessionsCount(2);
    s.setTodayProjectsCount(1);
    s.setTodayBillableEuroCents(5000);
    s.setTodayBillableWorkedSecs(1800);
    s.setTwoFactorPendingEmail(kEmail);
    s.setTwoFactorPendingPassword(kPassword);
    s.setLoginError(QStringLiteral("Hinweis"));
    s.setRememberMe(false);
    const std::size_t requestsBefore = w.service.requestCount();
    const quint64 generation = s.signInGeneration();

    s.signOut();

    EXPECT_FALSE(s.isLoggedIn());
    EXPECT_EQ(s.currentUser(), std::nullopt);
    EXPECT_EQ(s.api().currentToken(), std::nullopt);
    EXPECT_EQ(w.storedToken(), std::nullopt);
    EXPECT_EQ(s.twoFactorPendingEmail(), std::nullopt);
    EXPECT_EQ(s.twoFactorPendingPassword(), std::nullopt);
    EXPECT_TRUE(s.clients().empty());
    EXPECT_EQ(s.clientsFetchError(), std::nullopt);
    EXPECT_TRUE(s.sessions().empty());
    EXPECT_EQ(s.activeSessionId(), std::nullopt);
    EXPECT_FALSE(s.tickActive());
    EXPECT_TRUE(s.recentTasks().empty());
    EXPECT_EQ(s.pendingPick(), std::nullopt);
    EXPECT_FALSE(s.showMultiTimerSheet());
    EXPECT_EQ(s.lastStoppedSummary(), std::nullopt);
    EXPECT_EQ(s.invoiceableSummary(), std::nullopt);
    EXPECT_EQ(s.todayTotalSecs(), 0);
    EXPECT_EQ(s.todaySessionsCount(), 0);
    EXPECT_EQ(s.todayProjectsCount(), 0);
    EXPECT_EQ(s.todayBillableEuroCents(), 0);
    EXPECT_EQ(s.todayBillableWorkedSecs(), 0);
    EXPECT_GT(s.signInGeneration(), generation);
    // Left as they were; the service is not told.
    EXPECT_EQ(s.loginError(), QStringLiteral("Hinweis"));
    EXPECT_FALSE(s.rememberMe());
    EXPECT_FALSE(s.biometricLoginEnabled());
    EXPECT_EQ(w.service.requestCount(), requestsBefore);
}

TEST(SignOut, KeepsBiometricSignInReadyForThePasswordOnlyWhileItIsOn) {
    enum class Stored { WithBackup, TokenOnly };
    const struct {
        const char* name;
        bool enabled;
        Stored stored;
        bool credentialsLeft;
    } cases[] = {
        {"on, with password backup", true, Stored::WithBackup, true},
        {"on, without password backup", true, Stored::TokenOnly, false},
        {"off", false, Stored::WithBackup, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SessionWorld w;
        w.signInByRestore();
        if (c.stored == Stored::WithBackup)
            BiometricCredentialStore::store(kEmail, kPassword, kToken);
        else
            BiometricCredentialStore::storeWithToken(kEmail, kToken);
        w.store().setBiometricLoginEnabled(c.enabled);
        w.store().signOut();

        const auto left = w.credentials();
        ASSERT_EQ(left.has_value(), c.credentialsLeft);
        if (left) {
            // Rebuilt from the backup: the next biometric sign-in needs the password.
            EXPECT_EQ(left->value("email").toString(), kEmail);
            EXPECT_EQ(left->value("password").toString(), kPassword);
            EXPECT_FALSE(left->contains("token"));
        }
        EXPECT_EQ(w.hasBackup(), c.credentialsLeft);
        EXPECT_EQ(w.credentialFlag(), c.credentialsLeft);
        EXPECT_EQ(w.store().biometricKeychainPopulated(), c.credentialsLeft);
        EXPECT_EQ(w.store().biometricLoginEnabled(), c.enabled);
        EXPECT_EQ(w.storedToken(), std::nullopt);
        EXPECT_FALSE(w.store().isLoggedIn());
    }
}

// ---- Account not ready ----

std::exception_ptr accountNotReady(std::optional<AccountRequirements> requirements) {
    return std::make_exception_ptr(OrvaneAPIError::accountNotReady(
        QStringLiteral("Bitte unterzeichne die AVV."), std::move(requirements)));
}

AccountRequirements dpaUnsigned() {
    AccountRequirements requirements;
    requirements.dpaSigned = false;
    return requirements;
}

TEST(AccountNotReadyHandling, OtherErrorsChangeNothing) {
    const std::pair<const char*, std::exception_ptr> cases[] = {
        {"http", std::make_exception_ptr(OrvaneAPIError::http(403, QByteArray("{}")))},
        {"e-mail not verified", std::make_exception_ptr(OrvaneAPIError::emailNotVerified())},
        {"transport",
         std::make_exception_ptr(TransportError(QNetworkReply::ConnectionRefusedError, false))},
        {"other", std::make_exception_ptr(std::runtime_error("x"))},
    };
    for (const auto& [name, error] : cases) {
        SCOPED_TRACE(name);
        SessionWorld w;
        w.signInByRestore();
        const std::optional<APIUser> before = w.store().currentUser();
        test::await(w.store().handleAccountNotReady(error));

        EXPECT_EQ(w.userRequests(), 1u);
        EXPECT_EQ(w.store().currentUser(), before);
        EXPECT_EQ(w.store().loginError(), std::nullopt);
    }
}

TEST(AccountNotReadyHandling, RefusalUpdatesTheRequirementsAndRefreshesTheUser) {
    SessionWorld w;
    w.signInByRestore();
    // The user record cannot be refreshed: the requirements of the refusal stay.
    w.service.on("GET", "/api/user", FakeResponse::json(500, "boom"));
    test::await(w.store().handleAccountNotReady(accountNotReady(dpaUnsigned())));

    EXPECT_EQ(w.userRequests(), 2u);
    ASSERT_TRUE(w.store().currentUser());
    EXPECT_EQ(w.store().currentUser()->accountRequirements, dpaUnsigned());
    EXPECT_EQ(w.store().currentUser()->email, kEmail);
    EXPECT_EQ(w.store().currentUser()->firstName, QStringLiteral("Ada"));
    EXPECT_TRUE(w.store().isLoggedIn());
    EXPECT_EQ(w.store().loginError(), std::nullopt);
}

TEST(AccountNotReadyHandling, RefreshedUserRecordReplacesTheOldOne) {
    for (const bool withRequirements : {true, false}) {
        SCOPED_TRACE(withRequirements);
        SessionWorld w;
        w.signInByRestore();
        w.service.on("GET", "/api/user",
                     FakeResponse::json(200,
                                        R"({"id":1,"email":"a@b.de","first_name":"Adele",)"
                                        R"("account_requirements":{"profile_complete":false}})"));
        test::await(w.store().handleAccountNotReady(
            accountNotReady(withRequirements ? std::optional(dpaUnsigned()) : std::nullopt)));

        EXPECT_EQ(w.userRequests(), 2u);
        ASSERT_TRUE(w.store().currentUser());
        EXPECT_EQ(w.store().currentUser()->firstName, QStringLiteral("Adele"));
        ASSERT_TRUE(w.store().currentUser()->accountRequirements);
        EXPECT_EQ(w.store().currentUser()->accountRequirements->profileComplete, false);
        EXPECT_EQ(w.store().currentUser()->accountRequirements->dpaSigned, std::nullopt);
    }
}

TEST(AccountNotReadyHandling, RefusalWithNobodySignedInAsksNothing) {
    SessionWorld w;
    w.service.on("GET", "/api/user", FakeResponse::json(200, kUser));
    test::await(w.store().handleAccountNotReady(accountNotReady(dpaUnsigned())));

    EXPECT_EQ(w.service.requestCount(), 0u);
    w.expectSignedOutSilently();
}

} // namespace
