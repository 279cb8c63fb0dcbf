#include "service/json_coding.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

using namespace orvane;
using namespace std::string_literals;
using wire::Decoder;
using wire::KeyedContainer;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

KeyedContainer object(const std::string& json) {
    return Decoder(wire::parseJSON(QByteArray::fromStdString(json)), QString()).container();
}

// The object {"v": value}; a null pointer leaves the key out.
KeyedContainer withValue(const char* value) {
    return object(value ? "{\"v\":" + std::string(value) + "}" : "{}");
}
KeyedContainer withValue(const std::optional<std::string>& value) {
    return object(value ? "{\"v\":" + *value + "}" : "{}");
}

std::optional<std::string> str(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    return text->toStdString();
}

struct TextCase {
    std::optional<std::string> value; // may hold NUL bytes

    std::optional<std::string> expected;
};

struct IntCase {
    const char* value;
    std::optional<qint64> expected;
};

struct BoolCase {
    const char* value;
    std::optional<bool> expected;
};

} // namespace

TEST(LenientDecoding, WireKeysBecomeCamelCase) {
    const struct {
        const char* wire;
        const char* member;
    } cases[] = {{"first_name", "firstName"},
                 {"account_requirements", "accountRequirements"},
                 {"user_ID", "userId"},
                 {"ACCOUNT_REQUIREMENTS", "accountRequirements"},
                 {"hours_per_day", "hoursPerDay"},
                 {"jobtask_id", "jobtaskId"},
                 {"a__b", "aB"},
                 {"_private_key", "_privateKey"},
                 {"__rate__", "__rate__"},
                 {"total_", "total_"},
                 {"__snake_case__", "__snakeCase__"},
                 {"___", "___"},
                 {"firstName", "firstName"},
                 {"FIRSTNAME", "FIRSTNAME"},
                 {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(wire::convertFromSnakeCase(c.wire).toStdString(), c.member) << c.wire;
}

TEST(LenientDecoding, MemberNamesBecomeSnakeCase) {
    const struct {
        const char* member;
        const char* wire;
    } cases[] = {{"deviceName", "device_name"},   {"recoveryCode", "recovery_code"},
                 {"jobtaskId", "jobtask_id"},     {"startedAt", "started_at"},
                 {"roundValue", "round_value"},   {"email", "email"},
                 {"myURLString", "my_url_string"}};
    for (const auto& c : cases)
        EXPECT_EQ(wire::convertToSnakeCase(c.member).toStdString(), c.wire) << c.member;
}

TEST(LenientDecoding, KeysMatchInSnakeOrCamelFormButLowerCaseAlternatesStayApart) {
    EXPECT_TRUE(object(R"({"first_name": 1})").contains("firstName"));
    EXPECT_TRUE(object(R"({"firstName": 1})").contains("firstName"));
    EXPECT_TRUE(object(R"({"user_ID": 1})").contains("userId"));
    EXPECT_FALSE(object(R"({"first_name": 1})").contains("first_name"));
    EXPECT_FALSE(object(R"({"firstname": 1})").contains("firstName"));
    EXPECT_TRUE(object(R"({"firstname": 1})").contains("firstname"));
}

TEST(LenientDecoding, KeyTableGivesTheConversionEveryTime) {
    // Asked twice: the second answer comes from the table. Past the table's
    // bound keys are still converted, only not kept.
    const QStringList wires{QStringLiteral("first_name"),   QStringLiteral("user_ID"),
                            QStringLiteral("_private_key"), QStringLiteral("___"),
                            QStringLiteral("firstName"),    QStringLiteral("a__b")};
    for (int round = 0; round < 2; ++round)
        for (const QString& wire : wires)
            EXPECT_EQ(wire::memberKey(wire), wire::convertFromSnakeCase(wire))
                << wire.toStdString();
    for (int i = 0; i < 3000; ++i) {
        const QString wire = QStringLiteral("key_%1_of_many").arg(i);
        ASSERT_EQ(wire::memberKey(wire), QStringLiteral("key%1OfMany").arg(i));
    }
}

TEST(LenientDecoding, KeysThatMeetAfterConversionGiveTheFirstInSmallAndLargeObjects) {
    // Below and above the size where lookups switch from a scan to an index.
    for (const int fillers : {0, 5, 60}) {
        std::string json = R"({"user_id": 2, "user_ID": 1, "userId": 3, "user__id": 4)";
        for (int i = 0; i < fillers; ++i)
            json += ",\"filler_" + std::to_string(i) + "\":" + std::to_string(i);
        json += "}";
        const KeyedContainer c = object(json);
        // Wire order is the sorted key order: "userId" < "user_ID" < "user__id" < "user_id".
        EXPECT_EQ(c.decodeLenientInt(QStringLiteral("userId")), 3) << fillers;
        const QStringList keys = c.allKeys();
        EXPECT_EQ(keys.count(QStringLiteral("userId")), 1) << fillers;
        EXPECT_EQ(keys.size(), fillers + 1) << fillers;
        if (fillers > 0) {
            const QString last = QStringLiteral("filler%1").arg(fillers - 1);
            EXPECT_EQ(c.decodeLenientInt(last), fillers - 1);
            EXPECT_FALSE(c.contains(QStringLiteral("filler_0")));
        }
        EXPECT_FALSE(c.contains(QStringLiteral("user_id")));
    }
}

TEST(LenientDecoding, ObjectsOfLikeShapesKeepTheirOwnKeys) {
    // Objects of one size but other keys, keys out of ASCII, and a key that
    // meets another only after conversion: each object answers for itself,
    // however the ones before it were shaped.
    const struct {
        const char* json;
        const char* key;
        std::optional<qint64> expected;
    } cases[] = {
        {R"({"a_b": 1, "c": 2})", "aB", 1},
        {R"({"a_b": 3, "d": 4})", "aB", 3},
        {R"({"a_b": 3, "d": 4})", "c", std::nullopt},
        {R"({"aB": 5, "c": 6})", "aB", 5},
        {R"({"a_B": 7, "c": 8})", "aB", 7},
        {R"({"über_maß": 9, "c": 10})", "überMaß", 9},
        {R"({"über_maß": 9, "c": 10})", "aB", std::nullopt},
        {R"({"uber_mass": 11, "c": 12})", "überMaß", std::nullopt},
        {R"({"a_b": 13, "c": 14})", "c", 14},
        {R"({"A_B": 15, "a_b": 16})", "aB", 15},
    };
    for (int round = 0; round < 2; ++round)
        for (const auto& c : cases)
            EXPECT_EQ(object(c.json).decodeLenientInt(QString::fromUtf8(c.key)), c.expected)
                << c.json << " " << c.key;
}

TEST(LenientDecoding, ErrorsDeepInALongListNameTheirPlace) {
    std::string json = R"({"data":[)";
    for (int i = 0; i < 40; ++i)
        json += R"({"id":)" + std::to_string(i) + R"(,"job":{"id":1,"archived":false}},)";
    json += R"({"id":40,"job":{"id":1,"archived":"nein"}}]})";
    const Decoder root(wire::parseJSON(QByteArray::fromStdString(json)), QString());
    try {
        const KeyedContainer c = root.container();
        const Decoder list = c.decoder(QStringLiteral("data"));
        const QJsonArray array = list.value().toArray();
        const Decoder last(array.last(),
                           wire::CodingPath(list.codingPath()).child(array.size() - 1), true);
        (void)last.container()
            .decoder(QStringLiteral("job"))
            .container()
            .decode<bool>(QStringLiteral("archived"));
        FAIL() << "a text is no flag";
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.codingPath(), "data[40].job.archived");
    }
}

namespace {
// A record that reaches two levels further into each element.
struct Deep {
    static Deep decode(const Decoder& decoder) {
        (void)decoder.container()
            .decoder(QStringLiteral("e"))
            .container()
            .decode<std::vector<bool>>(QStringLiteral("f"));
        return {};
    }
};
} // namespace

TEST(LenientDecoding, DeepPathsAreSpelledOutWhole) {
    const Decoder root(wire::parseJSON(QByteArray(R"({"a":{"b_c":{"d":[{"e":{"f":[true,0]}}]}}})")),
                       QString());
    try {
        (void)root.container()
            .decoder(QStringLiteral("a"))
            .container()
            .decoder(QStringLiteral("bC"))
            .container()
            .decode<std::vector<Deep>>(QStringLiteral("d"));
        FAIL() << "a number is no flag";
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.codingPath(), "a.bC.d[0].e.f[1]");
    }
}

TEST(LenientDecoding, NumbersReadAsTheirShortestText) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{80, "80.0"},
                 {12.5, "12.5"},
                 {1e16, "1e+16"},
                 {0.00001, "1e-05"},
                 {0.0001, "0.0001"},
                 {-2, "-2.0"},
                 {0.1 + 0.2, "0.30000000000000004"},
                 {1234567890123456.0, "1234567890123456.0"},
                 {123456.789, "123456.789"},
                 {1e300, "1e+300"},
                 {-1.5e-7, "-1.5e-07"},
                 {5e-324, "5e-324"},
                 {0, "0.0"}};
    for (const auto& c : cases)
        EXPECT_EQ(wire::doubleDescription(c.value).toStdString(), c.text) << c.text;
}

TEST(LenientDecoding, DecimalTextIgnoresTheProcessLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // may be missing; then nothing changes
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {{"12.5", 12.5}, {"-0.125", -0.125}, {"+3", 3.0},      {"1e3", 1000.0},
                 {".5", 0.5},    {"12,5", {}},       {"1.234.56", {}}, {"inf", {}},
                 {"nan", {}},    {"1e400", {}},      {"0x10", {}},     {" 1", {}},
                 {"", {}},       {"1e", {}},         {"+-1", {}},      {"٣", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(wire::parseDouble(QString::fromUtf8(c.text)), c.value) << c.text;
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(before);
}

TEST(LenientDecoding, IntegerTextIsPlainBaseTen) {
    const struct {
        const char* text;
        std::optional<qint64> value;
    } cases[] = {{"15", 15},
                 {"+15", 15},
                 {"-15", -15},
                 {"9223372036854775807", kMax},
                 {"-9223372036854775808", kMin},
                 {"9223372036854775808", {}},
                 {"1.5", {}},
                 {"1 5", {}},
                 {"++1", {}},
                 {"+-1", {}},
                 {"1,000", {}},
                 {"15 min", {}},
                 {"", {}},
                 {"٣", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(wire::parseInteger(QString::fromUtf8(c.text)), c.value) << c.text;
}

TEST(LenientDecoding, IdentifiersBecomeTrimmedText) {
    const TextCase cases[] = {{"42", "42"},        {R"(" 42 ")", "42"},
                              {"-7", "-7"},        {"42.0", "42"},
                              {R"("a-1")", "a-1"}, {"9223372036854775807", "9223372036854775807"}};
    for (const auto& c : cases)
        EXPECT_EQ(withValue(c.value).decodeID("v").toStdString(), c.expected) << *c.value;
}

TEST(LenientDecoding, UnusableIdentifiersFailWithExpectedId) {
    const char* const cases[] = {R"("")", R"("  \n ")", "true", "null", "4.5",
                                 "1e20",  "{}",         "[]",   nullptr};
    for (const char* value : cases) {
        try {
            withValue(value).decodeID("v");
            ADD_FAILURE() << (value ? value : "missing") << " was accepted";
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), DecodingError::Kind::DataCorrupted);
            EXPECT_EQ(e.codingPath(), "v");
            EXPECT_EQ(e.debugDescription(), "Expected id");
        }
    }
}

TEST(LenientDecoding, LenientTextTrimsAndRendersNumbers) {
    const TextCase cases[] = {
        {"80", "80.0"},
        {R"("80")", "80"},
        {R"(" a b ")", "a b"},
        {R"("  \t")", {}}, // blank text gets no numeric fallback
        {"12.5", "12.5"},
        {"-0.5", "-0.5"},
        {"1e16", "1e+16"},
        {"99999999999999999999", "1e+20"},
        {"true", {}},
        {"{}", {}},
        {"[1]", {}},
        {"null", {}},
        {"\"a\tb\x01\"", "a\tb\x01"}, // raw control characters, as Qt reads them
        {"\"a\0b\""s, "a\0b"s},       // and NUL, raw or after a backslash
        {"\"a\\\0\\\tb\""s, "a\0\tb"s},
        {"\"\\\x80\xc3\xa4\\\xff\"", "\u0080\u00e4\u00ff"}, // an escaped byte past ASCII alone
        {"\"\\n\xef\xbb\xbf|\"", "\ufeff|"},                // a mark after an escape stays
        {std::nullopt, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(str(withValue(c.value).decodeLenientString("v")), c.expected)
            << c.value.value_or("missing");
}

TEST(LenientDecoding, LenientIntegersRoundNumbersAndParseText) {
    const IntCase cases[] = {{"15", 15},
                             {"15.0", 15},
                             {R"("15")", 15},
                             {R"("  +15 ")", 15},
                             {R"("-3")", -3},
                             {"14.5", 15},
                             {"-14.5", -15},
                             {"2.4", 2},
                             {"9223372036854775807", kMax},
                             {"-9223372036854775808", kMin},
                             {R"("15 min")", {}},
                             {R"("1.5")", {}},
                             {R"("")", {}},
                             {R"("99999999999999999999")", {}},
                             {"1e300", {}},
                             {"-1e300", {}},
                             {"true", {}},
                             {"[15]", {}},
                             {"null", {}},
                             {nullptr, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(withValue(c.value).decodeLenientInt("v"), c.expected)
            << (c.value ? c.value : "missing");
}

TEST(LenientDecoding, LenientFlagsAcceptNumbersAndWords) {
    const BoolCase cases[] = {
        {"true", true},     {"1", true},           {"7", true},          {"-1", true},
        {"1.0", true},      {R"(" TRUE ")", true}, {R"(" yes ")", true}, {R"("1")", true},
        {"false", false},   {"0", false},          {R"("No")", false},   {R"("0")", false},
        {R"("maybe")", {}}, {"1.5", {}},           {"{}", {}},           {"[true]", {}},
        {"null", {}},       {nullptr, {}},         {R"("")", {}}};
    for (const auto& c : cases) {
        const KeyedContainer container = withValue(c.value);
        EXPECT_EQ(container.decodeLenientBool(QString("v")), c.expected)
            << (c.value ? c.value : "missing");
        EXPECT_EQ(container.decodeLenientBool(QStringList{"v"}), c.expected)
            << (c.value ? c.value : "missing");
    }
}

TEST(LenientDecoding, FlagKeyListTakesTheFirstKeyThatSettles) {
    const struct {
        const char* json;
        std::optional<bool> expected;
    } cases[] = {{R"({"a": "maybe", "b": "yes"})", true},
                 {R"({"a": null, "b": 0})", false},
                 {R"({"a": false, "b": true})", false},
                 {R"({"b": {}, "a": "maybe"})", {}},
                 {R"({})", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(object(c.json).decodeLenientBool(QStringList{"a", "b"}), c.expected) << c.json;
}

TEST(LenientDecoding, FirstNonEmptyTextSkipsBlanksAndNumbers) {
    const TextCase cases[] = {{R"({"firstName": "  ", "firstname": "abc"})", "abc"},
                              {R"({"firstName": 5})", {}},
                              {R"({"firstName": 5, "firstname": " x "})", "x"},
                              {R"({"first_name": " Ann ", "firstname": "Bea"})", "Ann"},
                              {R"({"firstName": null, "firstname": true})", {}},
                              {R"({})", {}},
                              {"{\"first\0name\": \"x\", \"firstName\": \"A\0\"}"s, "A\0"s}};
    for (const auto& c : cases)
        EXPECT_EQ(str(object(*c.value).decodeFirstNonEmptyString({"firstName", "firstname"})),
                  c.expected)
            << *c.value;
}

TEST(LenientDecoding, StrictReadersAcceptOnlyTheirOwnType) {
    const struct {
        const char* value;
        bool text, flag, integer, number;
    } cases[] = {// JSON value, then whether it reads as String, Bool, Int, Double
                 {R"("x")", true, false, false, false}, {R"("1")", true, false, false, false},
                 {"5", false, false, true, true},       {"15.0", false, false, true, true},
                 {"1.5", false, false, false, true},    {"1e20", false, false, false, true},
                 {"0", false, false, true, true},       {"true", false, true, false, false},
                 {"[]", false, false, false, false},    {"{}", false, false, false, false}};
    const auto accepts = [](auto read) {
        try {
            read();
            return true;
        } catch (const DecodingError&) {
            return false;
        }
    };
    for (const auto& c : cases) {
        const KeyedContainer container = withValue(c.value);
        EXPECT_EQ(accepts([&] { container.decode<QString>("v"); }), c.text) << c.value;
        EXPECT_EQ(accepts([&] { container.decode<bool>("v"); }), c.flag) << c.value;
        EXPECT_EQ(accepts([&] { container.decode<qint64>("v"); }), c.integer) << c.value;
        EXPECT_EQ(accepts([&] { container.decode<double>("v"); }), c.number) << c.value;
    }
    EXPECT_EQ(withValue("15.0").decode<qint64>("v"), 15);
    EXPECT_EQ(withValue("-9223372036854775808").decode<qint64>("v"), kMin);
}

TEST(LenientDecoding, StrictReadersTellMissingFromNullFromWrongType) {
    const struct {
        const char* value;
        DecodingError::Kind kind;
    } cases[] = {{nullptr, DecodingError::Kind::KeyNotFound},
                 {"null", DecodingError::Kind::ValueNotFound},
                 {"1", DecodingError::Kind::TypeMismatch}};
    for (const auto& c : cases) {
        try {
            withValue(c.value).decode<bool>("v");
            ADD_FAILURE() << "accepted";
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), c.kind);
            EXPECT_EQ(e.codingPath(), "v");
        }
    }
    EXPECT_EQ(withValue("null").decodeIfPresent<bool>("v"), std::nullopt);
    EXPECT_EQ(withValue(nullptr).decodeIfPresent<bool>("v"), std::nullopt);
    EXPECT_EQ(withValue("false").decodeIfPresent<bool>("v"), false);
    EXPECT_THROW(withValue("0").decodeIfPresent<bool>("v"), DecodingError);
}
