#include "service/orvane_api_error.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace orvane;

namespace {

const char* const kProfileText = "Bitte vervollständige dein Profil im Web.";
const char* const kDpaRequiredText =
    "Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im Web in deinem Profil.";
const char* const kDpaOutdatedText =
    "Die AVV wurde aktualisiert. Bitte bestätige die neue Fassung im Web in deinem Profil.";
const char* const kGenericText =
    "Bitte schließe die offenen Schritte in deinem orvane-Konto im Web ab.";
const char* const kRateLimitText =
    "Zu viele Anfragen in kurzer Zeit. Bitte warte kurz und versuche es erneut.";

// Requirements as the service sends them, with one flag set.
AccountRequirements with(std::optional<bool> AccountRequirements::*flag, bool value) {
    AccountRequirements requirements;
    requirements.*flag = value;
    return requirements;
}

std::string describe(const OrvaneAPIError& error) {
    return error.errorDescription().toStdString();
}

} // namespace

TEST(ServiceError, EachKindDescribesItselfInGerman) {
    const DecodingError decodingError(DecodingError::Kind::TypeMismatch, "data.id",
                                      "Expected a string");
    const struct {
        OrvaneAPIError error;
        OrvaneAPIError::Kind kind;
        std::string expected;
    } cases[] = {
        {OrvaneAPIError::invalidURL(), OrvaneAPIError::Kind::InvalidURL, "Ungültige URL"},
        {OrvaneAPIError::noData(), OrvaneAPIError::Kind::NoData, "Keine Daten"},
        {OrvaneAPIError::twoFactorRequired(), OrvaneAPIError::Kind::TwoFactorRequired,
         "Zwei-Faktor-Authentifizierung erforderlich"},
        {OrvaneAPIError::emailNotVerified(), OrvaneAPIError::Kind::EmailNotVerified,
         "E-Mail ist nicht verifiziert"},
        {OrvaneAPIError::jobTimeAlreadyStopped(), OrvaneAPIError::Kind::JobTimeAlreadyStopped,
         "Diese Zeiterfassung wurde bereits beendet."},
        {OrvaneAPIError::message(" Sitzung abgelaufen "), OrvaneAPIError::Kind::Message,
         " Sitzung abgelaufen "},
        {OrvaneAPIError::accountNotReady(kProfileText, std::nullopt),
         OrvaneAPIError::Kind::AccountNotReady, kProfileText},
        {OrvaneAPIError::decoding(decodingError), OrvaneAPIError::Kind::Decoding,
         decodingError.localizedDescription().toStdString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.error.kind(), c.kind);
        EXPECT_EQ(describe(c.error), c.expected);
        EXPECT_EQ(c.error.localizedDescription().toStdString(), c.expected);
    }
    EXPECT_FALSE(decodingError.localizedDescription().isEmpty());
}

TEST(ServiceError, HttpShowsTheStatusAndTheBodyWhenItIsText) {
    const struct {
        int status;
        std::optional<QByteArray> body;
        std::string expected;
    } cases[] = {
        {429, std::nullopt, kRateLimitText},
        {429, QByteArray(R"({"message":"slow down"})"), kRateLimitText},
        {429, QByteArray("\xff"), kRateLimitText},
        {404, std::nullopt, "HTTP 404"},
        {500, QByteArray("oops"), "HTTP 500: oops"},
        {500, QByteArray(""), "HTTP 500: "},
        {502, QByteArray("  Grüße\n"), "HTTP 502:   Grüße\n"},
        {500, QByteArray("\xff\xfe\x00", 3), "HTTP 500"},
        {500, QByteArray("ok \xc3"), "HTTP 500"},
        {500, QByteArray("\xc0\xaf"), "HTTP 500"},
        {500, QByteArray("\xed\xa0\x80"), "HTTP 500"},
        {403, QByteArray("Gr\xfc\xdf"), "HTTP 403"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " +
                     (c.body ? c.body->toHex(' ').toStdString() : std::string("(no body)")));
        const OrvaneAPIError error = OrvaneAPIError::http(c.status, c.body);
        EXPECT_EQ(error.kind(), OrvaneAPIError::Kind::Http);
        EXPECT_EQ(error.statusCode(), c.status);
        EXPECT_EQ(error.body(), c.body);
        EXPECT_EQ(describe(error), c.expected);
    }
}

TEST(ServiceError, RefusalBodyNamesTheUnmetAccountRequirements) {
    using Req = AccountRequirements;
    const struct {
        const char* name;
        QByteArray body;
        std::optional<std::string> message; // none: the body is no account refusal
        std::optional<Req> requirements;
    } cases[] = {
        {"profile code", R"({"reason":"profile_incomplete"})", kProfileText, std::nullopt},
        {"dpa code", R"({"reason":"dpa_required"})", kDpaRequiredText, std::nullopt},
        {"outdated dpa code", R"({"reason":"dpa_outdated"})", kDpaOutdatedText, std::nullopt},
        {"code with own message", R"({"reason":"dpa_required","message":"Erst AVV."})", "Erst AVV.",
         std::nullopt},
        {"code with padded message", R"({"reason":"dpa_outdated","message":"  Neue AVV.\n "})",
         "Neue AVV.", std::nullopt},
        {"code with blank message", R"({"reason":"profile_incomplete","message":"  "})",
         kProfileText, std::nullopt},
        {"padded code", R"({"reason":" dpa_required\n"})", kDpaRequiredText, std::nullopt},
        {"code with requirements",
         R"({"reason":"profile_incomplete","account_requirements":{"profile_complete":false}})",
         kProfileText, with(&Req::profileComplete, false)},
        {"code with ready requirements",
         R"({"reason":"dpa_required","account_requirements":{"ready":true}})", kDpaRequiredText,
         with(&Req::ready, true)},
        {"code in other case", R"({"reason":"DPA_REQUIRED"})", std::nullopt, std::nullopt},
        {"code in other case with requirements",
         R"({"reason":"DPA_REQUIRED","account_requirements":{"dpa_signed":false}})", kGenericText,
         with(&Req::dpaSigned, false)},
        {"unknown code with requirements",
         R"({"reason":"suspended","message":"Gesperrt.","accountRequirements":{"dpaOutdated":true}})",
         "Gesperrt.", with(&Req::dpaOutdated, true)},
        {"requirements needing action",
         R"({"message":" AVV fehlt ","account_requirements":{"dpa_signed":false}})", "AVV fehlt",
         with(&Req::dpaSigned, false)},
        {"requirements needing action, blank message",
         R"({"message":"","account_requirements":{"dpa_signed":false}})", kGenericText,
         with(&Req::dpaSigned, false)},
        {"ready requirements",
         R"({"message":"AVV fehlt","account_requirements":{"dpa_signed":false,"ready":true}})",
         std::nullopt, std::nullopt},
        {"requirements without action",
         R"({"account_requirements":{"profile_complete":true,"dpa_signed":true}})", std::nullopt,
         std::nullopt},
        {"number message, numeric flag",
         R"({"message":42,"account_requirements":{"profile_complete":0}})", kGenericText,
         with(&Req::profileComplete, false)},
        {"text requirements beside object requirements",
         R"({"account_requirements":"pending","accountRequirements":{"dpa_signed":false}})",
         kGenericText, with(&Req::dpaSigned, false)},
        {"text requirements only", R"({"account_requirements":"pending"})", std::nullopt,
         std::nullopt},
        {"message only", R"({"message":"Forbidden"})", std::nullopt, std::nullopt},
        {"empty object", "{}", std::nullopt, std::nullopt},
        {"empty body", "", std::nullopt, std::nullopt},
        {"html", "<html><body>403 Forbidden</body></html>", std::nullopt, std::nullopt},
        {"json array", R"([{"reason":"dpa_required"}])", std::nullopt, std::nullopt},
        {"broken document", R"({"reason":"dpa_required","a":"b":1}})", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<OrvaneAPIError> error = accountNotReadyError(c.body);
        ASSERT_EQ(error.has_value(), c.message.has_value());
        if (!error)
            continue;
        EXPECT_EQ(error->kind(), OrvaneAPIError::Kind::AccountNotReady);
        EXPECT_EQ(error->messageText().toStdString(), *c.message);
        EXPECT_EQ(describe(*error), *c.message);
        EXPECT_TRUE(error->requirements() == c.requirements);
    }
}
