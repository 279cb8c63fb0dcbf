#pragma once

#include "service/job_time_records.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <optional>
#include <utility>

namespace orvane {

// The zone of day boundaries, day keys and an entry's own rounding.
QTimeZone berlinTimeZone();

// A service time: ISO 8601 with zone (with or without fraction), or
// "yyyy-MM-dd HH:mm:ss" / "yyyy-MM-ddTHH:mm:ss[.SSS|.SSSSSS]" read as UTC.
std::optional<QDateTime> parseServerDate(const std::optional<QString>& text);

// The instant cut to its whole minute.
QDateTime truncatedToMinute(const QDateTime& date);

// Seconds from start to end on whole minutes, rounded to a grid of `stepMinutes`
// by `direction` ("up", "closest", anything else down). No step, or one below
// 1, leaves the span as it is.
qint64 minuteGridRoundedSecs(const QDateTime& start, const QDateTime& end,
                             const std::optional<QString>& direction,
                             std::optional<qint64> stepMinutes);

// Booked seconds of a finished entry by its own rounding; nothing below 1.
std::optional<qint64> roundedDurationSecs(const JobTimeCompactDTO& entry);
// Booked seconds of an entry as the service reports them; nothing while it runs.
std::optional<qint64> entryDurationSecs(const JobTimeCompactDTO& entry);

struct EffectiveEntrySecs {
    qint64 inside = 0; // seconds within the window
    qint64 whole = 0;  // the entry's whole span
    bool operator==(const EffectiveEntrySecs&) const = default;
};
std::optional<EffectiveEntrySecs> effectiveEntrySecs(const JobTimeCompactDTO& entry,
                                                     const QDateTime& windowStart,
                                                     const QDateTime& windowEnd);

// "2:05" → 7500. Hours from 0, minutes 0–59.
std::optional<qint64> parseDurationString(const QString& text);
// Decimal hours ("1,5", "0.25") to seconds; 0 when unreadable.
qint64 decimalHoursToSecs(const std::optional<QString>& text);
std::optional<qint64> parseDecimalHoursSecs(const std::optional<JobTimeRoundedDuration>& duration);
// The first of the texts that reads as a number above 0.
std::optional<double> firstDecimal(const std::optional<QString>& a, const std::optional<QString>& b,
                                   const std::optional<QString>& c);
// A decimal text from the service, "," read as "."; nothing unless finite.
std::optional<double> parseServiceDecimal(const std::optional<QString>& text);

// Figures summed from service numbers: a broken or hostile reply can send
// values near the limits, so sums stop at the ends of the range.
qint64 saturatingAdd(qint64 a, qint64 b);
// Rounded halves away from zero and clamped to the range; not a number gives 0.
qint64 saturatingRound(double value);

// "MM:SS" below an hour, "HH:MM:SS" from an hour on.
QString formatDuration(qint64 seconds);
// "HH:mm" in the machine's time zone.
QString formatClockTime(const QDateTime& date);
// "1.234,50 €" (no-break space before the sign).
QString formatEuro(qint64 cents);

struct DayBounds {
    QDateTime start;
    QDateTime end; // start of the next day
};
DayBounds berlinEndOfDay(const QDateTime& date);
// The date's day in "Europe/Berlin".
QDate berlinDate(const QDateTime& date);

struct DayKeyRange {
    QString previousDayKey;
    QString dayKey;
    QDateTime start;
    QDateTime end;
};
DayKeyRange berlinDayKeyRange(const QDateTime& date);
// "yyyy-MM-dd" of the date's day in "Europe/Berlin".
QString berlinDayKey(const QDateTime& date);

QString clientInitials(const QString& name);
quint32 clientColorHex(const QString& text);

} // namespace orvane
