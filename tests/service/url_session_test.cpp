#include "service/orvane_api_config.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/temp_user_defaults.h"

#include <QNetworkReply>

#include <gtest/gtest.h>

using namespace orvane;
using orvane::test::FakeResponse;
using orvane::test::FakeService;

namespace {

struct Answer {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    bool timedOut = false;
};

Answer get(platform::HttpSession& session, const QString& url) {
    QNetworkReply* reply = session.send(QNetworkRequest(QUrl(url)), "GET");
    QObject::connect(reply, &QNetworkReply::finished, [] {});
    test::eventuallyTrue([&] { return reply->isFinished(); });
    Answer a{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->error(),
             platform::HttpSession::timedOut(reply)};
    reply->deleteLater();
    return a;
}

std::vector<std::string> authorizations(const FakeService& service) {
    std::vector<std::string> out;
    for (const auto& r : service.requests())
        out.push_back(r.header("Authorization").value_or(""));
    return out;
}

class BasicAuthOverHttp : public ::testing::Test {
protected:
    void SetUp() override {
        defaults->setString("orvane_api_base_url", service.baseURL());
        service.requireBasicAuth("stage", " secret ");
        service.on("GET", "/api/user", FakeResponse::json(200, R"({"ok":true})"));
    }
    test::TempUserDefaults defaults;
    FakeService service;
};

} // namespace

TEST_F(BasicAuthOverHttp, ConfiguredPairAnswersTheChallengeOnce) {
    defaults->setString("orvane_http_basic_user", "  stage ");
    defaults->setString("orvane_http_basic_password", " secret ");
    // A session of its own, so that no earlier test's accepted pair is cached.
    platform::HttpSession session({}, &answerBasicAuthChallenge);
    const Answer a = get(session, service.baseURL() + "/api/user");
    EXPECT_EQ(a.status, 200);
    const auto sent = authorizations(service);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "");
    EXPECT_EQ(sent[1], "Basic c3RhZ2U6IHNlY3JldCA="); // "stage: secret "
}

TEST_F(BasicAuthOverHttp, RejectedPairIsNotSentAgain) {
    defaults->setString("orvane_http_basic_user", "stage");
    defaults->setString("orvane_http_basic_password", "wrong");
    platform::HttpSession session({}, &answerBasicAuthChallenge);
    const Answer a = get(session, service.baseURL() + "/api/user");
    EXPECT_EQ(a.status, 401);
    EXPECT_EQ(service.requestCount(), 2u); // the bare request and one answer, no more
}

TEST_F(BasicAuthOverHttp, IncompletePairGetsTheHostsStatus) {
    defaults->setString("orvane_http_basic_user", "stage");
    platform::HttpSession session({}, &answerBasicAuthChallenge);
    const Answer a = get(session, service.baseURL() + "/api/user");
    EXPECT_EQ(a.status, 401);
    EXPECT_EQ(service.requestCount(), 1u);
}

TEST(UrlSessionTimeouts, SilentHostIsAbortedAsTimedOut) {
    FakeService service;
    FakeResponse slow = FakeResponse::json(200, "{}");
    slow.delay = std::chrono::milliseconds(900);
    service.on("GET", "/slow", slow);
    platform::HttpSession session({std::chrono::milliseconds(200), std::chrono::seconds(5)}, {});
    const Answer a = get(session, service.baseURL() + "/slow");
    EXPECT_TRUE(a.timedOut);
    EXPECT_EQ(a.status, 0);
}

TEST(UrlSessionTimeouts, WholeRequestLimitHoldsEvenWhileDataFlows) {
    FakeService service;
    FakeResponse slow = FakeResponse::json(200, "{}");
    slow.delay = std::chrono::milliseconds(900);
    service.on("GET", "/slow", slow);
    platform::HttpSession session({std::chrono::seconds(5), std::chrono::milliseconds(200)}, {});
    EXPECT_TRUE(get(session, service.baseURL() + "/slow").timedOut);
}

TEST(UrlSessionTimeouts, PromptAnswerIsNotTimedOut) {
    FakeService service;
    service.on("GET", "/fast", FakeResponse::json(204, ""));
    platform::HttpSession session({std::chrono::milliseconds(500), std::chrono::seconds(1)}, {});
    const Answer a = get(session, service.baseURL() + "/fast");
    EXPECT_FALSE(a.timedOut);
    EXPECT_EQ(a.status, 204);
}
