#pragma once

#include "service/token_storage.h"
#include "store/app_store.h"
#include "store/biometric_credential_store.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

#include <memory>
#include <optional>

namespace orvane::test {

// A port on 127.0.0.1 where nothing listens.
inline int closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const int port = server.serverPort();
    server.close();
    return port;
}

// Everything the store touches, fresh for one case: the service, the user
// defaults pointing at it, the keyring, biometry and haptics; the store is
// made on first use, so a case can prepare the defaults and keyring first.
struct StoreWorld {
    FakeService service;
    TempUserDefaults defaults;
    KeychainScope keychain;
    FakeBiometrics biometrics;
    FakeHaptics haptics;
    std::unique_ptr<AppStore> storePtr;

    StoreWorld() { defaults->setString(QStringLiteral("orvane_api_base_url"), service.baseURL()); }

    AppStore& store() {
        if (!storePtr) {
            storePtr = std::make_unique<AppStore>();
            KeychainScope::settle(); // the start-up read has its answer
        }
        return *storePtr;
    }

    void goOffline() {
        defaults->setString(QStringLiteral("orvane_api_base_url"),
                            QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    }

    std::size_t userRequests() const { return service.requestsTo("GET", "/api/user").size(); }

    std::optional<QByteArray> item(const QString& itemService, const QString& account) {
        KeychainScope::settle();
        for (const auto& i : keychain->items())
            if (i.service == itemService && i.account == account)
                return i.value;
        return std::nullopt;
    }
    // The stored token without its origin.
    std::optional<QByteArray> storedToken() {
        const auto value = item(authTokenService(), QString::fromLatin1(kAuthTokenAccount));
        const auto stored = value ? decodeAuthTokenItem(*value) : std::nullopt;
        return stored ? std::optional(stored->token.toUtf8()) : std::nullopt;
    }
    std::optional<QJsonObject> credentials() {
        const auto value = item(BiometricCredentialStore::service(), QStringLiteral("credentials"));
        if (!value)
            return std::nullopt;
        return QJsonDocument::fromJson(*value).object();
    }
    bool hasBackup() {
        return item(BiometricCredentialStore::service(), QStringLiteral("credentials-pw-backup"))
            .has_value();
    }
    bool credentialFlag() {
        KeychainScope::settle();
        return defaults->boolValue(QLatin1String(kBiometricCredentialInKeychainKey));
    }
};

} // namespace orvane::test
