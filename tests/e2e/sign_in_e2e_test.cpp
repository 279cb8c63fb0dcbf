#include "e2e_world.h"

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::e2e;

TEST(SignInEndToEnd, PasswordSignInLoadsTheAccountAndKeepsTheToken) {
    World world;
    world.signIn();
    AppStore& store = world.store();
    ASSERT_TRUE(store.isLoggedIn()) << store.loginError().value_or("no message").toStdString();
    ASSERT_TRUE(store.currentUser());
    EXPECT_EQ(store.currentUser()->email, kDemoEmail);
    EXPECT_EQ(store.currentUser()->initials(), QStringLiteral("LH"));
    EXPECT_EQ(store.todayTargetSecs(), 8 * 3600) << "a Wednesday of an 8-hour schedule";
    EXPECT_FALSE(store.loginError());
    EXPECT_EQ(world.storedToken(), store.api().currentToken()) << "the keyring holds the token";

    SCOPED_TRACE("profile photo");
    const auto url = store.currentUser()->profilePhotoURL();
    ASSERT_TRUE(url);
    const std::optional<QImage> photo = test::await(store.loadAvatarImage(*url));
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->size(), QSize(96, 96));
}

TEST(SignInEndToEnd, WrongPasswordShowsTheServicesAnswer) {
    World world;
    test::await(world.store().login(kDemoEmail, QStringLiteral("falsch"), std::nullopt));
    EXPECT_FALSE(world.store().isLoggedIn());
    EXPECT_TRUE(world.store().loginError().value_or("").contains(
        QStringLiteral("Diese Zugangsdaten sind uns nicht bekannt.")))
        << world.store().loginError().value_or("no message").toStdString();
    EXPECT_FALSE(world.storedToken());
}

TEST(SignInEndToEnd, TwoFactorStepAsksForTheCodeAndAcceptsTheDemoCode) {
    World world;
    AppStore& store = world.store();
    {
        SCOPED_TRACE("password step");
        world.signIn(kTwoFactorEmail);
        EXPECT_FALSE(store.isLoggedIn());
        EXPECT_EQ(store.twoFactorPendingEmail(), kTwoFactorEmail);
        EXPECT_FALSE(store.loginError());
    }
    {
        SCOPED_TRACE("wrong code");
        test::await(store.login(QString(), QString(), QStringLiteral("000000")));
        EXPECT_FALSE(store.isLoggedIn());
        EXPECT_TRUE(store.loginError()) << "a refused code is shown";
        EXPECT_EQ(store.twoFactorPendingEmail(), kTwoFactorEmail) << "the code step stays open";
    }
    {
        SCOPED_TRACE("demo code");
        test::await(
            store.login(QString(), QString(), QString::fromLatin1(dev::DevService::kDemoCode)));
        world.settle();
        EXPECT_TRUE(store.isLoggedIn()) << store.loginError().value_or("no message").toStdString();
        EXPECT_FALSE(store.twoFactorPendingEmail());
        ASSERT_TRUE(store.currentUser());
        EXPECT_EQ(store.currentUser()->email, kTwoFactorEmail);
        EXPECT_FALSE(store.clients().empty());
    }
}

TEST(SignInEndToEnd, NextStartSignsInWithTheTokenFromTheKeyring) {
    World world;
    world.signIn();
    ASSERT_TRUE(world.store().isLoggedIn());
    const std::optional<QString> token = world.store().api().currentToken();
    world.restart();

    AppStore& next = world.store();
    ASSERT_TRUE(world.spinUntil([&] { return next.isLoggedIn(); }))
        << "the restore from the keyring token never signed in";
    world.settle();
    ASSERT_TRUE(next.currentUser());
    EXPECT_EQ(next.currentUser()->email, kDemoEmail);
    EXPECT_EQ(next.api().currentToken(), token);
    EXPECT_TRUE(world.spinUntil([&] { return next.clients().size() == 4u; }))
        << "the restore loads the clients too";
    EXPECT_TRUE(world.spinUntil([&] { return !next.recentTasks().empty(); }))
        << "and the recent tasks";
}

TEST(SignInEndToEnd, ClientsListIsTheServicesClients) {
    World world;
    world.signIn();
    QStringList names;
    for (const ClientDTO& client : world.store().clients())
        names << client.companyName.value_or(QString());
    EXPECT_EQ(names, QStringList({"Atelier Kranich", "Bäckerei Sonnenschein",
                                  "Nordlicht Design GmbH", "Stadtwerke Havelberg"}));
    EXPECT_FALSE(world.store().clientsFetchError());
}

TEST(SignInEndToEnd, AccountThatIsNotReadySignsInButGetsNoWork) {
    World world;
    world.signIn(kNotReadyEmail);
    AppStore& store = world.store();
    ASSERT_TRUE(store.isLoggedIn());
    ASSERT_TRUE(store.currentUser() && store.currentUser()->accountRequirements);
    EXPECT_FALSE(store.currentUser()->accountRequirements->isReady());
    EXPECT_TRUE(store.clients().empty());
    EXPECT_EQ(store.clientsFetchError(),
              QStringLiteral("Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im Web "
                             "in deinem Profil."));
    EXPECT_TRUE(store.startGateRefuses());
}

TEST(SignInEndToEnd, SignOutForgetsTheAccountAndTheNextStartStaysSignedOut) {
    World world;
    world.signIn();
    AppStore& store = world.store();
    const Pick pick = world.pick(QStringLiteral("Nordlicht Design GmbH"),
                                 QStringLiteral("Logo-Überarbeitung"), QStringLiteral("Entwürfe"));
    ASSERT_TRUE(test::await(store.requestStart(pick.client, pick.job, pick.task)));
    world.settle();

    store.signOut();
    EXPECT_FALSE(store.isLoggedIn());
    EXPECT_FALSE(store.currentUser());
    EXPECT_TRUE(store.sessions().empty());
    EXPECT_TRUE(store.clients().empty());
    EXPECT_TRUE(store.recentTasks().empty());
    EXPECT_FALSE(store.tickActive());
    EXPECT_FALSE(world.storedToken());

    world.restart();
    test::spin(300ms);
    EXPECT_FALSE(world.store().isLoggedIn()) << "nothing left to restore";
}

TEST(SignInEndToEnd, TokenEndedOnTheServiceIsDroppedAtTheNextStart) {
    World world;
    world.signIn();
    test::await(world.store().api().logout());
    world.restart();

    AppStore& next = world.store();
    ASSERT_TRUE(world.spinUntil([&] { return !world.storedToken(); }))
        << "the refused token stayed in the keyring";
    EXPECT_FALSE(next.isLoggedIn());
}

TEST(SignInEndToEnd, SignInThroughTheBasicAuthGate) {
    dev::DevServiceOptions options;
    options.basicAuth = std::pair(QStringLiteral("stage"), QStringLiteral("secret"));
    World world(options);
    world.defaults().setString(QStringLiteral("orvane_http_basic_user"), QStringLiteral("stage"));
    world.defaults().setString(QStringLiteral("orvane_http_basic_password"),
                               QStringLiteral("secret"));
    world.signIn();
    EXPECT_TRUE(world.store().isLoggedIn())
        << world.store().loginError().value_or("").toStdString();
    EXPECT_EQ(world.store().clients().size(), 4u);
}
