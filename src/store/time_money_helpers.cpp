#include "store/time_money_helpers.h"

#include "platform/error.h"
#include "service/json_coding.h"

#include <QLocale>
#include <QTextBoundaryFinder>

#include <array>
#include <cmath>
#include <limits>

namespace orvane {

QTimeZone berlinTimeZone() {
    static const QTimeZone zone("Europe/Berlin");
    return zone;
}

namespace {

class Cursor {
public:
    explicit Cursor(QStringView text) : text_(text) {}

    bool number(int count, int& out) {
        if (pos_ + count > text_.size())
            return false;
        int value = 0;
        for (int k = 0; k < count; ++k) {
            const QChar c = text_[pos_ + k];
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + (c.unicode() - u'0');
        }
        pos_ += count;
        out = value;
        return true;
    }
    bool take(QChar c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // Digits of a fraction: how many, and the milliseconds they give.
    int fraction(int& millis) {
        int count = 0;
        millis = 0;
        while (pos_ < text_.size() && text_[pos_] >= u'0' && text_[pos_] <= u'9') {
            if (count < 3)
                millis = millis * 10 + (text_[pos_].unicode() - u'0');
            ++count;
            ++pos_;
        }
        for (int k = count; k < 3; ++k)
            millis *= 10;
        return count;
    }
    bool atEnd() const { return pos_ == text_.size(); }

private:
    QStringView text_;
    qsizetype pos_ = 0;
};

std::optional<QDateTime> parseTrimmed(QStringView text) {
    Cursor c(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!c.number(4, year) || !c.take(u'-') || !c.number(2, month) || !c.take(u'-') ||
        !c.number(2, day))
        return std::nullopt;
    const bool spaced = c.take(u' ');
    if (!spaced && !c.take(u'T'))
        return std::nullopt;
    if (!c.number(2, hour) || !c.take(u':') || !c.number(2, minute) || !c.take(u':') ||
        !c.number(2, second))
        return std::nullopt;
    int millis = 0;
    int fractionDigits = 0;
    if (c.take(u'.')) {
        fractionDigits = c.fraction(millis);
        if (fractionDigits == 0 || fractionDigits > 9)
            return std::nullopt;
    }
    bool zoned = false;
    int offsetSecs = 0;
    if (c.take(u'Z')) {
        zoned = true;
    } else if (const bool plus = c.take(u'+'); plus || c.take(u'-')) {
        int oh = 0, om = 0;
        if (!c.number(2, oh) || !c.take(u':') || !c.number(2, om) || oh > 18 || om > 59)
            return std::nullopt;
        zoned = true;
        offsetSecs = (plus ? 1 : -1) * (oh * 3600 + om * 60);
    }
    if (!c.atEnd())
        return std::nullopt;
    // Forms without a zone are read as UTC: date and time with a space and
    // nothing more, or with "T" and no fraction, three or six fraction digits.
    if (spaced && (zoned || fractionDigits > 0))
        return std::nullopt;
    if (!zoned && fractionDigits != 0 && fractionDigits != 3 && fractionDigits != 6)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    QDateTime result(date, QTime(hour, minute, second, millis), Qt::UTC);
    return result.addSecs(-offsetSecs);
}

bool isBlank(const std::optional<QString>& text) {
    return !text || text->trimmed().isEmpty();
}

std::optional<qint64> hoursToSecs(double hours) {
    return wire::roundToInt64(hours * 3600.0);
}

qint64 secsBetween(const QDateTime& from, const QDateTime& to) {
    // Truncated toward zero, as whole seconds.
    return (to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch()) / 1000;
}

QString firstGraphemes(const QString& text, int count) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int taken = 0; taken < count; ++taken) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
    }
    return text.left(end);
}

} // namespace

std::optional<QDateTime> parseServerDate(const std::optional<QString>& text) {
    if (!text || text->isEmpty())
        return std::nullopt;
    return parseTrimmed(QStringView(*text).trimmed());
}

QDateTime truncatedToMinute(const QDateTime& date) {
    // Cut the instant, not its wall-clock reading: in the hour that repeats
    // when clocks go back, rebuilding from components would move it by an hour.
    const qint64 ms = date.toMSecsSinceEpoch();
    qint64 cut = ms - ms % 60000;
    if (ms % 60000 < 0)
        cut -= 60000;
    return date.addMSecs(cut - ms);
}

qint64 minuteGridRoundedSecs(const QDateTime& start, const QDateTime& end,
                             const std::optional<QString>& direction,
                             std::optional<qint64> stepMinutes) {
    const qint64 raw = secsBetween(truncatedToMinute(start), truncatedToMinute(end));
    const qint64 span = std::max<qint64>(raw, 0);
    if (!stepMinutes || *stepMinutes < 1)
        return span;
    const qint64 step = *stepMinutes > std::numeric_limits<qint64>::max() / 60
                            ? std::numeric_limits<qint64>::max()
                            : *stepMinutes * 60;
    const QString dir = direction.value_or(QString()).toLower();
    if (dir == u"up") {
        const qint64 x = raw < 1 ? 60 : span;
        const qint64 n = x / step + (x % step != 0 ? 1 : 0);
        qint64 result = 0;
        return __builtin_mul_overflow(n, step, &result) ? std::numeric_limits<qint64>::max()
                                                        : result;
    }
    if (dir == u"closest") {
        // Halves away from zero; span is never negative.
        const qint64 n = span / step + ((span % step) * 2 >= step ? 1 : 0);
        qint64 result = 0;
        return __builtin_mul_overflow(n, step, &result) ? std::numeric_limits<qint64>::max()
                                                        : result;
    }
    return span / step * step;
}

std::optional<qint64> roundedDurationSecs(const JobTimeCompactDTO& entry) {
    if (isBlank(entry.startTime) || isBlank(entry.endTime))
        return std::nullopt;
    const auto start = parseServerDate(entry.startTime->trimmed());
    const auto end = parseServerDate(entry.endTime->trimmed());
    if (!start || !end || *end < *start)
        return std::nullopt;
    const qint64 secs = minuteGridRoundedSecs(*start, *end, entry.roundDirection, entry.roundValue);
    if (secs < 1)
        return std::nullopt;
    return secs;
}

std::optional<qint64> entryDurationSecs(const JobTimeCompactDTO& entry) {
    if (isBlank(entry.endTime))
        return std::nullopt;
    if (entry.roundedDuration && !isBlank(entry.roundedDuration->hhMm))
        if (const auto secs = parseDurationString(*entry.roundedDuration->hhMm))
            return secs;
    if (const auto secs = roundedDurationSecs(entry))
        return secs;
    return parseDecimalHoursSecs(entry.roundedDuration);
}

std::optional<EffectiveEntrySecs> effectiveEntrySecs(const JobTimeCompactDTO& entry,
                                                     const QDateTime& windowStart,
                                                     const QDateTime& windowEnd) {
    if (isBlank(entry.startTime) || isBlank(entry.endTime))
        return std::nullopt;
    const auto start = parseServerDate(entry.startTime->trimmed());
    const auto end = parseServerDate(entry.endTime->trimmed());
    if (!start || !end || !(*end > *start))
        return std::nullopt;
    const qint64 whole = std::max<qint64>(secsBetween(*start, *end), 1);
    const QDateTime clippedStart = std::max(windowStart, *start);
    const QDateTime clippedEnd = std::min(windowEnd, *end);
    const qint64 inside = secsBetween(clippedStart, clippedEnd);
    if (inside < 1)
        return std::nullopt;
    return EffectiveEntrySecs{inside, whole};
}

std::optional<qint64> parseDurationString(const QString& text) {
    // Views only: a job's task list sums this for every one of its job times.
    QStringView pieces[2];
    int count = 0;
    for (const QStringView piece : QStringView(text).trimmed().tokenize(u':', Qt::SkipEmptyParts)) {
        if (count == 2)
            return std::nullopt;
        pieces[count++] = piece;
    }
    if (count != 2)
        return std::nullopt;
    const auto trimSpaces = [](QStringView piece) {
        while (piece.startsWith(u' '))
            piece = piece.sliced(1);
        while (piece.endsWith(u' '))
            piece.chop(1);
        return piece;
    };
    const auto hours = wire::parseInteger(trimSpaces(pieces[0]));
    const auto minutes = wire::parseInteger(trimSpaces(pieces[1]));
    if (!hours || !minutes || *hours < 0 || *minutes < 0 || *minutes > 59)
        return std::nullopt;
    qint64 secs = 0;
    if (__builtin_mul_overflow(*hours, qint64{3600}, &secs) ||
        __builtin_add_overflow(secs, *minutes * 60, &secs))
        return std::nullopt;
    return secs;
}

std::optional<double> parseServiceDecimal(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    trimmed.replace(u',', u'.');
    return wire::parseDouble(trimmed);
}

qint64 decimalHoursToSecs(const std::optional<QString>& text) {
    const auto hours = parseServiceDecimal(text);
    if (!hours)
        return 0;
    return hoursToSecs(*hours).value_or(0);
}

std::optional<qint64> parseDecimalHoursSecs(const std::optional<JobTimeRoundedDuration>& duration) {
    if (!duration)
        return std::nullopt;
    const auto hours = parseServiceDecimal(duration->decimalHours);
    if (!hours || *hours < 0)
        return std::nullopt;
    return hoursToSecs(*hours);
}

std::optional<double> firstDecimal(const std::optional<QString>& a, const std::optional<QString>& b,
                                   const std::optional<QString>& c) {
    for (const auto* text : {&a, &b, &c})
        if (const auto value = parseServiceDecimal(*text); value && *value > 0)
            return value;
    return std::nullopt;
}

qint64 saturatingAdd(qint64 a, qint64 b) {
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

qint64 saturatingRound(double value) {
    if (std::isnan(value))
        return 0;
    if (const auto rounded = wire::roundToInt64(value))
        return *rounded;
    return value > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

QString formatDuration(qint64 seconds) {
    if (seconds < 3600)
        return QString::asprintf("%02lld:%02lld", static_cast<long long>(seconds / 60),
                                 static_cast<long long>(seconds % 60));
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds % 3600 / 60),
                             static_cast<long long>(seconds % 60));
}

QString formatClockTime(const QDateTime& date) {
    return QLocale(QLocale::German, QLocale::Germany)
        .toString(date.toLocalTime(), QStringLiteral("HH:mm"));
}

QString formatEuro(qint64 cents) {
    // Built from whole cents, so no amount is ever off by a rounding step.
    const bool negative = cents < 0;
    const quint64 magnitude =
        negative ? static_cast<quint64>(-(cents + 1)) + 1 : static_cast<quint64>(cents);
    const QString euros = QString::number(magnitude / 100);
    QString grouped;
    for (qsizetype i = 0; i < euros.size(); ++i) {
        if (i > 0 && (euros.size() - i) % 3 == 0)
            grouped += u'.';
        grouped += euros[i];
    }
    return (negative ? QStringLiteral("-") : QString()) + grouped + u',' +
           QString::asprintf("%02u", static_cast<unsigned>(magnitude % 100)) +
           QStringLiteral("\u00A0€");
}

namespace {
// The Berlin day last asked about, with its bounds in UTC milliseconds: the
// live figures ask about the same day every second, and a time zone lookup
// is what such a question costs.
struct BerlinDay {
    QDate day;
    DayBounds bounds;
    qint64 startMs = 0;
    qint64 endMs = 0;
};
const BerlinDay& berlinDayOf(const QDateTime& date) {
    thread_local BerlinDay last;
    // An invalid time reads as epoch 0 and would find that day.
    thread_local const BerlinDay none;
    if (!date.isValid())
        return none;
    const qint64 at = date.toMSecsSinceEpoch();
    if (last.day.isValid() && at >= last.startMs && at < last.endMs)
        return last;
    const QTimeZone zone = berlinTimeZone();
    const QDate day = date.toTimeZone(zone).date();
    const QDateTime start(day, QTime(0, 0), zone);
    QDateTime end(day.addDays(1), QTime(0, 0), zone);
    if (!end.isValid())
        end = start.addSecs(86400);
    // A date outside what QDateTime can place is not kept.
    if (!day.isValid() || !start.isValid())
        return last = BerlinDay{day, {start, end}, 0, 0};
    last = BerlinDay{day, {start, end}, start.toMSecsSinceEpoch(), end.toMSecsSinceEpoch()};
    return last;
}
} // namespace

DayBounds berlinEndOfDay(const QDateTime& date) {
    return berlinDayOf(date).bounds;
}

QDate berlinDate(const QDateTime& date) {
    return berlinDayOf(date).day;
}

QString berlinDayKey(const QDateTime& date) {
    return berlinDate(date).toString(QStringLiteral("yyyy-MM-dd"));
}

DayKeyRange berlinDayKeyRange(const QDateTime& date) {
    const DayBounds bounds = berlinEndOfDay(date);
    const QDate day = berlinDate(date);
    const QString key = day.toString(QStringLiteral("yyyy-MM-dd"));
    const QDate previous = day.addDays(-1);
    return {previous.isValid() ? previous.toString(QStringLiteral("yyyy-MM-dd")) : key, key,
            bounds.start, bounds.end};
}

QString clientInitials(const QString& name) {
    const QString trimmed = name.trimmed();
    const QStringList words = trimmed.split(u' ', Qt::SkipEmptyParts);
    QString result;
    if (words.size() >= 2) {
        result = firstGraphemes(words[0], 1) + firstGraphemes(words[1], 1);
    } else {
        const QString two = firstGraphemes(trimmed, 2);
        result = two.size() > firstGraphemes(trimmed, 1).size() ? two
                                                                : firstGraphemes(trimmed, 1) + u'?';
    }
    return result.toUpper();
}

quint32 clientColorHex(const QString& text) {
    static constexpr std::array<quint32, 6> kPalette = {0x6366F1, 0xEC4899, 0x10B981,
                                                        0xF59E0B, 0x22D3EE, 0xF43F5E};
    quint32 h = 0;
    for (const char byte : text.toUtf8())
        h = h * 31u + static_cast<unsigned char>(byte);
    return kPalette[h % kPalette.size()];
}

} // namespace orvane
