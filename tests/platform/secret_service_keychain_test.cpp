// libsecret's headers must come before any Qt header.
#include <libsecret/secret.h>

#include "platform/keychain_thread.h"
#include "platform/secret_service_keychain.h"
#include "support/await.h"
#include "support/keychain_scope.h"
#include "support/private_bus.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <atomic>

using namespace orvane::platform;

// Comes first: the session bus connection, once made, is kept for the process.
TEST(SecretServiceKeychainWithoutBus, AnswersAtOnceInsteadOfPrompting) {
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/orvane-test-bus");
    SecretServiceKeychain keychain;
    QByteArray read;
    const OSStatus status = keychain.copyMatching({"app.orvane.test", "x", std::nullopt}, &read);
    qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    EXPECT_EQ(status, KeychainStatus::InteractionNotAllowed);
}

namespace {

class SecretServiceKeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!SecretServiceKeychain::serviceAvailable())
            GTEST_SKIP() << "No Secret Service on the session bus; run through scripts/test, "
                            "which starts an unlocked gnome-keyring";
    }
    void TearDown() override {
        for (const bool sync : {false, true})
            keychain.remove({service, "tester", sync});
    }

    SecretServiceKeychain keychain;
    // Items of one test never meet those of another, or of a real session.
    const QString service =
        QStringLiteral("app.orvane.test.") + QUuid::createUuid().toString(QUuid::WithoutBraces);
};

} // namespace

TEST_F(SecretServiceKeychainTest, StoresReadsAndDeletesBinaryValues) {
    const QByteArray value("tok\xff\x00en", 7);
    ASSERT_EQ(keychain.add({service, "tester", value, false}), KeychainStatus::Success);
    QByteArray read;
    ASSERT_EQ(keychain.copyMatching({service, "tester", std::nullopt}, &read),
              KeychainStatus::Success);
    EXPECT_EQ(read, value);
    EXPECT_EQ(keychain.remove({service, "tester", std::nullopt}), KeychainStatus::Success);
    EXPECT_EQ(keychain.copyMatching({service, "tester", std::nullopt}, &read),
              KeychainStatus::ItemNotFound);
    EXPECT_EQ(keychain.remove({service, "tester", std::nullopt}), KeychainStatus::ItemNotFound);
}

TEST_F(SecretServiceKeychainTest, SecondAddOfTheSameItemIsADuplicate) {
    ASSERT_EQ(keychain.add({service, "tester", "one", false}), KeychainStatus::Success);
    EXPECT_EQ(keychain.add({service, "tester", "two", false}), KeychainStatus::DuplicateItem);
    QByteArray read;
    ASSERT_EQ(keychain.copyMatching({service, "tester", false}, &read), KeychainStatus::Success);
    EXPECT_EQ(read, "one");
}

TEST_F(SecretServiceKeychainTest, AValueFarBeyondAnySecretOfOursReadsAsInvalid) {
    const std::pair<qsizetype, OSStatus> cases[] = {
        {64 * 1024, KeychainStatus::Success},
        {64 * 1024 + 1, KeychainStatus::InvalidItem},
        {8 * 1024 * 1024, KeychainStatus::InvalidItem},
    };
    for (const auto& [size, status] : cases) {
        SCOPED_TRACE(size);
        const QByteArray value(size, 'x');
        ASSERT_EQ(keychain.add({service, "tester", value, false}), KeychainStatus::Success);
        QByteArray read("before");
        EXPECT_EQ(keychain.copyMatching({service, "tester", std::nullopt}, &read), status);
        EXPECT_EQ(read, status == KeychainStatus::Success ? value : QByteArray("before"));
        ASSERT_EQ(keychain.remove({service, "tester", std::nullopt}), KeychainStatus::Success);
    }
}

TEST_F(SecretServiceKeychainTest, SynchronizableItemsAreKeptApart) {
    ASSERT_EQ(keychain.add({service, "tester", "synced", true}), KeychainStatus::Success);
    QByteArray read;
    // Without the flag, and with it false, only local items match.
    EXPECT_EQ(keychain.copyMatching({service, "tester", std::nullopt}, &read),
              KeychainStatus::ItemNotFound);
    EXPECT_EQ(keychain.remove({service, "tester", false}), KeychainStatus::ItemNotFound);
    ASSERT_EQ(keychain.copyMatching({service, "tester", true}, &read), KeychainStatus::Success);
    EXPECT_EQ(read, "synced");
    EXPECT_EQ(keychain.remove({service, "tester", true}), KeychainStatus::Success);
}

// A Secret Service that owns its name but never answers (hung, or stopped):
// the keyring's thread waits for it, the interface thread does not.
TEST(SecretServiceKeychainNotAnswering, IsGivenUpAfterItsTimeWhileTheInterfaceGoesOn) {
    orvane::test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    // Owns the name and drops every call that reaches it, unanswered.
    GDBusConnection* keyring = g_dbus_connection_new_for_address_sync(
        bus.address().toUtf8().constData(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(keyring, nullptr);
    g_dbus_connection_set_exit_on_close(keyring, FALSE);
    g_dbus_connection_add_filter(
        keyring,
        [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) -> GDBusMessage* {
            if (!incoming ||
                g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
                return message;
            g_object_unref(message);
            return nullptr;
        },
        nullptr, nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        keyring, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.secrets", 0u), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    ASSERT_NE(owned, nullptr);
    g_variant_unref(owned);
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    // The process keeps its first session connection: ctest runs each case
    // alone, a whole run of the binary may have made it already.
    GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    const bool onPrivateBus =
        session && bus.address().contains(QStringLiteral("guid=") +
                                          QString::fromLatin1(g_dbus_connection_get_guid(session)));
    if (session)
        g_dbus_connection_set_exit_on_close(session, FALSE); // the bus goes with the test
    const auto cleanUp = qScopeGuard([&] {
        if (session)
            g_object_unref(session);
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
        g_dbus_connection_close_sync(keyring, nullptr, nullptr);
        g_object_unref(keyring);
    });
    if (!onPrivateBus)
        GTEST_SKIP() << "The session connection was made before; run this case alone";

    SecretServiceKeychain keychain;
    Keychain::overrideShared(&keychain);
    KeychainThread& thread = KeychainThread::shared();
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 lastTurn = 0;
    qint64 longestStall = 0;
    QTimer turns;
    turns.setInterval(10);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, elapsed.elapsed() - lastTurn);
        lastTurn = elapsed.elapsed();
    });
    turns.start();
    auto reading = thread.run<OSStatus>([&keychain] {
        QByteArray read;
        return keychain.copyMatching({"app.orvane.test", "x", std::nullopt}, &read);
    });
    const std::optional<OSStatus> answer = orvane::test::await(std::move(reading));
    const qint64 took = elapsed.elapsed();
    thread.abandon();
    Keychain::overrideShared(nullptr);

    EXPECT_EQ(answer, std::nullopt) << "no answer counts as none";
    EXPECT_GE(took, KeychainThread::kAnswerTime.count() * 9 / 10); // a coarse timer
    EXPECT_LT(took, KeychainThread::kAnswerTime.count() + 3000);
    EXPECT_LT(longestStall, 500) << "the interface thread stood still meanwhile";
}

// A job abandoned while its call runs (a quit, a test's end): the call ends, answering nobody.
TEST(SecretServiceKeychainNotAnswering, AJobAbandonedWhileItRunsAnswersNobodyWhenItsCallEnds) {
    orvane::test::KeychainScope keychain;
    keychain->setHanging(true);
    auto entered = std::make_shared<std::atomic<bool>>(false);
    auto reading = KeychainThread::shared().run<OSStatus>([entered] {
        *entered = true;
        QByteArray read;
        return Keychain::shared().copyMatching({"app.orvane.test", "x", std::nullopt}, &read);
    });
    ASSERT_TRUE(orvane::test::eventuallyTrue([&] { return entered->load(); }));
    KeychainThread::shared().abandon();
    EXPECT_EQ(orvane::test::await(std::move(reading)), std::nullopt);
    EXPECT_EQ(keychain->calls().size(), 1u) << "the interrupted call did end";
}
