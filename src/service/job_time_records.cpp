#include "service/job_time_records.h"

namespace orvane {

using wire::Decoder;
using wire::KeyedContainer;

namespace {
std::optional<QString> text(const KeyedContainer& c, const char* key) {
    return c.decodeLenientString(QLatin1String(key));
}

std::optional<QString> reference(const KeyedContainer& c, const char* key) {
    return c.decodeLenientReference(QLatin1String(key));
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
    return {text(c, "hhMm"), text(c, "decimalHours")};
}

JobTimeCompactDTO JobTimeCompactDTO::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    JobTimeCompactDTO r;
    r.id = c.decodeID(QStringLiteral("id"));
    r.clientId = reference(c, "clientId");
    r.jobtaskId = reference(c, "jobtaskId");
    r.startTime = text(c, "startTime");
    r.endTime = text(c, "endTime");
    r.billable = c.decodeIfPresent<bool>(QStringLiteral("billable"));
    r.billed = c.decodeIfPresent<bool>(QStringLiteral("billed"));
    r.roundDirection = text(c, "roundDirection");
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
    r.jobId = reference(c, "jobId");
    r.title = text(c, "title");
    r.rate = text(c, "rate");
    r.scheduledTime = text(c, "scheduledTime");
    r.job = c.decodeIfPresent<JobDTO>(QStringLiteral("job"));
    r.jobTimes = c.decodeIfPresent<std::vector<JobTimeCompactDTO>>(QStringLiteral("jobTimes"));
    r.roundedTotalSeconds = roundedSeconds(c, QStringLiteral("roundedTotalSeconds"));
    r.roundedTodaySeconds = roundedSeconds(c, QStringLiteral("roundedTodaySeconds"));
    return r;
}

} // namespace orvane
