// The sign-in roads through the real windows: panel item, popover, sign-in
// view, against the stand-in.

#include "e2e_ui/app_world.h"

#include "platform/keychain_thread.h"
#include "support/await.h"
#include "views/flow/login_view.h"
#include "views/kit/text_block.h"
#include "views/popover/recent_section.h"
#include "views/popover/today_card.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::e2e;

TEST(SignInRoad, FirstStartSignedOutThenThePasswordShowsTodayAndTheRecentTasks) {
    AppWorld world;
    world.launch();
    if (!step("first start", [&] {
            EXPECT_EQ(world.panelLabel(), "Orvane") << "signed out: never empty";
            world.clickPanelItem();
            ASSERT_TRUE(world.popoverShown());
            ASSERT_NE(world.loginView(), nullptr) << "the sign-in view";
            EXPECT_EQ(world.named<QLabel>("title")->text(), "Willkommen zurück.");
        }))
        return;
    if (!step("sign in with the password", [&] {
            world.type(world.named<QLineEdit>("email"), kDemoEmail);
            world.type(world.named<QLineEdit>("password"), kPassword);
            world.click(world.named<QAbstractButton>("signIn"));
            ASSERT_TRUE(test::eventuallyTrue([&] { return world.todayCard() != nullptr; }))
                << "the signed-in popover never showed";
            EXPECT_EQ(world.loginView(), nullptr);
            world.settle();
        }))
        return;
    if (!step("today's figures", [&] {
            // The demo day: 07:30 to 08:45 on a task at 110 €/h, of eight hours.
            const TodayFigures shown = world.todayCard()->figures();
            EXPECT_EQ(shown.total, "1:15");
            EXPECT_EQ(shown.target, "/ 8:00 Ziel");
            EXPECT_EQ(shown.counts, "1 Sessions · 1 Projekte");
            EXPECT_EQ(shown.billable, QString::fromUtf16(u"+137,50\u00a0€ abrechenbar"));
            EXPECT_EQ(world.panelLabel(), "01:15:00") << "today's total beside the icon";
        }))
        return;
    step("recent tasks", [&] {
        QStringList tasks;
        for (const RecentRow* row : world.recentRows())
            tasks << row->item().taskTitle;
        EXPECT_EQ(tasks, QStringList({"Fehlerbehebung", "Produktseiten",
                                      "Abstimmung mit dem Kunden", "Entwürfe", "Bildauswahl"}));
        ASSERT_FALSE(world.recentRows().empty());
        EXPECT_EQ(world.recentRows().front()->accessibleName(),
                  "A-0987 – Portal-Wartung, Fehlerbehebung, heute 1 Stunde 15");
    });
}

TEST(SignInRoad, TheTwoFactorAccountAsksForTheCodeAndSignsInWithIt) {
    AppWorld world;
    world.launch();
    world.openPopover();
    if (!step("password", [&] {
            world.type(world.named<QLineEdit>("email"), kTwoFactorEmail);
            world.type(world.named<QLineEdit>("password"), kPassword);
            world.click(world.named<QAbstractButton>("signIn"));
            ASSERT_TRUE(test::eventuallyTrue([&] { return world.named<QLineEdit>("code"); }))
                << "the code step never showed";
            EXPECT_EQ(world.named<QLabel>("title")->text(), "Zwei-Faktor-Authentifizierung");
            EXPECT_EQ(world.named<TextBlock>("pendingEmail")->text(), kTwoFactorEmail);
            EXPECT_EQ(world.named<QWidget>("codeError"), nullptr);
        }))
        return;
    step("code", [&] {
        world.type(world.named<QLineEdit>("code"), QStringLiteral("123456"));
        world.click(world.named<QAbstractButton>("confirmCode"));
        ASSERT_TRUE(test::eventuallyTrue([&] { return world.todayCard() != nullptr; }))
            << "the code did not sign in";
        world.settle();
        EXPECT_EQ(world.todayCard()->figures().target, "/ 6:00 Ziel") << "Jonas's schedule";
        EXPECT_EQ(world.panelLabel(), "00:00:00") << "nothing tracked today";
    });
}

TEST(SignInRoad, AWrongPasswordShowsTheGermanErrorUnderTheInputs) {
    AppWorld world;
    world.launch();
    world.openPopover();
    world.type(world.named<QLineEdit>("email"), kDemoEmail);
    world.type(world.named<QLineEdit>("password"), QStringLiteral("falsches-passwort"));
    world.click(world.named<QAbstractButton>("signIn"));
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.named<TextBlock>("credentialsError"); }))
        << "no error under the inputs";
    // The refusal as the service's error texts are read: status and body.
    const QString error = world.named<TextBlock>("credentialsError")->text();
    EXPECT_TRUE(error.startsWith("HTTP 422: ")) << error.toStdString();
    EXPECT_TRUE(error.contains("Diese Zugangsdaten sind uns nicht bekannt."))
        << error.toStdString();
    EXPECT_NE(world.loginView(), nullptr) << "still the sign-in view";
}

// The keyring daemon stops answering in the middle of a session: Orvane
// starts, signs in and answers as ever; only the remembering waits, and says
// when it gave up.
TEST(KeyringRoad, AKeyringThatStopsAnsweringHoldsUpNeitherTheStartNorTheSignIn) {
    AppWorld world;
    platform::KeychainThread& keyring = platform::KeychainThread::shared();
    keyring.setAnswerTime(2s);
    if (!step("signed in while the keyring answers", [&] {
            world.launch();
            world.signInThroughView(kDemoEmail);
        }))
        return;
    if (!step("the keyring stops; the next start shows the item at once", [&] {
            world.keychain().setHanging(true);
            world.quit();
            QElapsedTimer launching;
            launching.start();
            world.launch();
            EXPECT_LT(launching.elapsed(), keyring.answerTime().count() / 2);
            world.openPopover();
            EXPECT_NE(world.loginView(), nullptr) << "restored only when the keyring answers";
        }))
        return;
    if (!step("a sign-in opens at once and says it is not remembered", [&] {
            world.signInThroughView(kDemoEmail);
            ASSERT_NE(world.todayCard(), nullptr);
            QElapsedTimer clock;
            clock.start();
            qint64 lastTurn = 0;
            qint64 longestStall = 0;
            QTimer turns;
            turns.setInterval(10);
            QObject::connect(&turns, &QTimer::timeout, [&] {
                longestStall = std::max(longestStall, clock.elapsed() - lastTurn);
                lastTurn = clock.elapsed();
            });
            turns.start();
            const auto errorLine = [&] {
                auto* line = world.named<QWidget>("errorLine");
                auto* text = line ? line->findChild<TextBlock*>() : nullptr;
                return text ? text->text() : QString();
            };
            EXPECT_TRUE(test::eventuallyTrue([&] { return !errorLine().isEmpty(); }));
            EXPECT_EQ(errorLine(), "Schlüsselbund antwortet nicht. Die Anmeldung gilt nur bis "
                                   "zum Beenden von Orvane.");
            EXPECT_NE(world.todayCard(), nullptr) << "still signed in";
            EXPECT_LT(longestStall, keyring.answerTime().count() / 2)
                << "the popover stood still while the keyring was asked";
        }))
        return;
    step("a quit while the keyring is asked ends at once", [&] {
        world.quit();
        world.launch(); // its start-up read waits on the keyring
        world.quit();
        QElapsedTimer quitting;
        quitting.start();
        keyring.shutDown();
        EXPECT_LT(quitting.elapsed(), 3000);
        // The process goes on to its next case, which asks the keyring too.
        ASSERT_TRUE(keyring.reopen());
        auto asking = keyring.run<bool>([] { return true; });
        EXPECT_EQ(test::await(std::move(asking)), true);
    });
}
