#include "service/envelopes.h"

#include <cmath>

namespace orvane {

using wire::Decoder;
using wire::KeyedContainer;

PaginationMeta PaginationMeta::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    PaginationMeta m;
    m.currentPage = c.decodeIfPresent<qint64>(QStringLiteral("currentPage"));
    m.lastPage = c.decodeIfPresent<qint64>(QStringLiteral("lastPage"));
    m.perPage = c.decodeIfPresent<qint64>(QStringLiteral("perPage"));
    m.total = c.decodeIfPresent<qint64>(QStringLiteral("total"));
    return m;
}

namespace ClientsAPIPayload {

namespace {
struct Envelope {
    std::optional<std::vector<ClientDTO>> data;
    std::optional<std::vector<ClientDTO>> clients;
    std::optional<std::vector<ClientDTO>> results;

    static Envelope decode(const Decoder& decoder) {
        const KeyedContainer c = decoder.container();
        Envelope e;
        e.data = c.decodeIfPresent<std::vector<ClientDTO>>(QStringLiteral("data"));
        e.clients = c.decodeIfPresent<std::vector<ClientDTO>>(QStringLiteral("clients"));
        e.results = c.decodeIfPresent<std::vector<ClientDTO>>(QStringLiteral("results"));
        return e;
    }
};
} // namespace

PaginatedResponse<ClientDTO> decodeClients(const QByteArray& body) {
    try {
        return wire::decodeJSON<PaginatedResponse<ClientDTO>>(body);
    } catch (const DecodingError& first) {
        try {
            return {decodeEnvelopeOrArray(body), std::nullopt};
        } catch (const DecodingError&) {
            throw first;
        }
    }
}

std::vector<ClientDTO> decodeEnvelopeOrArray(const QByteArray& body) {
    try {
        const auto envelope = wire::decodeJSON<Envelope>(body);
        for (const auto* list : {&envelope.data, &envelope.clients, &envelope.results})
            if (*list)
                return **list;
    } catch (const DecodingError&) {
    }
    return wire::decodeJSON<std::vector<ClientDTO>>(body);
}

} // namespace ClientsAPIPayload

qint64 euroCentsFromAmountText(const std::optional<QString>& text) {
    if (!text)
        return 0;
    QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return 0;
    trimmed.replace(u',', u'.');
    const auto euros = wire::parseDouble(trimmed);
    if (!euros)
        return 0;
    return wire::roundToInt64(*euros * 100.0).value_or(0);
}

InvoiceableSummaryBucketDTO InvoiceableSummaryBucketDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    InvoiceableSummaryBucketDTO b;
    b.from = c.decode<QString>(QStringLiteral("from"));
    b.to = c.decode<QString>(QStringLiteral("to"));
    b.hoursDecimal =
        c.decodeLenientString(QStringLiteral("hoursDecimal")).value_or(QStringLiteral("0"));
    b.amountEuroCents = euroCentsFromAmountText(c.decodeLenientString(QStringLiteral("amount")));
    b.jobTimeCount = c.decodeLenientInt(QStringLiteral("jobTimeCount")).value_or(0);
    return b;
}

QJsonObject InvoiceableSummaryBucketDTO::encode() const {
    return wire::BodyWriter()
        .add(QStringLiteral("from"), from)
        .add(QStringLiteral("to"), to)
        .add(QStringLiteral("hoursDecimal"), hoursDecimal)
        .add(QStringLiteral("amount"), static_cast<double>(amountEuroCents) / 100.0)
        .add(QStringLiteral("jobTimeCount"), jobTimeCount)
        .toObject();
}

InvoiceableSummaryDTO InvoiceableSummaryDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    InvoiceableSummaryDTO s;
    s.timezone = c.decode<QString>(QStringLiteral("timezone"));
    s.today = c.decode<InvoiceableSummaryBucketDTO>(QStringLiteral("today"));
    s.week = c.decode<InvoiceableSummaryBucketDTO>(QStringLiteral("week"));
    s.month = c.decode<InvoiceableSummaryBucketDTO>(QStringLiteral("month"));
    return s;
}

QJsonObject InvoiceableSummaryDTO::encode() const {
    return wire::BodyWriter()
        .add(QStringLiteral("timezone"), timezone)
        .add(QStringLiteral("today"), today.encode())
        .add(QStringLiteral("week"), week.encode())
        .add(QStringLiteral("month"), month.encode())
        .toObject();
}

} // namespace orvane
