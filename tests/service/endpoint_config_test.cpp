#include "service/orvane_api_config.h"
#include "support/temp_user_defaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace orvane;
using platform::AuthChallenge;
using platform::AuthChallengeDisposition;
using platform::Credential;

namespace {

const QJsonValue kMissing = QJsonValue(QJsonValue::Undefined);

std::string describe(const QJsonValue& value) {
    if (value.isUndefined())
        return "(missing)";
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).toStdString();
}

class EndpointConfig : public ::testing::Test {
protected:
    void store(const char* key, const QJsonValue& value) {
        if (value.isUndefined())
            defaults->remove(key);
        else
            defaults->set(key, value);
    }

    struct Answer {
        int calls = 0;
        std::optional<AuthChallengeDisposition> disposition;
        std::optional<Credential> credential;
    };

    // A demand from `url`; from the configured service when none is given.
    static Answer answer(const QString& method, int previousFailureCount = 0,
                         std::optional<QUrl> url = std::nullopt) {
        const AuthChallenge challenge{
            method, QStringLiteral("staging"),
            url.value_or(QUrl(OrvaneAPIConfig::baseURLString() + QStringLiteral("/api/user"))),
            previousFailureCount};
        Answer a;
        answerBasicAuthChallenge(challenge, [&a](AuthChallengeDisposition disposition,
                                                 std::optional<Credential> credential) {
            ++a.calls;
            a.disposition = disposition;
            a.credential = std::move(credential);
        });
        return a;
    }

    // The password a first Basic demand is answered with; empty when none is sent.
    static std::string sentPassword() {
        return answer("Basic").credential.value_or(Credential{}).password.toStdString();
    }

    test::TempUserDefaults defaults;
};

} // namespace

TEST_F(EndpointConfig, BuiltInBaseURLIsAnHttpsHostWithoutPath) {
    const QUrl url(OrvaneAPIConfig::builtInBaseURL());
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_FALSE(url.host().isEmpty());
    EXPECT_TRUE(url.path().isEmpty());
    EXPECT_FALSE(OrvaneAPIConfig::builtInBaseURL().endsWith('/'));
}

TEST_F(EndpointConfig, BaseURLIsTheStoredTextWithoutBlanksAndSlashesAtItsEnds) {
    const QString builtIn = OrvaneAPIConfig::builtInBaseURL();
    const struct {
        QJsonValue stored;
        QString expected;
    } cases[] = {
        {kMissing, builtIn},
        {QJsonValue::Null, builtIn},
        {"", builtIn},
        {" \t\n ", builtIn},
        {"https://stage.example.test", "https://stage.example.test"},
        {"  https://stage.example.test/  ", "https://stage.example.test"},
        {"\nhttps://stage.example.test///\n", "https://stage.example.test"},
        {"https://stage.example.test/tenant/", "https://stage.example.test/tenant"},
        {"//stage.example.test/", "stage.example.test"},
        {" /https://stage.example.test", "https://stage.example.test"},
        {"/", ""},
        {" /// ", ""},
        {8080, "8080"},
        {2.5, "2.5"},
        {true, builtIn},
        {QJsonArray{"https://stage.example.test"}, builtIn},
        {QJsonObject{{"url", "https://stage.example.test"}}, builtIn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        store(OrvaneAPIConfig::kBaseURLKey, c.stored);
        EXPECT_EQ(OrvaneAPIConfig::baseURLString().toStdString(), c.expected.toStdString());
    }
}

TEST_F(EndpointConfig, UserIsTrimmedAndPasswordKeepsItsBlanks) {
    const struct {
        QJsonValue stored;
        std::string user;
        std::string password;
    } cases[] = {
        {kMissing, "", ""},
        {"", "", ""},
        {"  stage \n", "stage", "  stage \n"},
        {"   ", "", "   "},
        {4711, "4711", "4711"},
        {false, "", ""},
        {QJsonArray{"stage"}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.stored));
        store(OrvaneAPIConfig::kBasicUserKey, c.stored);
        store(OrvaneAPIConfig::kBasicPasswordKey, c.stored);
        EXPECT_EQ(OrvaneAPIConfig::basicAuthUser().toStdString(), c.user);
        EXPECT_EQ(OrvaneAPIConfig::basicAuthPassword().toStdString(), c.password);
    }
}

TEST_F(EndpointConfig, ChangedSettingsCountFromTheNextAccess) {
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, "https://one.example.test");
    defaults->setString(OrvaneAPIConfig::kBasicUserKey, "stage");
    defaults->setString(OrvaneAPIConfig::kBasicPasswordKey, "first");
    ASSERT_EQ(OrvaneAPIConfig::baseURLString().toStdString(), "https://one.example.test");
    ASSERT_EQ(sentPassword(), "first");

    // The user edits the file while the application runs.
    platform::UserDefaults editor(defaults.path());
    editor.setString(OrvaneAPIConfig::kBaseURLKey, "https://two.example.test/");
    editor.setString(OrvaneAPIConfig::kBasicPasswordKey, "second");
    EXPECT_EQ(OrvaneAPIConfig::baseURLString().toStdString(), "https://two.example.test");
    EXPECT_EQ(sentPassword(), "second");

    editor.remove(OrvaneAPIConfig::kBaseURLKey);
    editor.remove(OrvaneAPIConfig::kBasicUserKey);
    EXPECT_EQ(OrvaneAPIConfig::baseURLString().toStdString(),
              OrvaneAPIConfig::builtInBaseURL().toStdString());
    EXPECT_EQ(answer("Basic").disposition, AuthChallengeDisposition::PerformDefaultHandling);
}

TEST_F(EndpointConfig, ChallengeIsAnsweredWithTheConfiguredPairOnlyForAFirstBasicDemand) {
    const auto useCredential = AuthChallengeDisposition::UseCredential;
    const auto byDefault = AuthChallengeDisposition::PerformDefaultHandling;
    const struct {
        const char* method;
        int previousFailureCount;
        QJsonValue user;
        QJsonValue password;
        AuthChallengeDisposition expected;
        const char* sentUser;
        const char* sentPassword;
    } cases[] = {
        {"Basic", 0, "stage", "secret", useCredential, "stage", "secret"},
        {"Basic", 0, "  stage ", " secret ", useCredential, "stage", " secret "},
        {"Basic", 0, 42, 1234, useCredential, "42", "1234"},
        {"Basic", 0, kMissing, kMissing, byDefault, nullptr, nullptr},
        {"Basic", 0, "stage", kMissing, byDefault, nullptr, nullptr},
        {"Basic", 0, "stage", "", byDefault, nullptr, nullptr},
        {"Basic", 0, kMissing, "secret", byDefault, nullptr, nullptr},
        {"Basic", 0, "   ", "secret", byDefault, nullptr, nullptr},
        {"Basic", 1, "stage", "secret", byDefault, nullptr, nullptr},
        {"Basic", 3, "stage", "secret", byDefault, nullptr, nullptr},
        {"Digest", 0, "stage", "secret", byDefault, nullptr, nullptr},
        {"NTLM", 0, "stage", "secret", byDefault, nullptr, nullptr},
        {"Negotiate", 0, "stage", "secret", byDefault, nullptr, nullptr},
        {"ServerTrust", 0, "stage", "secret", byDefault, nullptr, nullptr},
        {"", 0, "stage", "secret", byDefault, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " after " + std::to_string(c.previousFailureCount) +
                     " failures, user " + describe(c.user) + ", password " + describe(c.password));
        store(OrvaneAPIConfig::kBasicUserKey, c.user);
        store(OrvaneAPIConfig::kBasicPasswordKey, c.password);
        const Answer a = answer(c.method, c.previousFailureCount);
        EXPECT_EQ(a.calls, 1) << "completion runs exactly once, before the answer returns";
        EXPECT_EQ(a.disposition, c.expected);
        ASSERT_EQ(a.credential.has_value(), c.sentUser != nullptr);
        if (a.credential) {
            EXPECT_EQ(a.credential->user.toStdString(), c.sentUser);
            EXPECT_EQ(a.credential->password.toStdString(), c.sentPassword);
        }
    }
}

TEST_F(EndpointConfig, OnlyTheConfiguredServicesOwnOriginGetsThePair) {
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, "http://stage.test:8080");
    defaults->setString(OrvaneAPIConfig::kBasicUserKey, "stage");
    defaults->setString(OrvaneAPIConfig::kBasicPasswordKey, "secret");
    for (const char* asking :
         {"http://stage.test:8081/", "https://stage.test:8080/", "http://x.test:8080/"})
        EXPECT_FALSE(answer("Basic", 0, QUrl(asking)).credential) << asking;
    EXPECT_TRUE(answer("Basic", 0, QUrl("http://STAGE.test:8080/a.png")).credential);
}
