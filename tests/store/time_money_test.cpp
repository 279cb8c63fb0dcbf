#include "store/time_money_helpers.h"

#include <gtest/gtest.h>

#include <limits>

using namespace orvane;

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

JobTimeCompactDTO entry(std::optional<QString> start, std::optional<QString> end,
                        std::optional<QString> direction = {}, std::optional<qint64> step = {}) {
    JobTimeCompactDTO e;
    e.startTime = std::move(start);
    e.endTime = std::move(end);
    e.roundDirection = std::move(direction);
    e.roundValue = step;
    return e;
}

JobTimeRoundedDuration rounded(std::optional<QString> hhMm, std::optional<QString> decimal) {
    return JobTimeRoundedDuration{std::move(hhMm), std::move(decimal)};
}

} // namespace

TEST(BerlinZone, IsKnownToTheMachine) {
    ASSERT_TRUE(berlinTimeZone().isValid()) << "tzdata is missing: Berlin would act as UTC";
    EXPECT_EQ(berlinTimeZone().id(), QByteArray("Europe/Berlin"));
}

TEST(ServerDates, ReadEveryFormTheServiceSends) {
    const struct {
        const char* text;
        QDateTime expected;
    } cases[] = {
        {"2025-03-01T10:15:30Z", utc(2025, 3, 1, 10, 15, 30)},
        {"2025-03-01T10:15:30.250Z", utc(2025, 3, 1, 10, 15, 30, 250)},
        {"2025-03-01T11:15:30+01:00", utc(2025, 3, 1, 10, 15, 30)},
        {"2025-03-01T10:15:30.500-02:30", utc(2025, 3, 1, 12, 45, 30, 500)},
        {"2025-03-01 10:15:30", utc(2025, 3, 1, 10, 15, 30)},
        {"2025-03-01T10:15:30", utc(2025, 3, 1, 10, 15, 30)},
        {"2025-03-01T10:15:30.123", utc(2025, 3, 1, 10, 15, 30, 123)},
        {"2025-03-01T10:15:30.123456", utc(2025, 3, 1, 10, 15, 30, 123)},
        {"2025-03-01T10:15:30.123456+00:00", utc(2025, 3, 1, 10, 15, 30, 123)},
        {" \n2025-03-01T10:15:30Z\t\n", utc(2025, 3, 1, 10, 15, 30)},
    };
    for (const auto& c : cases) {
        const auto parsed = parseServerDate(QString::fromUtf8(c.text));
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(parsed->toMSecsSinceEpoch(), c.expected.toMSecsSinceEpoch()) << c.text;
    }
}

TEST(ServerDates, UnreadableTextsGiveNothing) {
    EXPECT_EQ(parseServerDate(std::nullopt), std::nullopt);
    for (const char* text : {"", "   ", "01.03.2025", "2025-03-01", "10:15:30", "gestern",
                             "2025-03-01T10:15:30Zjunk", "2025-03-01T10:15"})
        EXPECT_EQ(parseServerDate(QString::fromUtf8(text)), std::nullopt) << text;
}

TEST(MinuteCut, DropsSecondsAndFractionsOfTheInstant) {
    EXPECT_EQ(truncatedToMinute(utc(2025, 3, 1, 10, 15, 59, 999)), utc(2025, 3, 1, 10, 15));
    EXPECT_EQ(truncatedToMinute(utc(2025, 3, 1, 10, 15)), utc(2025, 3, 1, 10, 15));
    // Before 1970 the cut still goes down to the earlier minute.
    EXPECT_EQ(truncatedToMinute(utc(1969, 12, 31, 23, 59, 30, 500)), utc(1969, 12, 31, 23, 59));
}

TEST(MinuteCut, KeepsBothReadingsOfTheRepeatedAutumnHourApart) {
    ASSERT_TRUE(berlinTimeZone().isValid());
    // 2025-10-26: 02:30:45 happens twice in Berlin, first in summer, then in winter time.
    for (const QDateTime& instant : {utc(2025, 10, 26, 0, 30, 45), utc(2025, 10, 26, 1, 30, 45)}) {
        const QDateTime berlin = instant.toTimeZone(berlinTimeZone());
        ASSERT_EQ(berlin.time(), QTime(2, 30, 45));
        const QDateTime cut = truncatedToMinute(berlin);
        EXPECT_EQ(cut.toMSecsSinceEpoch(), instant.toMSecsSinceEpoch() - 45'000)
            << instant.toString(Qt::ISODate).toStdString();
    }
}

TEST(MinuteGridRounding, FollowsDirectionAndStep) {
    const QDateTime ten = utc(2025, 3, 1, 10, 0);
    const struct {
        QDateTime start, end;
        std::optional<QString> direction;
        std::optional<qint64> step;
        qint64 expected;
    } cases[] = {
        // 10:00:59 to 10:01:01 counts one whole minute.
        {utc(2025, 3, 1, 10, 0, 59), utc(2025, 3, 1, 10, 1, 1), {}, {}, 60},
        {utc(2025, 3, 1, 10, 0, 59), utc(2025, 3, 1, 10, 1, 1), "up", 15, 900},
        {utc(2025, 3, 1, 10, 0, 59), utc(2025, 3, 1, 10, 1, 1), "down", 15, 0},
        {utc(2025, 3, 1, 10, 0, 59), utc(2025, 3, 1, 10, 1, 1), "closest", 15, 0},
        {ten, ten.addSecs(22 * 60), "up", 15, 1800},
        {ten, ten.addSecs(22 * 60), "closest", 15, 900},
        {ten, ten.addSecs(22 * 60), "down", 15, 900},
        {ten, ten.addSecs(23 * 60), "closest", 15, 1800},
        {ten, ten.addSecs(30 * 60), "closest", 20, 2400}, // halves away from zero
        {ten, ten.addSecs(22 * 60), "UP", 15, 1800},
        {ten, ten.addSecs(22 * 60), "sideways", 15, 900},
        {ten, ten.addSecs(22 * 60), {}, 15, 900},
        {ten, ten.addSecs(22 * 60), "up", 0, 1320},
        {ten, ten.addSecs(22 * 60), "up", -5, 1320},
        {ten, ten.addSecs(45 * 60), "up", 15, 2700}, // already on the grid
        // Within one minute, "up" still books one full step.
        {utc(2025, 3, 1, 10, 0, 20), utc(2025, 3, 1, 10, 0, 50), "up", 15, 900},
        {ten, ten, "up", 15, 900},
        // An end before the start counts nothing, except the one step of "up".
        {ten, ten.addSecs(-600), {}, {}, 0},
        {ten, ten.addSecs(-600), "closest", 15, 0},
        {ten, ten.addSecs(-600), "up", 15, 900},
        // Spring change: 01:30 CET to 03:30 CEST is one real hour.
        {utc(2025, 3, 30, 0, 30), utc(2025, 3, 30, 1, 30), {}, {}, 3600},
        // Autumn change: 02:30 CEST to 02:30 CET is one real hour too.
        {utc(2025, 10, 26, 0, 30), utc(2025, 10, 26, 1, 30), {}, {}, 3600},
    };
    for (const auto& c : cases)
        EXPECT_EQ(minuteGridRoundedSecs(c.start, c.end, c.direction, c.step), c.expected)
            << c.start.toString(Qt::ISODate).toStdString() << " → "
            << c.end.toString(Qt::ISODate).toStdString() << " "
            << c.direction.value_or("-").toStdString() << " " << c.step.value_or(-999);
}

TEST(EntryRounding, BooksFinishedEntriesByTheirOwnRounding) {
    const QString a = "2025-03-01T10:00:20Z", b = "2025-03-01T10:00:50Z";
    EXPECT_EQ(roundedDurationSecs(entry(a, b, "up", 15)), 900);
    EXPECT_EQ(roundedDurationSecs(entry(a, b, "down", 15)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(entry(a, b, "closest", 15)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(entry(a, b)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(
                  entry("  2025-03-01 10:00:00\n", " 2025-03-01T10:22:10Z ", "closest", 15)),
              900);
    // End before start is refused; end equal to start books only the step of "up".
    EXPECT_EQ(roundedDurationSecs(entry(b, a, "up", 15)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(entry(a, a)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(entry(a, a, "up", 15)), 900);
    EXPECT_EQ(roundedDurationSecs(entry(std::nullopt, b)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(entry("  ", b)), std::nullopt);
    EXPECT_EQ(roundedDurationSecs(entry(a, "bald")), std::nullopt);
}

TEST(EntryRounding, CountsRealMinutesAcrossTheAutumnChange) {
    // 02:30:30 CEST to 02:10:10 CET: forty real minutes, though the wall clock went back.
    EXPECT_EQ(roundedDurationSecs(entry("2025-10-26T00:30:30Z", "2025-10-26T01:10:10Z")), 2400);
    // 01:59:30 CET to 03:00:30 CEST: one real minute over the spring gap.
    EXPECT_EQ(roundedDurationSecs(entry("2025-03-30T00:59:30Z", "2025-03-30T01:00:30Z")), 60);
}

TEST(EntryDuration, PrefersTheServicesHoursAndMinutes) {
    const QString a = "2025-03-01T10:00:00Z", b = "2025-03-01T10:30:00Z";
    JobTimeCompactDTO e = entry(a, b);
    e.roundedDuration = rounded("2:05", "9");
    EXPECT_EQ(entryDurationSecs(e), 7500);
    e.roundedDuration = rounded("kaputt", "9");
    EXPECT_EQ(entryDurationSecs(e), 1800); // from the entry's own times
    e.startTime = "unlesbar";
    EXPECT_EQ(entryDurationSecs(e), 9 * 3600); // from the decimal hours
    e.roundedDuration = rounded("  ", "1,5");
    EXPECT_EQ(entryDurationSecs(e), 5400);
    e.roundedDuration = rounded({}, "-1");
    EXPECT_EQ(entryDurationSecs(e), std::nullopt);
    e.roundedDuration.reset();
    EXPECT_EQ(entryDurationSecs(e), std::nullopt);
}

TEST(EntryDuration, RunningEntryHasNone) {
    JobTimeCompactDTO e = entry("2025-03-01T10:00:00Z", std::nullopt);
    e.roundedDuration = rounded("2:05", "2.0833");
    EXPECT_EQ(entryDurationSecs(e), std::nullopt);
    e.endTime = " \n";
    EXPECT_EQ(entryDurationSecs(e), std::nullopt);
}

TEST(EntryInWindow, ClipsToTheWindowWithoutRounding) {
    const QDateTime w0 = utc(2025, 3, 1, 10, 0), w1 = utc(2025, 3, 1, 12, 0);
    using R = EffectiveEntrySecs;
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T09:00:00Z", "2025-03-01T11:00:00Z"), w0, w1),
              (R{3600, 7200}));
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T10:10:07Z", "2025-03-01T10:20:00Z"), w0, w1),
              (R{593, 593}));
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T11:30:00Z", "2025-03-01T13:00:00Z"), w0, w1),
              (R{1800, 5400}));
    // Outside the window, ending on its start, or not after its own start: nothing.
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T08:00:00Z", "2025-03-01T10:00:00Z"), w0, w1),
              std::nullopt);
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T10:30:00Z", "2025-03-01T10:30:00Z"), w0, w1),
              std::nullopt);
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T10:30:00Z", std::nullopt), w0, w1),
              std::nullopt);
    // Less than a second inside the window counts as nothing.
    EXPECT_EQ(effectiveEntrySecs(entry("2025-03-01T11:59:59.500Z", "2025-03-01T12:30:00Z"), w0, w1),
              std::nullopt);
}

TEST(DurationText, ReadsHoursAndMinutes) {
    const struct {
        const char* text;
        std::optional<qint64> expected;
    } cases[] = {
        {"2:05", 7500},
        {"  0:45 \n", 2700},
        {"0:59", 3540},
        {"100:00", 360000},
        {"1::30", 5400},
        {"1 : 30", 5400},
        {"+1:+05", 3900},
        {"1:60", std::nullopt},
        {"-1:30", std::nullopt},
        {"1:-30", std::nullopt},
        {"1:30:15", std::nullopt},
        {"130", std::nullopt},
        {":30", std::nullopt},
        {"a:30", std::nullopt},
        {"1.5:00", std::nullopt},
        {"", std::nullopt},
        {"  ", std::nullopt},
        {"9223372036854775807:00", std::nullopt},
        {"99999999999999999999:00", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseDurationString(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(DecimalHours, ToSecondsWithZeroForUnreadable) {
    const struct {
        std::optional<QString> text;
        qint64 expected;
    } cases[] = {
        {"1,5", 5400},   {"0.25", 900}, {" 2 ", 7200},     {"1,25", 4500}, {"-1", -3600},
        {"0,0001", 0},   {"", 0},       {std::nullopt, 0}, {"abc", 0},     {"1,5,0", 0},
        {"1e400", 0},    {"-1e400", 0}, {"inf", 0},        {"nan", 0},     {"1e16", 0},
        {"2.5e-1", 900}, {"1e-400", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decimalHoursToSecs(c.text), c.expected) << c.text.value_or("<nil>").toStdString();
}

TEST(DecimalHours, RoundedDurationRefusesNegativeAndUnreadable) {
    EXPECT_EQ(parseDecimalHoursSecs(rounded({}, "0")), 0);
    EXPECT_EQ(parseDecimalHoursSecs(rounded({}, "1,5")), 5400);
    EXPECT_EQ(parseDecimalHoursSecs(rounded({}, "-1")), std::nullopt);
    EXPECT_EQ(parseDecimalHoursSecs(rounded({}, "1e400")), std::nullopt);
    EXPECT_EQ(parseDecimalHoursSecs(rounded({}, "1e16")), std::nullopt);
    EXPECT_EQ(parseDecimalHoursSecs(rounded({}, "")), std::nullopt);
    EXPECT_EQ(parseDecimalHoursSecs(rounded("2:00", std::nullopt)), std::nullopt);
    EXPECT_EQ(parseDecimalHoursSecs(std::nullopt), std::nullopt);
}

TEST(DecimalHours, FirstPositiveRateWins) {
    EXPECT_EQ(firstDecimal("0", "85,5", "90"), 85.5);
    EXPECT_EQ(firstDecimal("1e400", "-5", " 12.5 "), 12.5);
    EXPECT_EQ(firstDecimal("70", "85,5", "90"), 70.0);
    EXPECT_EQ(firstDecimal("", std::nullopt, "x"), std::nullopt);
    EXPECT_EQ(firstDecimal("nan", "inf", "-0"), std::nullopt);
}

TEST(DurationFormat, MinutesBelowAnHourThenHours) {
    const struct {
        qint64 secs;
        const char* text;
    } cases[] = {{0, "00:00"},        {59, "00:59"},        {61, "01:01"},
                 {3599, "59:59"},     {3600, "01:00:00"},   {3661, "01:01:01"},
                 {86399, "23:59:59"}, {360000, "100:00:00"}};
    for (const auto& c : cases)
        EXPECT_EQ(formatDuration(c.secs), QString::fromUtf8(c.text)) << c.secs;
}

TEST(ClockTimeFormat, HoursAndMinutesOfTheLocalReading) {
    EXPECT_EQ(formatClockTime(QDateTime(QDate(2025, 3, 1), QTime(9, 5, 59), Qt::LocalTime)),
              "09:05");
    EXPECT_EQ(formatClockTime(QDateTime(QDate(2025, 3, 1), QTime(23, 59), Qt::LocalTime)), "23:59");
    EXPECT_EQ(formatClockTime(QDateTime(QDate(2025, 3, 1), QTime(0, 0), Qt::LocalTime)), "00:00");
}

TEST(EuroFormat, GermanGroupingAndNoBreakSpace) {
    const struct {
        qint64 cents;
        const char* text;
    } cases[] = {
        {0, "0,00\u00A0€"},
        {5, "0,05\u00A0€"},
        {1250, "12,50\u00A0€"},
        {99999, "999,99\u00A0€"},
        {123450, "1.234,50\u00A0€"},
        {100000000, "1.000.000,00\u00A0€"},
        {-250, "-2,50\u00A0€"},
        {std::numeric_limits<qint64>::min(), "-92.233.720.368.547.758,08\u00A0€"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatEuro(c.cents), QString::fromUtf8(c.text)) << c.cents;
    const QString text = formatEuro(123450);
    ASSERT_GE(text.size(), 2);
    EXPECT_EQ(text.at(text.size() - 2), QChar(0x00A0)) << "a plain space would let € wrap";
}

TEST(BerlinDay, OrdinaryDayHas24Hours) {
    ASSERT_TRUE(berlinTimeZone().isValid());
    const DayBounds day = berlinEndOfDay(utc(2025, 6, 15, 12, 0));
    EXPECT_EQ(day.start, utc(2025, 6, 14, 22, 0));
    EXPECT_EQ(day.end, utc(2025, 6, 15, 22, 0));
    // Half past midnight in Berlin is still before midnight in UTC.
    EXPECT_EQ(berlinEndOfDay(utc(2025, 6, 14, 22, 30)).start, utc(2025, 6, 14, 22, 0));
    EXPECT_EQ(berlinEndOfDay(utc(2025, 6, 14, 22, 0)).start, utc(2025, 6, 14, 22, 0));
    EXPECT_EQ(berlinEndOfDay(utc(2025, 6, 14, 21, 59, 59)).start, utc(2025, 6, 13, 22, 0));
}

TEST(BerlinDay, SpringDayHas23HoursAndAutumnDay25) {
    ASSERT_TRUE(berlinTimeZone().isValid());
    const DayBounds spring = berlinEndOfDay(utc(2025, 3, 30, 12, 0));
    EXPECT_EQ(spring.start, utc(2025, 3, 29, 23, 0));
    EXPECT_EQ(spring.end, utc(2025, 3, 30, 22, 0));
    EXPECT_EQ(spring.start.secsTo(spring.end), 23 * 3600);
    const DayBounds autumn = berlinEndOfDay(utc(2025, 10, 26, 12, 0));
    EXPECT_EQ(autumn.start, utc(2025, 10, 25, 22, 0));
    EXPECT_EQ(autumn.end, utc(2025, 10, 26, 23, 0));
    EXPECT_EQ(autumn.start.secsTo(autumn.end), 25 * 3600);
}

TEST(BerlinDay, KeysOfThePreviousDayAndTheDay) {
    ASSERT_TRUE(berlinTimeZone().isValid());
    const struct {
        QDateTime instant;
        const char* previous;
        const char* day;
        QDateTime start, end;
    } cases[] = {
        {utc(2025, 6, 14, 22, 30), "2025-06-14", "2025-06-15", utc(2025, 6, 14, 22, 0),
         utc(2025, 6, 15, 22, 0)},
        {utc(2025, 1, 1, 0, 30), "2024-12-31", "2025-01-01", utc(2024, 12, 31, 23, 0),
         utc(2025, 1, 1, 23, 0)},
        {utc(2025, 3, 30, 21, 59, 59), "2025-03-29", "2025-03-30", utc(2025, 3, 29, 23, 0),
         utc(2025, 3, 30, 22, 0)},
        {utc(2025, 10, 26, 23, 0), "2025-10-26", "2025-10-27", utc(2025, 10, 26, 23, 0),
         utc(2025, 10, 27, 23, 0)},
        // An invalid time has no day, also right after the day of epoch 0 was asked.
        {utc(1970, 1, 1, 12, 0), "1969-12-31", "1970-01-01", utc(1969, 12, 31, 23, 0),
         utc(1970, 1, 1, 23, 0)},
        {QDateTime(), "", "", QDateTime(), QDateTime()},
    };
    for (const auto& c : cases) {
        const DayKeyRange range = berlinDayKeyRange(c.instant);
        const std::string at = c.instant.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(range.previousDayKey, QString::fromUtf8(c.previous)) << at;
        EXPECT_EQ(range.dayKey, QString::fromUtf8(c.day)) << at;
        EXPECT_EQ(range.start, c.start) << at;
        EXPECT_EQ(range.end, c.end) << at;
        EXPECT_EQ(berlinDayKey(c.instant), QString::fromUtf8(c.day)) << at;
    }
}

TEST(ClientBadge, InitialsFromTheName) {
    const struct {
        const char* name;
        const char* initials;
    } cases[] = {
        {"Acme GmbH", "AG"},
        {"Acme", "AC"},
        {"   acme    gmbh   ", "AG"},
        {"\n Acme GmbH \t", "AG"},
        {"Müller & Söhne KG", "M&"},
        {"", "?"},
        {"   ", "?"},
        {"x", "X?"},
        {"Ö", "Ö?"},
        {"ßa", "SSA"},               // upper-cased as the platform does
        {"e\u0301cole", "E\u0301C"}, // "é" written with a combining accent is one character
        {"\U0001F1E9\U0001F1EA", "\U0001F1E9\U0001F1EA?"}, // a flag is one character
        {"\U0001F44D\U0001F3FD Team", "\U0001F44D\U0001F3FDT"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clientInitials(QString::fromUtf8(c.name)), QString::fromUtf8(c.initials))
            << c.name;
}

TEST(ClientBadge, ColourFromTheHashOfTheUtf8Bytes) {
    const struct {
        const char* text;
        quint32 colour;
    } cases[] = {
        {"", 0x6366F1},
        {"a", 0xEC4899},
        {"b", 0x10B981},
        {"c", 0xF59E0B},
        {"d", 0x22D3EE},
        {"e", 0xF43F5E},
        {"Zoë", 0xF59E0B},             // bytes above 127 count as unsigned
        {"Bäckerei Schulz", 0xF43F5E}, // the hash passes 2^31
        {"a very long client name that wraps the hash around several times", 0xEC4899},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clientColorHex(QString::fromUtf8(c.text)), c.colour) << c.text;
}
