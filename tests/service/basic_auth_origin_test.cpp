#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/temp_user_defaults.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvane;
using orvane::test::FakeResponse;
using orvane::test::FakeService;

namespace {

const std::string kServicePair = "Basic c3RhZ2U6c2VjcmV0"; // "stage:secret"

FakeResponse movedTo(const std::string& location) {
    FakeResponse moved = FakeResponse::json(302, "");
    moved.headers = {{"Location", location}};
    return moved;
}

// The configured service behind a basic-auth gate, and a stranger on another
// port that asks every visitor for a basic-auth pair of its own.
class BasicAuthStaysHome : public ::testing::Test {
protected:
    void SetUp() override {
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
        defaults->setString(OrvaneAPIConfig::kBasicUserKey, "stage");
        defaults->setString(OrvaneAPIConfig::kBasicPasswordKey, "secret");
        service.requireBasicAuth("stage", "secret");
        stranger.requireBasicAuth("stranger", "theirs");
        // Ports are reused between tests: nothing a former test left in the
        // shared session counts here.
        OrvaneAPIClient::session().manager().clearAccessCache();
    }
    void TearDown() override { OrvaneAPIClient::session().manager().clearAccessCache(); }

    std::string strangerURL(const std::string& path) const {
        return stranger.baseURL().toStdString() + path;
    }
    // Every Authorization header the stranger was sent; empty when none.
    std::vector<std::string> sentToStranger() const {
        std::vector<std::string> out;
        for (const auto& r : stranger.requests())
            if (const auto value = r.header("Authorization"))
                out.push_back(*value);
        return out;
    }
    int servicePairsSeen() const {
        int n = 0;
        for (const auto& r : service.requests())
            n += r.header("Authorization") == kServicePair;
        return n;
    }

    test::TempUserDefaults defaults;
    FakeService service;
    FakeService stranger;
    OrvaneAPIClient client;
};

} // namespace

TEST_F(BasicAuthStaysHome, PhotoOnAnotherHostThatAsksGetsNoPair) {
    const QUrl photo(stranger.baseURL() + QStringLiteral("/ada.png"));
    for (const bool withToken : {false, true}) {
        SCOPED_TRACE(withToken);
        client.setToken(withToken ? std::optional<QString>(QStringLiteral("tok-1")) : std::nullopt);
        const ImageDataResult result = test::await(client.fetchImageData(photo, true));
        EXPECT_EQ(result.response.httpStatus, 401);
    }
    EXPECT_GE(stranger.requestCount(), 2u);
    EXPECT_EQ(sentToStranger(), std::vector<std::string>{});
}

TEST_F(BasicAuthStaysHome, PhotoPathOnTheServiceThatRedirectsElsewhereLeavesThePairBehind) {
    service.on("GET", "/storage/ada.png", movedTo(strangerURL("/cdn/ada.png")));
    const QUrl photo(service.baseURL() + QStringLiteral("/storage/ada.png"));
    for (const bool withToken : {false, true}) {
        SCOPED_TRACE(withToken);
        client.setToken(withToken ? std::optional<QString>(QStringLiteral("tok-1")) : std::nullopt);
        const ImageDataResult result = test::await(client.fetchImageData(photo, true));
        EXPECT_EQ(result.response.httpStatus, 401) << "the stranger's own answer";
    }
    EXPECT_GE(servicePairsSeen(), 1) << "the service still gets its pair";
    EXPECT_GE(stranger.requestCount(), 2u);
    EXPECT_EQ(sentToStranger(), std::vector<std::string>{});
}

TEST_F(BasicAuthStaysHome, ApiCallRedirectedToAnotherPortCarriesNeitherPairNorToken) {
    service.on("GET", "/api/user", movedTo(strangerURL("/api/user")));
    service.on("POST", "/api/auth/logout", movedTo(strangerURL("/api/auth/logout")));
    // Signed out (the sign-in road) and signed in; the second and third round
    // come after the service accepted the pair, when Qt would send it unasked.
    for (const bool withToken : {false, true, true}) {
        SCOPED_TRACE(withToken);
        client.setToken(withToken ? std::optional<QString>(QStringLiteral("tok-1")) : std::nullopt);
        EXPECT_ANY_THROW(test::await(client.fetchCurrentUser()));
        EXPECT_ANY_THROW(test::await(client.logout()));
    }
    EXPECT_GE(servicePairsSeen(), 6);
    EXPECT_GE(stranger.requestCount(), 6u);
    EXPECT_EQ(sentToStranger(), std::vector<std::string>{});
}
