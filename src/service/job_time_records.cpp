#include "service/job_time_records.h"

#include <limits>
#include <utility>

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

namespace {
thread_local JobTimeBookedSecs summing = nullptr;
thread_local QString summingLeftOut;

qint64 summed(const Decoder& list, JobTimeBookedSecs secs) {
    qint64 total = 0;
    list.forEachElement([&total, secs](const Decoder& element) {
        const JobTimeCompactDTO entry = element.decode<JobTimeCompactDTO>();
        if (entry.id == summingLeftOut)
            return;
        if (const auto booked = secs(entry))
            if (qAddOverflow(total, *booked, &total))
                total = *booked < 0 ? std::numeric_limits<qint64>::min()
                                    : std::numeric_limits<qint64>::max();
    });
    return total;
}
} // namespace

SummingJobTimes::SummingJobTimes(JobTimeBookedSecs secs, QString leftOut)
    : outerSecs_(summing), outerLeftOut_(std::exchange(summingLeftOut, std::move(leftOut))) {
    summing = secs;
}

SummingJobTimes::~SummingJobTimes() {
    summing = outerSecs_;
    summingLeftOut = std::move(outerLeftOut_);
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
    if (!summing)
        r.jobTimes = c.decodeIfPresent<std::vector<JobTimeCompactDTO>>(QStringLiteral("jobTimes"));
    else if (!c.isNil(QStringLiteral("jobTimes")))
        r.bookedSecs = summed(c.decoder(QStringLiteral("jobTimes")), summing);
    r.roundedTotalSeconds = roundedSeconds(c, QStringLiteral("roundedTotalSeconds"));
    r.roundedTodaySeconds = roundedSeconds(c, QStringLiteral("roundedTodaySeconds"));
    return r;
}

} // namespace orvane
