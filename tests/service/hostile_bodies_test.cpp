#include "service/catalog_records.h"
#include "service/envelopes.h"
#include "service/job_time_records.h"
#include "service/login_records.h"
#include "service/user_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

using namespace orvane;

namespace {

struct RecordDecoder {
    const char* name;
    std::function<void(const QByteArray&)> run;
};

template <class T> RecordDecoder reader(const char* name) {
    return {name, [](const QByteArray& body) { (void)wire::decodeJSON<T>(body); }};
}

const std::vector<RecordDecoder>& everyDecoder() {
    static const std::vector<RecordDecoder> decoders = {
        reader<APIUser>("APIUser"),
        reader<LoginSuccessDTO>("LoginSuccessDTO"),
        reader<TwoFactorRequiredDTO>("TwoFactorRequiredDTO"),
        {"ClientsAPIPayload::decodeClients",
         [](const QByteArray& body) { (void)ClientsAPIPayload::decodeClients(body); }},
        reader<PaginatedResponse<JobDTO>>("PaginatedResponse<JobDTO>"),
        reader<PaginatedResponse<JobTimeCompactDTO>>("PaginatedResponse<JobTimeCompactDTO>"),
        reader<SingleDataResponse<std::vector<JobTaskDTO>>>("SingleDataResponse<[JobTaskDTO]>"),
        reader<SingleDataResponse<JobTaskDTO>>("SingleDataResponse<JobTaskDTO>"),
        reader<JobTimesActiveResponse>("JobTimesActiveResponse"),
        reader<JobTimeSingleResponse>("JobTimeSingleResponse"),
        reader<InvoiceableSummaryDTO>("InvoiceableSummaryDTO"),
        {"decodeDataList<JobTaskDTO>, room after the body as a reply without a length has",
         [](const QByteArray& body) {
             QByteArray roomy;
             roomy.reserve(body.size() + 256);
             (void)wire::decodeDataList<JobTaskDTO>(roomy.append(body));
         }},
        {"JobTaskDTO, from a body cut at its front (spare room, none after its end)",
         [](const QByteArray& body) {
             QByteArray cut = QByteArray(100, ' ') + body;
             (void)wire::decodeJSON<JobTaskDTO>(cut.remove(0, 100));
         }}};
    return decoders;
}

struct Body {
    std::string name;
    QByteArray bytes;
    bool mustReject; // else it may decode or fail
};

// Runs every record decoder on every body: each must return or throw a
// DecodingError; under the sanitizers anything worse ends the run.
void expectEveryDecoderCopes(const std::vector<Body>& bodies) {
    for (const Body& body : bodies) {
        for (const RecordDecoder& decoder : everyDecoder()) {
            bool decoded = false;
            try {
                decoder.run(body.bytes);
                decoded = true;
            } catch (const DecodingError&) {
            } catch (const std::exception& e) {
                ADD_FAILURE() << decoder.name << " on " << body.name << " threw " << e.what();
            }
            if (body.mustReject) {
                EXPECT_FALSE(decoded) << decoder.name << " accepted " << body.name;
            }
        }
    }
}

QByteArray repeat(const char* text, int times) {
    return QByteArray(text).repeated(times);
}

// An object carrying a member of every record, each holding `value`, except the
// identity members that must be text for a record to get that far.
QByteArray everyMember(const QByteArray& value, bool withStrictMembers) {
    QByteArray leaf = R"("id": "1", "email": "a@b.de", "from": "a", "to": "b", "token": "t")";
    const QByteArray lenient = "first_name firstname last_name profile_photo_url avatar "
                               "default_hourly_rate company_name companyname customer_name "
                               "hourly_rate time_round_value title rate job_id client_id "
                               "jobtask_id start_time end_time round_value round_direction "
                               "amount hours_decimal job_time_count scheduled_time";
    for (const QByteArray& key : lenient.split(' '))
        leaf += ", \"" + key + "\": " + value;
    leaf += ", \"account_requirements\": {\"ready\": " + value + ", \"dpa_signed\": " + value +
            ", \"missing_profile_fields\": [" + value + "]}";
    leaf += ", \"work_schedule\": {\"hours_per_day\": {\"monday\": " + value +
            "}, \"slots\": {\"tuesday\": [" + value + ", " + value + "]}, \"friday\": [" + value +
            "]}";
    leaf += ", \"rounded_duration\": {\"hh_mm\": " + value + ", \"decimal_hours\": " + value + "}";
    if (withStrictMembers) {
        const QByteArray strict = "name token_type two_factor_required message archived "
                                  "completed billable billed rounded_total_seconds "
                                  "rounded_today_seconds";
        for (const QByteArray& key : strict.split(' '))
            leaf += ", \"" + key + "\": " + value;
        leaf += ", \"meta\": {\"current_page\": " + value + ", \"total\": " + value + "}";
    }
    const QByteArray inner = "{" + leaf + "}";
    QByteArray nested = leaf;
    for (const char* key :
         {"user", "job", "client", "project", "job_task", "today", "week", "month"})
        nested += ", \"" + QByteArray(key) + "\": " + inner;
    nested += ", \"job_times\": [" + inner + "]";
    const QByteArray record = "{" + nested + ", \"timezone\": \"UTC\"}";
    return "{" + nested + ", \"timezone\": \"UTC\", \"data\": [" + record + "]}";
}

// Bodies of `n` unknown keys, `n` keys in each schedule map, `n` list
// elements, and a text of `n` KiB.
std::vector<Body> wideAndLongBodies(int n) {
    QByteArray junk;
    for (int i = 0; i < n; ++i)
        junk += "\"k_" + QByteArray::number(i) + "\": " + QByteArray::number(i) + ", ";
    QByteArray list = "[";
    for (int i = 0; i < n; ++i)
        list += (i ? ", {\"id\": " : "{\"id\": ") + QByteArray::number(i) + "}";
    list += "]";
    const std::string count = std::to_string(n);
    return {
        {count + " unknown keys",
         "{" + junk + R"("id": 1, "email": "a", "data": [], "timezone": "UTC"})", false},
        {count + " keys in each schedule map",
         R"({"data": [], "user": {"id": 1, "email": "a", "work_schedule": {)" + junk +
             R"("hours_per_day": {)" + junk + R"("monday": 8}, "slots": {)" + junk +
             R"("friday": [1]}}}, "token": "t"})",
         false},
        {count + " list elements", "{\"data\": " + list + ", \"clients\": " + list + "}", false},
        {"a text of " + count + " KiB",
         R"({"id": ")" + QByteArray(n << 10, 'x') + R"(", "email": "a", "data": []})", false}};
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The CPU time of the cheapest of three runs of `decoder` on each body, taken
// in turns so that a busy moment weighs on both alike.
std::pair<double, double> cheapestWork(const RecordDecoder& decoder, const QByteArray& a,
                                       const QByteArray& b) {
    double costs[2] = {1e9, 1e9};
    for (int run = 0; run < 3; ++run)
        for (int i = 0; i < 2; ++i) {
            const double start = threadCpuSeconds();
            decoder.run(i == 0 ? a : b);
            costs[i] = std::min(costs[i], threadCpuSeconds() - start);
        }
    return {costs[0], costs[1]};
}

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

} // namespace

TEST(HostileBodies, MalformedDocumentsAreRejectedByEveryDecoder) {
    expectEveryDecoderCopes(
        {{"empty body", "", true},
         {"only whitespace", " \n\t ", true},
         {"truncated list", R"({"data": [{"id": 1}, {"id": 2)", true},
         {"truncated text", R"({"id": 1, "email": "a@b)", true},
         {"truncated escape", R"({"id": "\u12)", true},
         {"garbage after the document", R"({"data": []} x)", true},
         {"two documents", R"({"data": []}{"data": []})", true},
         {"a text followed by ':' in an object", R"({"id": "b": 1}})", true},
         {"... closed as a list", R"({"id": "b": 1]})", true},
         {"a text followed by ':' in a list", R"(["id": 1]])", true},
         {"a text followed by ':' in a task", R"({"data": [["a": 1], {"id": 1}]})", true},
         {"number", "42", true},
         {"text", R"("data")", true},
         {"null", "null", true},
         {"true", "true", true},
         {"single quotes", "{'data': []}", true},
         {"trailing comma", R"({"data": [],})", true},
         {"NaN literal", R"({"data": [], "amount": NaN})", true},
         {"number beyond double range", R"({"data": [], "id": 1e400})", true},
         {"negative number beyond range", R"({"data": [], "id": -1e400})", true},
         {"NUL byte in the body", QByteArray("{\"data\": []}\0", 13), true},
         {"invalid byte in a text", "{\"id\": \"\xff\xfe\", \"email\": \"a\", \"data\": []}", true},
         {"invalid byte in a key", "{\"\xc3\": 1, \"data\": []}", true},
         {"overlong encoding", "{\"id\": \"\xc0\xaf\", \"data\": []}", true},
         {"encoded surrogate", "{\"id\": \"\xed\xa0\x80\", \"data\": []}", true},
         {"truncated sequence", "{\"id\": \"\xe2\x82\", \"data\": []}", true},
         {"100000 nested arrays", repeat("[", 100000) + repeat("]", 100000), true},
         {"100000 nested objects", repeat("{\"a\":", 100000) + "1" + repeat("}", 100000), true},
         {"100000 unclosed arrays", repeat("[", 100000), true},
         {"100000 nested data members", repeat("{\"data\":", 100000) + "[]" + repeat("}", 100000),
          true}});
}

TEST(HostileBodies, OddShapesDecodeOrFailCleanly) {
    expectEveryDecoderCopes(
        {{"empty object", "{}", false},
         {"empty array", "[]", false},
         {"array of scalars", R"([1, "x", null, true])", false},
         {"members of the wrong kind",
          R"({"data": 5, "user": 5, "today": 5, "id": {}, "email": [], "token": true,
             "two_factor_required": "yes", "message": []})",
          false},
         {"list elements of the wrong kind", R"({"data": [1, "x", null, true, []]})", false},
         {"duplicate keys", R"({"data": [], "data": {"id": 1}, "id": 1, "id": "x"})", false},
         {"keys that meet after conversion",
          R"({"first_name": "a", "firstName": "b", "first__name": "c", "_": 1, "__": 2})", false},
         {"escaped lone surrogate and NUL", R"({"id": "\ud800", "email": "a\u0000b", "data": []})",
          false},
         {"byte order mark", "\xEF\xBB\xBF{\"data\": []}", false},
         {"every member as an object", everyMember("{}", true), false},
         {"every member as a list", everyMember("[[]]", true), false},
         {"900 nested lists under data", "{\"data\": " + repeat("[", 900) + repeat("]", 900) + "}",
          false},
         {"900 nested objects under every record",
          "{\"data\": " + repeat("{\"data\":", 900) + "{}" + repeat("}", 900) +
              ", \"user\": " + repeat("{\"user\":", 900) + "{}" + repeat("}", 900) + "}",
          false},
         {"900 nested schedule lists",
          R"({"id": 1, "email": "a", "work_schedule": {"monday": )" + repeat("[", 900) +
              repeat("]", 900) + "}}",
          false}});
}

TEST(HostileBodies, ExtremeNumbersAndNonFiniteTextsNeverCrash) {
    const QByteArray values = R"(1e308|-1e308|99999999999999999999|-99999999999999999999|)"
                              R"(9223372036854775807|-9223372036854775808|9223372036854775808|)"
                              R"(-9223372036854775809|9223372036854775807.5|0.5|-0.5|2.5|1e-320|)"
                              R"(-0.0|"inf"|"-inf"|"nan"|"Infinity"|"1e400"|"-1e400"|)"
                              R"("99999999999999999999"|"92233720368547758,08"|"0x1p3"|" ")";
    std::vector<Body> bodies;
    for (const QByteArray& value : values.split('|')) {
        bodies.push_back(
            {"every lenient member " + value.toStdString(), everyMember(value, false), false});
        bodies.push_back({"every member " + value.toStdString(), everyMember(value, true), false});
    }
    expectEveryDecoderCopes(bodies);

    // Where the strict members are left out, the lenient ones take anything.
    for (const char* value : {"1e308", R"("nan")", "-9223372036854775809", R"("1e400")"}) {
        const QByteArray body = everyMember(value, false);
        EXPECT_NO_THROW(wire::decodeJSON<APIUser>(body)) << value;
        EXPECT_NO_THROW(wire::decodeJSON<PaginatedResponse<JobTimeCompactDTO>>(body)) << value;
        EXPECT_NO_THROW(wire::decodeJSON<InvoiceableSummaryDTO>(body)) << value;
        EXPECT_EQ(wire::decodeJSON<InvoiceableSummaryDTO>(body).today.amountEuroCents, 0) << value;
    }
}

TEST(HostileBodies, WideAndLongBodiesCostWorkInProportionToTheirSize) {
    constexpr int n = 2000;
    const std::vector<Body> bodies = wideAndLongBodies(n);
    expectEveryDecoderCopes(bodies);

    // A body four times as wide or long costs about four times the work; a
    // decoder quadratic in the keys or elements costs sixteen. Counted in this
    // thread's CPU time, not on the wall: that only tells how loaded the machine is.
    const std::vector<Body> fourTimes = wideAndLongBodies(4 * n);
    const RecordDecoder readers[] = {
        reader<APIUser>("APIUser"), reader<LoginSuccessDTO>("LoginSuccessDTO"),
        reader<PaginatedResponse<JobDTO>>("PaginatedResponse<JobDTO>"), reader<APIUser>("APIUser")};
    for (size_t i = 0; i < bodies.size(); ++i) {
        const auto [once, four] = cheapestWork(readers[i], bodies[i].bytes, fourTimes[i].bytes);
        EXPECT_LT(four, 8 * once) << readers[i].name << " on " << bodies[i].name;
    }

    const auto login = wire::decodeJSON<LoginSuccessDTO>(bodies[1].bytes);
    ASSERT_TRUE(login.user.workSchedule);
    EXPECT_EQ(login.user.workSchedule->hoursPerDay, (std::map<QString, qint64>{{"Monday", 8}}));
    EXPECT_EQ(wire::decodeJSON<PaginatedResponse<JobDTO>>(bodies[2].bytes).data.size(), size_t(n));
}

TEST(HostileBodies, LenientReadersStayInRangeOnExtremeNumbers) {
    const struct {
        const char* value;
        std::optional<qint64> integer;
        std::optional<bool> flag;
    } cases[] = {{"1e308", {}, {}},
                 {"-1e308", {}, {}},
                 {"9223372036854775807", kMax, true},
                 {"-9223372036854775808", kMin, true},
                 {"9223372036854775808", {}, {}}, // read as the double 2^63
                 {"-9223372036854775809", kMin, true},
                 {"9223372036854774784.5", 9223372036854774784, true},
                 {"99999999999999999999", {}, {}},
                 {"-0.0", 0, false},
                 {"1e-300", 0, {}},
                 {"0.5", 1, {}},
                 {"-0.5", -1, {}},
                 {"-2.5", -3, {}},
                 {"123456789.5", 123456790, {}}};
    for (const auto& c : cases) {
        const auto container =
            wire::Decoder(wire::parseJSON(QByteArray(R"({"v": )") + c.value + "}"), QString())
                .container();
        EXPECT_EQ(container.decodeLenientInt("v"), c.integer) << c.value;
        EXPECT_EQ(container.decodeLenientBool(QString("v")), c.flag) << c.value;
        // The text of a number reads back as the same number.
        const auto text = container.decodeLenientString("v");
        ASSERT_TRUE(text) << c.value;
        EXPECT_EQ(wire::parseDouble(*text), container.decode<double>("v")) << c.value;
    }

    std::mt19937_64 random(20260304);
    for (int i = 0; i < 20000; ++i) {
        double value = 0;
        const quint64 bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value))
            continue;
        const QString text = wire::doubleDescription(value);
        ASSERT_EQ(wire::parseDouble(text), value) << text.toStdString();
        const auto rounded = wire::roundToInt64(value);
        if (std::fabs(value) < 9e18) {
            ASSERT_TRUE(rounded) << text.toStdString();
            ASSERT_LE(std::fabs(static_cast<long double>(*rounded) - value), 0.5L);
        } else if (std::fabs(value) > 1e19) {
            ASSERT_FALSE(rounded) << text.toStdString();
        }
    }
}

TEST(HostileBodies, ExtremeAmountsAndHoursGiveSoundResults) {
    const struct {
        const char* text;
        qint64 cents;
    } amounts[] = {{"1e300", 0},
                   {"-1e17", 0},
                   {"92233720368547758", 0},
                   {"1e16", 1000000000000000000},
                   {"-1e16", -1000000000000000000},
                   {"1e-320", 0},
                   {"-0", 0},
                   {"0.004999", 0},
                   {"0.005", 1}};
    for (const auto& a : amounts) // outside 64 bits, or no whole cent, gives 0
        EXPECT_EQ(euroCentsFromAmountText(QString(a.text)), a.cents) << a.text;

    const auto schedule = wire::decodeJSON<WorkSchedule>(R"({
        "hours_per_day": {"monday": 1e300, "tuesday": "99999999999999999999", "friday": 8},
        "slots": {"wednesday": [9e18, 9e18], "thursday": [1e300], "saturday": [2]}})");
    EXPECT_EQ(schedule.hoursPerDay, (std::map<QString, qint64>{{"Friday", 8}}));
    ASSERT_TRUE(schedule.slots);
    EXPECT_EQ(schedule.slots->count("Thursday"), 0u);
    WorkSchedule empty;
    empty.slots = schedule.slots;
    EXPECT_EQ(empty.normalizedHours().count("Wednesday"), 0u); // the sum does not fit

    const QTimeZone berlin("Europe/Berlin");
    const QDateTime wednesday(QDate(2026, 3, 4), QTime(12, 0), berlin);
    WorkSchedule huge;
    huge.hoursPerDay = {{"Wednesday", kMax}};
    EXPECT_GT(huge.targetHours(wednesday, berlin), 0);
    huge.hoursPerDay = {{"Wednesday", std::numeric_limits<qint64>::min()}};
    EXPECT_EQ(huge.targetHours(wednesday, berlin), 0);

    EXPECT_THROW(wire::decodeJSON<JobTaskDTO>(R"({"id": 1, "rounded_total_seconds": 1e300})"),
                 DecodingError);
}
