#include "views/popover/web_view_coordinator.h"

#include "platform/http_session.h"
#include "service/orvane_api_config.h"

#include <QAuthenticator>

namespace orvane {

WebViewNavigationCoordinator::WebViewNavigationCoordinator(std::function<void(bool)> isLoading,
                                                           QObject* parent)
    : QObject(parent), isLoading_(std::move(isLoading)) {}

void WebViewNavigationCoordinator::loadStarted() {
    attempts_.clear();
    if (isLoading_)
        isLoading_(true);
}

void WebViewNavigationCoordinator::loadFinished(bool) {
    attempts_.clear();
    if (isLoading_)
        isLoading_(false);
}

void WebViewNavigationCoordinator::authenticationRequired(const QUrl& url,
                                                          QAuthenticator* authenticator) {
    const QUrl page = url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveFragment);
    const int previous = attempts_.value(page, 0);
    attempts_.insert(page, previous + 1);
    const platform::AuthChallenge challenge{platform::authenticationScheme(authenticator),
                                            authenticator->realm(), url, previous};
    answerBasicAuthChallenge(challenge, [authenticator](platform::AuthChallengeDisposition how,
                                                        std::optional<platform::Credential> pair) {
        if (how == platform::AuthChallengeDisposition::UseCredential && pair) {
            authenticator->setUser(pair->user);
            authenticator->setPassword(pair->password);
        }
    });
}

} // namespace orvane
