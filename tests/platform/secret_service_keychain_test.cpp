// libsecret's headers must come before any Qt header.
#include <libsecret/secret.h>

#include "platform/secret_service_keychain.h"
#include "support/private_bus.h"

#include <QElapsedTimer>
#include <QUuid>

#include <gtest/gtest.h>

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

// A Secret Service that owns its name but never answers (hung, or busy with
// something else): each call would hold the UI thread for D-Bus's 25 s, and
// signing in or out makes several.
TEST(SecretServiceKeychainNotAnswering, GivesUpSoonAndAsksNoMoreForAWhile) {
    orvane::test::PrivateBus bus;
    if (!bus.running())
        GTEST_SKIP() << "No dbus-daemon to run a bus of the test's own";
    // Owned on this thread, which is busy in the keychain's calls: no answer.
    QDBusConnection keyring = bus.connect(QStringLiteral("keyring"));
    QObject service;
    keyring.registerObject(QStringLiteral("/org/freedesktop/secrets"), &service,
                           QDBusConnection::ExportAllContents);
    ASSERT_TRUE(keyring.registerService(QStringLiteral("org.freedesktop.secrets")));
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
    if (!onPrivateBus) {
        if (session)
            g_object_unref(session);
        qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
        GTEST_SKIP() << "The session connection was made before; run this case alone";
    }

    SecretServiceKeychain keychain;
    const KeychainQuery query{"app.orvane.test", "x", std::nullopt};
    QElapsedTimer elapsed;
    elapsed.start();
    QByteArray read;
    std::vector<OSStatus> statuses;
    // As a sign-out and a new sign-in ask it.
    for (int i = 0; i < 3; ++i)
        statuses.push_back(keychain.remove(query));
    statuses.push_back(keychain.add({"app.orvane.test", "x", "secret", false, false}));
    statuses.push_back(keychain.copyMatching(query, &read));
    statuses.push_back(keychain.copyMatching(query, &read));
    const qint64 took = elapsed.elapsed();

    g_object_unref(session);
    qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    EXPECT_EQ(statuses, std::vector<OSStatus>(6, KeychainStatus::InteractionNotAllowed));
    EXPECT_TRUE(read.isEmpty());
    EXPECT_LT(took, 20'000) << "the UI thread waited " << took << " ms";
}
