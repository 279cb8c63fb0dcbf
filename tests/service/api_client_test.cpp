#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "service/transport_error.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/raw_server.h"
#include "support/temp_user_defaults.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrlQuery>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace orvane;
using orvane::test::FakeResponse;
using orvane::test::FakeService;

namespace {

using Kind = OrvaneAPIError::Kind;
using Items = std::set<std::string>;

const char* const kRateLimitText =
    "Zu viele Anfragen in kurzer Zeit. Bitte warte kurz und versuche es erneut.";
const char* const kDpaRequiredText =
    "Bitte unterzeichne den Auftragsverarbeitungsvertrag (AVV) im Web in deinem Profil.";
const std::string kNotReadyBody = R"({"message":"Bitte zuerst die AVV unterzeichnen.",
  "account_requirements":{"profile_complete":true,"dpa_signed":false}})";

// Replies the service gives when all is well.
const std::string kJobTimeReply =
    R"({"data":{"id":7,"client_id":"c1","jobtask_id":"t1","start_time":"2026-03-01T08:15:00Z"}})";
const std::string kActiveReply = R"({"data":[{"id":7,"client_id":"c1"},{"id":"8"}]})";
const std::string kClientsReply =
    R"({"data":[{"id":3,"company_name":"Acme GmbH"}],"meta":{"current_page":1,"total":1}})";
const std::string kJobsReply = R"({"data":[{"id":"j1","title":"Relaunch","client_id":"c1"}]})";
const std::string kJobTasksReply = R"({"data":[{"id":"t1","title":"Design"},{"id":"t2"}]})";
const std::string kJobTaskReply = R"({"data":{"id":"t1","title":"Design","rate":"95.00"}})";
const std::string kUserReply = R"({"id":1,"email":"ada@example.com","first_name":"Ada"})";
const std::string kLoginReply = R"({"token":"12|abc","user":{"id":1,"email":"ada@example.com"}})";
const std::string kSummary = R"({"timezone":"Europe/Berlin",
  "today":{"from":"2026-03-01","to":"2026-03-01","hours_decimal":"1.50","amount":"142.50"},
  "week":{"from":"2026-02-23","to":"2026-03-01","hours_decimal":"9.00","amount":"855"},
  "month":{"from":"2026-03-01","to":"2026-03-31","hours_decimal":"1.50","amount":"142.5"}})";

std::string str(const QString& text) {
    return text.toStdString();
}

const char* kindName(Kind kind) {
    static const char* const names[] = {"http",
                                        "decoding",
                                        "accountNotReady",
                                        "message",
                                        "invalidURL",
                                        "noData",
                                        "twoFactorRequired",
                                        "emailNotVerified",
                                        "jobTimeAlreadyStopped"};
    return names[static_cast<int>(kind)];
}

// What a caller sees when a call ends.
struct Outcome {
    enum class What { Returns, DecodingFails, Fails } what = What::Returns;
    Kind kind = Kind::Http;
    int status = 0;
    std::optional<std::string> body; // http: the body the error keeps
    std::string text;                // when not empty: the error's German text
};

Outcome returns() {
    return {};
}
Outcome decodingFails() {
    return {Outcome::What::DecodingFails};
}
Outcome fails(Kind kind, std::string text = {}) {
    return {Outcome::What::Fails, kind, 0, std::nullopt, std::move(text)};
}
Outcome http(int status, std::optional<std::string> body, std::string text = {}) {
    return {Outcome::What::Fails, Kind::Http, status, std::move(body), std::move(text)};
}

void expectOutcome(const std::function<void()>& call, const Outcome& expected) {
    try {
        call();
        EXPECT_EQ(expected.what, Outcome::What::Returns) << "the call returned";
    } catch (const OrvaneAPIError& e) {
        ASSERT_EQ(expected.what, Outcome::What::Fails)
            << "service error " << kindName(e.kind()) << ": " << str(e.errorDescription());
        EXPECT_STREQ(kindName(e.kind()), kindName(expected.kind)) << str(e.errorDescription());
        if (expected.kind == Kind::Http) {
            EXPECT_EQ(e.statusCode(), expected.status);
            const auto body = e.body() ? std::optional(e.body()->toStdString()) : std::nullopt;
            EXPECT_EQ(body, expected.body);
        }
        if (!expected.text.empty()) {
            EXPECT_EQ(str(e.errorDescription()), expected.text);
        }
    } catch (const DecodingError& e) {
        EXPECT_EQ(expected.what, Outcome::What::DecodingFails)
            << "decoding error: " << str(e.debugDescription());
    } catch (const TransportError& e) {
        ADD_FAILURE() << "transport error: " << str(e.localizedDescription());
    }
}

Items queryItems(const std::string& query) {
    Items items;
    std::stringstream in(query);
    for (std::string item; std::getline(in, item, '&');)
        items.insert(item);
    return items;
}

template <class List> std::string idsOf(const List& list) {
    std::string out;
    for (const auto& entry : list)
        out.append(out.empty() ? "" : ",").append(str(entry.id));
    return out;
}

class ServiceFixture {
protected:
    ServiceFixture() {
        configureBaseURL(service.baseURL());
        client.setToken(QStringLiteral("tok-1"));
    }
    void configureBaseURL(const QString& text) {
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, text);
    }

    test::TempUserDefaults defaults;
    FakeService service;
    OrvaneAPIClient client;
};

// ---- Every call: the request it sends and what a good reply gives --------

using Run = std::function<std::string(OrvaneAPIClient&)>;

struct Call {
    std::string name;
    Run run; // what the caller gets, in short
    std::string method;
    std::string path;
    std::optional<Items> query;      // none: no "?" at all
    std::optional<std::string> body; // none: no body and no Content-Type
    std::string reply;
    std::string result;
    bool commonRule = false; // the endpoint's one row in the common status matrix
};

void PrintTo(const Call& call, std::ostream* out) {
    *out << call.name;
}

const QString kJobTimeId = QStringLiteral("7");
const std::optional<QString> kNone;
const std::optional<QDateTime> kNoDate;

Run clients(int perPage) {
    return [=](OrvaneAPIClient& c) {
        const auto page = test::await(c.fetchClients(perPage));
        return idsOf(page.data) + ":" + str(page.data.at(0).companyName.value_or(""));
    };
}
Run jobs(std::optional<QString> client, std::optional<QString> project,
         std::optional<QString> archived, int perPage) {
    return [=](OrvaneAPIClient& c) {
        const auto page = test::await(c.fetchJobs(client, project, archived, perPage));
        return idsOf(page.data) + ":" + str(page.data.at(0).title.value_or(""));
    };
}
Run tasks(bool withTimes) {
    return [=](OrvaneAPIClient& c) {
        const QString job = QStringLiteral("j1");
        return idsOf(test::await(c.fetchJobTasks(job, withTimes)));
    };
}
Run task(bool withTimes) {
    return [=](OrvaneAPIClient& c) {
        const QString id = QStringLiteral("t1");
        const JobTaskDTO t = test::await(c.fetchJobTask(id, withTimes));
        return str(t.id) + ":" + str(t.rate.value_or(""));
    };
}
Run start(std::optional<QDateTime> startedAt) {
    return [=](OrvaneAPIClient& c) {
        const QString client = QStringLiteral("c1");
        const QString task = QStringLiteral("t1");
        const auto t = test::await(c.startJobTime(client, task, startedAt));
        return str(t.id) + ":" + str(t.startTime.value_or(""));
    };
}
Run stop(std::optional<QDateTime> endedAt) {
    return
        [=](OrvaneAPIClient& c) { return str(test::await(c.stopJobTime(kJobTimeId, endedAt)).id); };
}
Run update(bool billable, QString direction, qint64 value) {
    return [=](OrvaneAPIClient& c) {
        return str(test::await(c.updateJobTime(kJobTimeId, billable, direction, value)).id);
    };
}

QDateTime at(int month, int hour, int minute, int second, int ms, const QTimeZone& zone) {
    return QDateTime(QDate(2026, month, 1), QTime(hour, minute, second, ms), zone);
}

std::vector<Call> calls() {
    const QTimeZone plusOne(3600);
    const std::string startPath = "/api/job-times/start";
    const std::string stopPath = "/api/job-times/7/stop";
    const std::string started = R"({"client_id":"c1","jobtask_id":"t1","started_at":")";
    return {
        {"Logout",
         [](OrvaneAPIClient& c) {
             test::await(c.logout());
             return std::string();
         },
         "POST", "/api/auth/logout", std::nullopt, std::nullopt, "", ""},
        {"CurrentUser",
         [](OrvaneAPIClient& c) { return str(test::await(c.fetchCurrentUser()).email); }, "GET",
         "/api/user", std::nullopt, std::nullopt, kUserReply, "ada@example.com"},
        {"Clients", clients(100), "GET", "/api/clients", Items{"per_page=100"}, std::nullopt,
         kClientsReply, "3:Acme GmbH", true},
        {"JobsOfOneClient", jobs(QStringLiteral("c1"), kNone, QStringLiteral("0"), 100), "GET",
         "/api/jobs", Items{"per_page=100", "client_id=c1", "archived=0"}, std::nullopt, kJobsReply,
         "j1:Relaunch", true},
        {"JobsWithEveryFilter", jobs(QStringLiteral("c1"), QStringLiteral("p2"), QString("1"), 50),
         "GET", "/api/jobs", Items{"per_page=50", "client_id=c1", "project_id=p2", "archived=1"},
         std::nullopt, kJobsReply, "j1:Relaunch"},
        {"JobsWithEmptyArchivedFilter", jobs(kNone, kNone, QString(""), 100), "GET", "/api/jobs",
         Items{"per_page=100", "archived="}, std::nullopt, kJobsReply, "j1:Relaunch"},
        {"JobsQueryValueEscaped", jobs(QStringLiteral("a&b c=ä"), kNone, kNone, 100), "GET",
         "/api/jobs", Items{"per_page=100", "client_id=a%26b%20c%3D%C3%A4"}, std::nullopt,
         kJobsReply, "j1:Relaunch"},
        {"JobTasksWithTimes", tasks(true), "GET", "/api/jobs/j1/job-tasks", std::nullopt,
         std::nullopt, kJobTasksReply, "t1,t2", true},
        {"JobTasksWithoutTimes", tasks(false), "GET", "/api/jobs/j1/job-tasks",
         Items{"include_job_times=0"}, std::nullopt, kJobTasksReply, "t1,t2"},
        {"JobTaskWithTimes", task(true), "GET", "/api/job-tasks/t1", std::nullopt, std::nullopt,
         kJobTaskReply, "t1:95.00", true},
        {"JobTaskWithoutTimes", task(false), "GET", "/api/job-tasks/t1",
         Items{"include_job_times=0"}, std::nullopt, kJobTaskReply, "t1:95.00"},
        {"ActiveJobTimes",
         [](OrvaneAPIClient& c) { return idsOf(test::await(c.fetchActiveJobTimes())); }, "GET",
         "/api/job-times/active", std::nullopt, std::nullopt, kActiveReply, "7,8", true},
        {"OneJobTime",
         [](OrvaneAPIClient& c) { return str(test::await(c.fetchJobTime(kJobTimeId)).id); }, "GET",
         "/api/job-times/7", std::nullopt, std::nullopt, kJobTimeReply, "7", true},
        {"InvoiceableSummary",
         [](OrvaneAPIClient& c) {
             const auto s = test::await(c.fetchInvoiceableSummary());
             return str(s.timezone) + ":" + std::to_string(s.today.amountEuroCents);
         },
         "GET", "/api/job-times/invoiceable-summary", std::nullopt, std::nullopt, kSummary,
         "Europe/Berlin:14250", true},
        {"StartNow", start(kNoDate), "POST", startPath, std::nullopt,
         R"({"client_id":"c1","jobtask_id":"t1"})", kJobTimeReply, "7:2026-03-01T08:15:00Z", true},
        {"StartAtInstantWithMilliseconds", start(at(3, 9, 15, 0, 750, plusOne)), "POST", startPath,
         std::nullopt, started + R"(2026-03-01T08:15:00Z"})", kJobTimeReply,
         "7:2026-03-01T08:15:00Z"},
        {"StopWithoutEnd", stop(kNoDate), "PATCH", stopPath, std::nullopt, "{}", kJobTimeReply, "7",
         true},
        {"StopAtInstant", stop(at(3, 17, 45, 30, 1, QTimeZone::utc())), "PATCH", stopPath,
         std::nullopt, R"({"ended_at":"2026-03-01T17:45:30Z"})", kJobTimeReply, "7"},
        {"UpdateBillableRoundedUp", update(true, QStringLiteral("up"), 15), "PATCH",
         "/api/job-times/7", std::nullopt,
         R"({"billable":true,"round_direction":"up","round_value":15})", kJobTimeReply, "7", true},
    };
}

std::vector<Call> commonRuleCalls() {
    std::vector<Call> out;
    for (Call& call : calls())
        if (call.commonRule)
            out.push_back(std::move(call));
    return out;
}

class ApiClientRequest : public ServiceFixture, public ::testing::TestWithParam<Call> {};

TEST_P(ApiClientRequest, SendsMethodPathQueryHeadersAndBodyAndReadsTheReply) {
    const Call& call = GetParam();
    service.on(call.method, call.path,
               FakeResponse::json(call.reply.empty() ? 204 : 200, call.reply));
    EXPECT_EQ(call.run(client), call.result);

    ASSERT_EQ(service.requestCount(), 1u);
    const auto sent = service.lastRequest();
    EXPECT_EQ(sent.method, call.method);
    EXPECT_EQ(sent.path, call.path);
    EXPECT_EQ(sent.hasQuery, call.query.has_value()) << "query: " << sent.query;
    EXPECT_EQ(queryItems(sent.query), call.query.value_or(Items{}));
    EXPECT_EQ(sent.header("Accept"), "application/json");
    EXPECT_EQ(sent.header("Authorization"), "Bearer tok-1");
    if (call.body) {
        EXPECT_EQ(sent.header("Content-Type"), "application/json");
        ASSERT_TRUE(sent.json().isObject()) << sent.body;
        const auto expected = QJsonDocument::fromJson(QByteArray::fromStdString(*call.body));
        EXPECT_EQ(sent.json().object(), expected.object()) << sent.body;
    } else {
        EXPECT_EQ(sent.header("Content-Type"), std::nullopt);
        EXPECT_EQ(sent.body, "");
    }
}

INSTANTIATE_TEST_SUITE_P(EveryEndpoint, ApiClientRequest, ::testing::ValuesIn(calls()),
                         [](const auto& info) { return info.param.name; });

// ---- The common status rule ----------------------------------------------

class ApiClientCommonStatus : public ServiceFixture, public ::testing::TestWithParam<Call> {};

TEST_P(ApiClientCommonStatus, MapsEveryStatusTheSameWay) {
    const Call& call = GetParam();
    const std::string unauthenticated = R"({"message":"Unauthenticated."})";
    const std::string forbidden = R"({"message":"This action is unauthorized."})";
    const std::string invalid = R"({"message":"The given data was invalid."})";
    const std::string html = "<html>Server Error</html>";
    const struct {
        int status;
        std::string body;
        Outcome expected;
    } rows[] = {
        {204, "", decodingFails()},
        {200, R"({"unexpected":true})", decodingFails()},
        {401, unauthenticated, http(401, unauthenticated, "HTTP 401: " + unauthenticated)},
        {403, forbidden, http(403, forbidden)},
        {403, "", http(403, "")},
        {403, kNotReadyBody, fails(Kind::AccountNotReady, "Bitte zuerst die AVV unterzeichnen.")},
        {403, R"({"reason":"dpa_required"})", fails(Kind::AccountNotReady, kDpaRequiredText)},
        {404, "{}", http(404, "{}")},
        {422, invalid, http(422, invalid)},
        {429, "{}", http(429, "{}", kRateLimitText)},
        {500, html, http(500, html, "HTTP 500: " + html)},
        {503, html, http(503, html)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.status) + " " + row.body);
        service.on(call.method, call.path, FakeResponse::json(row.status, row.body));
        expectOutcome([&] { call.run(client); }, row.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Endpoints, ApiClientCommonStatus, ::testing::ValuesIn(commonRuleCalls()),
                         [](const auto& info) { return info.param.name; });

TEST(ApiClientAlreadyStoppedRule, BelongsToTheStopAlone) {
    const std::string body = R"({"message":"Zeiterfassung bereits gestoppt"})";
    for (Call call : commonRuleCalls()) {
        SCOPED_TRACE(call.name);
        test::TempUserDefaults defaults;
        FakeService service;
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
        OrvaneAPIClient client;
        service.on(call.method, call.path, FakeResponse::json(422, body));
        expectOutcome([&] { call.run(client); }, call.name == "StopWithoutEnd"
                                                     ? fails(Kind::JobTimeAlreadyStopped)
                                                     : http(422, body));
    }
}

// ---- Endpoints with rules of their own ------------------------------------

enum class Endpoint { CurrentUser, Logout, Stop };

struct OwnRule {
    std::string name;
    Endpoint endpoint;
    int status;
    std::string body;
    Outcome expected;
};

void PrintTo(const OwnRule& row, std::ostream* out) {
    *out << row.name;
}

class ApiClientOwnStatusRule : public ServiceFixture, public ::testing::TestWithParam<OwnRule> {};

TEST_P(ApiClientOwnStatusRule, EndsAsThatEndpointPromises) {
    const OwnRule& row = GetParam();
    const auto reply = FakeResponse::json(row.status, row.body);
    const QDateTime end = QDateTime::currentDateTimeUtc();
    switch (row.endpoint) {
    case Endpoint::CurrentUser:
        service.on("GET", "/api/user", reply);
        return expectOutcome(
            [&] { EXPECT_EQ(str(test::await(client.fetchCurrentUser()).id), "1"); }, row.expected);
    case Endpoint::Logout:
        service.on("POST", "/api/auth/logout", reply);
        expectOutcome([&] { test::await(client.logout()); }, row.expected);
        EXPECT_EQ(client.currentToken(), QStringLiteral("tok-1")); // clearing is the caller's
        return;
    case Endpoint::Stop:
        service.on("PATCH", "/api/job-times/7/stop", reply);
        return expectOutcome([&] { test::await(client.stopJobTime(kJobTimeId, end)); },
                             row.expected);
    }
}

OwnRule stopRow(std::string name, std::string body, bool alreadyStopped) {
    const Outcome expected = alreadyStopped ? fails(Kind::JobTimeAlreadyStopped,
                                                    "Diese Zeiterfassung wurde bereits beendet.")
                                            : http(422, body);
    return {std::move(name), Endpoint::Stop, 422, body, expected};
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ApiClientOwnStatusRule,
    ::testing::Values(
        OwnRule{"UserOk", Endpoint::CurrentUser, 200, kUserReply, returns()},
        OwnRule{"UserEnvelopedDoesNotDecode", Endpoint::CurrentUser, 200,
                R"({"data":)" + kUserReply + "}", decodingFails()},
        OwnRule{"UserNoContent", Endpoint::CurrentUser, 204, "", decodingFails()},
        OwnRule{"UserForbiddenEmpty", Endpoint::CurrentUser, 403, "",
                fails(Kind::EmailNotVerified, "E-Mail ist nicht verifiziert")},
        OwnRule{"UserForbiddenWithMessage", Endpoint::CurrentUser, 403,
                R"({"message":"Your email address is not verified."})",
                fails(Kind::EmailNotVerified)},
        OwnRule{"UserForbiddenWithRequirements", Endpoint::CurrentUser, 403, kNotReadyBody,
                fails(Kind::AccountNotReady, "Bitte zuerst die AVV unterzeichnen.")},
        OwnRule{"UserForbiddenWithReason", Endpoint::CurrentUser, 403,
                R"({"reason":"dpa_required"})", fails(Kind::AccountNotReady, kDpaRequiredText)},
        OwnRule{"UserUnauthorized", Endpoint::CurrentUser, 401, R"({"message":"Unauthenticated."})",
                http(401, R"({"message":"Unauthenticated."})")},
        OwnRule{"UserServerError", Endpoint::CurrentUser, 500, "boom", http(500, "boom")},
        OwnRule{"LogoutOk", Endpoint::Logout, 200, R"({"message":"Logged out"})", returns()},
        OwnRule{"LogoutBodyIsNotRead", Endpoint::Logout, 200, "not json", returns()},
        OwnRule{"LogoutServerErrorWithoutBody", Endpoint::Logout, 500, "<html>Error</html>",
                http(500, std::nullopt, "HTTP 500")},
        OwnRule{"LogoutUnauthorizedWithoutBody", Endpoint::Logout, 401, "{}",
                http(401, std::nullopt, "HTTP 401")},
        OwnRule{"LogoutForbiddenIsNotAccountNotReady", Endpoint::Logout, 403, kNotReadyBody,
                http(403, std::nullopt)},
        stopRow("StopJobTimeErrorMixedCase",
                R"({"errors":{"job_time":["This job time is Already Stopped."]}})", true),
        stopRow("StopJobTimeErrorBereitsGestoppt",
                R"({"errors":{"job_time":["Ende fehlt","Zeit wurde bereits gestoppt."]}})", true),
        stopRow("StopJobTimeErrorWordsSwapped",
                R"({"errors":{"job_time":["Gestoppt wurde sie BEREITS."]}})", true),
        stopRow("StopMessageWhenJobTimeErrorsDoNotMatch",
                R"({"errors":{"job_time":["Ende vor Start"]},"message":"BEREITS GESTOPPT"})", true),
        stopRow("StopMessageAlreadyStopped", R"({"message":"ALREADY STOPPED"})", true),
        stopRow("StopMessageOnlyGestoppt", R"({"message":"Zeiterfassung gestoppt"})", false),
        stopRow("StopMessageOnlyBereits", R"({"message":"bereits vorhanden"})", false),
        stopRow("StopJobTimeErrorsWithANonText",
                R"({"errors":{"job_time":[42,"already stopped"]}})", false),
        stopRow("StopJobTimeErrorNotAList", R"({"errors":{"job_time":"already stopped"}})", false),
        stopRow("StopNotJson", "already stopped", false), stopRow("StopEmpty", "", false),
        OwnRule{"StopOtherStatusTakesTheCommonRule", Endpoint::Stop, 409,
                R"({"message":"already stopped"})", http(409, R"({"message":"already stopped"})")},
        OwnRule{"StopForbiddenWithRequirements", Endpoint::Stop, 403, kNotReadyBody,
                fails(Kind::AccountNotReady)}),
    [](const auto& info) { return info.param.name; });

class ApiClientInvoiceableSummary : public ServiceFixture, public ::testing::Test {
protected:
    InvoiceableSummaryDTO fetchAnswered(const std::string& body) {
        service.on("GET", "/api/job-times/invoiceable-summary", FakeResponse::json(200, body));
        return test::await(client.fetchInvoiceableSummary());
    }
};

TEST_F(ApiClientInvoiceableSummary, BareAndEnvelopedRepliesReadTheSame) {
    const InvoiceableSummaryDTO bare = fetchAnswered(kSummary);
    EXPECT_EQ(bare.week.amountEuroCents, 85500);
    EXPECT_EQ(str(bare.month.hoursDecimal), "1.50");
    EXPECT_EQ(fetchAnswered(R"({"data":)" + kSummary + "}"), bare);
}

TEST_F(ApiClientInvoiceableSummary, NeitherShapeReportsTheEnvelopesError) {
    try {
        fetchAnswered(R"({"timezone":"Europe/Berlin"})");
        ADD_FAILURE() << "a summary without figures decoded";
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.kind(), DecodingError::Kind::KeyNotFound);
        EXPECT_EQ(str(e.codingPath()), "data");
    }
}

// ---- Identifiers in paths, base URL, transport ------------------------------

class ApiClientIdentifierInPath : public ServiceFixture, public ::testing::Test {};

TEST_F(ApiClientIdentifierInPath, IsEscapedButNeitherTrimmedNorSplitOtherThanAtSlashes) {
    const struct {
        QString id;
        std::string encoded;
    } cases[] = {{"a b", "a%20b"}, {QStringLiteral("ä"), "%C3%A4"},
                 {"x?y", "x%3Fy"}, {"50%", "50%25"},
                 {"#7", "%237"},   {" 7 ", "%207%20"},
                 {"a/b", "a/b"},   {"v1.2-x_y~z", "v1.2-x_y~z"}};
    for (const auto& c : cases) {
        const QString id = c.id;
        const std::string& e = c.encoded;
        const std::optional<QDateTime> end;
        const struct {
            std::string method;
            std::string path;
            std::string reply;
            std::function<void()> call;
        } endpoints[] = {
            {"GET", "/api/job-times/" + e, kJobTimeReply,
             [&] { test::await(client.fetchJobTime(id)); }},
            {"GET", "/api/job-tasks/" + e, kJobTaskReply,
             [&] { test::await(client.fetchJobTask(id, true)); }},
            {"GET", "/api/jobs/" + e + "/job-tasks", kJobTasksReply,
             [&] { test::await(client.fetchJobTasks(id, true)); }},
            {"PATCH", "/api/job-times/" + e + "/stop", kJobTimeReply,
             [&] { test::await(client.stopJobTime(id, end)); }},
        };
        for (const auto& endpoint : endpoints) {
            SCOPED_TRACE(endpoint.method + " " + endpoint.path);
            service.clearRequests();
            service.on(endpoint.method, endpoint.path, FakeResponse::json(200, endpoint.reply));
            EXPECT_NO_THROW(endpoint.call());
            ASSERT_EQ(service.requestCount(), 1u);
            EXPECT_EQ(service.lastRequest().path, endpoint.path);
            EXPECT_FALSE(service.lastRequest().hasQuery);
        }
    }
}

class ApiClientBaseURL : public ServiceFixture, public ::testing::Test {};

TEST_F(ApiClientBaseURL, PathsHangUnderTheConfiguredAddressPlusApi) {
    const struct {
        QString configured;
        std::string path;
    } cases[] = {
        {service.baseURL() + "/", "/api/user"},
        {"  " + service.baseURL() + "//\n", "/api/user"},
        {service.baseURL() + "/orvane/", "/orvane/api/user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(str(c.configured));
        configureBaseURL(c.configured);
        service.on("GET", c.path, FakeResponse::json(200, kUserReply));
        EXPECT_EQ(str(test::await(client.fetchCurrentUser()).email), "ada@example.com");
        EXPECT_EQ(service.lastRequest().path, c.path);
    }
}

TEST_F(ApiClientBaseURL, UnformableAddressFailsWithoutSending) {
    configureBaseURL(QStringLiteral("http://exa mple.com"));
    for (const Call& call : calls()) {
        SCOPED_TRACE(call.name);
        expectOutcome([&] { call.run(client); }, fails(Kind::InvalidURL, "Ungültige URL"));
    }
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST_F(ApiClientBaseURL, EmptyAddressGivesAnUnsupportedURL) {
    configureBaseURL(QStringLiteral("///"));
    try {
        test::await(client.fetchCurrentUser());
        ADD_FAILURE() << "a relative request URL was answered";
    } catch (const TransportError& e) {
        EXPECT_EQ(str(e.localizedDescription()), "Nicht unterstützte URL");
    }
    EXPECT_EQ(service.requestCount(), 0u);
}

TEST(ApiClientTransport, RefusedConnectionIsATransportError) {
    test::TempUserDefaults defaults;
    int closedPort = 0;
    {
        FakeService gone;
        closedPort = gone.port();
    }
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(closedPort);
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, origin);
    OrvaneAPIClient client;
    const QUrl photo(origin + QStringLiteral("/storage/a.png"));
    const std::function<void()> attempts[] = {
        [&] { test::await(client.fetchActiveJobTimes()); },
        [&] { test::await(client.fetchImageData(photo, true)); },
    };
    for (const auto& attempt : attempts) {
        try {
            attempt();
            ADD_FAILURE() << "a closed port answered";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.code(), QNetworkReply::ConnectionRefusedError);
            EXPECT_EQ(str(e.localizedDescription()),
                      "Es konnte keine Verbindung zum Server hergestellt werden.");
        } catch (const OrvaneAPIError& e) {
            ADD_FAILURE() << "service error instead: " << str(e.errorDescription());
        }
    }
}

class ApiClientTransportStatus : public ServiceFixture, public ::testing::Test {};

TEST_F(ApiClientTransportStatus, AuthenticationChallengeStillEndsWithStatusAndBody) {
    const std::string body = R"({"message":"Unauthenticated."})";
    for (const std::string challenge : {"Basic realm=\"orvane\"", "Bearer"}) {
        SCOPED_TRACE(challenge);
        FakeResponse refused = FakeResponse::json(401, body);
        refused.headers = {{"WWW-Authenticate", challenge}};
        service.on("GET", "/api/job-times/active", refused);
        expectOutcome([&] { test::await(client.fetchActiveJobTimes()); }, http(401, body));
    }
}

// ---- Profile photo ---------------------------------------------------------

class ApiClientProfilePhoto : public ServiceFixture, public ::testing::Test {
protected:
    ApiClientProfilePhoto() {
        FakeResponse png;
        png.body = kPng;
        png.contentType = "image/png";
        service.on("GET", kPath, png);
        other.on("GET", kPath, png);
    }

    // The Authorization header the photo request carried, wherever it went.
    std::optional<std::string> authorizationFor(const QString& origin, bool authorized) {
        service.clearRequests();
        other.clearRequests();
        const QUrl url(origin + QString::fromStdString(kPath));
        const ImageDataResult result = test::await(client.fetchImageData(url, authorized));
        EXPECT_EQ(result.response.httpStatus, 200);
        EXPECT_EQ(result.data.toStdString(), kPng);
        EXPECT_EQ(service.requestCount() + other.requestCount(), 1u);
        const auto sent = service.requestCount() ? service.lastRequest() : other.lastRequest();
        EXPECT_EQ(sent.header("Accept"), "image/*,*/*");
        return sent.header("Authorization");
    }

    const std::string kPath = "/storage/avatars/ada.png";
    const std::string kPng = "\x89PNG-bytes";
    FakeService other;
};

TEST_F(ApiClientProfilePhoto, TokenGoesOnlyToTheServicesOwnOrigin) {
    const QString port = QString::number(service.port());
    const std::optional<std::string> bearer = "Bearer tok-1";
    const struct {
        std::string name;
        QString baseURL;
        QString photoOrigin;
        bool authorized;
        std::optional<std::string> expected;
    } cases[] = {
        {"same origin", service.baseURL(), service.baseURL(), true, bearer},
        {"service under a path", service.baseURL() + "/orvane/", service.baseURL(), true, bearer},
        {"not asked for", service.baseURL(), service.baseURL(), false, std::nullopt},
        {"another host", service.baseURL(), "http://localhost:" + port, true, std::nullopt},
        {"another port", service.baseURL(), other.baseURL(), true, std::nullopt},
        {"another scheme", "https://127.0.0.1:" + port, service.baseURL(), true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        configureBaseURL(c.baseURL);
        EXPECT_EQ(authorizationFor(c.photoOrigin, c.authorized), c.expected);
    }
    client.setToken(std::nullopt);
    EXPECT_EQ(authorizationFor(service.baseURL(), true), std::nullopt);
}

TEST_F(ApiClientProfilePhoto, ErrorStatusComesBackWithoutAnError) {
    FakeResponse missing;
    missing.status = 404;
    missing.body = "<html><body>Not Found</body></html>";
    missing.contentType = "text/html";
    service.on("GET", "/storage/avatars/gone.png", missing);
    const QUrl url(service.baseURL() + QStringLiteral("/storage/avatars/gone.png"));
    const ImageDataResult result = test::await(client.fetchImageData(url, true));
    EXPECT_EQ(result.response.httpStatus, 404);
    EXPECT_EQ(str(result.response.mimeType), "text/html");
    EXPECT_EQ(result.data.toStdString(), missing.body);
}

TEST_F(ApiClientProfilePhoto, BodyBeyondTheCapIsCutOffWhetherItsLengthIsAnnouncedOrNot) {
    const std::string body(300 * 1024, 'x');
    FakeResponse announced;
    announced.body = body;
    announced.contentType = "image/png";
    service.on("GET", "/storage/big.png", announced);
    // Without a length the body runs until the sender closes.
    test::RawServer unannounced([&](const test::RawRequest&) {
        return test::RawReply{.bytes = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                       "Connection: close\r\n\r\n" +
                                       body};
    });
    for (const QString& origin : {service.baseURL(), unannounced.baseURL()}) {
        SCOPED_TRACE(str(origin));
        const QUrl url(origin + QStringLiteral("/storage/big.png"));
        EXPECT_EQ(test::await(client.fetchImageData(url, true, 300 * 1024)).data.size(),
                  qsizetype(body.size()));
        try {
            test::await(client.fetchImageData(url, true, 100 * 1024));
            ADD_FAILURE() << "a body beyond the cap was read";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.code(), QNetworkReply::OperationCanceledError);
        }
    }
}

// ---- Lists that come in pages ------------------------------------------------

// Rows "r0", "r1", … `perPage` to a page of `last` pages; the page `failing` answers 500.
test::FakeHandler paged(int rows, int perPage, int last, int failing = 0) {
    return [=](const test::RecordedRequest& r) {
        const int page =
            std::max(1, QUrlQuery(QString::fromStdString(r.query)).queryItemValue("page").toInt());
        std::string data = R"({"data":[{"id":"r)" + std::to_string((page - 1) * perPage) + "\"}";
        for (int i = (page - 1) * perPage + 1; i < std::min(rows, page * perPage); ++i)
            data += R"(,{"id":"r)" + std::to_string(i) + "\"}";
        return FakeResponse::json(page == failing ? 500 : 200,
                                  data + R"(],"meta":{"last_page":)" + std::to_string(last) + "}}");
    };
}

class ApiClientPagedList : public ServiceFixture, public ::testing::Test {};

TEST_F(ApiClientPagedList, FollowsEveryPageAndAFailedOrEndlessOneFailsTheList) {
    service.on("GET", "/api/clients", paged(250, 100, 3));
    const auto clients = test::await(client.fetchClients(100)).data;
    ASSERT_EQ(clients.size(), 250u);
    EXPECT_EQ(clients[100].id, "r100");
    EXPECT_EQ(service.requestsTo("GET", "/api/clients").back().query, "per_page=100&page=3");
    EXPECT_EQ(service.requestsTo("GET", "/api/clients").front().query, "per_page=100");

    const std::optional<QString> c1 = QStringLiteral("c1"), archived = QStringLiteral("0");
    service.on("GET", "/api/jobs", paged(9, 1, 3, 2));
    EXPECT_ANY_THROW(test::await(client.fetchJobs(c1, kNone, archived, 100)));
    service.clearRequests();
    service.on("GET", "/api/jobs", paged(1'000'000, 1, 1'000'000));
    EXPECT_THAT([&] { test::await(client.fetchJobs(c1, kNone, archived, 100)); },
                testing::ThrowsMessage<OrvaneAPIError>(
                    testing::StartsWith("Der Server kündigt mehr Seiten an")));
    EXPECT_EQ(service.requestCount(), std::size_t(kMostListPages));

    // Each row once, first place: a page sent again, a row pushed on by a new one.
    for (const auto& [pages, kept] :
         {std::pair{"c1 c2|c1 c2|c1 c2", "c1,c2"}, std::pair{"c1 c2|c2 c3|c4", "c1,c2,c3,c4"}}) {
        service.on("GET", "/api/clients", [pages](const test::RecordedRequest& r) {
            QString ids = QString(pages).split(u'|')[std::max(1, int(r.query.back() - '0')) - 1];
            const std::string rows =
                ids.replace(u' ', QStringLiteral(R"("},{"id":")")).toStdString();
            return FakeResponse::json(200, R"({"data":[{"id":")" + rows +
                                               R"("}],"meta":{"last_page":3}})");
        });
        QStringList ids;
        for (const ClientDTO& row : test::await(client.fetchClients(100)).data)
            ids << row.id;
        EXPECT_EQ(ids.join(u','), kept);
    }
}

// ---- Redirects --------------------------------------------------------------

class ApiClientRedirect : public ServiceFixture, public ::testing::Test {
protected:
    static FakeResponse movedTo(int status, const std::string& location) {
        FakeResponse moved = FakeResponse::json(status, "");
        moved.headers = {{"Location", location}};
        return moved;
    }
    std::string elsewhere(const std::string& path) const { return str(other.baseURL()) + path; }
    FakeService other;
};

TEST_F(ApiClientRedirect, TokenFollowsOnlyWithinTheOrigin) {
    service.on("GET", "/api/user", movedTo(302, "/api/v2/user"));
    service.on("GET", "/api/v2/user", movedTo(301, elsewhere("/users/1")));
    other.on("GET", "/users/1", FakeResponse::json(200, kUserReply));
    EXPECT_EQ(str(test::await(client.fetchCurrentUser()).email), "ada@example.com");
    ASSERT_EQ(service.requestCount(), 2u);
    EXPECT_EQ(service.lastRequest().header("Authorization"), "Bearer tok-1");
    ASSERT_EQ(other.requestCount(), 1u);
    EXPECT_EQ(other.lastRequest().header("Authorization"), std::nullopt);
}

TEST_F(ApiClientRedirect, ProfilePhotoOnAnotherHostGetsNoToken) {
    service.on("GET", "/storage/ada.png", movedTo(302, elsewhere("/cdn/ada.png")));
    FakeResponse png;
    png.body = "png-bytes";
    png.contentType = "image/png";
    other.on("GET", "/cdn/ada.png", png);
    const QUrl url(service.baseURL() + QStringLiteral("/storage/ada.png"));
    const ImageDataResult result = test::await(client.fetchImageData(url, true));
    EXPECT_EQ(result.response.httpStatus, 200);
    EXPECT_EQ(result.data.toStdString(), "png-bytes");
    EXPECT_EQ(service.lastRequest().header("Authorization"), "Bearer tok-1");
    ASSERT_EQ(other.requestCount(), 1u);
    EXPECT_EQ(other.lastRequest().header("Authorization"), std::nullopt);
}

// A photo address on the web may answer with a local file, a FIFO among them:
// only http and https are followed.
TEST_F(ApiClientRedirect, NothingButTheWebIsFollowed) {
    QTemporaryDir dir;
    QFile local(dir.filePath(QStringLiteral("secret.png")));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write("local-bytes");
    local.close();
    const std::string target = QUrl::fromLocalFile(local.fileName()).toString().toStdString();
    for (const std::string& to : {target, std::string("data:image/png;base64,AAAA")}) {
        SCOPED_TRACE(to);
        service.on("GET", "/storage/ada.png", movedTo(302, to));
        const QUrl url(service.baseURL() + QStringLiteral("/storage/ada.png"));
        const ImageDataResult result = test::await(client.fetchImageData(url, true));
        EXPECT_EQ(result.response.httpStatus, 302);
        EXPECT_NE(result.data.toStdString(), "local-bytes");
    }
}

TEST_F(ApiClientRedirect, MethodAndBodyChangeAsTheStatusSays) {
    const struct {
        int status;
        std::string method; // at the target
        bool keepsBody;
    } cases[] = {
        {307, "POST", true}, {308, "POST", true}, {302, "GET", false}, {303, "GET", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        other.clearRequests();
        service.on("POST", "/api/job-times/start", movedTo(c.status, elsewhere("/start")));
        other.on(c.method, "/start", FakeResponse::json(200, kJobTimeReply));
        EXPECT_EQ(start(kNoDate)(client), "7:2026-03-01T08:15:00Z");
        ASSERT_EQ(other.requestCount(), 1u);
        const auto sent = other.lastRequest();
        EXPECT_EQ(sent.method, c.method);
        EXPECT_EQ(sent.header("Authorization"), std::nullopt);
        EXPECT_EQ(sent.header("Content-Type").has_value(), c.keepsBody);
        EXPECT_EQ(sent.body, c.keepsBody ? R"({"client_id":"c1","jobtask_id":"t1"})" : "");
    }
}

TEST_F(ApiClientRedirect, SignInNeverTakesThePasswordElsewhere) {
    for (const int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        other.clearRequests();
        service.on("POST", "/api/auth/login", movedTo(status, elsewhere("/api/auth/login")));
        other.on("POST", "/api/auth/login", FakeResponse::json(200, kLoginReply));
        other.on("GET", "/api/auth/login", FakeResponse::json(200, kLoginReply));
        try {
            test::await(
                client.login("ada@example.com", "geheim", "host", std::nullopt, std::nullopt));
            ADD_FAILURE() << "signed in elsewhere";
        } catch (const OrvaneAPIError& e) {
            EXPECT_EQ(e.kind(), OrvaneAPIError::Kind::Http);
            EXPECT_EQ(e.statusCode(), status);
        } catch (const Error& e) {
            ADD_FAILURE() << str(e.localizedDescription());
        }
        EXPECT_EQ(other.requestCount(), 0u);
    }
    // Within its own origin it follows.
    service.on("POST", "/api/auth/login", movedTo(307, "/api/v2/login"));
    service.on("POST", "/api/v2/login", FakeResponse::json(200, kLoginReply));
    EXPECT_EQ(
        test::await(client.login("ada@example.com", "geheim", "host", std::nullopt, std::nullopt))
            .token,
        QStringLiteral("12|abc"));
    EXPECT_EQ(service.lastRequest().json().object().value("password").toString(), "geheim");
}

// A chain of redirects that never arrives ends as a failure of the network
// after a bounded number of hops, for reads and changes alike.
TEST_F(ApiClientRedirect, ALoopEndsAsTooManyRedirects) {
    service.on("GET", "/api/user", movedTo(302, "/api/user"));
    service.on("POST", "/api/job-times/start", movedTo(307, "/api/job-times/start"));
    for (const auto& [name, call] : std::vector<std::pair<std::string, std::function<void()>>>{
             {"read", [&] { test::await(client.fetchCurrentUser()); }},
             {"change", [&] { start(kNoDate)(client); }}}) {
        SCOPED_TRACE(name);
        service.clearRequests();
        try {
            call();
            ADD_FAILURE() << "the loop ended as a success";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.code(), QNetworkReply::TooManyRedirectsError);
            EXPECT_EQ(str(e.localizedDescription()), "Zu viele HTTP-Umleitungen");
        } catch (const Error& e) {
            ADD_FAILURE() << "ended as " << str(e.localizedDescription());
        }
        EXPECT_GE(service.requestCount(), 2u);
        EXPECT_LE(service.requestCount(), 51u);
    }
}

// ---- Bearer token ----------------------------------------------------------

int summedJobTimes = 0;
std::optional<qint64> countSummed(const JobTimeCompactDTO&) {
    ++summedJobTimes;
    return 60;
}

class ApiClientBearerToken : public ServiceFixture, public ::testing::Test {
protected:
    std::optional<std::string> authorizationSent() {
        service.on("GET", "/api/job-times/active", FakeResponse::json(200, kActiveReply));
        test::await(client.fetchActiveJobTimes());
        return service.lastRequest().header("Authorization");
    }
    // How many job times of a task read with them were summed as they
    // passed: none where a reading kept from before stood in.
    int jobTimesSummed() {
        service.on(
            "GET", "/api/job-tasks/t1",
            FakeResponse::json(200, R"({"data":{"id":"t1","job_times":[{"id":"a"},{"id":"b"}]}})"));
        client.sumJobTimesWith(&countSummed);
        summedJobTimes = 0;
        EXPECT_EQ(test::await(client.fetchJobTask(QStringLiteral("t1"), true)).bookedSecs, 120);
        return summedJobTimes;
    }
};

TEST_F(ApiClientBearerToken, IsHeldAndSentTrimmedOrNotAtAll) {
    const struct {
        std::optional<QString> given;
        std::optional<std::string> held;
    } cases[] = {
        {QStringLiteral("  tok-2 \n"), "tok-2"},
        {QStringLiteral("\ttok-3\r\n"), "tok-3"},
        {QStringLiteral("inner blanks stay"), "inner blanks stay"},
        {QStringLiteral(""), std::nullopt},
        {QStringLiteral(" \n\t "), std::nullopt},
        {std::nullopt, std::nullopt},
        // A token that could write headers of its own is no token.
        {QStringLiteral("abc\r\nX-Injected: yes"), std::nullopt},
        {QStringLiteral("abc\nX-Injected: yes"), std::nullopt},
        {QStringLiteral("ab\u0000c"), std::nullopt},
        {QStringLiteral("tök"), std::nullopt},
        {QStringLiteral("ab\u007fc"), std::nullopt},
        // No server takes a header line this long.
        {QString(4096, u'a'), std::string(4096, 'a')},
        {QString(4097, u'a'), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given ? "\"" + str(*c.given) + "\"" : "no token");
        client.setToken(c.given);
        EXPECT_EQ(jobTimesSummed(), 2) << "read anew, not as under the token before";
        EXPECT_EQ(jobTimesSummed(), 0) << "the same body again is not decoded again";
        const auto held = client.currentToken();
        EXPECT_EQ(held ? std::optional(str(*held)) : std::nullopt, c.held);
        EXPECT_EQ(authorizationSent(), c.held ? std::optional("Bearer " + *c.held) : std::nullopt);
        EXPECT_EQ(service.lastRequest().header("X-Injected"), std::nullopt);
    }
}

TEST_F(ApiClientBearerToken, GoesOnlyToTheServiceItWasGivenFor) {
    FakeService other;
    other.on("GET", "/api/job-times/active", FakeResponse::json(200, kActiveReply));
    other.on("GET", "/avatar.png", FakeResponse::json(200, "png"));
    const QString otherBase = other.baseURL();
    const struct {
        const char* name;
        std::function<void()> call;
    } calls[] = {
        {"request", [&] { test::await(client.fetchActiveJobTimes()); }},
        {"image",
         [&] { test::await(client.fetchImageData(QUrl(otherBase + "/avatar.png"), true)); }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        // The settings now name another service; the token stays with its own.
        configureBaseURL(otherBase);
        c.call();
        EXPECT_EQ(other.lastRequest().header("Authorization"), std::nullopt);
        EXPECT_EQ(client.currentToken(), QStringLiteral("tok-1"));

        // Given again now, it belongs to the new one.
        client.setToken(QStringLiteral("tok-2"));
        c.call();
        EXPECT_EQ(other.lastRequest().header("Authorization"), "Bearer tok-2");

        configureBaseURL(service.baseURL());
        EXPECT_EQ(authorizationSent(), std::nullopt);
        client.setToken(QStringLiteral("tok-1"));
        EXPECT_EQ(authorizationSent(), "Bearer tok-1");
    }
}

TEST_F(ApiClientBearerToken, LatestTokenWinsAndFailuresLeaveItAlone) {
    client.setToken(QStringLiteral("second"));
    EXPECT_EQ(authorizationSent(), "Bearer second");
    service.on("GET", "/api/user", FakeResponse::json(401, "{}"));
    expectOutcome([&] { test::await(client.fetchCurrentUser()); }, http(401, "{}"));
    EXPECT_EQ(client.currentToken(), QStringLiteral("second"));
}

TEST_F(ApiClientBearerToken, InFlightRequestKeepsTheTokenItWasBuiltWith) {
    FakeResponse slow = FakeResponse::json(200, kActiveReply);
    slow.delay = std::chrono::milliseconds(200);
    service.on("GET", "/api/job-times/active", slow);
    auto pending = client.fetchActiveJobTimes();
    client.setToken(QStringLiteral("tok-2"));
    EXPECT_EQ(test::await(std::move(pending)).size(), 2u);
    EXPECT_EQ(service.lastRequest().header("Authorization"), "Bearer tok-1");
}

} // namespace
