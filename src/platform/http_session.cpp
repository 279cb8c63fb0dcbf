#include "platform/http_session.h"

#include <QAuthenticator>
// The challenge's scheme is not public API; the private header is the only
// place Qt exposes it.
#include <QtNetwork/private/qauthenticator_p.h>
#include <QTimer>

namespace orvane::platform {

namespace {
constexpr const char* kChallengeCount = "orvaneChallengeCount";

QString challengeScheme(QAuthenticator* authenticator) {
    switch (QAuthenticatorPrivate::getPrivate(*authenticator)->method) {
    case QAuthenticatorPrivate::Basic:
        return QStringLiteral("Basic");
    case QAuthenticatorPrivate::DigestMd5:
        return QStringLiteral("Digest");
    case QAuthenticatorPrivate::Ntlm:
        return QStringLiteral("NTLM");
    case QAuthenticatorPrivate::Negotiate:
        return QStringLiteral("Negotiate");
    case QAuthenticatorPrivate::None:
        break;
    }
    return {};
}
} // namespace

HttpSession::HttpSession(Timeouts timeouts, AuthChallengeHandler handler, QObject* parent)
    : QObject(parent), timeouts_(timeouts), handler_(std::move(handler)) {
    manager_.setCache(nullptr);
    manager_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    connect(&manager_, &QNetworkAccessManager::authenticationRequired, this,
            &HttpSession::onAuthenticationRequired);
}

bool HttpSession::timedOut(const QNetworkReply* reply) {
    return reply && reply->property(kTimedOutProperty).toBool();
}

QNetworkReply* HttpSession::send(const QNetworkRequest& request, const QByteArray& verb,
                                 const QByteArray& body) {
    QNetworkRequest req(request);
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = body.isEmpty() && verb != "POST" && verb != "PATCH" && verb != "PUT"
                               ? manager_.sendCustomRequest(req, verb)
                               : manager_.sendCustomRequest(req, verb, body);
    watch(reply);
    return reply;
}

void HttpSession::watch(QNetworkReply* reply) {
    // Both clocks live only while the request does.
    auto* inactivity = new QTimer(reply);
    inactivity->setSingleShot(true);
    inactivity->setInterval(timeouts_.inactivity);
    auto* whole = new QTimer(reply);
    whole->setSingleShot(true);
    whole->setInterval(timeouts_.resource);
    const auto expire = [reply] {
        if (reply->isRunning()) {
            reply->setProperty(kTimedOutProperty, true);
            reply->abort();
        }
    };
    connect(inactivity, &QTimer::timeout, reply, expire);
    connect(whole, &QTimer::timeout, reply, expire);
    const auto activity = [inactivity] { inactivity->start(); };
    connect(reply, &QNetworkReply::downloadProgress, inactivity, activity);
    connect(reply, &QNetworkReply::uploadProgress, inactivity, activity);
    connect(reply, &QNetworkReply::metaDataChanged, inactivity, activity);
    connect(reply, &QNetworkReply::finished, inactivity, &QTimer::stop);
    connect(reply, &QNetworkReply::finished, whole, &QTimer::stop);
    inactivity->start();
    whole->start();
}

void HttpSession::onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator) {
    const int previous = reply->property(kChallengeCount).toInt();
    reply->setProperty(kChallengeCount, previous + 1);
    if (!handler_)
        return;
    AuthChallenge challenge{challengeScheme(authenticator), authenticator->realm(),
                            reply->url().host(), previous};
    handler_(challenge, [authenticator](AuthChallengeDisposition disposition,
                                        std::optional<Credential> credential) {
        if (disposition == AuthChallengeDisposition::UseCredential && credential) {
            authenticator->setUser(credential->user);
            authenticator->setPassword(credential->password);
        }
        // Default handling: leave the authenticator untouched, so the request
        // ends with the host's own status.
    });
}

} // namespace orvane::platform
