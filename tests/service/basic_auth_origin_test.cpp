#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/temp_user_defaults.h"

#include <gtest/gtest.h>

using namespace orvane;
using orvane::test::FakeResponse;
using orvane::test::FakeService;

// The service behind a basic-auth gate, and a stranger on another port that
// asks every visitor for a pair of its own: directly (a photo elsewhere) or
// after the service redirected there (a photo path, an API call).
TEST(BasicAuthStaysHome, AStrangerThatAsksGetsNeitherPairNorTokenWhileTheServiceGetsItsPair) {
    test::TempUserDefaults defaults;
    FakeService service, stranger;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    defaults->setString(OrvaneAPIConfig::kBasicUserKey, "stage");
    defaults->setString(OrvaneAPIConfig::kBasicPasswordKey, "secret");
    service.requireBasicAuth("stage", "secret");
    stranger.requireBasicAuth("stranger", "theirs");
    for (const char* path : {"/storage/ada.png", "/api/user", "/api/auth/logout"}) {
        FakeResponse moved = FakeResponse::json(302, "");
        moved.headers = {{"Location", stranger.baseURL().toStdString() + path}};
        service.on(path == std::string("/api/auth/logout") ? "POST" : "GET", path, moved);
    }
    // Ports are reused between tests: nothing an earlier one left counts.
    OrvaneAPIClient::session().manager().clearAccessCache();
    OrvaneAPIClient client;
    // A second round comes after the service accepted the pair, when Qt would
    // send it along unasked.
    for (const char* token : {"", "tok-1", "tok-1"}) {
        client.setToken(QString::fromLatin1(token));
        const QUrl photos[] = {QUrl(stranger.baseURL() + "/ada.png"),
                               QUrl(service.baseURL() + "/storage/ada.png")};
        for (const QUrl& photo : photos)
            EXPECT_EQ(test::await(client.fetchImageData(photo, true)).response.httpStatus, 401);
        EXPECT_ANY_THROW(test::await(client.fetchCurrentUser()));
        EXPECT_ANY_THROW(test::await(client.logout()));
    }
    OrvaneAPIClient::session().manager().clearAccessCache();

    EXPECT_EQ(stranger.requestCount(), 12u);
    for (const auto& r : stranger.requests())
        EXPECT_EQ(r.header("Authorization"), std::nullopt) << r.method << " " << r.path;
    int pairs = 0;
    for (const auto& r : service.requests())
        pairs += r.header("Authorization") == "Basic c3RhZ2U6c2VjcmV0"; // "stage:secret"
    EXPECT_GE(pairs, 9);
}
