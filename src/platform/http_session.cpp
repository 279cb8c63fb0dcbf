#include "platform/http_session.h"

#include <QAuthenticator>
// The challenge's scheme is not public API; the private header is the only
// place Qt exposes it.
#include <QtNetwork/private/qauthenticator_p.h>
#include <QIODevice>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace orvane::platform {

namespace {
constexpr const char* kChallengeCount = "orvaneChallengeCount";
constexpr const char* kOneShotBody = "orvaneOneShotBody";

// The body of a request that must not be repeated behind our back. Qt asks
// the body to rewind before it sends a request again; this one agrees only
// between a credential challenge that we took up and the moment the request
// goes out with the credential (the host refused the first try without acting
// on it). A request lost with its connection fails instead of going out twice.
class OneShotBody : public QIODevice {
public:
    OneShotBody(QByteArray data, QObject* parent) : QIODevice(parent), data_(std::move(data)) {
        open(QIODevice::ReadOnly);
    }
    void allowRewindsUntilSent() { rewindAllowed_ = true; }
    void sent() { rewindAllowed_ = false; }

    bool isSequential() const override { return false; }
    qint64 size() const override { return data_.size(); }
    bool reset() override { return rewindAllowed_ && QIODevice::reset(); }

protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 n = std::min<qint64>(max, data_.size() - pos());
        if (n <= 0)
            return n == 0 ? 0 : -1;
        std::memcpy(out, data_.constData() + pos(), static_cast<std::size_t>(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    bool rewindAllowed_ = false;
};

} // namespace

QString authenticationScheme(QAuthenticator* authenticator) {
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

HttpSession::HttpSession(Timeouts timeouts, AuthChallengeHandler handler, QObject* parent)
    : QObject(parent), timeouts_(timeouts), handler_(std::move(handler)) {
    configure(manager_);
}

void HttpSession::configure(QNetworkAccessManager& manager) {
    manager.setCache(nullptr);
    manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    connect(&manager, &QNetworkAccessManager::authenticationRequired, this,
            &HttpSession::onAuthenticationRequired);
}

bool HttpSession::isIdempotent(const QByteArray& verb) {
    return verb != "POST" && verb != "PATCH";
}

bool HttpSession::timedOut(const QNetworkReply* reply) {
    return reply && reply->property(kTimedOutProperty).toBool();
}

QNetworkReply* HttpSession::send(const QNetworkRequest& request, const QByteArray& verb,
                                 const QByteArray& body) {
    QNetworkRequest req(request);
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    QNetworkReply* reply = !isIdempotent(verb) ? sendOnce(req, verb, body)
                           : body.isEmpty() && verb != "PUT"
                               ? manager_.sendCustomRequest(req, verb)
                               : manager_.sendCustomRequest(req, verb, body);
    watch(reply);
    return reply;
}

// A manager of its own has no kept-alive connection that the host may have
// closed meanwhile, so a request after a long idle does not fail for it.
QNetworkReply* HttpSession::sendOnce(QNetworkRequest request, const QByteArray& verb,
                                     const QByteArray& body) {
    auto* manager = new QNetworkAccessManager(this);
    configure(*manager);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    auto* data = new OneShotBody(body, manager);
    QNetworkReply* reply = manager->sendCustomRequest(request, verb, data);
    data->setParent(reply);
    connect(reply, &QNetworkReply::requestSent, data, [data] { data->sent(); });
    reply->setProperty(kOneShotBody, QVariant::fromValue<QObject*>(data));
    // The reply is the manager's child: the manager goes only after it.
    connect(reply, &QObject::destroyed, manager, &QObject::deleteLater);
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
    const AuthChallenge challenge{authenticationScheme(authenticator), authenticator->realm(),
                                  reply->url(), previous};
    QPointer<QObject> body = reply->property(kOneShotBody).value<QObject*>();
    handler_(challenge, [authenticator, body](AuthChallengeDisposition disposition,
                                              std::optional<Credential> credential) {
        if (disposition == AuthChallengeDisposition::UseCredential && credential) {
            authenticator->setUser(credential->user);
            authenticator->setPassword(credential->password);
            if (auto* once = static_cast<OneShotBody*>(body.data()))
                once->allowRewindsUntilSent();
        }
        // Default handling: leave the authenticator untouched, so the request
        // ends with the host's own status.
    });
}

} // namespace orvane::platform
