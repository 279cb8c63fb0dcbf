#include "store/recent_task_item.h"

#include <gtest/gtest.h>

#include <set>

using namespace orvane;

namespace {

RecentTaskItem plainItem() {
    RecentTaskItem r;
    r.clientId = "12";
    r.jobId = "345";
    r.taskId = "6789";
    r.clientName = "Acme GmbH";
    r.jobTitle = "Relaunch";
    r.taskTitle = "Konzept";
    r.clientInitials = "AG";
    r.clientColorHex = 0x22D3EE;
    r.todayTrackedSecs = 1800;
    r.totalTrackedSecs = 72000;
    return r;
}

RecentTaskItem fullItem() {
    RecentTaskItem r = plainItem();
    r.jobNumber = "J-2025-001";
    r.projectNumber = "P-7";
    r.roundDirection = "up";
    r.roundValue = 15;
    r.clientColorHex = 0xFFFFFFFF;
    return r;
}

RecentTaskItem decode(const QJsonObject& o, bool convertKeys = false) {
    return RecentTaskItem::decode(wire::Decoder(o, QString(), convertKeys));
}

QStringList sortedKeys(const QJsonObject& o) {
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

} // namespace

TEST(RecentTask, IdentityJoinsClientJobAndTask) {
    RecentTaskItem r = plainItem();
    EXPECT_EQ(r.id(), "12/345/6789");
    r.jobId.clear();
    EXPECT_EQ(r.id(), "12//6789");
    r.clientId.clear();
    r.taskId.clear();
    EXPECT_EQ(r.id(), "//");
}

TEST(RecentTask, OptionalFieldsAreLeftOutWhenAbsent) {
    const QJsonObject o = plainItem().encode();
    EXPECT_EQ(sortedKeys(o), (QStringList{"clientColorHex", "clientId", "clientInitials",
                                          "clientName", "jobId", "jobTitle", "taskId", "taskTitle",
                                          "todayTrackedSecs", "totalTrackedSecs"}));
    const RecentTaskItem back = decode(o);
    EXPECT_EQ(back, plainItem());
    EXPECT_EQ(back.jobNumber, std::nullopt);
    EXPECT_EQ(back.projectNumber, std::nullopt);
    EXPECT_EQ(back.roundDirection, std::nullopt);
    EXPECT_EQ(back.roundValue, std::nullopt);
}

TEST(RecentTask, EveryFieldSurvivesTheRoundTrip) {
    const QJsonObject o = fullItem().encode();
    EXPECT_EQ(o.size(), 14);
    EXPECT_EQ(o.value("clientColorHex").toDouble(), 4294967295.0);
    EXPECT_EQ(o.value("roundValue").toInteger(), 15);
    EXPECT_EQ(decode(o), fullItem());
}

TEST(RecentTask, CacheFormWithSnakeCaseKeysDecodesToo) {
    QJsonObject snake;
    const QJsonObject o = fullItem().encode();
    for (auto it = o.begin(); it != o.end(); ++it)
        snake.insert(wire::convertToSnakeCase(it.key()), it.value());
    ASSERT_TRUE(snake.contains("client_color_hex"));
    ASSERT_TRUE(snake.contains("today_tracked_secs"));
    EXPECT_EQ(decode(snake, true), fullItem());
}

TEST(RecentTask, NullOptionalsAndUnknownKeysAreIgnored) {
    QJsonObject o = plainItem().encode();
    o.insert("jobNumber", QJsonValue::Null);
    o.insert("roundValue", QJsonValue::Null);
    o.insert("favourite", true);
    EXPECT_EQ(decode(o), plainItem());
}

TEST(RecentTask, MalformedEntriesDoNotDecode) {
    const struct {
        const char* what;
        const char* key;
        QJsonValue value; // Undefined removes the key
    } cases[] = {
        {"negative colour", "clientColorHex", QJsonValue(-1)},
        {"colour above 32 bits", "clientColorHex", QJsonValue(4294967296.0)},
        {"fractional colour", "clientColorHex", QJsonValue(1.5)},
        {"colour far out of range", "clientColorHex", QJsonValue(1e300)},
        {"colour far below zero", "clientColorHex", QJsonValue(-1e300)},
        {"colour as text", "clientColorHex", QJsonValue("6366F1")},
        {"missing task", "taskId", QJsonValue(QJsonValue::Undefined)},
        {"null task", "taskId", QJsonValue(QJsonValue::Null)},
        {"numeric task", "taskId", QJsonValue(6789)},
        {"missing client name", "clientName", QJsonValue(QJsonValue::Undefined)},
        {"seconds as text", "todayTrackedSecs", QJsonValue("1800")},
        {"fractional seconds", "totalTrackedSecs", QJsonValue(0.5)},
        {"direction as number", "roundDirection", QJsonValue(1)},
        {"step as text", "roundValue", QJsonValue("15")},
    };
    for (const auto& c : cases) {
        QJsonObject o = plainItem().encode();
        if (c.value.isUndefined())
            o.remove(c.key);
        else
            o.insert(c.key, c.value);
        EXPECT_THROW(decode(o), DecodingError) << c.what;
    }
    EXPECT_THROW(RecentTaskItem::decode(wire::Decoder(QJsonValue("12/345/6789"), QString())),
                 DecodingError);
}

TEST(RecentTask, ColourRangeEndsAreAccepted) {
    for (const double colour : {0.0, 4294967295.0}) {
        QJsonObject o = plainItem().encode();
        o.insert("clientColorHex", colour);
        EXPECT_EQ(decode(o).clientColorHex, static_cast<quint32>(colour));
    }
}
