#include "service/orvane_api_config.h"

#include "platform/user_defaults.h"

namespace orvane {

namespace {
QString stringSetting(const char* key) {
    return platform::UserDefaults::standard().string(QLatin1String(key)).value_or(QString());
}

QString trimSlashes(QString text) {
    qsizetype start = 0;
    while (start < text.size() && text[start] == u'/')
        ++start;
    qsizetype end = text.size();
    while (end > start && text[end - 1] == u'/')
        --end;
    return text.mid(start, end - start);
}

int effectivePort(const QUrl& url) {
    return url.port(url.scheme().compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80);
}
} // namespace

namespace OrvaneAPIConfig {

QString builtInBaseURL() {
    return QStringLiteral("https://app.orvane.example");
}

QString baseURLString() {
    const auto stored = platform::UserDefaults::standard().string(QLatin1String(kBaseURLKey));
    if (!stored)
        return builtInBaseURL();
    const QString trimmed = stored->trimmed();
    if (trimmed.isEmpty())
        return builtInBaseURL();
    return trimSlashes(trimmed);
}

QString basicAuthUser() {
    return stringSetting(kBasicUserKey).trimmed();
}

QString basicAuthPassword() {
    return stringSetting(kBasicPasswordKey);
}

QString originOf(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return url.scheme().toLower() + QStringLiteral("://") + url.host().toLower() + u':' +
           QString::number(effectivePort(url));
}

bool sameOrigin(const QUrl& a, const QUrl& b) {
    const QString origin = originOf(a);
    return !origin.isEmpty() && origin == originOf(b);
}

QString serviceOrigin() {
    return originOf(QUrl(baseURLString(), QUrl::StrictMode));
}

bool isServiceOrigin(const QUrl& url) {
    const QString service = serviceOrigin();
    return !service.isEmpty() && service == originOf(url);
}

} // namespace OrvaneAPIConfig

void answerBasicAuthChallenge(const platform::AuthChallenge& challenge,
                              const platform::AuthChallengeCompletion& completion) {
    using platform::AuthChallengeDisposition;
    if (challenge.authenticationMethod.compare(u"Basic", Qt::CaseInsensitive) != 0 ||
        challenge.previousFailureCount != 0 || !OrvaneAPIConfig::isServiceOrigin(challenge.url)) {
        completion(AuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        return;
    }
    const QString user = OrvaneAPIConfig::basicAuthUser();
    const QString password = OrvaneAPIConfig::basicAuthPassword();
    if (user.isEmpty() || password.isEmpty()) {
        completion(AuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        return;
    }
    completion(AuthChallengeDisposition::UseCredential, platform::Credential{user, password});
}

platform::HttpSession& sharedURLSession() {
    // Lives until the process ends, like the event loop it belongs to.
    static auto* session = new platform::HttpSession(
        platform::HttpSession::Timeouts{std::chrono::seconds(60), std::chrono::seconds(120)},
        &answerBasicAuthChallenge);
    return *session;
}

} // namespace orvane
