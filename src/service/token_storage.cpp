#include "service/token_storage.h"

#include "platform/user_defaults.h"
#include "service/login_records.h"
#include "service/orvane_api_config.h"
#include "service/orvane_api_error.h"

#include "platform/keychain_thread.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace orvane {

using platform::Keychain;
namespace Status = platform::KeychainStatus;

QString authTokenService() {
    return QString::fromLatin1(kApplicationIdentifier) + QStringLiteral(".auth");
}

bool deleteAuthToken() {
    Keychain& keychain = Keychain::shared();
    const QString service = authTokenService();
    const QString account = QString::fromLatin1(kAuthTokenAccount);
    bool gone = true;
    for (const std::optional<bool> synchronizable :
         {std::optional<bool>(), std::optional(false), std::optional(true)}) {
        const platform::OSStatus status =
            keychain.remove(platform::KeychainQuery{service, account, synchronizable});
        gone = gone && (status == Status::Success || status == Status::ItemNotFound);
    }
    return gone;
}

platform::OSStatus addAuthTokenItem(const QByteArray& value) {
    return Keychain::shared().add(platform::KeychainItem{
        authTokenService(), QString::fromLatin1(kAuthTokenAccount), value, false});
}

QByteArray authTokenItemValue(const QString& token, const QString& origin) {
    QJsonObject item;
    item.insert(QLatin1String("origin"), origin);
    item.insert(QLatin1String("token"), token);
    return QJsonDocument(item).toJson(QJsonDocument::Compact);
}

std::optional<StoredAuthToken> decodeAuthTokenItem(const QByteArray& value) {
    const auto text = strictUtf8(value);
    if (!text)
        return std::nullopt;
    // A bearer token never starts with a brace: this is a token with its origin.
    if (text->trimmed().startsWith(QLatin1Char('{'))) {
        const QJsonObject item = QJsonDocument::fromJson(value).object();
        const QJsonValue origin = item.value(QLatin1String("origin"));
        const QJsonValue token = item.value(QLatin1String("token"));
        const auto usable = token.isString() ? usableBearerToken(token.toString()) : std::nullopt;
        if (!usable || !origin.isString() || origin.toString().isEmpty())
            return std::nullopt;
        return StoredAuthToken{*usable, origin.toString()};
    }
    const auto usable = usableBearerToken(text);
    if (!usable)
        return std::nullopt;
    return StoredAuthToken{*usable, std::nullopt};
}

std::optional<QString> saveAuthToken(const QString& token, const QString& origin) {
    deleteAuthToken();
    const QString trimmed = token.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QByteArray value = authTokenItemValue(trimmed, origin);
    platform::OSStatus status = addAuthTokenItem(value);
    if (status == Status::DuplicateItem) {
        deleteAuthToken();
        status = addAuthTokenItem(value);
    }
    return keychainMessage(status);
}

platform::KeychainQuery authTokenQuery(bool nonSynchronizableOnly) {
    platform::KeychainQuery query{authTokenService(), QString::fromLatin1(kAuthTokenAccount),
                                  std::nullopt};
    if (nonSynchronizableOnly)
        query.synchronizable = false;
    return query;
}

namespace {
std::optional<StoredAuthToken> readStored(const platform::KeychainQuery& query) {
    QByteArray bytes;
    if (Keychain::shared().copyMatching(query, &bytes) != Status::Success)
        return std::nullopt;
    return decodeAuthTokenItem(bytes);
}

platform::UserDefaults& defaults() {
    return platform::UserDefaults::standard();
}

void forgetKey(const char* key) {
    if (defaults().object(QLatin1String(key)))
        defaults().remove(QLatin1String(key));
}

void noteOriginRecorded() {
    if (!defaults().boolValue(QLatin1String(kAuthTokenOriginRecordedKey)))
        defaults().setBool(QLatin1String(kAuthTokenOriginRecordedKey), true);
}

// Every save and removal asked for, in order: only the last one asked for
// decides whether a removal is still owed.
quint64 g_writesAsked = 0;
} // namespace

std::optional<QString> readAuthToken(const platform::KeychainQuery& query) {
    if (auto stored = readStored(query))
        return stored->token;
    return std::nullopt;
}

std::optional<StoredAuthToken> readStoredAuthToken() {
    if (auto stored = readStored(authTokenQuery(true)))
        return stored;
    return readStored(authTokenQuery(false));
}

QString keyringNotAnsweringMessage() {
    return QStringLiteral("Schlüsselbund antwortet nicht. Die Anmeldung gilt nur bis zum Beenden "
                          "von Orvane.");
}

QCoro::Task<std::optional<QString>> rememberAuthToken(QString token) {
    if (token.trimmed().isEmpty()) {
        co_await forgetAuthToken();
        co_return std::nullopt;
    }
    const QString origin = OrvaneAPIConfig::serviceOrigin();
    const quint64 write = ++g_writesAsked;
    // Named, not a temporary of the await: g++ 12 destroys those twice.
    auto saving = platform::KeychainThread::shared().run<std::optional<QString>>(
        [token, origin] { return saveAuthToken(token, origin); });
    const auto failure = co_await std::move(saving);
    if (!failure)
        co_return keyringNotAnsweringMessage();
    if (*failure)
        co_return *failure;
    noteOriginRecorded();
    // The new item replaced what was stored: a bare token's note has gone with
    // it, and so has a token whose removal was owed, unless asked for since.
    forgetKey(kAuthTokenOriginKey);
    if (write == g_writesAsked)
        forgetKey(kAuthTokenRemovalPendingKey);
    co_return std::nullopt;
}

QCoro::Task<bool> forgetAuthToken() {
    // Written before the keyring is asked: a quit or a crash meanwhile leaves it.
    defaults().setBool(QLatin1String(kAuthTokenRemovalPendingKey), true);
    const quint64 write = ++g_writesAsked;
    auto removing = platform::KeychainThread::shared().run<bool>([] { return deleteAuthToken(); });
    const auto gone = co_await std::move(removing);
    if (!gone || !*gone)
        co_return false;
    forgetKey(kAuthTokenOriginKey);
    if (write == g_writesAsked)
        forgetKey(kAuthTokenRemovalPendingKey);
    co_return true;
}

bool authTokenRemovalPending() {
    return defaults().boolValue(QLatin1String(kAuthTokenRemovalPendingKey));
}

QCoro::Task<std::optional<QString>> rememberedAuthToken() {
    // The user signed out: whatever the keyring still holds stays unused.
    if (authTokenRemovalPending()) {
        co_await forgetAuthToken();
        co_return std::nullopt;
    }
    auto reading = platform::KeychainThread::shared().run<std::optional<StoredAuthToken>>(
        [] { return readStoredAuthToken(); });
    const auto read = co_await std::move(reading);
    const QString service = OrvaneAPIConfig::serviceOrigin();
    if (!read || !*read || service.isEmpty())
        co_return std::nullopt;
    const StoredAuthToken stored = **read;
    std::optional<QString> origin = stored.origin;
    if (!origin)
        origin = defaults().string(QLatin1String(kAuthTokenOriginKey));
    if (origin) {
        noteOriginRecorded();
        co_return *origin == service ? std::optional(stored.token) : std::nullopt;
    }
    // Of unknown origin: after an origin was once recorded here, its own may
    // have been dropped, so it goes nowhere.
    if (defaults().boolValue(QLatin1String(kAuthTokenOriginRecordedKey)))
        co_return std::nullopt;
    // Kept by an earlier version, which noted no origin: it has only ever gone
    // to the service configured for it.
    defaults().setString(QLatin1String(kAuthTokenOriginKey), service);
    noteOriginRecorded();
    co_return stored.token;
}

std::optional<QString> keychainMessage(platform::OSStatus status) {
    switch (status) {
    case Status::Success:
        return std::nullopt;
    case Status::InteractionNotAllowed:
        return QStringLiteral("Schlüsselbund: Zugriff jetzt nicht möglich. Gerät entsperren, dann "
                              "erneut versuchen.");
    case Status::ItemNotFound:
        return QStringLiteral(
            "Schlüsselbund: Eintrag nicht mehr vorhanden. Bitte einmal normal anmelden.");
    case Status::InvalidItem:
        return QStringLiteral(
            "Schlüsselbund: ungültiger Eintrag. Bitte einmal ab- und neu anmelden.");
    case Status::MissingEntitlement:
        return QStringLiteral("Schlüsselbund: App-Setup (Signatur/Berechtigung) passt nicht. Ggf. "
                              "Entwicklungs-Team-Profil bzw. Neuinstallation prüfen.");
    case Status::DuplicateItem:
        return QStringLiteral("Schlüsselbund: Konflikt mit einem vorherigen Eintrag. App einmal "
                              "beenden, neu starten, dann erneut anmelden.");
    case Status::AuthFailed:
        return QStringLiteral("Schlüsselbund: Anmeldung bzw. Zugang verweigert. Biometrie oder "
                              "Code erneut prüfen.");
    case Status::NotAvailable:
        return QStringLiteral(
            "Schlüsselbund: gerade nicht verfügbar (Sicherheits-Container). iOS-Update prüfen.");
    case Status::Param:
        return QStringLiteral(
            "Schlüsselbund: ungültige Anfrage. Bitte App aktualisieren und erneut versuchen.");
    default:
        break;
    }
    const QString platformText = Keychain::shared().errorMessage(status);
    if (!platformText.isEmpty())
        return QStringLiteral("Schlüsselbund (Code %1): %2").arg(status).arg(platformText);
    return QStringLiteral("Schlüsselbund-Problem (Code %1). Bitte ab- und neu anmelden oder "
                          "iOS-Update prüfen.")
        .arg(status);
}

} // namespace orvane
