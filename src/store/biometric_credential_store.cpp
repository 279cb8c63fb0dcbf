#include "store/biometric_credential_store.h"

#include "platform/biometrics.h"
#include "platform/keychain_thread.h"
#include "platform/user_defaults.h"
#include "service/token_storage.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace orvane::BiometricCredentialStore {

using platform::Keychain;
namespace Status = platform::KeychainStatus;

namespace {

const QString kCredentialsAccount = QStringLiteral("credentials");
const QString kBackupAccount = QStringLiteral("credentials-pw-backup");

// The user defaults live on the main thread; the keyring calls run on the
// keyring's.
void setFlag(bool value) {
    platform::KeychainThread::whenBack([value] {
        platform::UserDefaults::standard().setBool(QLatin1String(kBiometricCredentialInKeychainKey),
                                                   value);
    });
}

void deleteItem(const QString& account) {
    for (const std::optional<bool> synchronizable :
         {std::optional<bool>(), std::optional(false), std::optional(true)})
        Keychain::shared().remove(platform::KeychainQuery{service(), account, synchronizable, {}});
}

QByteArray encodePayload(const Payload& payload) {
    QJsonObject o;
    o.insert(QLatin1String("email"), payload.email);
    if (payload.password)
        o.insert(QLatin1String("password"), *payload.password);
    if (payload.token)
        o.insert(QLatin1String("token"), *payload.token);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Payload> decodePayload(const QByteArray& data) {
    const QJsonDocument doc = QJsonDocument::fromJson(data);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonValue email = o.value(QLatin1String("email"));
    if (!email.isString())
        return std::nullopt;
    Payload payload{email.toString(), std::nullopt, std::nullopt};
    for (const auto& [key, field] :
         {std::pair{"password", &payload.password}, std::pair{"token", &payload.token}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isString())
            *field = v.toString();
        else if (!v.isUndefined() && !v.isNull())
            return std::nullopt;
    }
    return payload;
}

// Adds the item; a duplicate is deleted and added once more.
platform::OSStatus addWithRetry(const platform::KeychainItem& item) {
    platform::OSStatus status = Keychain::shared().add(item);
    if (status == Status::DuplicateItem) {
        deleteItem(item.account);
        status = Keychain::shared().add(item);
    }
    return status;
}

} // namespace

std::optional<QString> StoreError::errorDescription() const {
    switch (kind_) {
    case Kind::KeychainWrite:
    case Kind::KeychainRead:
        return keychainMessage(status_);
    case Kind::UserCanceled:
        return std::nullopt;
    case Kind::MissingOrInvalid:
        return QStringLiteral("Gespeicherte Anmeldung ist ungültig. Bitte mit Passwort anmelden "
                              "und in den Einstellungen neu aktivieren.");
    case Kind::BiometryFailed:
        return QStringLiteral("Biometrie nicht erkannt. Bitte erneut versuchen.");
    case Kind::AccessControlFailed:
        return QStringLiteral("Biometrie-Zugang konnte nicht eingerichtet werden.");
    case Kind::DecodeFailed:
        return QStringLiteral("Gespeicherte Anmeldedaten sind ungültig.");
    }
    return std::nullopt;
}

QString StoreError::localizedDescription() const {
    // A case without a text of its own shows a generic one.
    return errorDescription().value_or(
        QStringLiteral("Der Vorgang konnte nicht abgeschlossen werden."));
}

QString service() {
    return QString::fromLatin1(kApplicationIdentifier) + QStringLiteral(".biometric-login");
}

namespace {
void storeTrimmed(const QString& email, const std::optional<QString>& password,
                  const std::optional<QString>& token) {
    const QString e = email.trimmed();
    const std::optional<QString> p = password ? std::optional(password->trimmed()) : std::nullopt;
    const std::optional<QString> t = token ? std::optional(token->trimmed()) : std::nullopt;
    if (e.isEmpty() || (p && p->isEmpty()) || (t && t->isEmpty()))
        throw StoreError(StoreError::Kind::MissingOrInvalid);
    save(Payload{e, p, t});
}
} // namespace

void store(const QString& email, const QString& password) {
    storeTrimmed(email, password, std::nullopt);
}

void storeWithToken(const QString& email, const QString& token) {
    storeTrimmed(email, std::nullopt, token);
}

void store(const QString& email, const QString& password, const QString& token) {
    storeTrimmed(email, password, token);
}

void save(const Payload& payload) {
    deleteCredentials();
    const QString email = payload.email.trimmed();
    const QString password = payload.password.value_or(QString()).trimmed();
    if (!email.isEmpty() && !password.isEmpty())
        savePasswordBackup(email, password);
    else
        deletePasswordBackup();
    platform::KeychainItem item{service(), kCredentialsAccount, encodePayload(payload), false,
                                true};
    const platform::OSStatus status = addWithRetry(item);
    if (status != Status::Success)
        throw StoreError(StoreError::Kind::KeychainWrite, status);
    setFlag(true);
}

Payload load(const QString& reason) {
    QByteArray data;
    const platform::OSStatus status = Keychain::shared().copyMatching(
        platform::KeychainQuery{service(), kCredentialsAccount, std::nullopt, reason}, &data);
    switch (status) {
    case Status::Success:
        break;
    case Status::ItemNotFound:
        throw StoreError(StoreError::Kind::MissingOrInvalid);
    case Status::AuthFailed:
        throw StoreError(StoreError::Kind::BiometryFailed);
    case Status::UserCanceled:
        throw StoreError(StoreError::Kind::UserCanceled);
    default:
        throw StoreError(StoreError::Kind::KeychainRead, status);
    }
    const auto payload = decodePayload(data);
    if (!payload)
        throw StoreError(StoreError::Kind::DecodeFailed);
    const QString email = payload->email.trimmed();
    const QString password = payload->password.value_or(QString()).trimmed();
    if (payload->password && !email.isEmpty() && !password.isEmpty()) {
        try {
            savePasswordBackup(email, password);
        } catch (const StoreError&) {
        }
    } else {
        deletePasswordBackup();
    }
    return *payload;
}

void deleteCredentials() {
    deleteItem(kCredentialsAccount);
}

void deletePasswordBackup() {
    deleteItem(kBackupAccount);
}

void savePasswordBackup(const QString& email, const QString& password) {
    deletePasswordBackup();
    QJsonObject o;
    o.insert(QLatin1String("email"), email);
    o.insert(QLatin1String("password"), password);
    const platform::KeychainItem item{
        service(), kBackupAccount, QJsonDocument(o).toJson(QJsonDocument::Compact), false, false};
    const platform::OSStatus status = addWithRetry(item);
    if (status != Status::Success)
        throw StoreError(StoreError::Kind::KeychainWrite, status);
}

std::optional<std::pair<QString, QString>> loadPasswordBackup() {
    for (const std::optional<bool> synchronizable : {std::optional(false), std::optional<bool>()}) {
        QByteArray data;
        if (Keychain::shared().copyMatching(
                platform::KeychainQuery{service(), kBackupAccount, synchronizable, {}}, &data) !=
            Status::Success)
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(data);
        const QJsonValue email = doc.object().value(QLatin1String("email"));
        const QJsonValue password = doc.object().value(QLatin1String("password"));
        if (!doc.isObject() || !email.isString() || !password.isString())
            continue;
        const QString e = email.toString().trimmed();
        const QString p = password.toString().trimmed();
        if (!e.isEmpty() && !p.isEmpty())
            return std::pair{e, p};
    }
    return std::nullopt;
}

void credentialsFromPasswordBackup() {
    if (const auto backup = loadPasswordBackup()) {
        save(Payload{backup->first, backup->second, std::nullopt});
        return;
    }
    deleteCredentials();
    deletePasswordBackup();
    setFlag(false);
}

QString biometryDisplayName() {
    switch (platform::Biometrics::shared().biometryType()) {
    case platform::BiometryType::TouchID:
        return QStringLiteral("Touch ID");
    case platform::BiometryType::FaceID:
        return QStringLiteral("Face ID");
    case platform::BiometryType::OpticID:
        return QStringLiteral("Optic ID");
    case platform::BiometryType::None:
        break;
    }
    return QStringLiteral("Biometrie");
}

QString biometrySymbolName() {
    switch (platform::Biometrics::shared().biometryType()) {
    case platform::BiometryType::TouchID:
        return QStringLiteral("touchid");
    case platform::BiometryType::FaceID:
        return QStringLiteral("faceid");
    case platform::BiometryType::OpticID:
        return QStringLiteral("opticid");
    case platform::BiometryType::None:
        break;
    }
    return QStringLiteral("lock.fill");
}

} // namespace orvane::BiometricCredentialStore
