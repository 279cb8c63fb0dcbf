#include "service/token_storage.h"

#include "platform/user_defaults.h"
#include "service/login_records.h"
#include "service/orvane_api_config.h"
#include "service/orvane_api_error.h"

namespace orvane {

using platform::Keychain;
namespace Status = platform::KeychainStatus;

QString authTokenService() {
    return QString::fromLatin1(kApplicationIdentifier) + QStringLiteral(".auth");
}

void deleteAuthToken() {
    Keychain& keychain = Keychain::shared();
    const QString service = authTokenService();
    const QString account = QString::fromLatin1(kAuthTokenAccount);
    for (const std::optional<bool> synchronizable :
         {std::optional<bool>(), std::optional(false), std::optional(true)})
        keychain.remove(platform::KeychainQuery{service, account, synchronizable});
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (defaults.object(QLatin1String(kAuthTokenOriginKey)))
        defaults.remove(QLatin1String(kAuthTokenOriginKey));
}

bool authTokenBelongsToService() {
    const QString origin = OrvaneAPIConfig::serviceOrigin();
    return !origin.isEmpty() &&
           platform::UserDefaults::standard().string(QLatin1String(kAuthTokenOriginKey)) == origin;
}

void adoptAuthTokenOfUnknownOrigin() {
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const QString origin = OrvaneAPIConfig::serviceOrigin();
    if (!origin.isEmpty() && !defaults.object(QLatin1String(kAuthTokenOriginKey)))
        defaults.setString(QLatin1String(kAuthTokenOriginKey), origin);
}

platform::OSStatus addAuthTokenItem(const QByteArray& token) {
    return Keychain::shared().add(platform::KeychainItem{
        authTokenService(), QString::fromLatin1(kAuthTokenAccount), token, false});
}

std::optional<QString> saveAuthToken(const QString& token) {
    deleteAuthToken();
    const QString trimmed = token.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QByteArray bytes = trimmed.toUtf8();
    platform::OSStatus status = addAuthTokenItem(bytes);
    if (status == Status::DuplicateItem) {
        deleteAuthToken();
        status = addAuthTokenItem(bytes);
    }
    if (status == Status::Success)
        platform::UserDefaults::standard().setString(QLatin1String(kAuthTokenOriginKey),
                                                     OrvaneAPIConfig::serviceOrigin());
    return keychainMessage(status);
}

platform::KeychainQuery authTokenQuery(bool nonSynchronizableOnly) {
    platform::KeychainQuery query{authTokenService(), QString::fromLatin1(kAuthTokenAccount),
                                  std::nullopt};
    if (nonSynchronizableOnly)
        query.synchronizable = false;
    return query;
}

std::optional<QString> readAuthToken(const platform::KeychainQuery& query) {
    QByteArray bytes;
    if (Keychain::shared().copyMatching(query, &bytes) != Status::Success)
        return std::nullopt;
    const auto text = strictUtf8(bytes);
    if (!text)
        return std::nullopt;
    return usableBearerToken(text);
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
