#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "service/transport_error.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/temp_user_defaults.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

using namespace orvane;
using orvane::test::FakeResponse;
using orvane::test::FakeService;

namespace {

using Kind = OrvaneAPIError::Kind;

const std::string kSuccess =
    R"({"token":" 12|abcdef ","token_type":"Bearer","user":{"id":5,"email":"ada@example.com"}})";

std::string str(const QString& text) {
    return text.toStdString();
}

class SignInFixture {
protected:
    SignInFixture() {
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
        client.setToken(QStringLiteral("earlier-token"));
    }

    LoginSuccessDTO signIn(std::optional<QString> code = std::nullopt,
                           std::optional<QString> recoveryCode = std::nullopt) {
        const QString email = QStringLiteral("ada@example.com");
        const QString password = QStringLiteral("s3cret pass");
        const QString device = QStringLiteral("ada-laptop");
        return test::await(client.login(email, password, device, code, recoveryCode));
    }

    // The error the sign-in ends with when the service answers `status` and `body`.
    std::optional<OrvaneAPIError> refusal(int status, const std::string& body) {
        service.on("POST", "/api/auth/login", FakeResponse::json(status, body));
        try {
            signIn();
            ADD_FAILURE() << "the sign-in succeeded";
        } catch (const OrvaneAPIError& e) {
            return e;
        } catch (const TransportError& e) {
            ADD_FAILURE() << "transport error: " << str(e.localizedDescription());
        } catch (const DecodingError& e) {
            ADD_FAILURE() << "bare decoding error: " << str(e.debugDescription());
        }
        return std::nullopt;
    }

    test::TempUserDefaults defaults;
    FakeService service;
    OrvaneAPIClient client;
};

// ---- The request ---------------------------------------------------------

struct BodyRow {
    std::string name;
    std::optional<QString> code;
    std::optional<QString> recoveryCode;
    std::string expected;
};

void PrintTo(const BodyRow& row, std::ostream* out) {
    *out << row.name;
}

class ApiClientSignInRequest : public SignInFixture, public ::testing::TestWithParam<BodyRow> {};

TEST_P(ApiClientSignInRequest, PostsCredentialsWithoutBearerToken) {
    service.on("POST", "/api/auth/login", FakeResponse::json(200, kSuccess));
    signIn(GetParam().code, GetParam().recoveryCode);

    ASSERT_EQ(service.requestCount(), 1u);
    const auto sent = service.lastRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/api/auth/login");
    EXPECT_FALSE(sent.hasQuery);
    EXPECT_EQ(sent.header("Accept"), "application/json");
    EXPECT_EQ(sent.header("Content-Type"), "application/json");
    EXPECT_EQ(sent.header("Authorization"), std::nullopt);
    const QJsonDocument doc = sent.json();
    ASSERT_TRUE(doc.isObject()) << sent.body;
    EXPECT_EQ(doc.object(),
              QJsonDocument::fromJson(QByteArray::fromStdString(GetParam().expected)).object())
        << sent.body;
}

const std::string kCredentials =
    R"("email":"ada@example.com","password":"s3cret pass","device_name":"ada-laptop")";

INSTANTIATE_TEST_SUITE_P(
    Bodies, ApiClientSignInRequest,
    ::testing::Values(
        BodyRow{"FirstStep", std::nullopt, std::nullopt, "{" + kCredentials + "}"},
        BodyRow{"WithCode", QStringLiteral("123456"), std::nullopt,
                "{" + kCredentials + R"(,"code":"123456"})"},
        BodyRow{"CodeWrittenUntrimmed", QStringLiteral(" 123456 "), std::nullopt,
                "{" + kCredentials + R"(,"code":" 123456 "})"},
        BodyRow{"EmptyCodeLeftOut", QStringLiteral(""), std::nullopt, "{" + kCredentials + "}"},
        BodyRow{"BlankCodeLeftOut", QStringLiteral(" \t "), std::nullopt, "{" + kCredentials + "}"},
        BodyRow{"RecoveryCode", std::nullopt, QStringLiteral("abcd-efgh"),
                "{" + kCredentials + R"(,"recovery_code":"abcd-efgh"})"},
        BodyRow{"BlankRecoveryCodeLeftOut", QStringLiteral("654321"), QStringLiteral("  "),
                "{" + kCredentials + R"(,"code":"654321"})"}),
    [](const auto& info) { return info.param.name; });

// ---- The reply -----------------------------------------------------------

class ApiClientSignIn : public SignInFixture, public ::testing::Test {};

TEST_F(ApiClientSignIn, SuccessHandsBackTokenAndUserButKeepsTheClientsToken) {
    service.on("POST", "/api/auth/login", FakeResponse::json(200, kSuccess));
    const LoginSuccessDTO result = signIn();
    EXPECT_EQ(str(result.token), " 12|abcdef ");
    EXPECT_EQ(result.tokenType, QStringLiteral("Bearer"));
    EXPECT_EQ(str(result.user.id), "5");
    EXPECT_EQ(str(result.user.email), "ada@example.com");
    EXPECT_EQ(client.currentToken(), QStringLiteral("earlier-token"));
}

TEST_F(ApiClientSignIn, UndecodableSuccessIsWrappedAsDecodingError) {
    const struct {
        std::string body;
        std::string codingPath;
    } cases[] = {
        {R"({"token_type":"Bearer","user":{"id":5,"email":"ada@example.com"}})", "token"},
        {R"({"token":"12|abc"})", "user"},
        {R"({"token":"12|abc\r\nX-Injected: yes","user":{"id":5,"email":"a@b.de"}})", "token"},
        {R"({"token":"12|ab\u0007c","user":{"id":5,"email":"a@b.de"}})", "token"},
        {R"({"token":")" + std::string(100 * 1024, 'a') + R"(","user":{"id":5,"email":"a@b.de"}})",
         "token"},
        {"<html>Welcome</html>", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto error = refusal(200, c.body);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), Kind::Decoding) << str(error->errorDescription());
        ASSERT_TRUE(error->decodingError());
        EXPECT_EQ(str(error->decodingError()->codingPath()), c.codingPath);
    }
}

TEST_F(ApiClientSignIn, FailedSignInLeavesTheTokenAsItWas) {
    const auto error = refusal(422, R"({"message":"These credentials do not match our records."})");
    ASSERT_TRUE(error);
    EXPECT_EQ(client.currentToken(), QStringLiteral("earlier-token"));
}

struct Refusal {
    std::string name;
    int status;
    std::string body;
    Kind kind;
    std::string text; // when not empty: the German text
};

void PrintTo(const Refusal& row, std::ostream* out) {
    *out << row.name;
}

class ApiClientSignInRefusal : public SignInFixture, public ::testing::TestWithParam<Refusal> {};

TEST_P(ApiClientSignInRefusal, EndsWithTheMatchingError) {
    const Refusal& row = GetParam();
    const auto error = refusal(row.status, row.body);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), row.kind) << str(error->errorDescription());
    if (row.kind == Kind::Http) {
        EXPECT_EQ(error->statusCode(), row.status);
        ASSERT_TRUE(error->body());
        EXPECT_EQ(error->body()->toStdString(), row.body);
    }
    if (!row.text.empty()) {
        EXPECT_EQ(str(error->errorDescription()), row.text);
    }
}

Refusal twoFactor(std::string name, std::string body) {
    return {std::move(name), 422, std::move(body), Kind::TwoFactorRequired,
            "Zwei-Faktor-Authentifizierung erforderlich"};
}
Refusal plain422(std::string name, std::string body) {
    return {std::move(name), 422, std::move(body), Kind::Http, ""};
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ApiClientSignInRefusal,
    ::testing::Values(
        Refusal{"ForbiddenEmptyIsEmailNotVerified", 403, "", Kind::EmailNotVerified,
                "E-Mail ist nicht verifiziert"},
        Refusal{"ForbiddenWithMessageIsEmailNotVerified", 403,
                R"({"message":"Your email address is not verified."})", Kind::EmailNotVerified, ""},
        Refusal{"ForbiddenWithOutdatedAgreement", 403, R"({"reason":"dpa_outdated"})",
                Kind::AccountNotReady,
                "Die AVV wurde aktualisiert. Bitte bestätige die neue Fassung im Web in deinem "
                "Profil."},
        Refusal{
            "ForbiddenWithOpenRequirements", 403,
            R"({"message":"Profil unvollständig.","account_requirements":{"profile_complete":false}})",
            Kind::AccountNotReady, "Profil unvollständig."},
        Refusal{"Unauthorized", 401, R"({"message":"Unauthenticated."})", Kind::Http,
                R"(HTTP 401: {"message":"Unauthenticated."})"},
        Refusal{"TooManyAttempts", 429, R"({"message":"Too Many Attempts."})", Kind::Http,
                "Zu viele Anfragen in kurzer Zeit. Bitte warte kurz und versuche es erneut."},
        Refusal{"ServerError", 500, "<html>oops</html>", Kind::Http, "HTTP 500: <html>oops</html>"},
        Refusal{"WrongCredentials", 422, R"({"message":"These credentials do not match."})",
                Kind::Http, ""}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    TwoFactor, ApiClientSignInRefusal,
    ::testing::Values(
        twoFactor("FlagTrue", R"({"two_factor_required":true})"),
        plain422("FlagFalseWinsOverMessage",
                 R"({"two_factor_required":false,"message":"Two factor code required"})"),
        twoFactor("FlagNumberOne", R"({"two_factor_required":1})"),
        twoFactor("FlagOtherNonZeroNumber", R"({"two_factor_required":-3})"),
        plain422("FlagNumberZero", R"({"two_factor_required":0,"message":"2fa"})"),
        twoFactor("FlagTextTrueInCapitals", R"({"two_factor_required":"TRUE"})"),
        twoFactor("FlagTextYes", R"({"two_factor_required":"Yes"})"),
        twoFactor("FlagTextOne", R"({"two_factor_required":"1"})"),
        plain422("FlagTextWithLeadingBlank", R"({"two_factor_required":" TRUE"})"),
        plain422("FlagTextNoWinsOverMessage",
                 R"({"two_factor_required":"no","message":"Enter your 2FA code"})"),
        twoFactor("FlagNullFallsBackToMessage",
                  R"({"two_factor_required":null,"message":"Zwei-Faktor-Code fehlt"})"),
        twoFactor("FlagFractionFallsBackToMessage",
                  R"({"two_factor_required":0.5,"message":"two factor needed"})"),
        plain422("FlagListFallsBackToSilentMessage",
                 R"({"two_factor_required":[true],"message":"Invalid"})"),
        twoFactor("MessageTwoFactor", R"({"message":"Please enter your Two Factor code."})"),
        twoFactor("MessageZweiFaktor", R"({"message":"ZWEI-FAKTOR erforderlich"})"),
        twoFactor("Message2fa", R"({"message":"2FA required"})"),
        plain422("MessageNamingNoneOfThem", R"({"message":"The given data was invalid."})"),
        plain422("MessageNotText", R"({"message":["two factor"]})"),
        plain422("TopLevelList", R"(["two factor"])"), plain422("NotJson", "two factor"),
        plain422("BrokenDocument", R"({"two_factor_required":true,"a":"b":1}})"),
        plain422("Empty", "")),
    [](const auto& info) { return info.param.name; });

} // namespace
