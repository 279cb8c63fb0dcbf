#include "platform/keychain_thread.h"
#include "service/token_storage.h"
#include "store/app_store.h"
#include "store/biometric_credential_store.h"
#include "support/await.h"
#include "support/store_world.h"

#include <QJsonObject>
#include <QSysInfo>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

// Readable failure output for texts.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

using namespace orvane;
using namespace std::chrono_literals;
using test::FakeResponse;
using test::RecordedRequest;
using Op = platform::InMemoryKeychain::Operation;
using platform::HapticPattern;

namespace {

const QString kEmail = QStringLiteral("a@b.de");
const QString kPassword = QStringLiteral("geheim");
const QString kCodeMessage =
    QStringLiteral("Bitte den 6-stelligen Code aus deiner Authenticator-App eingeben.");
const std::string kUser = R"({"id":1,"email":"a@b.de"})";
const std::string kTwoFactor = R"({"two_factor_required":true})";

std::string loginReply(const std::string& token) {
    return R"({"token":")" + token + R"(","user":)" + kUser + "}";
}

QJsonObject body(const RecordedRequest& request) {
    return request.json().object();
}

// Everything a sign-in touches, fresh for one case: the service, the user
// defaults, the keyring, the biometry and the haptics; the store on demand.
struct SignInWorld : test::StoreWorld {
    void login(const QString& email, const QString& password,
               const std::optional<QString>& code = std::nullopt) {
        test::await(store().login(email, password, code));
    }

    void loginWithBiometrics(bool interactive) {
        test::await(store().loginWithBiometrics(interactive));
    }

    std::size_t loginRequests() const {
        return service.requestsTo("POST", "/api/auth/login").size();
    }
    QJsonObject lastLoginBody() const {
        return body(service.requestsTo("POST", "/api/auth/login").back());
    }
    std::optional<QJsonValue> rememberMeWritten() {
        return defaults->object(QStringLiteral("orvane_remember_me"));
    }

    // A user who once signed in with biometric sign-in switched on.
    void storeBiometricSignIn(const std::optional<QString>& token) {
        if (token)
            BiometricCredentialStore::store(kEmail, kPassword, *token);
        else
            BiometricCredentialStore::store(kEmail, kPassword);
        store().setBiometricLoginEnabled(true);
        store().syncBiometricKeychainFlag();
    }

    // The first step is answered with the request for the code; a request
    // with a code gets `withCode`.
    void enterCodeStep(const FakeResponse& withCode = FakeResponse::json(500, "unexpected")) {
        service.on("POST", "/api/auth/login", [withCode](const RecordedRequest& r) {
            return body(r).contains("code") ? withCode : FakeResponse::json(422, kTwoFactor);
        });
        login(kEmail, kPassword);
        ASSERT_EQ(store().twoFactorPendingEmail(), kEmail);
    }

    void expectSignedOut() {
        EXPECT_FALSE(store().isLoggedIn());
        EXPECT_EQ(store().currentUser(), std::nullopt);
        EXPECT_TRUE(haptics.played.empty());
    }
};

// ---- Password sign-in ----

TEST(PasswordSignIn, SendsTheCredentialsAsTypedWithTheHostNameAndNoCode) {
    SignInWorld w;
    w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
    w.login(QStringLiteral(" a@b.de "), QStringLiteral(" pw "));

    ASSERT_EQ(w.loginRequests(), 1u);
    const QJsonObject sent = w.lastLoginBody();
    EXPECT_EQ(sent.value("email").toString(), QStringLiteral(" a@b.de "));
    EXPECT_EQ(sent.value("password").toString(), QStringLiteral(" pw "));
    EXPECT_EQ(sent.value("device_name").toString(), QSysInfo::machineHostName());
    EXPECT_FALSE(sent.contains("code"));
    EXPECT_FALSE(sent.contains("recovery_code"));
}

TEST(PasswordSignIn, SuccessSignsInAndKeepsTheTokenWhateverRememberMeSays) {
    for (const bool rememberMe : {true, false}) {
        SCOPED_TRACE(rememberMe);
        SignInWorld w;
        w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
        w.store().setRememberMe(rememberMe);
        w.store().setLoginError(QStringLiteral("alter Fehler"));
        const quint64 generation = w.store().signInGeneration();
        w.login(kEmail, kPassword);

        EXPECT_TRUE(w.store().isLoggedIn());
        ASSERT_TRUE(w.store().currentUser());
        EXPECT_EQ(w.store().currentUser()->id, QStringLiteral("1"));
        EXPECT_EQ(w.store().currentUser()->email, kEmail);
        EXPECT_EQ(w.store().loginError(), std::nullopt);
        EXPECT_EQ(w.store().api().currentToken(), QStringLiteral("tok-1"));
        EXPECT_EQ(w.storedToken(), QByteArray("tok-1"));
        EXPECT_EQ(w.rememberMeWritten(), QJsonValue(rememberMe));
        EXPECT_GT(w.store().signInGeneration(), generation);
        EXPECT_EQ(w.haptics.played, std::vector{HapticPattern::Alignment});
    }
}

TEST(PasswordSignIn, ServiceAskingForTheCodeOpensTheCodeStepWithoutMessage) {
    SignInWorld w;
    w.service.on("POST", "/api/auth/login", FakeResponse::json(422, kTwoFactor));
    w.login(kEmail, kPassword);

    EXPECT_EQ(w.store().twoFactorPendingEmail(), kEmail);
    EXPECT_EQ(w.store().twoFactorPendingPassword(), kPassword);
    EXPECT_EQ(w.store().loginError(), std::nullopt);
    EXPECT_EQ(w.storedToken(), std::nullopt);
    EXPECT_EQ(w.rememberMeWritten(), std::nullopt);
    w.expectSignedOut();
}

TEST(PasswordSignIn, CodeStepSendsTheTrimmedCodeWithThePendingPairAndClosesOnSuccess) {
    for (const QString& code :
         {QStringLiteral("123456"), QStringLiteral("  123456 "), QStringLiteral("\t123456\n")}) {
        SCOPED_TRACE(code.toStdString());
        SignInWorld w;
        w.enterCodeStep(FakeResponse::json(200, loginReply("tok-2")));
        // The view may pass other fields; the pair of the first step counts.
        w.login(QStringLiteral("other@b.de"), QStringLiteral("anders"), code);

        ASSERT_EQ(w.loginRequests(), 2u);
        const QJsonObject sent = w.lastLoginBody();
        EXPECT_EQ(sent.value("email").toString(), kEmail);
        EXPECT_EQ(sent.value("password").toString(), kPassword);
        EXPECT_EQ(sent.value("code").toString(), QStringLiteral("123456"));
        EXPECT_TRUE(w.store().isLoggedIn());
        EXPECT_EQ(w.store().twoFactorPendingEmail(), std::nullopt);
        EXPECT_EQ(w.store().twoFactorPendingPassword(), std::nullopt);
        EXPECT_EQ(w.storedToken(), QByteArray("tok-2"));
        EXPECT_EQ(w.haptics.played.size(), 1u);
    }
}

TEST(PasswordSignIn, CodeStepRefusesAnythingButSixDigitsWithoutAskingTheService) {
    const std::optional<QString> codes[] = {
        QStringLiteral("12345"),
        QStringLiteral("1234567"),
        QStringLiteral("12a456"),
        QStringLiteral("12 456"),
        QStringLiteral("１２３４５６"),
        QStringLiteral("   "),
        std::nullopt,
    };
    for (const auto& code : codes) {
        SCOPED_TRACE(code.value_or(QStringLiteral("<none>")).toStdString());
        SignInWorld w;
        w.enterCodeStep();
        w.login(kEmail, kPassword, code);

        EXPECT_EQ(w.loginRequests(), 1u);
        EXPECT_EQ(w.store().loginError(), kCodeMessage);
        EXPECT_EQ(w.store().twoFactorPendingEmail(), kEmail);
        EXPECT_EQ(w.store().twoFactorPendingPassword(), kPassword);
        w.expectSignedOut();
    }
}

TEST(PasswordSignIn, OutsideTheCodeStepAGivenCodeIsSentTrimmedWithoutCheck) {
    const struct {
        std::optional<QString> given;
        std::optional<QString> sent;
    } cases[] = {
        {QStringLiteral(" abc "), QStringLiteral("abc")},
        {QStringLiteral("12"), QStringLiteral("12")},
        {QStringLiteral(" \n"), std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given.value_or(QStringLiteral("<none>")).toStdString());
        SignInWorld w;
        w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
        w.login(kEmail, kPassword, c.given);

        ASSERT_EQ(w.loginRequests(), 1u);
        const QJsonObject sent = w.lastLoginBody();
        EXPECT_EQ(sent.contains("code"), c.sent.has_value());
        EXPECT_EQ(sent.value("code").toString(), c.sent.value_or(QString()));
        EXPECT_TRUE(w.store().isLoggedIn());
    }
}

struct Refusal {
    const char* name;
    int status;
    std::string body;
    std::optional<QString> message;
};

const Refusal kRefusals[] = {
    {"wrong password", 401, R"({"message":"Unauthenticated."})",
     QStringLiteral(R"(HTTP 401: {"message":"Unauthenticated."})")},
    {"wrong code", 422, R"({"message":"Der Code ist ungültig."})",
     QStringLiteral(R"(HTTP 422: {"message":"Der Code ist ungültig."})")},
    {"account not ready", 403,
     R"({"message":"Bitte unterzeichne die AVV.","account_requirements":{"dpa_signed":false}})",
     QStringLiteral("Bitte unterzeichne die AVV.")},
    {"profile incomplete", 403, R"({"reason":"profile_incomplete"})",
     QStringLiteral("Bitte vervollständige dein Profil im Web.")},
    {"e-mail not verified", 403, R"({"message":"Forbidden"})",
     QStringLiteral("E-Mail ist nicht verifiziert")},
    {"too many requests", 429, "{}",
     QStringLiteral("Zu viele Anfragen in kurzer Zeit. Bitte warte kurz und versuche es erneut.")},
    {"server error", 500, "boom", QStringLiteral("HTTP 500: boom")},
};

TEST(PasswordSignIn, RefusalShowsItsTextAndLeavesTheCodeStepClosed) {
    for (const Refusal& c : kRefusals) {
        SCOPED_TRACE(c.name);
        SignInWorld w;
        w.service.on("POST", "/api/auth/login", FakeResponse::json(c.status, c.body));
        w.login(kEmail, kPassword);

        EXPECT_EQ(w.store().loginError(), c.message);
        EXPECT_EQ(w.store().twoFactorPendingEmail(), std::nullopt);
        EXPECT_EQ(w.store().twoFactorPendingPassword(), std::nullopt);
        EXPECT_EQ(w.storedToken(), std::nullopt);
        EXPECT_EQ(w.rememberMeWritten(), std::nullopt);
        w.expectSignedOut();
    }
}

TEST(PasswordSignIn, RefusalOfACodeKeepsTheCodeStepOpen) {
    std::vector<Refusal> cases(std::begin(kRefusals), std::end(kRefusals));
    cases.push_back({"asked for the code again", 422, kTwoFactor, std::nullopt});
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        SignInWorld w;
        w.enterCodeStep(FakeResponse::json(c.status, c.body));
        w.login(kEmail, kPassword, QStringLiteral("123456"));

        EXPECT_EQ(w.loginRequests(), 2u);
        EXPECT_EQ(w.store().loginError(), c.message);
        EXPECT_EQ(w.store().twoFactorPendingEmail(), kEmail);
        EXPECT_EQ(w.store().twoFactorPendingPassword(), kPassword);
        w.expectSignedOut();
    }
}

TEST(PasswordSignIn, CodeCheckAnsweredAfterTheUserWentBackChangesNothing) {
    const struct {
        const char* name;
        FakeResponse answer;
    } cases[] = {
        {"wrong code", FakeResponse::json(422, R"({"message":"Code falsch."})")},
        {"asked for the code again", FakeResponse::json(422, kTwoFactor)},
        {"server error", FakeResponse::json(500, "boom")},
        {"signed in", FakeResponse::json(200, loginReply("tok-late"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SignInWorld w;
        FakeResponse late = c.answer;
        late.delay = 300ms;
        w.enterCodeStep(late);
        auto checking = w.store().login(kEmail, kPassword, QStringLiteral("123456"));
        ASSERT_TRUE(test::eventuallyTrue([&] { return w.loginRequests() == 2u; }));
        // The sign-in view's back action.
        w.store().setTwoFactorPendingEmail(std::nullopt);
        w.store().setTwoFactorPendingPassword(std::nullopt);
        w.store().setLoginError(std::nullopt);
        test::await(std::move(checking));

        EXPECT_EQ(w.store().loginError(), std::nullopt);
        EXPECT_EQ(w.store().twoFactorPendingEmail(), std::nullopt);
        EXPECT_EQ(w.store().twoFactorPendingPassword(), std::nullopt);
        EXPECT_EQ(w.store().api().currentToken(), std::nullopt);
        EXPECT_EQ(w.storedToken(), std::nullopt);
        w.expectSignedOut();
    }
}

TEST(PasswordSignIn, UnreachableServiceShowsTheNetworkText) {
    SignInWorld w;
    w.store();
    w.goOffline();
    w.login(kEmail, kPassword);

    EXPECT_EQ(w.store().loginError(),
              QStringLiteral("Es konnte keine Verbindung zum Server hergestellt werden."));
    EXPECT_EQ(w.store().twoFactorPendingEmail(), std::nullopt);
    w.expectSignedOut();
}

TEST(PasswordSignIn, OpensAtOnceAndIsRememberedWhenTheKeyringAnswersOrSaysItIsNot) {
    enum class Keyring { Answers, Refuses, Hangs, AnswersLate };
    const QString refused = QStringLiteral(
        "Schlüsselbund: Zugriff jetzt nicht möglich. Gerät entsperren, dann erneut versuchen.");
    const QString silent = QStringLiteral(
        "Schlüsselbund antwortet nicht. Die Anmeldung gilt nur bis zum Beenden von Orvane.");
    const struct {
        const char* name;
        Keyring keyring;
        bool signOutMeanwhile;
        std::optional<QString> message;
        bool stored;
        bool removalOwed;
    } cases[] = {
        {"keyring answers", Keyring::Answers, false, std::nullopt, true, false},
        {"keyring refuses", Keyring::Refuses, false, refused, false, false},
        {"keyring does not answer", Keyring::Hangs, false, silent, false, false},
        {"signed out while the keyring saves", Keyring::AnswersLate, true, std::nullopt, false,
         false},
        {"signed out while the keyring does not answer", Keyring::Hangs, true, std::nullopt, false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SignInWorld w;
        platform::KeychainThread::shared().setAnswerTime(2s);
        w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
        w.store();
        if (c.keyring == Keyring::Refuses)
            w.keychain->failEvery(platform::KeychainStatus::InteractionNotAllowed);
        w.keychain->setHanging(c.keyring == Keyring::Hangs || c.keyring == Keyring::AnswersLate);
        test::await(w.store().login(kEmail, kPassword, std::nullopt));

        // The session is open before the keyring has said a word.
        EXPECT_TRUE(w.store().isLoggedIn());
        EXPECT_EQ(w.store().api().currentToken(), QStringLiteral("tok-1"));
        EXPECT_EQ(w.rememberMeWritten(), QJsonValue(true));
        EXPECT_EQ(w.haptics.played.size(), 1u);
        if (c.keyring != Keyring::Refuses) {
            EXPECT_EQ(w.store().loginError(), std::nullopt);
        }
        if (c.signOutMeanwhile)
            w.store().signOut();
        if (c.keyring == Keyring::AnswersLate)
            w.keychain->setHanging(false);
        test::KeychainScope::settle();

        EXPECT_EQ(w.store().loginError(), c.message);
        EXPECT_EQ(w.storedToken().has_value(), c.stored);
        EXPECT_EQ(authTokenRemovalPending(), c.removalOwed);
    }
}

TEST(PasswordSignIn, WithBiometricSignInOnStoresFreshCredentials) {
    for (const bool tokenSaveFails : {false, true}) {
        SCOPED_TRACE(tokenSaveFails);
        SignInWorld w;
        w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
        w.store().setBiometricLoginEnabled(true);
        if (tokenSaveFails)
            w.keychain->failNext(Op::Add, platform::KeychainStatus::InteractionNotAllowed);
        w.login(kEmail, kPassword);

        const auto stored = w.credentials();
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->value("email").toString(), kEmail);
        EXPECT_EQ(stored->value("password").toString(), kPassword);
        // Without a token in the keyring the credentials hold e-mail and password only.
        EXPECT_EQ(stored->contains("token"), !tokenSaveFails);
        EXPECT_EQ(stored->value("token").toString(),
                  tokenSaveFails ? QString() : QStringLiteral("tok-1"));
        EXPECT_TRUE(w.hasBackup());
        EXPECT_TRUE(w.credentialFlag());
        EXPECT_TRUE(w.store().biometricKeychainPopulated());
        EXPECT_TRUE(w.store().isLoggedIn());
    }
}

// ---- Biometric sign-in ----

TEST(BiometricSignIn, StoredTokenSignsInWithoutAskingForThePassword) {
    SignInWorld w;
    w.service.on("GET", "/api/user", FakeResponse::json(200, kUser));
    w.storeBiometricSignIn(QStringLiteral("tok-b"));
    w.store().setRememberMe(false);
    w.loginWithBiometrics(true);

    EXPECT_EQ(w.biometrics.reasons, std::vector{QStringLiteral("Anmeldung")});
    ASSERT_EQ(w.userRequests(), 1u);
    EXPECT_EQ(w.service.requestsTo("GET", "/api/user")[0].header("Authorization"), "Bearer tok-b");
    EXPECT_EQ(w.loginRequests(), 0u);
    EXPECT_TRUE(w.store().isLoggedIn());
    ASSERT_TRUE(w.store().currentUser());
    EXPECT_EQ(w.store().currentUser()->email, kEmail);
    EXPECT_EQ(w.store().loginError(), std::nullopt);
    EXPECT_EQ(w.storedToken(), QByteArray("tok-b"));
    EXPECT_EQ(w.rememberMeWritten(), QJsonValue(false));
    EXPECT_EQ(w.haptics.played, std::vector{HapticPattern::Alignment});
    // The stored sign-in is left as it was.
    ASSERT_TRUE(w.credentials());
    EXPECT_EQ(w.credentials()->value("token").toString(), QStringLiteral("tok-b"));
    EXPECT_TRUE(w.hasBackup());
}

TEST(BiometricSignIn, SecondCallWhileOneRunsShowsNoSecondPrompt) {
    SignInWorld w;
    FakeResponse user = FakeResponse::json(200, kUser);
    user.delay = 300ms;
    w.service.on("GET", "/api/user", user);
    w.storeBiometricSignIn(QStringLiteral("tok-b"));

    auto first = w.store().loginWithBiometrics(true);
    auto second = w.store().loginWithBiometrics(false);
    test::await(std::move(second));
    test::await(std::move(first));

    EXPECT_EQ(w.biometrics.reasons.size(), 1u);
    EXPECT_EQ(w.userRequests(), 1u);
    EXPECT_TRUE(w.store().isLoggedIn());
    EXPECT_EQ(w.haptics.played.size(), 1u);
}

TEST(BiometricSignIn, StoredPasswordWithoutTokenTakesThePasswordSignIn) {
    SignInWorld w;
    w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
    w.storeBiometricSignIn(std::nullopt);
    w.loginWithBiometrics(false);

    ASSERT_EQ(w.loginRequests(), 1u);
    const QJsonObject sent = w.lastLoginBody();
    EXPECT_EQ(sent.value("email").toString(), kEmail);
    EXPECT_EQ(sent.value("password").toString(), kPassword);
    EXPECT_EQ(w.userRequests(), 0u);
    EXPECT_TRUE(w.store().isLoggedIn());
    EXPECT_EQ(w.haptics.played.size(), 1u);
    // The password sign-in stored fresh credentials with the new token.
    ASSERT_TRUE(w.credentials());
    EXPECT_EQ(w.credentials()->value("token").toString(), QStringLiteral("tok-1"));
}

TEST(BiometricSignIn, RefusedTokenFallsBackToThePasswordSignIn) {
    const struct {
        const char* name;
        FakeResponse login;
        bool signedIn;
        bool codeStep;
        bool itemsKept;
        std::optional<QString> message;
    } cases[] = {
        {"password accepted", FakeResponse::json(200, loginReply("tok-new")), true, false, true,
         std::nullopt},
        {"code asked for", FakeResponse::json(422, kTwoFactor), false, true, true, std::nullopt},
        {"password refused", FakeResponse::json(401, R"({"message":"Falsch."})"), false, false,
         false, QStringLiteral(R"(HTTP 401: {"message":"Falsch."})")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SignInWorld w;
        w.service.on("GET", "/api/user",
                     FakeResponse::json(401, R"({"message":"Unauthenticated."})"));
        w.service.on("POST", "/api/auth/login", c.login);
        w.storeBiometricSignIn(QStringLiteral("tok-old"));
        w.loginWithBiometrics(true);

        EXPECT_EQ(w.userRequests(), 1u);
        ASSERT_EQ(w.loginRequests(), 1u);
        EXPECT_EQ(w.lastLoginBody().value("email").toString(), kEmail);
        EXPECT_EQ(w.lastLoginBody().value("password").toString(), kPassword);
        EXPECT_EQ(w.store().isLoggedIn(), c.signedIn);
        EXPECT_EQ(w.store().twoFactorPendingEmail().has_value(), c.codeStep);
        EXPECT_EQ(w.store().loginError(), c.message);
        EXPECT_EQ(w.credentials().has_value(), c.itemsKept);
        EXPECT_EQ(w.hasBackup(), c.itemsKept);
        EXPECT_EQ(w.credentialFlag(), c.itemsKept);
        EXPECT_EQ(w.store().biometricKeychainPopulated(), c.itemsKept);
        EXPECT_TRUE(w.store().biometricLoginEnabled());
        EXPECT_EQ(w.haptics.played.size(), c.signedIn ? 1u : 0u);
        if (c.signedIn) {
            EXPECT_EQ(w.storedToken(), QByteArray("tok-new"));
        } else {
            EXPECT_EQ(w.store().api().currentToken(), std::nullopt);
        }
    }
}

TEST(BiometricSignIn, RefusedTokenWithoutPasswordEndsTheStoredSignIn) {
    SignInWorld w;
    w.service.on("GET", "/api/user", FakeResponse::json(401, R"({"message":"Unauthenticated."})"));
    BiometricCredentialStore::storeWithToken(kEmail, QStringLiteral("tok-old"));
    w.store().setBiometricLoginEnabled(true);
    w.loginWithBiometrics(false);

    EXPECT_EQ(w.loginRequests(), 0u);
    EXPECT_EQ(w.store().loginError(),
              QStringLiteral("Sitzung beendet. Bitte mit E-Mail und Passwort anmelden."));
    EXPECT_EQ(w.credentials(), std::nullopt);
    EXPECT_FALSE(w.hasBackup());
    EXPECT_FALSE(w.credentialFlag());
    EXPECT_TRUE(w.store().biometricLoginEnabled());
    w.expectSignedOut();
}

TEST(BiometricSignIn, TokenRefusedOtherwiseShowsTheErrorAndKeepsTheStoredSignIn) {
    for (const bool interactive : {true, false}) {
        SCOPED_TRACE(interactive);
        SignInWorld w;
        w.service.on("GET", "/api/user", FakeResponse::json(500, "boom"));
        w.storeBiometricSignIn(QStringLiteral("tok-b"));
        w.loginWithBiometrics(interactive);

        EXPECT_EQ(w.store().loginError(), QStringLiteral("HTTP 500: boom"));
        EXPECT_EQ(w.loginRequests(), 0u);
        EXPECT_EQ(w.store().api().currentToken(), std::nullopt);
        ASSERT_TRUE(w.credentials());
        EXPECT_EQ(w.credentials()->value("token").toString(), QStringLiteral("tok-b"));
        EXPECT_TRUE(w.hasBackup());
        EXPECT_TRUE(w.credentialFlag());
        w.expectSignedOut();
    }
}

TEST(BiometricSignIn, StoredSignInWithNeitherTokenNorPasswordSwitchesBiometricSignInOff) {
    for (const bool interactive : {true, false}) {
        SCOPED_TRACE(interactive);
        SignInWorld w;
        BiometricCredentialStore::save({kEmail, std::nullopt, QStringLiteral("  \n")});
        w.store().setBiometricLoginEnabled(true);
        w.loginWithBiometrics(interactive);

        EXPECT_EQ(w.store().loginError(),
                  QStringLiteral("Gespeicherte Anmeldung ungültig. Bitte mit Passwort anmelden."));
        EXPECT_EQ(w.credentials(), std::nullopt);
        EXPECT_FALSE(w.hasBackup());
        EXPECT_FALSE(w.credentialFlag());
        EXPECT_FALSE(w.store().biometricKeychainPopulated());
        EXPECT_FALSE(w.store().biometricLoginEnabled());
        EXPECT_FALSE(w.defaults->boolValue(QStringLiteral("orvane_biometric_login_enabled")));
        EXPECT_EQ(w.service.requestCount(), 0u);
        w.expectSignedOut();
    }
}

TEST(BiometricSignIn, PromptOutcomesShowTheirMessages) {
    using platform::BiometricOutcome;
    const QString notAvailable = QStringLiteral("Biometrie nicht verfügbar.");
    const QString nothingStored = QStringLiteral("Zuerst mit E-Mail und Passwort anmelden.");
    const QString notRecognised =
        QStringLiteral("Biometrie nicht erkannt. Bitte erneut versuchen.");
    const QString unreadable = QStringLiteral("Gespeicherte Anmeldedaten sind ungültig.");
    enum class Stored { Credentials, Nothing, Garbage };
    const struct {
        const char* name;
        bool available;
        BiometricOutcome outcome;
        Stored stored;
        std::optional<QString> interactiveMessage;
        std::optional<QString> quietMessage;
    } cases[] = {
        {"no biometry", false, BiometricOutcome::Success, Stored::Credentials, notAvailable,
         std::nullopt},
        {"prompt cancelled", true, BiometricOutcome::Cancelled, Stored::Credentials, std::nullopt,
         std::nullopt},
        {"nothing stored", true, BiometricOutcome::Success, Stored::Nothing, nothingStored,
         std::nullopt},
        {"not recognised", true, BiometricOutcome::Failed, Stored::Credentials, notRecognised,
         notRecognised},
        {"unreadable item", true, BiometricOutcome::Success, Stored::Garbage, unreadable,
         unreadable},
    };
    for (const auto& c : cases) {
        for (const bool interactive : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (interactive ? ", interactive" : ", quiet"));
            SignInWorld w;
            if (c.stored == Stored::Credentials)
                w.storeBiometricSignIn(QStringLiteral("tok-b"));
            if (c.stored == Stored::Garbage)
                w.keychain->add({BiometricCredentialStore::service(), QStringLiteral("credentials"),
                                 "not json", false, true});
            w.biometrics.available = c.available;
            w.biometrics.outcome = c.outcome;
            w.store().setLoginError(QStringLiteral("alter Fehler"));
            w.loginWithBiometrics(interactive);

            EXPECT_EQ(w.store().loginError(), interactive ? c.interactiveMessage : c.quietMessage);
            // The prompt is shown only for a stored item on a machine with biometry.
            EXPECT_EQ(w.biometrics.reasons.size(),
                      c.available && c.stored != Stored::Nothing ? 1u : 0u);
            EXPECT_EQ(w.service.requestCount(), 0u);
            EXPECT_TRUE(c.stored != Stored::Credentials || w.credentials());
            w.expectSignedOut();
        }
    }
}

TEST(BiometricSignIn, SignOutDuringTheTokenCheckLeavesTheStoreSignedOut) {
    SignInWorld w;
    FakeResponse user = FakeResponse::json(200, kUser);
    user.delay = 300ms;
    w.service.on("GET", "/api/user", user);
    w.storeBiometricSignIn(QStringLiteral("tok-b"));

    auto run = w.store().loginWithBiometrics(true);
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.userRequests() == 1u; }));
    w.store().signOut();
    test::await(std::move(run));

    EXPECT_EQ(w.userRequests(), 1u);
    EXPECT_EQ(w.store().api().currentToken(), std::nullopt);
    EXPECT_EQ(w.storedToken(), std::nullopt);
    EXPECT_EQ(w.rememberMeWritten(), std::nullopt);
    EXPECT_EQ(w.store().loginError(), std::nullopt);
    w.expectSignedOut();
}

TEST(BiometricSignIn, SignOutDuringThePasswordSignInLeavesTheStoreSignedOut) {
    SignInWorld w;
    FakeResponse reply = FakeResponse::json(200, loginReply("tok-1"));
    reply.delay = 300ms;
    w.service.on("POST", "/api/auth/login", reply);
    w.storeBiometricSignIn(std::nullopt);

    auto run = w.store().loginWithBiometrics(true);
    ASSERT_TRUE(test::eventuallyTrue([&] { return w.loginRequests() == 1u; }));
    w.store().signOut();
    test::await(std::move(run));

    EXPECT_EQ(w.loginRequests(), 1u);
    EXPECT_EQ(w.store().api().currentToken(), std::nullopt);
    EXPECT_EQ(w.storedToken(), std::nullopt);
    EXPECT_EQ(w.rememberMeWritten(), std::nullopt);
    w.expectSignedOut();
}

TEST(BiometricSignIn, SignOutLetsTheNextBiometricSignInRunOnItsOwn) {
    SignInWorld w;
    FakeResponse user = FakeResponse::json(200, R"({"id":9,"email":"alt@b.de"})");
    user.delay = 300ms;
    w.service.on("GET", "/api/user", user);
    w.service.on("POST", "/api/auth/login", FakeResponse::json(200, loginReply("tok-1")));
    w.storeBiometricSignIn(QStringLiteral("tok-b"));

    auto cancelled = w.store().loginWithBiometrics(true);
    w.store().signOut();
    // The sign-out rebuilt the stored sign-in without token: the next run
    // prompts again and takes the password sign-in.
    auto next = w.store().loginWithBiometrics(true);
    test::await(std::move(next));
    test::await(std::move(cancelled));

    EXPECT_EQ(w.biometrics.reasons.size(), 2u);
    EXPECT_EQ(w.loginRequests(), 1u);
    EXPECT_TRUE(w.store().isLoggedIn());
    ASSERT_TRUE(w.store().currentUser());
    EXPECT_EQ(w.store().currentUser()->email, kEmail);
    EXPECT_EQ(w.storedToken(), QByteArray("tok-1"));
    EXPECT_EQ(w.haptics.played.size(), 1u);
}

} // namespace
