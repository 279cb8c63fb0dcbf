#pragma once

#include "platform/error.h"

#include <QNetworkReply>

namespace orvane {

// A request that got no HTTP answer: no connection, unknown host, time-out,
// failed TLS, cancellation, a URL the session cannot send to.
class TransportError : public Error {
public:
    TransportError(QNetworkReply::NetworkError code, bool timedOut)
        : code_(code), timedOut_(timedOut) {}

    QNetworkReply::NetworkError code() const { return code_; }
    bool timedOut() const { return timedOut_ || code_ == QNetworkReply::TimeoutError; }
    bool cancelled() const { return !timedOut() && code_ == QNetworkReply::OperationCanceledError; }

    QString localizedDescription() const override;

private:
    QNetworkReply::NetworkError code_;
    bool timedOut_;
};

} // namespace orvane
