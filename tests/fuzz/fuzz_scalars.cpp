// The readers of single values: service times, decimals, amounts, durations,
// identifiers and key conversion. Each line of the input is read as every kind
// of value; the first lines together as one job time's start, end, rounding
// direction, step, "hh:mm" and decimal hours; the first bytes as raw numbers.

#include "fuzz.h"

#include "platform/user_defaults.h"
#include "service/envelopes.h"
#include "service/login_records.h"
#include "service/orvane_api_client.h"
#include "store/time_money_helpers.h"

#include <cmath>
#include <cstring>

using namespace orvane;

namespace {

void readText(const QString& text) {
    if (const auto date = parseServerDate(text)) {
        fuzz::check(date->isValid() && date->timeSpec() == Qt::UTC,
                    "a service time is a valid instant in UTC");
        (void)berlinDayKeyRange(*date);
        (void)truncatedToMinute(*date);
        (void)OrvaneAPIClient::internetDateTime(*date);
    }
    if (const auto value = wire::parseDouble(text))
        fuzz::check(wire::parseDouble(wire::doubleDescription(*value)) == *value,
                    "a number's description reads back as the same number");
    (void)wire::parseInteger(text);
    (void)decimalHoursToSecs(text);
    (void)firstDecimal(text, text, text);
    (void)formatEuro(euroCentsFromAmountText(text));
    if (const auto secs = parseDurationString(text)) {
        fuzz::check(*secs >= 0, "a duration is never negative");
        (void)formatDuration(*secs);
    }
    (void)wire::convertToSnakeCase(wire::convertFromSnakeCase(text));
    (void)usableBearerToken(text);
    (void)clientInitials(text);
    (void)clientColorHex(text);
}

void readNumbers(double real, qint64 whole) {
    if (std::isfinite(real)) {
        fuzz::check(wire::parseDouble(wire::doubleDescription(real)) == real,
                    "a number's description reads back as the same number");
        fuzz::check(wire::parseDouble(platform::UserDefaults::numberText(real)) == real,
                    "a stored number's text reads back as the same number");
    }
    (void)wire::roundToInt64(real);
    (void)saturatingRound(real);
    (void)saturatingAdd(whole, whole);
    (void)formatEuro(whole);
    (void)formatDuration(whole);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(fuzz::bytes(data, size));
    const QStringList lines = input.split(u'\n');
    for (const QString& line : lines)
        readText(line);

    JobTimeCompactDTO entry;
    entry.id = QStringLiteral("1");
    entry.startTime = lines.value(0);
    entry.endTime = lines.value(1);
    entry.roundDirection = lines.value(2);
    entry.roundValue = wire::parseInteger(lines.value(3));
    entry.roundedDuration = JobTimeRoundedDuration{lines.value(4), lines.value(5)};
    if (const auto secs = roundedDurationSecs(entry))
        fuzz::check(*secs >= 1, "a booked duration is at least a second");
    (void)entryDurationSecs(entry);

    if (size >= sizeof(double)) {
        double real = 0;
        qint64 whole = 0;
        std::memcpy(&real, data, sizeof real);
        std::memcpy(&whole, data, sizeof whole);
        readNumbers(real, whole);
    }
    return 0;
}
