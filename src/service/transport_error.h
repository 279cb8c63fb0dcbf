#pragma once

#include "platform/error.h"

#include <QNetworkReply>

#include <optional>

namespace orvane {

// A request that got no HTTP answer: no connection, unknown host, time-out,
// failed TLS, cancellation, a URL the session cannot send to.
class TransportError : public Error {
public:
    TransportError(QNetworkReply::NetworkError code, bool timedOut)
        : code_(code), timedOut_(timedOut) {}

    // A reply whose body grew past what its kind of request may bring; it
    // was aborted while it streamed.
    static TransportError tooLarge() {
        TransportError e(QNetworkReply::OperationCanceledError, false);
        e.tooLarge_ = true;
        return e;
    }

    QNetworkReply::NetworkError code() const { return code_; }
    bool timedOut() const { return timedOut_ || code_ == QNetworkReply::TimeoutError; }
    bool cancelled() const {
        return !timedOut() && !tooLarge_ && code_ == QNetworkReply::OperationCanceledError;
    }
    bool isTooLarge() const { return tooLarge_; }

    QString localizedDescription() const override;

private:
    QNetworkReply::NetworkError code_;
    bool timedOut_;
    bool tooLarge_ = false;
};

// The network's failure of a finished reply, whatever status arrived before
// it: a connection closed or reset mid-reply, a body shorter than announced,
// a time-out, TLS, a request that would have had to be sent again. Errors Qt
// derives from an HTTP status (401, 404, 5xx …) are not failures here: they
// keep the status road. `bodyBytes`: the size of the body read.
std::optional<TransportError> transportFailure(const QNetworkReply& reply, bool timedOut,
                                               qint64 bodyBytes);

} // namespace orvane
