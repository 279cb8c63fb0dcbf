// Every record of a service reply, read from a JSON document (accepted and
// refused as Qt's reader would), from its "data"
// member and from each element of a "data" list, so that replies as the
// service sends them make good seeds; then what the store derives from them,
// and the document's keys as the caches write them.

#include "fuzz.h"

#include "service/catalog_records.h"
#include "service/job_time_records.h"
#include "service/user_records.h"
#include "store/time_money_helpers.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <vector>

using namespace orvane;

namespace {

void readRecords(const wire::Decoder& d) {
    (void)fuzz::decoded<ClientDTO>(d);
    (void)fuzz::decoded<ProjectDTO>(d);
    (void)fuzz::decoded<JobDTO>(d);
    (void)fuzz::decoded<ClientSnippet>(d);
    (void)fuzz::decoded<JobSnippet>(d);
    (void)fuzz::decoded<JobTaskSnippet>(d);
    (void)fuzz::decoded<JobTimeRoundedDuration>(d);
    (void)fuzz::decoded<JobTaskDTO>(d);
    (void)fuzz::decoded<AccountRequirements>(d);

    if (const auto entry = fuzz::decoded<JobTimeCompactDTO>(d)) {
        // Again from its Qt JSON value, where no record read before is reused.
        fuzz::check(fuzz::decoded<JobTimeCompactDTO>(wire::Decoder(d.value(), QString())) == entry,
                    "a job time reads the same however many like it came before");
        const QDateTime dayStart(QDate(2026, 3, 2), QTime(0, 0), berlinTimeZone());
        (void)roundedDurationSecs(*entry);
        (void)entryDurationSecs(*entry);
        (void)effectiveEntrySecs(*entry, dayStart, dayStart.addDays(1));
    }
    if (const auto schedule = fuzz::decoded<WorkSchedule>(d)) {
        const QDateTime monday(QDate(2026, 3, 2), QTime(12, 0), Qt::UTC);
        for (int day = 0; day < 7; ++day)
            fuzz::check(schedule->targetHours(monday.addDays(day), berlinTimeZone()) >= 0,
                        "a day's target is never negative");
    }
    if (const auto user = fuzz::decoded<APIUser>(d)) {
        fuzz::check(!user->initials().isEmpty(), "the avatar always has initials");
        (void)user->profilePhotoURL(QStringLiteral("https://app.orvane.example"));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);
    QJsonParseError qtError;
    const QJsonDocument qt = QJsonDocument::fromJson(body, &qtError);
    const bool qtReads = qtError.error == QJsonParseError::NoError && !qt.isNull();
    wire::ParsedJSON parsed;
    try {
        parsed = wire::parseJSON(body);
    } catch (const DecodingError&) {
        fuzz::check(!qtReads, "what Qt's reader reads is read");
        return 0;
    }
    fuzz::check(qtReads, "what Qt's reader refuses is refused");
    const wire::Decoder top(parsed, QString());
    readRecords(top);
    if (top.value().isObject()) {
        const wire::KeyedContainer c = top.container();
        if (c.contains(QStringLiteral("data"))) {
            const wire::Decoder inner = c.decoder(QStringLiteral("data"));
            if (inner.value().isArray())
                inner.forEachElement([](const wire::Decoder& element) { readRecords(element); });
            else
                readRecords(inner);
        }
    }
    (void)wire::convertKeysToSnakeCase(top.value());
    return 0;
}
