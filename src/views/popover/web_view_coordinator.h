#pragma once

#include <QHash>
#include <QObject>
#include <QUrl>

#include <functional>

class QAuthenticator;

namespace orvane {

// The navigation side of an embedded web page, should a view ever show one
// (none does: the web application opens in the default browser). Its slots
// take a web page's signals: it reports loading through a binding and
// answers the service's basic-auth challenge as the service client does.
class WebViewNavigationCoordinator : public QObject {
    Q_OBJECT
public:
    explicit WebViewNavigationCoordinator(std::function<void(bool)> isLoading,
                                          QObject* parent = nullptr);

public Q_SLOTS:
    void loadStarted();
    // Finished, failed early or failed late alike: loading ends.
    void loadFinished(bool ok);
    // A page's signal carries no failure count: attempts are counted per
    // URL within one navigation, and only the first is answered, so a wrong
    // pair is never retried; the next navigation starts a fresh count.
    void authenticationRequired(const QUrl& url, QAuthenticator* authenticator);

private:
    std::function<void(bool)> isLoading_;
    QHash<QUrl, int> attempts_;
};

} // namespace orvane
