#pragma once

#include "platform/error.h"
#include "service/json_coding.h"
#include "service/user_records.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace orvane {

// Every failure of service access, with the German text the views show.
class OrvaneAPIError : public Error {
public:
    enum class Kind {
        Http,
        Decoding,
        AccountNotReady,
        Message,
        InvalidURL,
        NoData,
        TwoFactorRequired,
        EmailNotVerified,
        JobTimeAlreadyStopped,
    };

    static OrvaneAPIError http(int statusCode, std::optional<QByteArray> body);
    static OrvaneAPIError decoding(DecodingError error);
    static OrvaneAPIError accountNotReady(QString message,
                                          std::optional<AccountRequirements> requirements);
    static OrvaneAPIError message(QString text);
    static OrvaneAPIError invalidURL() { return OrvaneAPIError(Kind::InvalidURL); }
    static OrvaneAPIError noData() { return OrvaneAPIError(Kind::NoData); }
    static OrvaneAPIError twoFactorRequired() { return OrvaneAPIError(Kind::TwoFactorRequired); }
    static OrvaneAPIError emailNotVerified() { return OrvaneAPIError(Kind::EmailNotVerified); }
    static OrvaneAPIError jobTimeAlreadyStopped() {
        return OrvaneAPIError(Kind::JobTimeAlreadyStopped);
    }

    Kind kind() const { return kind_; }
    // Http: the status and the body as received.
    int statusCode() const { return statusCode_; }
    const std::optional<QByteArray>& body() const { return body_; }
    // Decoding: the underlying error.
    const std::optional<DecodingError>& decodingError() const { return decodingError_; }
    // AccountNotReady and Message: the text shown.
    const QString& messageText() const { return message_; }
    // AccountNotReady: the requirements the refusal carried, if any.
    const std::optional<AccountRequirements>& requirements() const { return requirements_; }

    QString errorDescription() const;
    QString localizedDescription() const override { return errorDescription(); }

private:
    explicit OrvaneAPIError(Kind kind) : kind_(kind) {}

    Kind kind_;
    int statusCode_ = 0;
    std::optional<QByteArray> body_;
    std::optional<DecodingError> decodingError_;
    QString message_;
    std::optional<AccountRequirements> requirements_;
};

// The account-not-ready error a 403 body describes, or nothing when the body
// says nothing about unmet account requirements. Never throws.
std::optional<OrvaneAPIError> accountNotReadyError(const QByteArray& body);

// Strict UTF-8: the text, or nothing for bytes that are not UTF-8.
std::optional<QString> strictUtf8(const QByteArray& bytes);

} // namespace orvane
