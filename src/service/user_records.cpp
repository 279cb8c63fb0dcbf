#include "service/user_records.h"

#include "service/orvane_api_config.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <array>
#include <limits>

namespace orvane {

using wire::Decoder;
using wire::KeyedContainer;

namespace {

constexpr std::array<const char16_t*, 7> kWeekdaysFromSunday = {
    u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};

std::optional<qint64> checkedSum(const std::vector<qint64>& values) {
    qint64 sum = 0;
    for (const qint64 v : values)
        if (__builtin_add_overflow(sum, v, &sum))
            return std::nullopt;
    return sum;
}

// A weekday's hours inside `hours_per_day`: integer, rounded number, flag or
// integer text.
std::optional<qint64> lenientHours(const QJsonValue& value) {
    if (const auto i = wire::exactInteger(value))
        return i;
    if (value.isDouble())
        return wire::roundToInt64(value.toDouble());
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    if (value.isString()) {
        const QString trimmed = value.toString().trimmed();
        if (trimmed.isEmpty())
            return std::nullopt;
        return wire::parseInteger(trimmed);
    }
    return std::nullopt;
}

// A list of whole numbers, or of numbers rounded to whole ones.
std::optional<std::vector<qint64>> numberList(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    std::vector<qint64> out;
    const QJsonArray array = value.toArray();
    out.reserve(static_cast<size_t>(array.size()));
    for (const QJsonValue& element : array) {
        if (!element.isDouble())
            return std::nullopt;
        const auto rounded = wire::roundToInt64(element.toDouble());
        const auto exact = wire::exactInteger(element);
        if (!exact && !rounded)
            return std::nullopt;
        out.push_back(exact ? *exact : *rounded);
    }
    return out;
}

// Step A for one key: the nested hours, or nothing when the key does not settle them.
std::optional<std::map<QString, qint64>> nestedHours(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const KeyedContainer c(value.toObject(), QString());
    std::map<QString, qint64> weekdays;
    for (const QString& key : c.allKeys()) {
        const auto day = WorkSchedule::canonicalWeekday(key);
        if (!day)
            continue;
        if (const auto hours = lenientHours(c.decoder(key).value()))
            weekdays[*day] = *hours;
    }
    if (!weekdays.empty())
        return weekdays;

    // Maps read as a whole, keys as sent: all integers, all numbers, or texts.
    bool allIntegers = true, allNumbers = true, allTexts = true;
    for (const QString& key : c.allKeys()) {
        const QJsonValue v = c.decoder(key).value();
        allIntegers = allIntegers && wire::exactInteger(v).has_value();
        allNumbers = allNumbers && v.isDouble();
        allTexts = allTexts && v.isString();
    }
    std::map<QString, qint64> result;
    if (allIntegers || allNumbers) {
        for (const QString& key : c.allKeys()) {
            const QJsonValue v = c.decoder(key).value();
            const auto n = allIntegers ? wire::exactInteger(v) : wire::roundToInt64(v.toDouble());
            if (n)
                result[key] = *n;
        }
        return result;
    }
    if (allTexts) {
        for (const QString& key : c.allKeys())
            if (const auto n = wire::parseInteger(c.decoder(key).value().toString().trimmed()))
                result[key] = *n;
        if (!result.empty())
            return result;
    }
    return std::nullopt;
}

std::map<QString, std::vector<qint64>> weekdayLists(const KeyedContainer& c, bool skipReserved) {
    std::map<QString, std::vector<qint64>> out;
    for (const QString& key : c.allKeys()) {
        if (skipReserved) {
            const QString lower = key.toLower();
            if (lower == u"hours_per_day" || lower == u"hoursperday" || lower == u"slots")
                continue;
        }
        const auto day = WorkSchedule::canonicalWeekday(key);
        if (!day)
            continue;
        if (auto list = numberList(c.decoder(key).value()))
            out[*day] = std::move(*list);
    }
    return out;
}

std::map<QString, qint64> canonicalHours(const std::map<QString, qint64>& hours) {
    std::map<QString, qint64> out;
    for (const auto& [key, value] : hours)
        if (const auto day = WorkSchedule::canonicalWeekday(key))
            out[*day] = value;
    return out;
}

std::map<QString, qint64> summed(const std::map<QString, std::vector<qint64>>& lists) {
    std::map<QString, qint64> out;
    for (const auto& [day, list] : lists)
        if (const auto sum = checkedSum(list))
            out[day] = *sum;
    return out;
}

std::optional<QString> userIdentity(const KeyedContainer& c, const QString& key,
                                    const char* failure) {
    if (!c.isNil(key)) {
        const QJsonValue v = c.decoder(key).value();
        if (v.isString() && !v.toString().trimmed().isEmpty())
            return v.toString().trimmed();
        if (const auto i = wire::exactInteger(v))
            return QString::number(*i);
    }
    c.dataCorrupted(key, QString::fromLatin1(failure));
}

} // namespace

// ---- AccountRequirements ----

bool AccountRequirements::isReady() const {
    if (ready)
        return *ready;
    if (dpaOutdated.value_or(false))
        return false;
    return dpaSigned.value_or(true) && profileComplete.value_or(true) &&
           (!missingProfileFields || missingProfileFields->empty());
}

AccountRequirements AccountRequirements::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    AccountRequirements r;
    r.profileComplete = c.decodeLenientBool(QStringList{QStringLiteral("profileComplete")});
    r.dpaSigned = c.decodeLenientBool(QStringList{QStringLiteral("dpaSigned")});
    r.dpaOutdated = c.decodeLenientBool(QStringList{QStringLiteral("dpaOutdated")});
    r.ready = c.decodeLenientBool(QStringLiteral("ready"));
    if (!c.isNil(QStringLiteral("missingProfileFields"))) {
        const Decoder fields = c.decoder(QStringLiteral("missingProfileFields"));
        if (fields.value().isObject()) {
            try {
                // The field names are data, not member keys: taken as sent.
                r.missingProfileFields = Decoder(fields.value(), fields.codingPath(), false)
                                             .decode<std::map<QString, QString>>();
            } catch (const DecodingError&) {
            }
        } else if (fields.value().isArray()) {
            // The service sends its empty collections as lists: a list of
            // texts names no missing field, whatever it holds.
            const QJsonArray list = fields.value().toArray();
            if (std::all_of(list.begin(), list.end(),
                            [](const QJsonValue& v) { return v.isString(); }))
                r.missingProfileFields.emplace();
        }
    }
    return r;
}

// ---- WorkSchedule ----

std::optional<QString> WorkSchedule::canonicalWeekday(const QString& key) {
    const QString trimmed = key.trimmed();
    for (const char16_t* name : kWeekdaysFromSunday) {
        const QString day = QString::fromUtf16(name);
        if (trimmed.compare(day, Qt::CaseInsensitive) == 0)
            return day;
    }
    return std::nullopt;
}

WorkSchedule WorkSchedule::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();

    // A: nested hours under either spelling.
    std::map<QString, qint64> nested;
    for (const QString& key : {QStringLiteral("hoursPerDay"), QStringLiteral("hours_per_day")}) {
        if (c.isNil(key))
            continue;
        if (auto hours = nestedHours(c.decoder(key).value())) {
            nested = std::move(*hours);
            break;
        }
    }

    // B: slots.
    std::optional<std::map<QString, std::vector<qint64>>> slots;
    if (!c.isNil(QStringLiteral("slots"))) {
        const QJsonValue v = c.decoder(QStringLiteral("slots")).value();
        if (v.isObject()) {
            auto lists = weekdayLists(KeyedContainer(v.toObject(), QString()), false);
            if (!lists.empty())
                slots = std::move(lists);
        }
    }

    // C: weekday lists at the top level.
    const auto topLevel = weekdayLists(c, true);

    // D: combination.
    WorkSchedule schedule;
    if (topLevel.empty()) {
        schedule.hoursPerDay = canonicalHours(nested);
        schedule.slots = std::move(slots);
    } else {
        schedule.hoursPerDay = nested.empty() ? summed(topLevel) : canonicalHours(nested);
        schedule.slots = slots ? std::move(slots) : topLevel;
    }
    return schedule;
}

std::map<QString, qint64> WorkSchedule::normalizedHours() const {
    if (!hoursPerDay.empty())
        return hoursPerDay;
    if (!slots)
        return {};
    std::map<QString, std::vector<qint64>> named;
    for (const auto& [key, list] : *slots)
        if (const auto day = canonicalWeekday(key))
            named[*day] = list;
    return summed(named);
}

qint64 WorkSchedule::targetHours(const QDateTime& date, const QTimeZone& zone) const {
    return targetHoursOn(date.toTimeZone(zone).date());
}

qint64 WorkSchedule::targetHoursOn(const QDate& day) const {
    const int dayOfWeek = day.dayOfWeek(); // 1 = Monday … 7 = Sunday
    const QString name =
        QString::fromUtf16(kWeekdaysFromSunday[static_cast<size_t>(dayOfWeek % 7)]);
    const auto hours = normalizedHours();
    const auto it = hours.find(name);
    if (it == hours.end() || it->second <= 0)
        return 0;
    qint64 seconds = 0;
    if (__builtin_mul_overflow(it->second, qint64{3600}, &seconds))
        return std::numeric_limits<qint64>::max();
    return seconds;
}

// ---- APIUser ----

QString leadingGraphemes(const QString& text, qsizetype count) {
    if (count <= 0 || text.isEmpty())
        return {};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype taken = 0;
    qsizetype end = 0;
    while (taken < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
        ++taken;
    }
    return text.left(end);
}

namespace {
qsizetype graphemeCount(const QString& text, qsizetype atMost) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype n = 0;
    while (n < atMost && finder.toNextBoundary() >= 0)
        ++n;
    return n;
}

QString lettersAndDigits(const QString& text) {
    QString out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next >= 0; next = finder.toNextBoundary()) {
        const QString cluster = text.mid(start, next - start);
        const char32_t first = cluster.toUcs4().value(0);
        if (QChar::isLetterOrNumber(first))
            out += cluster;
        start = next;
    }
    return out;
}

// The first one or two characters of a single word or name.
QString firstTwo(const QString& text) {
    return graphemeCount(text, 2) >= 2 ? leadingGraphemes(text, 2) : text;
}
} // namespace

QString APIUser::initials() const {
    const QString first = firstName.value_or(QString()).trimmed();
    const QString last = lastName.value_or(QString()).trimmed();
    QString result;
    if (!first.isEmpty() && !last.isEmpty()) {
        result = leadingGraphemes(first, 1) + leadingGraphemes(last, 1);
    } else if (!first.isEmpty()) {
        result = firstTwo(first);
    } else if (const QString full = name.value_or(QString()).trimmed(); !full.isEmpty()) {
        const QStringList words = full.split(u' ', Qt::SkipEmptyParts);
        result = words.size() >= 2 ? leadingGraphemes(words[0], 1) + leadingGraphemes(words[1], 1)
                                   : firstTwo(full);
    } else {
        const QStringList pieces = email.split(u'@', Qt::SkipEmptyParts);
        const QString local = lettersAndDigits(pieces.isEmpty() ? QString() : pieces.front());
        result = local.isEmpty() ? QStringLiteral("?") : firstTwo(local);
    }
    return result.toUpper();
}

std::optional<QUrl> APIUser::profilePhotoURL(const QString& baseURLString) const {
    const QString text = profilePhotoUrl.value_or(QString()).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    QString absolute;
    if (text.startsWith(u"http://") || text.startsWith(u"https://")) {
        absolute = text;
    } else if (text.startsWith(u"//")) {
        absolute = QStringLiteral("https:") + text;
    } else {
        QString base = baseURLString;
        while (base.startsWith(u'/'))
            base.remove(0, 1);
        while (base.endsWith(u'/'))
            base.chop(1);
        absolute = base + (text.startsWith(u'/') ? text : u'/' + text);
    }
    const QUrl url(absolute, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> APIUser::profilePhotoURL() const {
    return profilePhotoURL(OrvaneAPIConfig::baseURLString());
}

APIUser APIUser::decode(const Decoder& decoder) {
    const KeyedContainer c = decoder.container();
    APIUser user;
    user.id = *userIdentity(c, QStringLiteral("id"), "Expected String or Int user id");
    user.email = *userIdentity(c, QStringLiteral("email"), "Expected email");
    user.firstName =
        c.decodeFirstNonEmptyString({QStringLiteral("firstName"), QStringLiteral("firstname")});
    user.lastName =
        c.decodeFirstNonEmptyString({QStringLiteral("lastName"), QStringLiteral("lastname")});
    user.name = c.decodeIfPresent<QString>(QStringLiteral("name"));
    user.profilePhotoUrl =
        c.decodeFirstNonEmptyString({QStringLiteral("profilePhotoUrl"), QStringLiteral("avatar")});
    user.accountRequirements =
        c.decodeIfPresent<AccountRequirements>(QStringLiteral("accountRequirements"));
    user.workSchedule = c.decodeIfPresent<WorkSchedule>(QStringLiteral("workSchedule"));
    user.defaultHourlyRate = c.decodeLenientString(QStringLiteral("defaultHourlyRate"));
    return user;
}

} // namespace orvane
