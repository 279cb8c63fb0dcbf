#include "service/display_texts.h"
#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "service/transport_error.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/temp_user_defaults.h"

#include <QElapsedTimer>
#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

using namespace orvane;
using test::FakeResponse;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// A figure of /proc/self/status in bytes: "VmRSS" now, "VmHWM" the peak.
std::size_t memory(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toULongLong() * 1024;
    return 0;
}

// `units` times `unit` between `head` and `tail`, streamed without a length.
FakeResponse streamed(int status, std::string head, std::string unit, std::size_t units,
                      std::string tail = "", std::string type = "application/json",
                      std::string coding = "identity") {
    FakeResponse answer = FakeResponse::json(status, "");
    answer.headers = {{"Content-Encoding", coding}};
    answer.contentType = std::move(type);
    answer.streamed = test::StreamedBody{std::move(head), std::move(unit), units, std::move(tail)};
    return answer;
}

struct Oversized {
    const char* name;
    std::string method, path;
    FakeResponse answer;
    qint64 limit;
    std::function<void(OrvaneAPIClient&, const QString& base)> run;
    QString says = QStringLiteral("Die Antwort des Servers ist zu groß und wurde abgebrochen.");
};

void PrintTo(const Oversized& c, std::ostream* os) {
    *os << c.name;
}

class ReplyLimits : public ::testing::TestWithParam<Oversized> {
protected:
    ReplyLimits() { defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL()); }
    test::TempUserDefaults defaults;
    test::FakeService service;
    OrvaneAPIClient client;
};

const std::string k64K(64 * 1024, 'x');
// A proxy's page of letters that compression hardly shrinks: the fake
// compresses it, and counts what it sent before compressing.
const std::string kPage = [s = std::string("<html>"), x = 1u]() mutable {
    while (s.size() < 64 * 1024)
        s += char('a' + ((x = x * 1664525u + 1013904223u) >> 24) % 26);
    return s;
}();

} // namespace

// What a broken service sends is aborted while it streams: the loop keeps
// turning, memory stays small, and the caller gets a text a person can read.
TEST_P(ReplyLimits, AnOversizedReplyIsAbortedWhileItStreams) {
    const Oversized& c = GetParam();
    // A loaded machine: the loop stalls as the answer begins, before it reads
    // any of it, and a client that reads on meanwhile takes in the whole body.
    service.on(c.method, c.path, [&c](const test::RecordedRequest&) {
        QMetaObject::invokeMethod(
            qApp, [] { QThread::msleep(300); }, Qt::QueuedConnection);
        return c.answer;
    });
    if (QFile clear(QStringLiteral("/proc/self/clear_refs")); clear.open(QIODevice::WriteOnly))
        clear.write("5"); // the peak starts over
    const std::size_t before = memory("VmRSS");
    qint64 longestGap = 0;
    QElapsedTimer sinceBeat;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
    sinceBeat.start();
    beat.start(5);
    std::optional<QString> failure;
    try {
        c.run(client, service.baseURL());
    } catch (const TransportError& e) {
        failure = e.localizedDescription();
    } catch (const OrvaneAPIError& e) {
        failure = e.localizedDescription();
    }
    longestGap = std::max(longestGap, sinceBeat.elapsed());
    const std::size_t peak = memory("VmHWM");
    RecordProperty("longest_loop_gap_ms", std::to_string(longestGap));
    RecordProperty("peak_rss_mib", std::to_string(peak / kMiB));
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->startsWith(c.says)) << failure->left(80).toStdString();
    // Reading it whole stalled for seconds; a loaded machine alone can
    // delay a beat by a few hundred milliseconds.
    EXPECT_LT(longestGap, 1000);
    // A growing buffer is held twice while it moves, and ASan keeps the
    // ones it left a while longer.
    EXPECT_LT(std::max(peak, before) - before, 5 * std::size_t(c.limit) + 150 * kMiB);
    // What the socket buffers hold besides is all that left the service.
    EXPECT_LT(c.answer.streamed->sent->load(), std::size_t(c.limit) + 16 * kMiB);
}

INSTANTIATE_TEST_SUITE_P(
    EachKindOfReply, ReplyLimits,
    ::testing::Values(
        Oversized{"SignInRefusedWith28MBBody", "POST", "/api/auth/login",
                  streamed(422, R"({"message":")", k64K, 28 * 16, R"("})"), kErrorReplyBytes,
                  [](OrvaneAPIClient& api, const QString&) {
                      test::await(api.login("a@b.de", "pw", "PC", std::nullopt, std::nullopt));
                  },
                  "HTTP 422: {\"message\":\"xxx"},
        Oversized{"StartAnswered28MB", "POST", "/api/job-times/start",
                  streamed(200, R"({"data":{"id":")", k64K, 28 * 16, R"("}})"), kRecordReplyBytes,
                  [](OrvaneAPIClient& api, const QString&) {
                      test::await(api.startJobTime("c1", "t1", std::nullopt));
                  }},
        Oversized{"StopAnswered28MB", "PATCH", "/api/job-times/7/stop",
                  streamed(200, R"({"data":{"id":")", k64K, 28 * 16, R"("}})"), kRecordReplyBytes,
                  [](OrvaneAPIClient& api, const QString&) {
                      test::await(api.stopJobTime("7", std::nullopt));
                  }},
        Oversized{"SaveRefusedWithA28MBProxyPage", "PATCH", "/api/job-times/7",
                  streamed(502, "", kPage, 28 * 16, "", "text/html"), kErrorReplyBytes,
                  [](OrvaneAPIClient& api, const QString&) {
                      test::await(api.updateJobTime("7", true, "up", 15));
                  },
                  "HTTP 502: <html>"},
        Oversized{
            "UserNamed10MB", "GET", "/api/user",
            streamed(200, R"({"id":1,"email":"a@b.de","name":")", k64K, 10 * 16, R"("})"),
            kRecordReplyBytes,
            [](OrvaneAPIClient& api, const QString&) { test::await(api.fetchCurrentUser()); }},
        Oversized{
            "HundredThousandJobTimes", "GET", "/api/job-times/active",
            streamed(200, R"({"data":[)",
                     R"({"id":"jt","start_time":"2026-03-02T08:00:00Z","client":{"id":"c1",)"
                     R"("company_name":"Kundin GmbH"},"job":{"id":"j1","title":"Job"}},)",
                     100'000, R"({"id":"last"}]})"),
            kPageReplyBytes,
            [](OrvaneAPIClient& api, const QString&) { test::await(api.fetchActiveJobTimes()); }},
        Oversized{"TwoMillionClients", "GET", "/api/clients",
                  streamed(200, R"({"data":[)", R"({"id":"c","company_name":"Kundin GmbH"},)",
                           2'000'000, R"({"id":"last"}]})"),
                  kListReplyBytes,
                  [](OrvaneAPIClient& api, const QString&) { test::await(api.fetchClients(100)); }},
        Oversized{
            "EndlessGzipHeader", "GET", "/api/user",
            streamed(200, std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10), k64K, 448, "",
                     "application/json", "gzip"),
            kRecordReplyBytes,
            [](OrvaneAPIClient& api, const QString&) { test::await(api.fetchCurrentUser()); }},
        Oversized{"PhotoWithoutLength", "GET", "/p.png",
                  streamed(200, "\x89PNG", k64K, 200 * 16, "", "image/png"), 5 * kMiB,
                  [](OrvaneAPIClient& api, const QString& base) {
                      test::await(api.fetchImageData(QUrl(base + "/p.png"), true, 5 * kMiB));
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyContents, AListKeepsEveryRowItBringsAndServiceTextsAreCutBeforeAnyLayout) {
    test::TempUserDefaults defaults;
    test::FakeService service;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    OrvaneAPIClient client;
    std::string clients = R"({"id":"c0"})";
    for (int i = 1; i < 150; ++i)
        clients += R"(,{"id":"c)" + std::to_string(i) + R"("})";
    service.on("GET", "/api/clients", FakeResponse::json(200, R"({"data":[)" + clients + "]}"));
    const auto page = test::await(client.fetchClients(100)).data;
    ASSERT_EQ(page.size(), 150u); // more than asked for, yet the whole list
    EXPECT_EQ(page.back().id, "c149");

    const std::string longId(1000, '7');
    service.on("GET", "/api/user",
               FakeResponse::json(200, R"({"id":")" + longId + R"(","email":"a@b.de","name":")" +
                                           std::string(200'000, 'N') + R"("})"));
    const APIUser user = test::await(client.fetchCurrentUser());
    EXPECT_EQ(user.name, QString(kMostDisplayChars, u'N'));
    EXPECT_EQ(user.id.size(), 1000); // ids go back to the service whole
    // The task step of the largest account, about 110 MB: blanks stand in for its records.
    service.on(
        "GET", "/api/jobs/j1/job-tasks",
        streamed(200, R"({"data":[{"id":"t1"})", std::string(k64K.size(), ' '), 112 * 16, "]}"));
    EXPECT_EQ(test::await(client.fetchJobTasks(QStringLiteral("j1"), true)).size(), 1u);
    const OrvaneAPIError refused = OrvaneAPIError::http(422, QByteArray(50'000, 'x'));
    EXPECT_EQ(refused.localizedDescription(), "HTTP 422: " + QString(kMostDisplayChars, u'x'));

    const QString pair = QString(kMostDisplayChars - 1, u'a') + QString::fromUtf8("😀");
    EXPECT_EQ(boundedDisplayText(pair), pair.left(kMostDisplayChars - 1));
    EXPECT_EQ(boundedDisplayText(QStringLiteral("Kundin GmbH")), "Kundin GmbH");
}

TEST(ReplyContents, AJobsTaskListKeepsEveryTaskInTheServicesOrder) {
    test::TempUserDefaults defaults;
    test::FakeService service;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    OrvaneAPIClient client;
    for (const int count : {3, 1001, 5000}) { // past the 1000 that were once kept
        std::string tasks;
        for (int i = 0; i < count; ++i)
            tasks += std::string(i ? "," : "") + R"({"id":"t)" + std::to_string(i) + R"("})";
        service.on("GET", "/api/jobs/j1/job-tasks",
                   FakeResponse::json(200, R"({"data":[)" + tasks + "]}"));
        const auto list = test::await(client.fetchJobTasks(QStringLiteral("j1"), true));
        ASSERT_EQ(int(list.size()), count);
        EXPECT_EQ(list.front().id, "t0");
        EXPECT_EQ(list.back().id, QStringLiteral("t%1").arg(count - 1));
    }
}
