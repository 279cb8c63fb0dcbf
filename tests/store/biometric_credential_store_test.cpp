#include "platform/secret_service_keychain.h"
#include "service/token_storage.h"
#include "store/biometric_credential_store.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace orvane;
namespace Credentials = orvane::BiometricCredentialStore;
using Credentials::Payload;
using Credentials::StoreError;
using Kind = StoreError::Kind;
using Op = platform::InMemoryKeychain::Operation;
using platform::KeychainItem;
using platform::KeychainQuery;
namespace Status = platform::KeychainStatus;

namespace {

const QString kFlag = "orvane_biometric_credential_in_keychain";
const QString kService = "app.orvane.Orvane.biometric-login";
const QString kCredentials = "credentials";
const QString kBackup = "credentials-pw-backup";

// Runs `f` and returns the kind of StoreError it threw.
template <class F> std::optional<Kind> errorOf(F&& f) {
    try {
        f();
    } catch (const StoreError& e) {
        return e.kind();
    }
    return std::nullopt;
}

class BiometricCredentials : public ::testing::Test {
protected:
    const KeychainItem* item(const QString& account) {
        for (const KeychainItem& i : keychain->items())
            if (i.service == kService && i.account == account)
                return &i;
        return nullptr;
    }
    QJsonObject json(const QString& account) {
        const KeychainItem* i = item(account);
        return i ? QJsonDocument::fromJson(i->value).object() : QJsonObject();
    }
    std::optional<QJsonValue> flag() { return defaults->object(kFlag); }
    void putCredentials(const QByteArray& value) {
        ASSERT_EQ(keychain->add(KeychainItem{kService, kCredentials, value, false, true}),
                  Status::Success);
    }

    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeBiometrics biometrics;
};

} // namespace

TEST_F(BiometricCredentials, StoreKeepsTrimmedValuesInBothItemsAndSetsTheFlag) {
    Credentials::store("  anna@example.de \n", "\tgeheim ");
    ASSERT_NE(item(kCredentials), nullptr);
    EXPECT_TRUE(item(kCredentials)->biometryCurrentSet);
    EXPECT_FALSE(item(kCredentials)->synchronizable);
    EXPECT_EQ(json(kCredentials),
              (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}}));
    ASSERT_NE(item(kBackup), nullptr);
    EXPECT_FALSE(item(kBackup)->biometryCurrentSet);
    EXPECT_FALSE(item(kBackup)->synchronizable);
    EXPECT_EQ(json(kBackup), (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}}));
    EXPECT_EQ(flag(), QJsonValue(true));

    EXPECT_EQ(Credentials::load("Anmeldung"),
              (Payload{"anna@example.de", QString("geheim"), std::nullopt}));
    EXPECT_EQ(biometrics.reasons, std::vector<QString>{"Anmeldung"});
}

TEST_F(BiometricCredentials, StoreWithTokenOnlyDropsTheBackup) {
    Credentials::store("anna@example.de", "geheim");
    ASSERT_NE(item(kBackup), nullptr);
    Credentials::storeWithToken(" anna@example.de", " tok|1 ");
    EXPECT_EQ(json(kCredentials), (QJsonObject{{"email", "anna@example.de"}, {"token", "tok|1"}}));
    EXPECT_EQ(item(kBackup), nullptr);
    EXPECT_EQ(flag(), QJsonValue(true));
}

TEST_F(BiometricCredentials, StoreWithAllThreeKeepsAllThree) {
    Credentials::store("anna@example.de", "geheim", "tok|1\n");
    EXPECT_EQ(
        json(kCredentials),
        (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}, {"token", "tok|1"}}));
    EXPECT_NE(item(kBackup), nullptr);
}

TEST_F(BiometricCredentials, BlankValuesAreRefusedAndChangeNothing) {
    Credentials::store("anna@example.de", "geheim");
    defaults->remove(kFlag);
    const auto before = keychain->items().size();
    const std::function<void()> attempts[] = {
        [] { Credentials::store(" \n", "geheim"); },
        [] { Credentials::store("anna@example.de", "   "); },
        [] { Credentials::storeWithToken("anna@example.de", "\t"); },
        [] { Credentials::storeWithToken("", "tok"); },
        [] { Credentials::store("anna@example.de", "geheim", " "); },
        [] { Credentials::store("anna@example.de", "", "tok"); },
    };
    for (std::size_t i = 0; i < std::size(attempts); ++i) {
        keychain->clearCalls();
        EXPECT_EQ(errorOf(attempts[i]), Kind::MissingOrInvalid) << "attempt " << i;
        EXPECT_TRUE(keychain->calls().empty()) << "attempt " << i;
    }
    EXPECT_EQ(keychain->items().size(), before);
    EXPECT_EQ(json(kCredentials).value("password"), QJsonValue("geheim"));
    EXPECT_EQ(flag(), std::nullopt);
}

TEST_F(BiometricCredentials, BlankPasswordIsStoredAsGivenAndTheBackupDropped) {
    Credentials::store("anna@example.de", "geheim");
    Credentials::save(Payload{" anna@example.de ", QString("   "), QString("tok")});
    EXPECT_EQ(json(kCredentials),
              (QJsonObject{{"email", " anna@example.de "}, {"password", "   "}, {"token", "tok"}}));
    EXPECT_EQ(item(kBackup), nullptr);
    EXPECT_EQ(flag(), QJsonValue(true));
}

TEST_F(BiometricCredentials, DuplicateOnAddIsRetriedOnceAfterAFreshDelete) {
    keychain->failNext(Op::Add, Status::DuplicateItem);
    Credentials::storeWithToken("anna@example.de", "tok");
    EXPECT_EQ(json(kCredentials), (QJsonObject{{"email", "anna@example.de"}, {"token", "tok"}}));
    EXPECT_EQ(flag(), QJsonValue(true));

    // Credentials deleted, backup deleted, duplicate, credentials deleted again, added.
    const auto& calls = keychain->calls();
    ASSERT_EQ(calls.size(), 11u);
    const std::optional<bool> order[] = {std::nullopt, false, true};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].query, (KeychainQuery{kService, kCredentials, order[i]}));
        EXPECT_EQ(calls[3 + i].query, (KeychainQuery{kService, kBackup, order[i]}));
        EXPECT_EQ(calls[7 + i].query, (KeychainQuery{kService, kCredentials, order[i]}));
        EXPECT_EQ(calls[7 + i].operation, Op::Remove);
    }
    EXPECT_EQ(calls[6].operation, Op::Add);
    EXPECT_EQ(calls[6].status, Status::DuplicateItem);
    EXPECT_EQ(calls[10].operation, Op::Add);
    EXPECT_EQ(calls[10].status, Status::Success);
}

TEST_F(BiometricCredentials, SecondDuplicateIsAWriteErrorAndLeavesTheFlag) {
    keychain->failNext(Op::Add, Status::DuplicateItem);
    keychain->failNext(Op::Add, Status::DuplicateItem);
    try {
        Credentials::storeWithToken("anna@example.de", "tok");
        FAIL() << "stored despite two duplicates";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), Kind::KeychainWrite);
        EXPECT_EQ(e.status(), Status::DuplicateItem);
        EXPECT_EQ(e.errorDescription(), keychainMessage(Status::DuplicateItem));
    }
    EXPECT_EQ(item(kCredentials), nullptr);
    EXPECT_EQ(flag(), std::nullopt);
}

TEST_F(BiometricCredentials, DuplicateBackupIsRetriedToo) {
    keychain->failNext(Op::Add, Status::DuplicateItem);
    Credentials::store("anna@example.de", "geheim");
    EXPECT_EQ(json(kBackup), (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}}));
    EXPECT_NE(item(kCredentials), nullptr);
}

TEST_F(BiometricCredentials, FailedBackupWriteAbortsAfterTheOldCredentialsAreGone) {
    Credentials::store("anna@example.de", "geheim");
    keychain->failNext(Op::Add, Status::InteractionNotAllowed);
    EXPECT_EQ(errorOf([] { Credentials::store("bert@example.de", "neu"); }), Kind::KeychainWrite);
    EXPECT_EQ(item(kCredentials), nullptr);
    EXPECT_EQ(item(kBackup), nullptr);
    EXPECT_EQ(flag(), QJsonValue(true)) << "the flag stays as it was";
}

TEST_F(BiometricCredentials, LoadReportsEachWayTheReadCanFail) {
    EXPECT_EQ(errorOf([] { Credentials::load("Anmeldung"); }), Kind::MissingOrInvalid);
    EXPECT_TRUE(biometrics.reasons.empty()) << "nothing to ask for";

    Credentials::store("anna@example.de", "geheim");
    const auto itemsBefore = keychain->items().size();
    biometrics.outcome = platform::BiometricOutcome::Cancelled;
    EXPECT_EQ(errorOf([] { Credentials::load("Anmeldung"); }), Kind::UserCanceled);
    biometrics.outcome = platform::BiometricOutcome::Failed;
    EXPECT_EQ(errorOf([] { Credentials::load("Anmeldung"); }), Kind::BiometryFailed);
    biometrics.outcome = platform::BiometricOutcome::Success;
    keychain->failNext(Op::CopyMatching, Status::InteractionNotAllowed);
    try {
        Credentials::load("Anmeldung");
        FAIL() << "read despite the keychain's refusal";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), Kind::KeychainRead);
        EXPECT_EQ(e.status(), Status::InteractionNotAllowed);
    }
    // A finger added or removed since storing makes the item unreadable.
    biometrics.enrollment = "fingers-2";
    EXPECT_EQ(errorOf([] { Credentials::load("Anmeldung"); }), Kind::MissingOrInvalid);

    EXPECT_EQ(biometrics.reasons.size(), 2u);
    EXPECT_EQ(keychain->items().size(), itemsBefore);
    EXPECT_EQ(flag(), QJsonValue(true)) << "failures leave the flag alone";
}

TEST_F(BiometricCredentials, LoadReturnsThePayloadAsStoredAndRefreshesTheBackup) {
    putCredentials(R"({"email":" anna@example.de ","password":" geheim\n","extra":1})");
    EXPECT_EQ(Credentials::load("Anmeldung"),
              (Payload{" anna@example.de ", QString(" geheim\n"), std::nullopt}));
    EXPECT_EQ(json(kBackup), (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}}));
    EXPECT_EQ(Credentials::loadPasswordBackup(),
              (std::pair<QString, QString>{"anna@example.de", "geheim"}));
}

TEST(BiometricCredentialsEachCase, LoadWithoutUsablePasswordDropsTheBackup) {
    // A keychain of its own per case.
    test::TempUserDefaults defaults;
    test::FakeBiometrics biometrics;
    for (const QByteArray& stored : {QByteArray(R"({"email":"anna@example.de","token":"t"})"),
                                     QByteArray(R"({"email":"a@b.de","password":null})"),
                                     QByteArray(R"({"email":"a@b.de","password":" "})"),
                                     QByteArray(R"({"email":" ","password":"geheim"})")}) {
        test::KeychainScope fresh;
        Credentials::savePasswordBackup("old@example.de", "alt");
        ASSERT_EQ(fresh->items().size(), 1u);
        ASSERT_EQ(fresh->add(KeychainItem{kService, kCredentials, stored, false, true}),
                  Status::Success);
        EXPECT_NO_THROW(Credentials::load("Anmeldung")) << stored.constData();
        ASSERT_EQ(fresh->items().size(), 1u) << stored.constData();
        EXPECT_EQ(fresh->items()[0].account, kCredentials) << stored.constData();
    }
}

TEST_F(BiometricCredentials, FailedBackupRefreshDoesNotFailTheLoad) {
    putCredentials(R"({"email":"anna@example.de","password":"geheim","token":"t"})");
    keychain->failNext(Op::Add, Status::InteractionNotAllowed);
    EXPECT_EQ(Credentials::load("Anmeldung"),
              (Payload{"anna@example.de", QString("geheim"), QString("t")}));
}

TEST(BiometricCredentialsEachCase, UndecodableCredentialsAreReportedAsSuch) {
    // A keychain of its own per case.
    test::TempUserDefaults defaults;
    test::FakeBiometrics biometrics;
    for (const char* stored :
         {"kein json", "[]", "\"anna\"", R"({"password":"geheim"})", R"({"email":5})",
          R"({"email":null})", R"({"email":"a@b.de","password":5})",
          R"({"email":"a@b.de","token":["t"]})"}) {
        test::KeychainScope fresh;
        ASSERT_EQ(fresh->add(KeychainItem{kService, kCredentials, stored, false, true}),
                  Status::Success);
        EXPECT_EQ(errorOf([] { Credentials::load("Anmeldung"); }), Kind::DecodeFailed) << stored;
    }
}

TEST_F(BiometricCredentials, BackupRebuildsTheCredentialsWithoutToken) {
    Credentials::savePasswordBackup(" anna@example.de ", "geheim\n");
    Credentials::credentialsFromPasswordBackup();
    EXPECT_EQ(json(kCredentials),
              (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}}));
    EXPECT_TRUE(item(kCredentials)->biometryCurrentSet);
    EXPECT_EQ(json(kBackup), (QJsonObject{{"email", "anna@example.de"}, {"password", "geheim"}}));
    EXPECT_EQ(flag(), QJsonValue(true));
    EXPECT_EQ(Credentials::load("Anmeldung").token, std::nullopt);
}

TEST_F(BiometricCredentials, WithoutBackupRebuildLeavesNothingAndClearsTheFlag) {
    Credentials::storeWithToken("anna@example.de", "tok");
    ASSERT_EQ(flag(), QJsonValue(true));
    EXPECT_NO_THROW(Credentials::credentialsFromPasswordBackup());
    EXPECT_EQ(item(kCredentials), nullptr);
    EXPECT_EQ(item(kBackup), nullptr);
    EXPECT_EQ(flag(), QJsonValue(false));
}

TEST(BiometricCredentialsEachCase, UnusableBackupReadsAsNothing) {
    // A keychain of its own per case.
    test::TempUserDefaults defaults;
    test::FakeBiometrics biometrics;
    for (const QByteArray& stored :
         {QByteArray(R"({"email":"anna@example.de","password":"  "})"),
          QByteArray(R"({"email":"\n","password":"geheim"})"),
          QByteArray(R"({"email":"anna@example.de"})"),
          QByteArray(R"({"email":"anna@example.de","password":7})"), QByteArray("kein json")}) {
        test::KeychainScope fresh;
        ASSERT_EQ(fresh->add(KeychainItem{kService, kBackup, stored, false, false}),
                  Status::Success);
        EXPECT_EQ(Credentials::loadPasswordBackup(), std::nullopt) << stored.constData();
        Credentials::credentialsFromPasswordBackup();
        EXPECT_TRUE(fresh->items().empty()) << stored.constData();
        EXPECT_EQ(defaults->object(kFlag), QJsonValue(false)) << stored.constData();
    }
}

TEST_F(BiometricCredentials, BiometryIsNamedAfterTheMachinesKind) {
    using platform::BiometryType;
    const struct {
        BiometryType type;
        const char* name;
        const char* symbol;
    } cases[] = {
        {BiometryType::None, "Biometrie", "lock.fill"},
        {BiometryType::TouchID, "Touch ID", "touchid"},
        {BiometryType::FaceID, "Face ID", "faceid"},
        {BiometryType::OpticID, "Optic ID", "opticid"},
    };
    for (const auto& c : cases) {
        biometrics.type = c.type;
        EXPECT_EQ(Credentials::biometryDisplayName(), c.name);
        EXPECT_EQ(Credentials::biometrySymbolName(), c.symbol);
    }
}

TEST(BiometricCredentialsWithoutBiometry, NamesTheGenericLock) {
    EXPECT_EQ(Credentials::biometryDisplayName(), "Biometrie");
    EXPECT_EQ(Credentials::biometrySymbolName(), "lock.fill");
}

TEST(BiometricCredentialsOnKeyring, StoreAndReadBackThroughTheDesktopKeyring) {
    // This writes the real items: only inside the private keyring session of the test script.
    if (qgetenv("ORVANE_PRIVATE_KEYRING") != "1" ||
        !platform::SecretServiceKeychain::serviceAvailable())
        GTEST_SKIP() << "Needs the private keyring session of scripts/test";
    test::TempUserDefaults defaults;
    test::FakeBiometrics biometrics;
    platform::SecretServiceKeychain keyring;
    platform::Keychain::overrideShared(&keyring);
    struct Restore {
        ~Restore() {
            Credentials::deleteCredentials();
            Credentials::deletePasswordBackup();
            platform::Keychain::overrideShared(nullptr);
        }
    } restore;

    Credentials::store(" anna@example.de", "geheim ", "tok|1");
    EXPECT_EQ(defaults->object(kFlag), QJsonValue(true));
    EXPECT_EQ(Credentials::load("Anmeldung"),
              (Payload{"anna@example.de", QString("geheim"), QString("tok|1")}));
    EXPECT_EQ(Credentials::loadPasswordBackup(),
              (std::pair<QString, QString>{"anna@example.de", "geheim"}));
    // A second store replaces both items.
    Credentials::storeWithToken("bert@example.de", "tok|2");
    EXPECT_EQ(Credentials::load("Anmeldung"),
              (Payload{"bert@example.de", std::nullopt, QString("tok|2")}));
    EXPECT_EQ(Credentials::loadPasswordBackup(), std::nullopt);

    Credentials::deleteCredentials();
    Credentials::deletePasswordBackup();
    EXPECT_EQ(errorOf([] { Credentials::load("Anmeldung"); }), Kind::MissingOrInvalid);
    EXPECT_EQ(Credentials::loadPasswordBackup(), std::nullopt);
}
