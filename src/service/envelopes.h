#pragma once

#include "service/catalog_records.h"
#include "service/json_coding.h"

#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace orvane {

struct PaginationMeta {
    std::optional<qint64> currentPage;
    std::optional<qint64> lastPage;
    std::optional<qint64> perPage;
    std::optional<qint64> total;

    static PaginationMeta decode(const wire::Decoder& decoder);
    bool operator==(const PaginationMeta&) const = default;
};

template <class T> struct PaginatedResponse {
    std::vector<T> data;
    std::optional<PaginationMeta> meta;

    static PaginatedResponse decode(const wire::Decoder& decoder) {
        const wire::KeyedContainer c = decoder.container();
        PaginatedResponse r;
        r.data = c.decode<std::vector<T>>(QStringLiteral("data"));
        r.meta = c.decodeIfPresent<PaginationMeta>(QStringLiteral("meta"));
        return r;
    }
};

template <class T> struct SingleDataResponse {
    T data;

    static SingleDataResponse decode(const wire::Decoder& decoder) {
        return {decoder.container().decode<T>(QStringLiteral("data"))};
    }
};

// The clients list arrives paged, wrapped under another key, or bare.
namespace ClientsAPIPayload {
PaginatedResponse<ClientDTO> decodeClients(const QByteArray& body);
std::vector<ClientDTO> decodeEnvelopeOrArray(const QByteArray& body);
} // namespace ClientsAPIPayload

// One period of the invoiceable summary; the wire carries euros, we hold cents.
struct InvoiceableSummaryBucketDTO {
    QString from;
    QString to;
    QString hoursDecimal = QStringLiteral("0");
    qint64 amountEuroCents = 0;
    qint64 jobTimeCount = 0;

    static InvoiceableSummaryBucketDTO decode(const wire::Decoder& decoder);
    QJsonObject encode() const;
    bool operator==(const InvoiceableSummaryBucketDTO&) const = default;
};

struct InvoiceableSummaryDTO {
    QString timezone;
    InvoiceableSummaryBucketDTO today;
    InvoiceableSummaryBucketDTO week;
    InvoiceableSummaryBucketDTO month;

    static InvoiceableSummaryDTO decode(const wire::Decoder& decoder);
    // Keys in snake case, as the dashboard cache stores them.
    QJsonObject encode() const;
    bool operator==(const InvoiceableSummaryDTO&) const = default;
};

// Euro text ("12,50", "80.0", "-0.125") to whole cents, halves away from zero;
// unreadable, non-finite or out-of-range amounts give 0.
qint64 euroCentsFromAmountText(const std::optional<QString>& text);

} // namespace orvane
