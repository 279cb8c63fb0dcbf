#include "service/job_time_records.h"

namespace orvane {

using wire::Decoder;
using wire::KeyedContainer;
using namespace Qt::StringLiterals;

namespace {
std::optional<QString> text(const KeyedContainer& c, const QString& key) {
    return c.decodeLenientString(key);
}

std::optional<QString> reference(const KeyedContainer& c, const QString& key) {
    return c.decodeLenientReference(key);
}

// Whole seconds as a JSON number; a fraction is rounded, halves away from zero.
std::optional<qint64> roundedSeconds(const KeyedContainer& c, const QString& key) {
    if (c.isNil(key))
        return std::nullopt;
    const Decoder d = c.decoder(key);
    if (const auto exact = wire::exactInteger(d.value()))
        return exact;
    const auto rounded = wire::roundToInt64(d.decodeDouble());
    if (!rounded)
        c.dataCorrupted(key, QStringLiteral("Number does not fit in Int."));
    return rounded;
}
} // namespace

JobTimeRoundedDuration JobTimeRoundedDuration::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    return {text(c, u"hhMm"_s), text(c, u"decimalHours"_s)};
}

JobTimeCompactDTO JobTimeCompactDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobTimeCompactDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.clientId = reference(c, u"clientId"_s);
    r.jobtaskId = reference(c, u"jobtaskId"_s);
    r.startTime = text(c, u"startTime"_s);
    r.endTime = text(c, u"endTime"_s);
    r.billable = c.decodeIfPresent<bool>(QStringLiteral("billable"));
    r.billed = c.decodeIfPresent<bool>(QStringLiteral("billed"));
    r.roundDirection = text(c, u"roundDirection"_s);
    r.roundValue = c.decodeLenientInt(QStringLiteral("roundValue"));
    r.roundedDuration =
        c.decodeIfPresent<JobTimeRoundedDuration>(QStringLiteral("roundedDuration"));
    r.jobTask = c.decodeIfPresent<JobTaskSnippet>(QStringLiteral("jobTask"));
    r.job = c.decodeIfPresent<JobSnippet>(QStringLiteral("job"));
    r.client = c.decodeIfPresent<ClientSnippet>(QStringLiteral("client"));
    return r;
}

JobTimesActiveResponse JobTimesActiveResponse::decode(const Decoder& decoder) {
    return {decoder.container().decode<std::vector<JobTimeCompactDTO>>(QStringLiteral("data"))};
}

JobTimeSingleResponse JobTimeSingleResponse::decode(const Decoder& decoder) {
    return {decoder.container().decode<JobTimeCompactDTO>(QStringLiteral("data"))};
}

QByteArray StartJobTimeBody::encode() const {
    return wire::BodyWriter()
        .add(QStringLiteral("clientId"), clientId)
        .add(QStringLiteral("jobtaskId"), jobtaskId)
        .addIfPresent(QStringLiteral("startedAt"), startedAt)
        .toJson();
}

QByteArray StopJobTimeBody::encode() const {
    return wire::BodyWriter().addIfPresent(QStringLiteral("endedAt"), endedAt).toJson();
}

QByteArray UpdateJobTimeBody::encode() const {
    return wire::BodyWriter()
        .add(QStringLiteral("billable"), billable)
        .add(QStringLiteral("roundDirection"), roundDirection)
        .add(QStringLiteral("roundValue"), roundValue)
        .toJson();
}

JobTaskDTO JobTaskDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobTaskDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.jobId = reference(c, u"jobId"_s);
    r.title = text(c, u"title"_s);
    r.rate = text(c, u"rate"_s);
    r.scheduledTime = text(c, u"scheduledTime"_s);
    r.job = c.decodeIfPresent<JobDTO>(QStringLiteral("job"));
    r.jobTimes = c.decodeIfPresent<std::vector<JobTimeCompactDTO>>(QStringLiteral("jobTimes"));
    r.roundedTotalSeconds = roundedSeconds(c, QStringLiteral("roundedTotalSeconds"));
    r.roundedTodaySeconds = roundedSeconds(c, QStringLiteral("roundedTodaySeconds"));
    return r;
}

} // namespace orvane
