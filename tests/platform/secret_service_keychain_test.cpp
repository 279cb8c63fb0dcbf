#include "platform/secret_service_keychain.h"

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
