#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QAuthenticator;

namespace orvane::platform {

// A host's demand for credentials, as the session's owner sees it.
struct AuthChallenge {
    QString authenticationMethod; // "Basic", "Digest", "NTLM", … as the host named it
    QString realm;
    QUrl url; // of the request the host answered
    int previousFailureCount = 0;
};

enum class AuthChallengeDisposition { UseCredential, PerformDefaultHandling };

struct Credential {
    QString user;
    QString password;
};

using AuthChallengeCompletion =
    std::function<void(AuthChallengeDisposition, std::optional<Credential>)>;
using AuthChallengeHandler =
    std::function<void(const AuthChallenge&, const AuthChallengeCompletion&)>;

// The scheme a host's challenge names ("Basic", "Digest", …); empty when
// unknown.
QString authenticationScheme(QAuthenticator* authenticator);

// One HTTP session for the whole process: nothing on disk (no cache, cookies
// in memory only), an inactivity time-out and a whole-request time-out, and
// credential challenges handed to the owner's handler.
class HttpSession : public QObject {
    Q_OBJECT
public:
    struct Timeouts {
        std::chrono::milliseconds inactivity{60'000};
        std::chrono::milliseconds resource{120'000};
    };

    HttpSession(Timeouts timeouts, AuthChallengeHandler handler, QObject* parent = nullptr);

    // Starts a request; the reply belongs to the caller (deleteLater when done).
    // POST and PATCH go out at most once, each on a connection of its own: Qt
    // repeats a request whose connection closed before any answer came, and
    // for these the service may already have acted on the first one.
    QNetworkReply* send(const QNetworkRequest& request, const QByteArray& verb,
                        const QByteArray& body = {});

    QNetworkAccessManager& manager() { return manager_; }
    Timeouts timeouts() const { return timeouts_; }

    // Set on a reply that this session aborted because a time-out ran out.
    static constexpr const char* kTimedOutProperty = "orvaneTimedOut";
    static bool timedOut(const QNetworkReply* reply);

    static bool isIdempotent(const QByteArray& verb);

private:
    void configure(QNetworkAccessManager& manager);
    QNetworkReply* sendOnce(QNetworkRequest request, const QByteArray& verb,
                            const QByteArray& body);
    void onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator);
    void watch(QNetworkReply* reply);

    QNetworkAccessManager manager_;
    Timeouts timeouts_;
    AuthChallengeHandler handler_;
};

} // namespace orvane::platform
