#include "service/transport_error.h"

namespace orvane {

QString TransportError::localizedDescription() const {
    if (timedOut())
        return QStringLiteral("Zeitüberschreitung bei der Anforderung.");
    if (tooLarge_)
        return QStringLiteral("Die Antwort des Servers ist zu groß und wurde abgebrochen.");
    switch (code_) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Es konnte keine Verbindung zum Server hergestellt werden.");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("Die Netzwerkverbindung wurde unterbrochen.");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Es wurde kein Server mit dem angegebenen Hostnamen gefunden.");
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("abgebrochen");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("Ein SSL-Fehler ist aufgetreten. Es kann keine sichere Verbindung "
                              "zum Server hergestellt werden.");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return QStringLiteral("Die Internetverbindung scheint offline zu sein.");
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("Zu viele HTTP-Umleitungen");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return QStringLiteral("Es konnte keine Verbindung zum Proxy-Server hergestellt werden.");
    case QNetworkReply::ProtocolUnknownError:
        return QStringLiteral("Nicht unterstützte URL");
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProtocolFailure:
        return QStringLiteral("Ungültige Antwort vom Server.");
    default:
        return QStringLiteral("Ein unbekannter Netzwerkfehler ist aufgetreten.");
    }
}

std::optional<TransportError> transportFailure(const QNetworkReply& reply, bool timedOut,
                                               qint64 bodyBytes) {
    const QNetworkReply::NetworkError code = reply.error();
    if (timedOut && code != QNetworkReply::NoError)
        return TransportError(code, true);
    // A request without an answer that Qt declined to repeat: the
    // connection went away under it.
    if (code == QNetworkReply::ContentReSendError)
        return TransportError(QNetworkReply::RemoteHostClosedError, false);
    const bool network =
        code != QNetworkReply::NoError && code < QNetworkReply::ContentAccessDenied;
    const bool protocol =
        code >= QNetworkReply::ProtocolUnknownError && code < QNetworkReply::InternalServerError;
    const bool hasStatus = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (network || protocol || (code != QNetworkReply::NoError && !hasStatus))
        return TransportError(code, false);
    // Qt now and then ends a reply whose connection closed mid-body without
    // an error (after repeating a read whose first answer broke off).
    // The announced length counts encoded bytes; a decoded body is another size.
    const QByteArray encoding = reply.rawHeader("Content-Encoding").trimmed().toLower();
    const bool plain = encoding.isEmpty() || encoding == "identity";
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    if (plain && announced.isValid() && bodyBytes < announced.toLongLong())
        return TransportError(QNetworkReply::RemoteHostClosedError, false);
    return std::nullopt;
}

} // namespace orvane
