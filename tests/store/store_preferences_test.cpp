#include "service/json_coding.h"
#include "service/orvane_api_config.h"
#include "service/token_storage.h"
#include "store/app_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace orvane;
using Op = platform::InMemoryKeychain::Operation;

namespace {

const QString kRememberMe = "orvane_remember_me";
const QString kBiometricLogin = "orvane_biometric_login_enabled";
const QString kCredentialFlag = "orvane_biometric_credential_in_keychain";
const QString kAccent = "orvane_accent_style";
const QString kRing = "orvane_ring_variant";
const QString kDensity = "orvane_density";
const QString kScreenAwake = "orvane_screen_awake_when_timer";

class StorePreferences : public ::testing::Test {
protected:
    // A store built over what the test stored beforehand.
    AppStore& start() {
        store = std::make_unique<AppStore>();
        QObject::connect(store.get(), &AppStore::changed,
                         [this](AppStore::Property p) { changes.push_back(p); });
        return *store;
    }

    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::FakeBiometrics biometrics;
    std::unique_ptr<AppStore> store;
    std::vector<AppStore::Property> changes;
};

} // namespace

TEST_F(StorePreferences, FreshStoreWithoutPreferences) {
    AppStore& s = start();
    EXPECT_FALSE(s.isLoggedIn());
    EXPECT_TRUE(s.rememberMe());
    EXPECT_FALSE(s.biometricLoginEnabled());
    EXPECT_FALSE(s.biometricKeychainPopulated());
    EXPECT_EQ(s.accentStyle(), AccentStyle::Gradient);
    EXPECT_EQ(s.ringVariant(), RingVariant::Gradient);
    EXPECT_EQ(s.density(), Density::Cozy);
    EXPECT_FALSE(s.screenAwakeWhenTimer());
    EXPECT_TRUE(s.sessions().empty());
    EXPECT_FALSE(s.tickActive());
    EXPECT_EQ(s.lastLiveActivitySyncFromTick(), std::nullopt);
    // Reading preferences writes none of them.
    for (const QString& key :
         {kRememberMe, kBiometricLogin, kCredentialFlag, kAccent, kRing, kDensity, kScreenAwake})
        EXPECT_EQ(defaults->object(key), std::nullopt) << key.toStdString();
}

TEST_F(StorePreferences, RememberMeCountsOnlyFlagsAndNumbers) {
    const struct {
        QJsonValue stored;
        bool expected;
    } cases[] = {
        {QJsonValue(false), false}, {QJsonValue(true), true}, {QJsonValue(0), false},
        {QJsonValue(1), true},      {QJsonValue(0.0), false}, {QJsonValue("false"), true},
        {QJsonValue("0"), true},    {QJsonValue("no"), true}, {QJsonValue(QJsonArray{false}), true},
    };
    for (const auto& c : cases) {
        defaults->set(kRememberMe, c.stored);
        EXPECT_EQ(start().rememberMe(), c.expected)
            << QJsonDocument(QJsonArray{c.stored}).toJson(QJsonDocument::Compact).toStdString();
        EXPECT_EQ(defaults->object(kRememberMe), c.stored) << "rewritten";
    }
}

TEST_F(StorePreferences, AppearanceRawValuesAreExactAndCaseSensitive) {
    const struct {
        QJsonValue stored;
        AccentStyle expected;
    } accents[] = {
        {QJsonValue("gradient"), AccentStyle::Gradient},
        {QJsonValue("indigo"), AccentStyle::Indigo},
        {QJsonValue("mint"), AccentStyle::Mint},
        {QJsonValue("amber"), AccentStyle::Amber},
        {QJsonValue("Mint"), AccentStyle::Gradient},
        {QJsonValue(" mint"), AccentStyle::Gradient},
        {QJsonValue(""), AccentStyle::Gradient},
        {QJsonValue(2), AccentStyle::Gradient},
        {QJsonValue(true), AccentStyle::Gradient},
    };
    for (const auto& c : accents) {
        defaults->set(kAccent, c.stored);
        EXPECT_EQ(start().accentStyle(), c.expected)
            << c.stored.toVariant().toString().toStdString();
        EXPECT_EQ(defaults->object(kAccent), c.stored) << "rewritten";
    }

    const struct {
        QJsonValue stored;
        RingVariant ring;
        Density density;
    } others[] = {
        {QJsonValue("orb"), RingVariant::Orb, Density::Cozy},
        {QJsonValue("mono"), RingVariant::Mono, Density::Cozy},
        {QJsonValue("compact"), RingVariant::Gradient, Density::Compact},
        {QJsonValue("Compact"), RingVariant::Gradient, Density::Cozy},
        {QJsonValue("Orb"), RingVariant::Gradient, Density::Cozy},
        {QJsonValue("cozy"), RingVariant::Gradient, Density::Cozy},
        {QJsonValue(1), RingVariant::Gradient, Density::Cozy},
    };
    for (const auto& c : others) {
        defaults->set(kRing, c.stored);
        defaults->set(kDensity, c.stored);
        AppStore& s = start();
        const std::string text = c.stored.toVariant().toString().toStdString();
        EXPECT_EQ(s.ringVariant(), c.ring) << text;
        EXPECT_EQ(s.density(), c.density) << text;
    }
}

TEST(AppearanceCoding, EachEnumerationReadsDecodesAndEncodesItsOwnRawValues) {
    const auto kindOf = [](auto decode, const QJsonValue& value) -> std::optional<int> {
        try {
            decode(value);
        } catch (const DecodingError& error) {
            return int(error.kind());
        }
        return std::nullopt;
    };
    const int corrupted = int(DecodingError::Kind::DataCorrupted);
    const int mismatch = int(DecodingError::Kind::TypeMismatch);

    for (const RingVariant ring : kRingVariants) {
        EXPECT_EQ(ringVariantFromRawValue(rawValue(ring)), ring);
        EXPECT_EQ(decodeRingVariant(encodeJSON(ring)), ring);
    }
    for (const Density density : kDensities) {
        EXPECT_EQ(densityFromRawValue(rawValue(density)), density);
        EXPECT_EQ(decodeDensity(encodeJSON(density)), density);
    }
    for (const AccentStyle accent : kAccentStyles)
        EXPECT_EQ(decodeAccentStyle(encodeJSON(accent)), accent);
    EXPECT_EQ(encodeJSON(RingVariant::Orb), QJsonValue("orb"));
    EXPECT_EQ(encodeJSON(Density::Compact), QJsonValue("compact"));

    // A raw value of another enumeration is no value of this one.
    for (const char* text : {"Orb", " mono", "", "compact", "mint"}) {
        EXPECT_EQ(ringVariantFromRawValue(text), std::nullopt) << text;
        EXPECT_EQ(kindOf(decodeRingVariant, QJsonValue(text)), corrupted) << text;
    }
    for (const char* text : {"Cozy", "compact ", "", "gradient", "orb"}) {
        EXPECT_EQ(densityFromRawValue(text), std::nullopt) << text;
        EXPECT_EQ(kindOf(decodeDensity, QJsonValue(text)), corrupted) << text;
    }
    EXPECT_EQ(kindOf(decodeAccentStyle, QJsonValue("Mint")), corrupted);
    for (const QJsonValue& other :
         {QJsonValue(1), QJsonValue(true), QJsonValue(QJsonArray{"orb"})}) {
        EXPECT_EQ(kindOf(decodeRingVariant, other), mismatch);
        EXPECT_EQ(kindOf(decodeDensity, other), mismatch);
        EXPECT_EQ(kindOf(decodeAccentStyle, other), mismatch);
    }
}

TEST_F(StorePreferences, BiometricFlagsAreReadAsBooleans) {
    defaults->setBool(kBiometricLogin, true);
    defaults->setBool(kCredentialFlag, true);
    biometrics.available = false; // keeps the start-up from waiting for a biometric sign-in
    AppStore& s = start();
    EXPECT_TRUE(s.biometricLoginEnabled());
    EXPECT_TRUE(s.biometricKeychainPopulated());
    EXPECT_EQ(defaults->object(kBiometricLogin), QJsonValue(true));
}

TEST_F(StorePreferences, ScreenAwakeAbsentStaysAbsentPresentIsWrittenBack) {
    EXPECT_FALSE(start().screenAwakeWhenTimer());
    EXPECT_EQ(defaults->object(kScreenAwake), std::nullopt);

    const struct {
        QJsonValue stored;
        bool expected;
    } cases[] = {
        {QJsonValue(true), true}, {QJsonValue(false), false}, {QJsonValue(1), true},
        {QJsonValue(0), false},   {QJsonValue("yes"), true},  {QJsonValue("later"), false},
    };
    for (const auto& c : cases) {
        defaults->set(kScreenAwake, c.stored);
        EXPECT_EQ(start().screenAwakeWhenTimer(), c.expected)
            << c.stored.toVariant().toString().toStdString();
        // Written back as the flag it was read as.
        EXPECT_EQ(defaults->object(kScreenAwake), QJsonValue(c.expected))
            << c.stored.toVariant().toString().toStdString();
    }
}

TEST_F(StorePreferences, PersistingSettersWriteEvenWhenNothingChanges) {
    AppStore& s = start();
    s.setAccentStyle(AccentStyle::Gradient);
    s.setScreenAwakeWhenTimer(false);
    s.setBiometricLoginEnabled(false);
    EXPECT_TRUE(changes.empty()) << "same values notify nobody";
    EXPECT_EQ(defaults->object(kAccent), QJsonValue("gradient"));
    EXPECT_EQ(defaults->object(kScreenAwake), QJsonValue(false));
    EXPECT_EQ(defaults->object(kBiometricLogin), QJsonValue(false));

    s.setAccentStyle(AccentStyle::Mint);
    s.setScreenAwakeWhenTimer(true);
    s.setBiometricLoginEnabled(true);
    EXPECT_EQ(changes, (std::vector{AppStore::Property::AccentStyle,
                                    AppStore::Property::ScreenAwakeWhenTimer,
                                    AppStore::Property::BiometricLoginEnabled}));
    EXPECT_EQ(defaults->object(kAccent), QJsonValue("mint"));
    EXPECT_EQ(defaults->object(kScreenAwake), QJsonValue(true));
    EXPECT_EQ(defaults->object(kBiometricLogin), QJsonValue(true));
    EXPECT_EQ(start().accentStyle(), AccentStyle::Mint) << "the next start reads it";
}

TEST_F(StorePreferences, RememberMeSetterNotifiesButDoesNotPersist) {
    AppStore& s = start();
    s.setRememberMe(false);
    s.setRememberMe(false);
    EXPECT_EQ(changes, std::vector{AppStore::Property::RememberMe});
    EXPECT_EQ(defaults->object(kRememberMe), std::nullopt);
}

namespace {

class RememberedSession : public StorePreferences {
protected:
    void SetUp() override {
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
        // The service refuses the token: the restore ends by deleting it.
        test::FakeResponse refused = test::FakeResponse::json(401, R"({"message":"no"})");
        // A kept-alive connection would hold up the fake service's shutdown.
        refused.headers.emplace_back("Connection", "close");
        service.on("GET", "/api/user", refused);
    }

    std::size_t userRequests() const { return service.requestsTo("GET", "/api/user").size(); }
    int tokenLookups() {
        int n = 0;
        for (const auto& call : keychain->calls())
            n += call.operation == Op::CopyMatching && call.query.service == authTokenService();
        return n;
    }
    // Lets the scheduled restore run to its end, or shows that none starts.
    void settle(bool expectRestore) {
        if (!expectRestore) {
            // Every lookup is answered and what it woke has run: a restore
            // would have asked the service by then.
            test::KeychainScope::settle();
            ASSERT_TRUE(test::answersArrived());
            return;
        }
        test::eventuallyTrue([&] { return keychain->items().empty(); });
        test::KeychainScope::settle(); // the keyring's word on the removal is in
    }

    test::FakeService service;
};

} // namespace

TEST_F(RememberedSession, StoredTokenIsRestoredAfterConstruction) {
    ASSERT_EQ(saveAuthToken(" tok-1 "), std::nullopt);
    AppStore& s = start();
    EXPECT_FALSE(s.isLoggedIn()) << "signed out until the restore answers";
    EXPECT_EQ(userRequests(), 0u) << "construction does not wait for the restore";
    settle(true);
    ASSERT_EQ(userRequests(), 1u);
    EXPECT_EQ(service.requestsTo("GET", "/api/user")[0].header("Authorization"), "Bearer tok-1");
    EXPECT_TRUE(keychain->items().empty()) << "a refused token is deleted";
    EXPECT_FALSE(s.isLoggedIn());
}

TEST_F(RememberedSession, RememberMeOffReadsNoToken) {
    ASSERT_EQ(saveAuthToken("tok-1"), std::nullopt);
    defaults->setBool(kRememberMe, false);
    keychain->clearCalls();
    start();
    settle(false);
    EXPECT_EQ(tokenLookups(), 0);
    EXPECT_EQ(userRequests(), 0u);
}

TEST_F(RememberedSession, PendingBiometricSignInReadsNoToken) {
    ASSERT_EQ(saveAuthToken("tok-1"), std::nullopt);
    defaults->setBool(kBiometricLogin, true);
    defaults->setBool(kCredentialFlag, true);
    keychain->clearCalls();
    start();
    settle(false);
    EXPECT_EQ(tokenLookups(), 0);
    EXPECT_EQ(userRequests(), 0u);
}

TEST_F(RememberedSession, BiometricSignInWithoutItsPreconditionsRestoresTheToken) {
    const struct {
        bool biometricLogin, available, credentialFlag;
    } cases[] = {{true, true, false}, {true, false, true}, {false, true, true}};
    for (const auto& c : cases) {
        ASSERT_EQ(saveAuthToken("tok-1"), std::nullopt);
        defaults->setBool(kBiometricLogin, c.biometricLogin);
        defaults->setBool(kCredentialFlag, c.credentialFlag);
        biometrics.available = c.available;
        service.clearRequests();
        start();
        settle(true);
        EXPECT_EQ(userRequests(), 1u) << c.biometricLogin << c.available << c.credentialFlag;
    }
}

TEST_F(RememberedSession, BlankOrMissingTokenStartsNothing) {
    start();
    settle(false);
    EXPECT_EQ(tokenLookups(), 2) << "the restricted lookup, then the unrestricted one";
    EXPECT_EQ(userRequests(), 0u);

    ASSERT_EQ(addAuthTokenItem(" \n\t "), platform::KeychainStatus::Success);
    start();
    settle(false);
    EXPECT_EQ(userRequests(), 0u);
}

TEST_F(RememberedSession, KeychainFailureCountsAsNoToken) {
    ASSERT_EQ(saveAuthToken("tok-1"), std::nullopt);
    keychain->failNext(Op::CopyMatching, platform::KeychainStatus::InteractionNotAllowed);
    keychain->failNext(Op::CopyMatching, platform::KeychainStatus::InteractionNotAllowed);
    AppStore& s = start();
    settle(false);
    EXPECT_EQ(userRequests(), 0u);
    EXPECT_FALSE(s.isLoggedIn());
}
