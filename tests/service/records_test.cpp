#include "service/catalog_records.h"
#include "service/envelopes.h"
#include "service/job_time_records.h"
#include "service/login_records.h"
#include "service/user_records.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

// Readable QString values in failure messages.
static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

using namespace orvane;
using Kind = DecodingError::Kind;
using namespace std::string_literals;

namespace {

template <class T> T decode(const std::string& json) {
    return wire::decodeJSON<T>(QByteArray::fromStdString(json));
}

// The error that decoding `json` as T throws; nothing when it decodes.
template <class T> std::optional<DecodingError> failure(const std::string& json) {
    try {
        decode<T>(json);
        return std::nullopt;
    } catch (const DecodingError& e) {
        return e;
    }
}

std::optional<std::string> str(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    return text->toStdString();
}

std::vector<std::string> ids(const auto& records) {
    std::vector<std::string> out;
    for (const auto& r : records)
        out.push_back(r.id.toStdString());
    return out;
}

std::string user(const std::string& members) {
    return R"({"id": 1, "email": "a@b.de")" + (members.empty() ? "" : ", " + members) + "}";
}

using Hours = std::map<QString, qint64>;
using Slots = std::map<QString, std::vector<qint64>>;

} // namespace

// ---- User, account requirements, work schedule ----

TEST(UserRecords, DecodesEveryMemberFromSnakeCaseKeys) {
    const auto u = decode<APIUser>(R"({
        "id": 17, "email": " ann@example.com ", "first_name": " Ann ", "last_name": "Lee",
        "name": " Ann Lee ", "profile_photo_url": "/storage/a.png", "default_hourly_rate": 80,
        "account_requirements": {"ready": true}, "work_schedule": {"hours_per_day": {"Monday": 8}}
    })");
    EXPECT_EQ(u.id, "17");
    EXPECT_EQ(u.email, "ann@example.com");
    EXPECT_EQ(str(u.firstName), "Ann");
    EXPECT_EQ(str(u.lastName), "Lee");
    EXPECT_EQ(str(u.name), " Ann Lee "); // as sent
    EXPECT_EQ(str(u.profilePhotoUrl), "/storage/a.png");
    EXPECT_EQ(str(u.defaultHourlyRate), "80.0");
    ASSERT_TRUE(u.accountRequirements);
    EXPECT_EQ(u.accountRequirements->ready, true);
    ASSERT_TRUE(u.workSchedule);
    EXPECT_EQ(u.workSchedule->hoursPerDay, (Hours{{"Monday", 8}}));

    const auto alt = decode<APIUser>(user(R"("firstName": " ", "firstname": "Bea",
        "lastname": "Kim", "profilePhotoUrl": "", "avatar": "https://x.example/b.png",
        "default_hourly_rate": "  ")"));
    EXPECT_EQ(str(alt.firstName), "Bea");
    EXPECT_EQ(str(alt.lastName), "Kim");
    EXPECT_EQ(str(alt.profilePhotoUrl), "https://x.example/b.png");
    EXPECT_EQ(alt.defaultHourlyRate, std::nullopt);
    EXPECT_EQ(alt.name, std::nullopt);
    EXPECT_EQ(alt.accountRequirements, std::nullopt);
}

TEST(UserRecords, UnusableIdentityOrWrongTypesFailTheUser) {
    const struct {
        const char* json;
        Kind kind;
        const char* path;
        const char* description; // checked when set
    } cases[] = {
        {R"({"id": "  ", "email": "a@b.de"})", Kind::DataCorrupted, "id",
         "Expected String or Int user id"},
        {R"({"email": "a@b.de"})", Kind::DataCorrupted, "id", "Expected String or Int user id"},
        {R"({"id": 1.5, "email": "a@b.de"})", Kind::DataCorrupted, "id",
         "Expected String or Int user id"},
        {R"({"id": 1, "email": " "})", Kind::DataCorrupted, "email", "Expected email"},
        {R"({"id": 1, "email": true})", Kind::DataCorrupted, "email", "Expected email"},
        {R"({"id": 1, "email": "a", "name": 5})", Kind::TypeMismatch, "name", nullptr},
        {R"({"id": 1, "email": "a", "account_requirements": "x"})", Kind::TypeMismatch,
         "accountRequirements", nullptr},
        {R"({"id": 1, "email": "a", "work_schedule": []})", Kind::TypeMismatch, "workSchedule",
         nullptr}};
    for (const auto& c : cases) {
        const auto e = failure<APIUser>(c.json);
        ASSERT_TRUE(e) << c.json;
        EXPECT_EQ(e->kind(), c.kind) << c.json;
        EXPECT_EQ(e->codingPath(), c.path) << c.json;
        if (c.description) {
            EXPECT_EQ(e->debugDescription(), c.description) << c.json;
        }
    }
    EXPECT_EQ(decode<APIUser>(R"({"id": " u-1 ", "email": 5})").email, "5");
}

TEST(UserRecords, InitialsPreferFirstAndLastNameThenNameThenEmail) {
    const struct {
        std::optional<QString> first, last, name;
        QString email;
        const char* initials;
    } cases[] = {{"abc", "def", {}, "x@y.de", "AD"},
                 {"abc", {}, {}, "x@y.de", "AB"},
                 {" a ", "  ", {}, "x@y.de", "A"},
                 {{}, "def", "ghi jkl mno", "x@y.de", "GJ"},
                 {{}, {}, "pqr", "x@y.de", "PQ"},
                 {"  ", {}, "  anna   maria ", "x@y.de", "AM"},
                 {{}, {}, " x ", "x@y.de", "X"},
                 {{}, "def", {}, "s.tuv@example.com", "ST"},
                 {{}, {}, {}, "._-@example.com", "?"},
                 {{}, {}, {}, "", "?"},
                 {{}, {}, {}, "k@example.com", "K"},
                 {QString::fromUtf8("e\u0301mile"), QString::fromUtf8("zoë"), {}, "", "E\u0301Z"},
                 {QString::fromUtf8("\U0001F600x"), {}, {}, "", "\U0001F600X"}};
    for (const auto& c : cases) {
        APIUser u;
        u.firstName = c.first;
        u.lastName = c.last;
        u.name = c.name;
        u.email = c.email;
        EXPECT_EQ(u.initials().toStdString(), c.initials) << c.email.toStdString();
    }
}

TEST(UserRecords, PhotoPathsResolveAgainstTheServiceAddress) {
    const struct {
        const char* photo;
        std::optional<std::string> url;
    } cases[] = {{"avatars/7.png", "https://app.example.com/avatars/7.png"},
                 {"/storage/7.png", "https://app.example.com/storage/7.png"},
                 {"//cdn.example.com/7.png", "https://cdn.example.com/7.png"},
                 {"https://cdn.example.com/7.png", "https://cdn.example.com/7.png"},
                 {"http://cdn.example.com/7.png", "http://cdn.example.com/7.png"},
                 {"  ", std::nullopt},
                 {nullptr, std::nullopt}};
    for (const QString base : {"https://app.example.com", "https://app.example.com/"}) {
        for (const auto& c : cases) {
            APIUser u;
            if (c.photo)
                u.profilePhotoUrl = QString(c.photo);
            const auto url = u.profilePhotoURL(base);
            EXPECT_EQ(url ? std::optional(url->toString().toStdString()) : std::nullopt, c.url)
                << (c.photo ? c.photo : "absent") << " on " << base.toStdString();
        }
    }
}

TEST(AccountRequirements, ReadinessFollowsTheServiceVerdictThenTheFlags) {
    const struct {
        const char* json;
        bool ready;
    } cases[] = {{R"({"ready": false, "profile_complete": true, "dpa_signed": true})", false},
                 {R"({"ready": true, "dpa_outdated": true})", true},
                 {R"({"ready": "no", "dpa_signed": true})", false},
                 {R"({})", true},
                 {R"({"missing_profile_fields": []})", true},
                 {R"({"missing_profile_fields": {"phone": "Telefon"}})", false},
                 {R"({"missing_profile_fields": ["phone"]})", true},
                 {R"({"missing_profile_fields": {"phone": 1}})", true},
                 {R"({"missing_profile_fields": ["phone", 2]})", true},
                 {R"({"dpa_outdated": 1, "dpa_signed": true})", false},
                 {R"({"dpa_signed": "yes", "profile_complete": 1})", true},
                 {R"({"dpaSigned": false})", false},
                 {R"({"profile_complete": " No "})", false},
                 {R"({"profile_complete": "maybe", "dpa_outdated": "maybe"})", true}};
    for (const auto& c : cases) {
        const auto r = decode<AccountRequirements>(c.json);
        EXPECT_EQ(r.isReady(), c.ready) << c.json;
        EXPECT_EQ(r.needsAction(), !c.ready) << c.json;
    }
}

// Only an object names missing fields; a list is how the service sends an
// empty collection, whatever it holds.
TEST(AccountRequirements, MissingFieldsComeAsAMapAndAListOfTextsReadsAsNone) {
    using Fields = std::map<QString, QString>;
    const struct {
        const char* value;
        std::optional<Fields> fields;
    } cases[] = {{R"({"phone": "Telefon", "first_name": "Vorname"})",
                  Fields{{"phone", "Telefon"}, {"first_name", "Vorname"}}},
                 {R"({})", Fields{}},
                 {R"(["phone", "street"])", Fields{}},
                 {R"([])", Fields{}},
                 {R"({"phone": null})", std::nullopt},
                 {R"([["phone"]])", std::nullopt},
                 {R"("phone")", std::nullopt},
                 {R"(null)", std::nullopt}};
    for (const auto& c : cases) {
        const auto r = decode<AccountRequirements>(std::string(R"({"missing_profile_fields": )") +
                                                   c.value + "}");
        EXPECT_EQ(r.missingProfileFields, c.fields) << c.value;
    }
}

TEST(WorkSchedule, ReadsNestedHoursSlotsAndTopLevelWeekdays) {
    const struct {
        const char* json;
        Hours hours;
        std::optional<Slots> slots;
    } cases[] = {
        {R"({"hours_per_day": {"monday": 8, " FRIDAY ": "6", "sunday": true, "someday": 4}})",
         {{"Monday", 8}, {"Friday", 6}, {"Sunday", 1}},
         std::nullopt},
        {R"({"monday": [4, 4], "Tuesday": [8], "slots": {}})",
         {{"Monday", 8}, {"Tuesday", 8}},
         Slots{{"Monday", {4, 4}}, {"Tuesday", {8}}}},
        {R"({"hoursPerDay": {}, "monday": [8]})", {{"Monday", 8}}, Slots{{"Monday", {8}}}},
        {R"({"hours_per_day": {"Monday": 6}, "tuesday": [2, 2], "slots": {"friday": [1]}})",
         {{"Monday", 6}},
         Slots{{"Friday", {1}}}},
        // Hours that name no weekday still count as given: the lists stay slots only.
        {R"({"hours_per_day": {"foo": "5"}, "monday": [3]})", {}, Slots{{"Monday", {3}}}},
        {R"({"slots": {"wednesday": [3.5, 0.5], "someday": [1], "friday": "8"}})",
         {},
         Slots{{"Wednesday", {4, 1}}}},
        {R"({"hours_per_day": {"monday": 7.5, "tuesday": -2.5, "friday": " x "}})",
         {{"Monday", 8}, {"Tuesday", -3}},
         std::nullopt},
        {R"({"hours_per_day": "8", "monday": ["8"], "tuesday": 5})", {}, std::nullopt},
        {R"({})", {}, std::nullopt}};
    for (const auto& c : cases) {
        const auto s = decode<WorkSchedule>(c.json);
        EXPECT_EQ(s.hoursPerDay, c.hours) << c.json;
        EXPECT_EQ(s.slots, c.slots) << c.json;
    }
    EXPECT_EQ(decode<WorkSchedule>(R"({"slots": {" wednesday ": [3.5, 0.5]}})").normalizedHours(),
              (Hours{{"Wednesday", 5}}));
}

TEST(WorkSchedule, TargetOfTheWeekdayInTheGivenZone) {
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    // Wednesday 4 March 2026, noon in Berlin.
    const QDateTime wednesday(QDate(2026, 3, 4), QTime(12, 0), berlin);
    const struct {
        Hours hours;
        std::optional<Slots> slots;
        qint64 seconds;
    } cases[] = {{{{"Wednesday", 7}}, std::nullopt, 25200},
                 {{}, Slots{{"Wednesday", {3, 4}}}, 25200},
                 {{{"Wednesday", -2}}, std::nullopt, 0},
                 {{{"Tuesday", 8}}, std::nullopt, 0},
                 {{}, std::nullopt, 0}};
    for (const auto& c : cases) {
        WorkSchedule s;
        s.hoursPerDay = c.hours;
        s.slots = c.slots;
        EXPECT_EQ(s.targetHours(wednesday, berlin), c.seconds);
    }
    // 23:30 UTC on Tuesday is already Wednesday in Berlin.
    WorkSchedule s;
    s.hoursPerDay = {{"Tuesday", 8}, {"Wednesday", 7}};
    const QDateTime lateTuesday(QDate(2026, 3, 3), QTime(23, 30), Qt::UTC);
    EXPECT_EQ(s.targetHours(lateTuesday, berlin), 25200);
    EXPECT_EQ(s.targetHours(lateTuesday, QTimeZone(QByteArrayLiteral("UTC"))), 28800);
}

// ---- Clients, projects, jobs, job tasks ----

TEST(ClientRecords, DecodesLenientMembers) {
    const auto c = decode<ClientDTO>(R"({"id": 12, "company_name": "  ACME GmbH ",
        "hourly_rate": 80, "daily_rate_currency": "EUR", "time_round_value": " 15 ",
        "time_round_direction": "up", "client_number": 1001})");
    EXPECT_EQ(c.id, "12");
    EXPECT_EQ(std::tuple(str(c.companyName), str(c.hourlyRate), str(c.dailyRateCurrency),
                         str(c.timeRoundDirection), str(c.clientNumber)),
              std::tuple("ACME GmbH", "80.0", "EUR", "up", "1001.0"));
    EXPECT_EQ(c.timeRoundValue, 15);
    EXPECT_EQ(std::tuple(c.firstName, c.lastName, c.customerName, c.hourlyRateCurrency),
              std::tuple(std::nullopt, std::nullopt, std::nullopt, std::nullopt));
    EXPECT_EQ(str(decode<ClientDTO>(R"({"id": "c", "hourly_rate": "85,50"})").hourlyRate), "85,50");
}

TEST(ClientRecords, LowerCaseAlternatesOnlyFillInForMissingText) {
    const struct {
        const char* members;
        std::optional<std::string> company, first, last, customer;
    } cases[] = {
        {R"("company_name": "  ", "companyname": "Beta")", "Beta", {}, {}, {}},
        {R"("company_name": "Alpha", "companyname": "Beta")", "Alpha", {}, {}, {}},
        {R"("companyName": true, "companyname": " Beta ")", "Beta", {}, {}, {}},
        {R"("companyname": 42)", "42.0", {}, {}, {}},
        {R"("first_name": null, "firstname": "Ann", "lastname": "Lee")", {}, "Ann", "Lee", {}},
        {R"("customerName": "Kunde A", "customername": "B")", {}, {}, {}, "Kunde A"},
        {R"("customer_name": "", "customername": "B")", {}, {}, {}, "B"}};
    for (const auto& c : cases) {
        const auto r = decode<ClientDTO>(std::string(R"({"id": 1, )") + c.members + "}");
        EXPECT_EQ(str(r.companyName), c.company) << c.members;
        EXPECT_EQ(str(r.firstName), c.first) << c.members;
        EXPECT_EQ(str(r.lastName), c.last) << c.members;
        EXPECT_EQ(str(r.customerName), c.customer) << c.members;
    }
}

TEST(JobRecords, ArchivedAndNestedRecordsAreStrict) {
    const struct {
        const char* members;
        bool fails;
        std::optional<bool> archived;
    } cases[] = {{R"("archived": false)", false, false},
                 {R"("archived": true)", false, true},
                 {R"("archived": null)", false, std::nullopt},
                 {R"("archived": 0)", true, std::nullopt},
                 {R"("archived": "false")", true, std::nullopt},
                 {R"("project": {"id": 3, "completed": 1})", true, std::nullopt},
                 {R"("client": {"company_name": "x"})", true, std::nullopt},
                 {R"("client": [])", true, std::nullopt}};
    for (const auto& c : cases) {
        const std::string job = std::string(R"({"id": 5, "title": "Web", )") + c.members + "}";
        const std::string page = R"({"data": [{"id": 4}, )" + job + "]}";
        EXPECT_EQ(failure<PaginatedResponse<JobDTO>>(page).has_value(), c.fails) << c.members;
        if (!c.fails) {
            EXPECT_EQ(decode<JobDTO>(job).archived, c.archived) << c.members;
        }
    }
    const auto e = failure<PaginatedResponse<JobDTO>>(R"({"data": [{"id": 4}, {"id": 5,
        "project": {"id": 3, "completed": 1}}]})");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->kind(), Kind::TypeMismatch);
    EXPECT_EQ(e->codingPath(), "data[1].project.completed");
}

TEST(JobRecords, DecodesClientAndProjectAndComparesEveryMember) {
    const auto job = decode<JobDTO>(R"({"id": " 5 ", "job_number": 2024, "client_id": 12,
        "client": {"id": 12, "companyname": "ACME"},
        "project": {"id": 3, "project_number": "P-1", "completed": false}})");
    EXPECT_EQ(job.id, "5");
    EXPECT_EQ(str(job.jobNumber), "2024.0");
    // A reference to another record keeps the form of an identifier.
    EXPECT_EQ(str(job.clientId), "12");
    ASSERT_TRUE(job.client && job.project);
    EXPECT_EQ(str(job.client->companyName), "ACME");
    EXPECT_EQ(str(job.project->projectNumber), "P-1");
    EXPECT_EQ(job.project->completed, false);
    JobDTO renamed = job, otherClient = job;
    renamed.title = "Other";
    otherClient.client->companyName = "Other";
    EXPECT_NE(renamed, job);
    EXPECT_NE(otherClient, job);
}

TEST(JobTaskRecords, RoundedSecondsRoundFractionsAndRefuseText) {
    const struct {
        const char* value;
        bool fails;
        std::optional<qint64> seconds;
    } cases[] = {{"5400", false, 5400},   {"5400.5", false, 5401}, {"1800.5", false, 1801},
                 {"-0.5", false, -1},     {"null", false, {}},     {nullptr, false, {}},
                 {R"("5400")", true, {}}, {"true", true, {}},      {"{}", true, {}}};
    for (const auto& c : cases) {
        const std::string json = c.value ? std::string(R"({"id": 1, "rounded_total_seconds": )") +
                                               c.value + R"(, "rounded_today_seconds": 60})"
                                         : std::string(R"({"id": 1})");
        const auto e = failure<JobTaskDTO>(json);
        EXPECT_EQ(e.has_value(), c.fails) << json;
        if (!c.fails) {
            EXPECT_EQ(decode<JobTaskDTO>(json).roundedTotalSeconds, c.seconds) << json;
        }
    }
}

TEST(JobTaskRecords, DecodesJobAndJobTimesAndFailsOnOneBadJobTime) {
    const auto reply = decode<SingleDataResponse<std::vector<JobTaskDTO>>>(R"({"data": [
        {"id": 7, "job_id": 5, "title": " Design ", "rate": 95, "scheduled_time": "10:00",
         "job": {"id": 5}, "job_times": [{"id": 981, "billable": true}]}, {"id": "8"}]})");
    ASSERT_EQ(ids(reply.data), (std::vector<std::string>{"7", "8"}));
    const JobTaskDTO& task = reply.data[0];
    EXPECT_EQ(std::tuple(str(task.jobId), str(task.title), str(task.rate), str(task.scheduledTime)),
              std::tuple("5", "Design", "95.0", "10:00"));
    ASSERT_TRUE(task.job && task.jobTimes);
    EXPECT_EQ(ids(*task.jobTimes), std::vector<std::string>{"981"});
    EXPECT_EQ(reply.data[1].jobTimes, std::nullopt);

    EXPECT_EQ(decode<SingleDataResponse<JobTaskDTO>>(R"({"data": {"id": 8}})").data.id, "8");
    const auto e = failure<SingleDataResponse<JobTaskDTO>>(
        R"({"data": {"id": 7, "job_times": [{"id": 1}, {"id": 2, "billable": 1}]}})");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->codingPath(), "data.jobTimes[1].billable");
}

// ---- Job times ----

TEST(JobTimeRecords, DecodesARunningJobTime) {
    const auto t = decode<JobTimeCompactDTO>(R"({"id": 981, "client_id": 12, "jobtask_id": 7.0,
        "start_time": "2026-03-02T08:15:00Z", "round_direction": "up",
        "job_task": {"id": 7, "job_number": "J-1", "rate": 95},
        "job": {"id": 5, "project_number": "P-1"},
        "client": {"id": 12, "companyname": "ignored", "customername": "Kunde", "hourly_rate": 80}})");
    EXPECT_EQ(t.id, "981");
    EXPECT_EQ(std::tuple(str(t.clientId), str(t.jobtaskId), str(t.startTime), str(t.endTime)),
              std::tuple("12", "7", "2026-03-02T08:15:00Z", std::nullopt));
    ASSERT_TRUE(t.jobTask && t.job && t.client);
    EXPECT_EQ(
        std::tuple(str(t.jobTask->rate), str(t.jobTask->jobNumber), str(t.job->projectNumber)),
        std::tuple("95.0", "J-1", "P-1"));
    // The client snippet knows no lower-case alternate for the company name.
    EXPECT_EQ(std::tuple(str(t.client->companyName), str(t.client->customerName),
                         str(t.client->hourlyRate)),
              std::tuple(std::nullopt, "Kunde", "80.0"));
    EXPECT_EQ(decode<JobTimeCompactDTO>(R"({"id": "1", "end_time": "  "})").endTime, std::nullopt);
}

TEST(JobTimeRecords, FlagsAreStrictAndRoundingIsLenient) {
    const struct {
        const char* members;
        bool fails;
        std::optional<bool> billable, billed;
        std::optional<qint64> roundValue;
    } cases[] = {{R"("billable": true, "billed": false)", false, true, false, {}},
                 {R"("billable": null)", false, {}, {}, {}},
                 {R"("billable": 1)", true, {}, {}, {}},
                 {R"("billed": "true")", true, {}, {}, {}},
                 {R"("round_value": "15")", false, {}, {}, 15},
                 {R"("round_value": 7.5)", false, {}, {}, 8},
                 {R"("round_value": "viertel")", false, {}, {}, {}},
                 {R"("rounded_duration": "01:30")", true, {}, {}, {}},
                 {R"("client": {"customer_name": "x"})", true, {}, {}, {}}};
    for (const auto& c : cases) {
        const std::string json = std::string(R"({"id": 1, )") + c.members + "}";
        EXPECT_EQ(failure<JobTimeSingleResponse>(R"({"data": )" + json + "}").has_value(), c.fails)
            << c.members;
        EXPECT_EQ(
            failure<JobTimesActiveResponse>(R"({"data": [{"id": 2}, )" + json + "]}").has_value(),
            c.fails)
            << c.members;
        if (c.fails)
            continue;
        const auto t = decode<JobTimeCompactDTO>(json);
        EXPECT_EQ(t.billable, c.billable) << c.members;
        EXPECT_EQ(t.billed, c.billed) << c.members;
        EXPECT_EQ(t.roundValue, c.roundValue) << c.members;
    }
}

TEST(JobTimeRecords, RoundedDurationKeepsTextAndRendersNumbers) {
    const struct {
        const char* value;
        std::optional<std::string> hhMm, decimalHours;
        bool present;
    } cases[] = {{R"({"hh_mm": "01:30", "decimal_hours": 1.5})", "01:30", "1.5", true},
                 {R"({"hhMm": " 02:00 ", "decimal_hours": 2})", "02:00", "2.0", true},
                 {R"({"decimal_hours": "1,75"})", std::nullopt, "1,75", true},
                 {R"({})", std::nullopt, std::nullopt, true},
                 {"null", std::nullopt, std::nullopt, false}};
    for (const auto& c : cases) {
        const auto t = decode<JobTimeCompactDTO>(std::string(R"({"id": 1, "rounded_duration": )") +
                                                 c.value + "}");
        ASSERT_EQ(t.roundedDuration.has_value(), c.present) << c.value;
        if (c.present) {
            EXPECT_EQ(str(t.roundedDuration->hhMm), c.hhMm) << c.value;
            EXPECT_EQ(str(t.roundedDuration->decimalHours), c.decimalHours) << c.value;
        }
    }
}

TEST(JobTimeRecords, SnippetsRepeatedDownAListReadAsEachOneIsSent) {
    // Equal snippets in a row, one that differs by a byte, one of the same
    // size in another order, the first again; then a broken one.
    const std::string a = R"({"id": 7, "rate": 95, "job_number": "J-1"}, "rounded_duration": )";
    std::string list;
    for (const std::string& row :
         {a + R"({"hh_mm": "1:00"})", a + R"({"hh_mm": "1:00"})",
          R"({"id": 7, "rate": 96, "job_number": "J-1"})"s,
          R"({"job_number": "J-2", "id": 7, "rate": 95})"s, a + R"({"hh_mm": "2:00"})"})
        list += R"({"id": 1, "job_task": )" + row + "},";
    std::string read;
    for (const auto& t :
         decode<JobTimesActiveResponse>(R"({"data": [)" + list + "{\"id\": 3}]}").data) {
        const auto snippet = t.jobTask.value_or(JobTaskSnippet{});
        const auto hhMm = t.roundedDuration ? t.roundedDuration->hhMm : std::nullopt;
        for (const auto& text : {snippet.rate, snippet.jobNumber, hhMm})
            read += str(text).value_or("-") + " ";
    }
    EXPECT_EQ(read, "95.0 J-1 1:00 95.0 J-1 1:00 96.0 J-1 - 95.0 J-2 - 95.0 J-1 2:00 - - - ");
    const auto e = failure<JobTimesActiveResponse>(R"({"data": [)" + list +
                                                   R"({"id": 2, "job_task": {"rate": 95}}]})");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->codingPath(), "data[5].jobTask.id");
}

TEST(JobTimeRecords, RepliesNeedTheirData) {
    EXPECT_TRUE(decode<JobTimesActiveResponse>(R"({"data": []})").data.empty());
    EXPECT_EQ(ids(decode<JobTimesActiveResponse>(R"({"data": [{"id": 1}, {"id": " 2 "}]})").data),
              (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(decode<JobTimeSingleResponse>(R"({"data": {"id": 9}})").data.id, "9");
    const struct {
        const char* json;
        Kind kind;
    } cases[] = {{R"({})", Kind::KeyNotFound},
                 {R"({"data": null})", Kind::ValueNotFound},
                 {R"({"data": true})", Kind::TypeMismatch}};
    for (const auto& c : cases) {
        for (const auto& e :
             {failure<JobTimeSingleResponse>(c.json), failure<JobTimesActiveResponse>(c.json)}) {
            ASSERT_TRUE(e) << c.json;
            EXPECT_EQ(e->kind(), c.kind) << c.json;
            EXPECT_EQ(e->codingPath(), "data") << c.json;
        }
    }
    EXPECT_TRUE(failure<JobTimeSingleResponse>(R"({"data": [{"id": 1}]})"));
    EXPECT_TRUE(failure<JobTimesActiveResponse>(R"({"data": {"id": 1}})"));
}

// ---- Request bodies ----

TEST(RequestBodies, JobTimeBodiesWriteSnakeCaseKeysInMemberOrder) {
    const struct {
        QByteArray body;
        const char* json;
    } cases[] = {{StartJobTimeBody("7", "12").encode(), R"({"client_id":"7","jobtask_id":"12"})"},
                 {StartJobTimeBody("7", "12", "2026-03-02T08:15:00Z").encode(),
                  R"({"client_id":"7","jobtask_id":"12","started_at":"2026-03-02T08:15:00Z"})"},
                 {StopJobTimeBody().encode(), "{}"},
                 {StopJobTimeBody("2026-03-02T09:00:00Z").encode(),
                  R"({"ended_at":"2026-03-02T09:00:00Z"})"},
                 {UpdateJobTimeBody(true, "up", 15).encode(),
                  R"({"billable":true,"round_direction":"up","round_value":15})"},
                 {UpdateJobTimeBody(false, "", 0).encode(),
                  R"({"billable":false,"round_direction":"","round_value":0})"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.body.toStdString(), c.json);
}

TEST(RequestBodies, SignInSendsCodesOnlyWhenTheyHoldMoreThanBlanks) {
    const struct {
        std::optional<QString> code, recoveryCode;
        const char* tail;
    } cases[] = {{std::nullopt, std::nullopt, ""},
                 {"   ", "\n", ""},
                 {"123456 ", std::nullopt, R"(,"code":"123456 ")"},
                 {std::nullopt, " abcd-efgh", R"(,"recovery_code":" abcd-efgh")"},
                 {"1", "2", R"(,"code":"1","recovery_code":"2")"}};
    for (const auto& c : cases) {
        const QByteArray body =
            LoginRequestBody("a@b.de", "pw", "mac-mini", c.code, c.recoveryCode).encode();
        EXPECT_EQ(body.toStdString(),
                  std::string(R"({"email":"a@b.de","password":"pw","device_name":"mac-mini")") +
                      c.tail + "}");
    }
    const QString password = QString::fromUtf8("p\"w\\ö\n\t}");
    const QJsonObject sent =
        QJsonDocument::fromJson(LoginRequestBody(" a@b.de ", password, "h").encode()).object();
    EXPECT_EQ(sent.value("password").toString(), password);
    EXPECT_EQ(sent.value("email").toString(), " a@b.de ");
}

// ---- Sign-in replies ----

TEST(SignInReplies, SuccessNeedsATokenAndAValidUser) {
    const auto ok = decode<LoginSuccessDTO>(R"({"token": " 1|abc ", "user": {"id": 3,
        "email": "a@b.de"}})");
    EXPECT_EQ(ok.token, " 1|abc ");
    EXPECT_EQ(ok.tokenType, std::nullopt);
    EXPECT_EQ(ok.user.id, "3");
    EXPECT_EQ(str(decode<LoginSuccessDTO>(R"({"token": "t", "token_type": "Bearer",
        "user": {"id": 3, "email": "a"}})")
                      .tokenType),
              "Bearer");
    const struct {
        const char* json;
        const char* path;
    } cases[] = {
        {R"({"token": "t", "token_type": 5, "user": {"id": 3, "email": "a"}})", "tokenType"},
        {R"({"token": "t", "user": {"id": " ", "email": "a"}})", "user.id"},
        {R"({"token": null, "user": {"id": 3, "email": "a"}})", "token"},
        {R"({"token": 5, "user": {"id": 3, "email": "a"}})", "token"},
        {R"({"token": "t"})", "user"}};
    for (const auto& c : cases) {
        const auto e = failure<LoginSuccessDTO>(c.json);
        ASSERT_TRUE(e) << c.json;
        EXPECT_EQ(e->codingPath(), c.path) << c.json;
    }
}

TEST(SignInReplies, TwoFactorFlagIsStrict) {
    const struct {
        const char* json;
        bool fails;
        std::optional<bool> required;
        std::optional<std::string> message;
    } cases[] = {{R"({"two_factor_required": true, "message": "Code?"})", false, true, "Code?"},
                 {R"({"twoFactorRequired": false})", false, false, std::nullopt},
                 {R"({"two_factor_required": null})", false, std::nullopt, std::nullopt},
                 {R"({})", false, std::nullopt, std::nullopt},
                 {R"({"two_factor_required": 1})", true, std::nullopt, std::nullopt},
                 {R"({"two_factor_required": "true"})", true, std::nullopt, std::nullopt},
                 {R"({"message": 5})", true, std::nullopt, std::nullopt}};
    for (const auto& c : cases) {
        ASSERT_EQ(failure<TwoFactorRequiredDTO>(c.json).has_value(), c.fails) << c.json;
        if (c.fails)
            continue;
        const auto r = decode<TwoFactorRequiredDTO>(c.json);
        EXPECT_EQ(r.twoFactorRequired, c.required) << c.json;
        EXPECT_EQ(str(r.message), c.message) << c.json;
    }
}

// ---- Envelopes ----

TEST(ClientsList, AcceptsPagedWrappedAndBareShapes) {
    const struct {
        const char* body;
        std::vector<std::string> ids;
        bool meta;
    } cases[] = {
        {R"({"data": [{"id": 1}], "meta": {"current_page": 1, "last_page": 3}})", {"1"}, true},
        {R"({"clients": [{"id": 1}, {"id": 2}]})", {"1", "2"}, false},
        {R"({"results": [{"id": "r"}]})", {"r"}, false},
        {R"([{"id": 1}, {"id": 2}])", {"1", "2"}, false},
        {R"([])", {}, false},
        {R"({"data": null, "clients": [{"id": 1}, {"id": 2}]})", {"1", "2"}, false},
        {R"({"data": [], "clients": [{"id": 1}, {"id": 2}]})", {}, false},
        {R"({"clients": null, "results": [{"id": 3}]})", {"3"}, false},
        {R"({"clients": [], "results": [{"id": 3}]})", {}, false}};
    for (const auto& c : cases) {
        const auto page = ClientsAPIPayload::decodeClients(c.body);
        EXPECT_EQ(ids(page.data), c.ids) << c.body;
        EXPECT_EQ(page.meta.has_value(), c.meta) << c.body;
    }
    const auto paged = ClientsAPIPayload::decodeClients(
        R"({"data": [], "meta": {"current_page": 2, "last_page": 3, "per_page": 50, "total": 120}})");
    EXPECT_EQ(paged.meta, (PaginationMeta{2, 3, 50, 120}));
}

TEST(ClientsList, FailsWithTheErrorOfThePagedAttempt) {
    const struct {
        const char* body;
        Kind kind;
        const char* path;
    } cases[] = {{R"({})", Kind::KeyNotFound, "data"},
                 {R"({"clients": [{"company_name": "no id"}]})", Kind::KeyNotFound, "data"},
                 {R"({"data": "x", "clients": [{"id": 1}]})", Kind::TypeMismatch, "data"},
                 {R"({"data": [{"id": true}]})", Kind::DataCorrupted, "data[0].id"},
                 {R"("clients")", Kind::DataCorrupted, ""}};
    for (const auto& c : cases) {
        try {
            ClientsAPIPayload::decodeClients(c.body);
            ADD_FAILURE() << c.body;
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.body;
            EXPECT_EQ(e.codingPath(), c.path) << c.body;
        }
    }
}

TEST(Pages, MetaMembersAreStrictIntegers) {
    const struct {
        const char* meta;
        bool fails;
    } cases[] = {{R"({"current_page": 1, "per_page": 25.0, "total": null})", false},
                 {R"({})", false},
                 {R"({"current_page": "1"})", true},
                 {R"({"last_page": true})", true},
                 {R"({"total": 1.5})", true},
                 {R"([])", true}};
    for (const auto& c : cases) {
        const std::string body = std::string(R"({"data": [{"id": 1}], "meta": )") + c.meta + "}";
        EXPECT_EQ(failure<PaginatedResponse<JobTimeCompactDTO>>(body).has_value(), c.fails)
            << c.meta;
    }
    const auto page = decode<PaginatedResponse<JobTimeCompactDTO>>(
        R"({"data": [{"id": 1}], "meta": {"currentPage": 1, "per_page": 25.0}})");
    EXPECT_EQ(page.meta, (PaginationMeta{1, std::nullopt, 25, std::nullopt}));
    EXPECT_EQ(decode<PaginatedResponse<JobDTO>>(R"({"data": []})").meta, std::nullopt);
    EXPECT_TRUE(failure<PaginatedResponse<JobDTO>>(R"({"data": null})"));
}

TEST(InvoiceableSummary, AmountsBecomeWholeCents) {
    const struct {
        const char* amount;
        qint64 cents;
    } cases[] = {
        {R"("12,50")", 1250}, {R"("12.345")", 1235}, {R"("1.005")", 100}, {R"("0.285")", 28},
        {R"("-0.125")", -13}, {"80", 8000},          {"12.5", 1250},      {R"(" 7,5 ")", 750},
        {R"("1e2")", 10000},  {R"("1.234,56")", 0},  {R"("  ")", 0},      {"null", 0},
        {"true", 0},          {nullptr, 0},          {R"("inf")", 0},     {R"("nan")", 0},
        {R"("1e300")", 0},    {"1e300", 0},          {R"("12 €")", 0},    {"[]", 0}};
    for (const auto& c : cases) {
        const std::string bucket =
            std::string(R"({"from": "2026-03-02", "to": "2026-03-08")") +
            (c.amount ? std::string(R"(, "amount": )") + c.amount : std::string()) + "}";
        EXPECT_EQ(decode<InvoiceableSummaryBucketDTO>(bucket).amountEuroCents, c.cents) << bucket;
    }
}

TEST(InvoiceableSummary, PeriodsNeedTheirBoundsAndDefaultTheRest) {
    const auto b = decode<InvoiceableSummaryBucketDTO>(
        R"({"from": " 2026-03-02 ", "to": "2026-03-02", "job_time_count": "3"})");
    EXPECT_EQ(b.from, " 2026-03-02 "); // unchanged
    EXPECT_EQ(b.hoursDecimal, "0");
    EXPECT_EQ(b.amountEuroCents, 0);
    EXPECT_EQ(b.jobTimeCount, 3);
    const auto c = decode<InvoiceableSummaryBucketDTO>(
        R"({"from": "a", "to": "b", "hours_decimal": 7.5, "job_time_count": {}})");
    EXPECT_EQ(c.hoursDecimal, "7.5");
    EXPECT_EQ(c.jobTimeCount, 0);

    const auto summary = [](const char* timezone, const char* today, const char* month) {
        return std::string(R"({"timezone": )") + timezone + R"(, "today": )" + today +
               R"(, "week": {"from": "a", "to": "b"})" + (month ? R"(, "month": )" : "") +
               (month ? month : "") + "}";
    };
    const char* const period = R"({"from": "a", "to": "b"})";
    EXPECT_FALSE(failure<InvoiceableSummaryDTO>(summary(R"("UTC")", period, period)));
    for (const auto& json :
         {summary("null", period, period), summary("1", period, period),
          summary(R"("UTC")", period, nullptr), summary(R"("UTC")", R"({"to": "b"})", period),
          summary(R"("UTC")", R"({"from": "a", "to": 5})", period)})
        EXPECT_TRUE(failure<InvoiceableSummaryDTO>(json)) << json;
}

TEST(InvoiceableSummary, WrittenSummaryReadsBackUnchanged) {
    InvoiceableSummaryDTO summary;
    summary.timezone = "Europe/Berlin";
    summary.today = {"2026-03-04T00:00:00+01:00", "2026-03-04T23:59:59+01:00", "2.5", 1999, 2};
    summary.week = {"2026-03-02", "2026-03-08", "12.25", 125050, 9};
    summary.month = {"2026-03-01", "2026-03-31", "0", -1, 0};
    const QJsonObject written = summary.encode();
    const QJsonObject today = written.value("today").toObject();
    EXPECT_EQ(today.value("amount").toDouble(), 19.99);
    EXPECT_EQ(today.value("job_time_count").toInteger(), 2);
    EXPECT_EQ(today.value("hours_decimal").toString(), "2.5");
    const auto read = wire::decodeJSON<InvoiceableSummaryDTO>(QJsonDocument(written).toJson());
    EXPECT_EQ(read.today.amountEuroCents, 1999);
    EXPECT_EQ(read, summary);
}
