#include "platform/secret_service_keychain.h"
#include "service/token_storage.h"
#include "support/keychain_scope.h"

#include <gtest/gtest.h>

using namespace orvane;
using platform::InMemoryKeychain;
using platform::KeychainQuery;
using Op = InMemoryKeychain::Operation;
namespace Status = platform::KeychainStatus;

namespace {

const QString kService = QStringLiteral("app.orvane.Orvane.auth");
const QString kAccount = QStringLiteral("sanctum_token");

std::optional<QString> readStored() {
    if (auto token = readAuthToken(authTokenQuery(true)))
        return token;
    return readAuthToken(authTokenQuery(false));
}

} // namespace

TEST(TokenStorage, SavesTheTrimmedTokenAndReadsItBack) {
    test::KeychainScope keychain;
    EXPECT_EQ(saveAuthToken(QStringLiteral("  abc|123\n")), std::nullopt);
    ASSERT_EQ(keychain->items().size(), 1u);
    // The token and its origin are one secret.
    EXPECT_EQ(decodeAuthTokenItem(keychain->items()[0].value),
              (StoredAuthToken{QStringLiteral("abc|123"), OrvaneAPIConfig::serviceOrigin()}));
    EXPECT_EQ(keychain->items()[0].service, kService);
    EXPECT_EQ(keychain->items()[0].account, kAccount);
    EXPECT_FALSE(keychain->items()[0].synchronizable);
    EXPECT_EQ(readStored(), QStringLiteral("abc|123"));
}

TEST(TokenStorage, SavingRunsTheThreeDeletesBeforeTheAdd) {
    test::KeychainScope keychain;
    saveAuthToken(QStringLiteral("tok"));
    const auto& calls = keychain->calls();
    ASSERT_EQ(calls.size(), 4u);
    const std::optional<bool> expected[] = {std::nullopt, false, true};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].operation, Op::Remove);
        EXPECT_EQ(calls[i].query, (KeychainQuery{kService, kAccount, expected[i]}));
    }
    EXPECT_EQ(calls[3].operation, Op::Add);
}

TEST(TokenStorage, BlankTokenRemovesTheStoredOneAndStoresNothing) {
    test::KeychainScope keychain;
    saveAuthToken(QStringLiteral("old"));
    EXPECT_EQ(saveAuthToken(QStringLiteral(" \n\t")), std::nullopt);
    EXPECT_TRUE(keychain->items().empty());
    EXPECT_EQ(readStored(), std::nullopt);
}

TEST(TokenStorage, DuplicateOnAddIsRetriedExactlyOnce) {
    test::KeychainScope keychain;
    keychain->failNext(Op::Add, Status::DuplicateItem);
    EXPECT_EQ(saveAuthToken(QStringLiteral("tok")), std::nullopt);
    EXPECT_EQ(readStored(), QStringLiteral("tok"));

    keychain->failNext(Op::Add, Status::DuplicateItem);
    keychain->failNext(Op::Add, Status::DuplicateItem);
    keychain->clearCalls();
    EXPECT_EQ(saveAuthToken(QStringLiteral("tok2")),
              QStringLiteral("Schlüsselbund: Konflikt mit einem vorherigen Eintrag. App einmal "
                             "beenden, neu starten, dann erneut anmelden."));
    int adds = 0, removes = 0;
    for (const auto& call : keychain->calls()) {
        adds += call.operation == Op::Add;
        removes += call.operation == Op::Remove;
    }
    EXPECT_EQ(adds, 2);
    EXPECT_EQ(removes, 6);
    // The failed save leaves no token behind.
    EXPECT_EQ(readStored(), std::nullopt);
}

TEST(TokenStorage, FailedAddReportsTheKeychainText) {
    test::KeychainScope keychain;
    keychain->failNext(Op::Add, Status::InteractionNotAllowed);
    EXPECT_EQ(saveAuthToken(QStringLiteral("tok")),
              QStringLiteral("Schlüsselbund: Zugriff jetzt nicht möglich. Gerät entsperren, dann "
                             "erneut versuchen."));
}

TEST(TokenStorage, UnusableStoredValuesReadAsNoToken) {
    const QByteArray values[] = {QByteArray("   \n"),
                                 QByteArray("\xff\xfe", 2),
                                 QByteArray("\xc3\x28", 2),
                                 QByteArray(),
                                 QByteArray("abc\r\nX-Injected: yes"),
                                 QByteArray("t\xc3\xb6k")};
    for (const QByteArray& value : values) {
        test::KeychainScope keychain;
        keychain->add({kService, kAccount, value, false});
        EXPECT_EQ(readStored(), std::nullopt) << value.toHex().constData();
    }
}

TEST(TokenStorage, SynchronizableTokenIsFoundOnlyByTheSecondRead) {
    test::KeychainScope keychain;
    keychain->add({kService, kAccount, "synced", true});
    EXPECT_EQ(readAuthToken(authTokenQuery(true)), std::nullopt);
    // Without the flag the query matches local items only, as on the keychain
    // we mirror; the item is found by neither read.
    EXPECT_EQ(readAuthToken(authTokenQuery(false)), std::nullopt);
    deleteAuthToken();
    EXPECT_TRUE(keychain->items().empty());
}

TEST(TokenStorage, ReadFailureIsNoToken) {
    test::KeychainScope keychain;
    saveAuthToken(QStringLiteral("tok"));
    keychain->failNext(Op::CopyMatching, Status::InteractionNotAllowed);
    EXPECT_EQ(readAuthToken(authTokenQuery(true)), std::nullopt);
    EXPECT_EQ(readAuthToken(authTokenQuery(true)), QStringLiteral("tok"));
}

TEST(KeychainMessages, KnownStatusesHaveTheirTexts) {
    test::KeychainScope keychain;
    const std::pair<platform::OSStatus, const char*> table[] = {
        {-25308, "Schlüsselbund: Zugriff jetzt nicht möglich. Gerät entsperren, dann erneut "
                 "versuchen."},
        {-25300, "Schlüsselbund: Eintrag nicht mehr vorhanden. Bitte einmal normal anmelden."},
        {-67701, "Schlüsselbund: ungültiger Eintrag. Bitte einmal ab- und neu anmelden."},
        {-34018, "Schlüsselbund: App-Setup (Signatur/Berechtigung) passt nicht. Ggf. "
                 "Entwicklungs-Team-Profil bzw. Neuinstallation prüfen."},
        {-25299, "Schlüsselbund: Konflikt mit einem vorherigen Eintrag. App einmal beenden, neu "
                 "starten, dann erneut anmelden."},
        {-25293, "Schlüsselbund: Anmeldung bzw. Zugang verweigert. Biometrie oder Code erneut "
                 "prüfen."},
        {-25291, "Schlüsselbund: gerade nicht verfügbar (Sicherheits-Container). iOS-Update "
                 "prüfen."},
        {-50, "Schlüsselbund: ungültige Anfrage. Bitte App aktualisieren und erneut versuchen."},
    };
    EXPECT_EQ(keychainMessage(0), std::nullopt);
    for (const auto& [status, text] : table)
        EXPECT_EQ(keychainMessage(status), QString::fromUtf8(text)) << status;
}

TEST(KeychainMessages, OtherStatusesUseTheStoresTextOrAGenericOne) {
    test::KeychainScope keychain;
    keychain->setErrorMessage(-4242, QStringLiteral("Der Dienst ist beschäftigt."));
    keychain->setErrorMessage(-77, QString());
    EXPECT_EQ(keychainMessage(-4242),
              QStringLiteral("Schlüsselbund (Code -4242): Der Dienst ist beschäftigt."));
    EXPECT_EQ(
        keychainMessage(-4),
        QStringLiteral("Schlüsselbund (Code -4): Funktion oder Vorgang nicht implementiert."));
    EXPECT_EQ(keychainMessage(-77), QStringLiteral("Schlüsselbund-Problem (Code -77). Bitte ab- "
                                                   "und neu anmelden oder iOS-Update prüfen."));
}

TEST(TokenStorageOnKeyring, RoundTripThroughTheDesktopKeyring) {
    // This writes the real token item: only inside the private keyring session
    // that scripts/test starts, never in a desktop session.
    if (qgetenv("ORVANE_PRIVATE_KEYRING") != "1" ||
        !platform::SecretServiceKeychain::serviceAvailable())
        GTEST_SKIP() << "Needs the private keyring session of scripts/test";
    platform::SecretServiceKeychain keyring;
    platform::Keychain::overrideShared(&keyring);
    EXPECT_EQ(saveAuthToken(QStringLiteral(" first ")), std::nullopt);
    EXPECT_EQ(saveAuthToken(QStringLiteral("second")), std::nullopt);
    EXPECT_EQ(readStored(), QStringLiteral("second"));
    deleteAuthToken();
    EXPECT_EQ(readStored(), std::nullopt);
    platform::Keychain::overrideShared(nullptr);
}
