#include "service/display_texts.h"
#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "service/transport_error.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/temp_user_defaults.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace orvane;
using test::FakeResponse;
using test::StreamedBody;

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// The longest the event loop went without turning while this lived.
class LoopGaps {
public:
    LoopGaps() {
        QObject::connect(&beat_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, clock_.restart()); });
        clock_.start();
        beat_.start(5);
    }
    qint64 longestMs() const { return std::max(longest_, clock_.elapsed()); }

private:
    QTimer beat_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

// A figure of /proc/self/status in bytes ("VmRSS", "VmHWM": now and the peak).
std::size_t memory(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toULongLong() * 1024;
    return 0;
}

// Starts the peak ("VmHWM") over from what the process holds now.
void resetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

FakeResponse streamed(int status, std::string head, std::string unit, std::size_t units,
                      std::string tail, std::string type = "application/json") {
    FakeResponse answer = FakeResponse::json(status, "");
    answer.contentType = std::move(type);
    answer.streamed = StreamedBody{std::move(head), std::move(unit), units, std::move(tail)};
    return answer;
}

std::string jobTimeRow(int i) {
    return R"({"id":"jt-)" + std::to_string(i) +
           R"(","start_time":"2026-03-02T08:00:00Z","end_time":"2026-03-02T09:00:00Z",)"
           R"("client":{"id":"c1","company_name":"Kundin GmbH"},"job":{"id":"j1","title":"Job"},)"
           R"("job_task":{"id":"t1","title":"Design"}},)";
}

struct Oversized {
    const char* name;
    std::string method;
    std::string path;
    FakeResponse answer;
    qint64 limit;
    std::function<void(OrvaneAPIClient&, const QString& base)> run;
};

void PrintTo(const Oversized& c, std::ostream* os) {
    *os << c.name;
}

class ReplyLimits : public ::testing::TestWithParam<Oversized> {
protected:
    ReplyLimits() {
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
        client.setToken(QStringLiteral("tok-1"));
    }
    test::TempUserDefaults defaults;
    test::FakeService service;
    OrvaneAPIClient client;
};

} // namespace

// What a broken service sends is aborted while it streams: the loop keeps
// turning, memory stays small, and the caller gets a text a person can read.
TEST_P(ReplyLimits, AnOversizedReplyIsAbortedWhileItStreams) {
    const Oversized& c = GetParam();
    service.on(c.method, c.path, c.answer);
    resetPeakMemory();
    const std::size_t before = memory("VmRSS");
    std::optional<TransportError> failure;
    qint64 longestGap = 0;
    {
        LoopGaps gaps;
        try {
            c.run(client, service.baseURL());
        } catch (const TransportError& e) {
            failure = e;
        }
        longestGap = gaps.longestMs();
    }
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->isTooLarge());
    EXPECT_FALSE(failure->cancelled());
    EXPECT_EQ(failure->localizedDescription(),
              "Die Antwort des Servers ist zu groß und wurde abgebrochen.");
    const std::size_t peak = memory("VmHWM");
    RecordProperty("longest_loop_gap_ms", std::to_string(longestGap));
    RecordProperty("peak_rss_mib", std::to_string(peak / kMiB));
    RecordProperty("peak_growth_mib", std::to_string((peak - before) / kMiB));
    EXPECT_LT(longestGap, 100);
    EXPECT_LT(peak - before, 150 * kMiB);
    // What the socket buffers hold besides is all that left the service.
    EXPECT_LT(c.answer.streamed->sent->load(), std::size_t(c.limit) + 16 * kMiB);
}

INSTANTIATE_TEST_SUITE_P(
    EachKindOfReply, ReplyLimits,
    ::testing::Values(
        Oversized{"SignInRefusedWith28MBBody", "POST", "/api/auth/login",
                  streamed(422, R"({"message":")", std::string(64 * 1024, 'x'), 28 * 16, R"("})"),
                  kErrorReplyBytes,
                  [](OrvaneAPIClient& client, const QString&) {
                      test::await(
                          client.login("a@b.de", "pw", "Gerät", std::nullopt, std::nullopt));
                  }},
        Oversized{"UserNamed10MB", "GET", "/api/user",
                  streamed(200, R"({"id":1,"email":"a@b.de","name":")", std::string(64 * 1024, 'N'),
                           10 * 16, R"("})"),
                  kRecordReplyBytes,
                  [](OrvaneAPIClient& client, const QString&) {
                      test::await(client.fetchCurrentUser());
                  }},
        Oversized{"HundredThousandJobTimes", "GET", "/api/job-times/active",
                  streamed(200, R"({"data":[)", jobTimeRow(1), 100'000, R"({"id":"last"}]})"),
                  kPageReplyBytes,
                  [](OrvaneAPIClient& client, const QString&) {
                      test::await(client.fetchActiveJobTimes());
                  }},
        Oversized{
            "HundredThousandClients", "GET", "/api/clients",
            streamed(200, R"({"data":[)", R"({"id":"c","company_name":"Kundin GmbH"},)", 100'000,
                     R"({"id":"last"}]})"),
            kPageReplyBytes,
            [](OrvaneAPIClient& client, const QString&) { test::await(client.fetchClients(100)); }},
        Oversized{"PhotoWithoutLength", "GET", "/storage/p.png",
                  streamed(200, "\x89PNG", std::string(64 * 1024, '\0'), 200 * 16, "", "image/png"),
                  5 * 1024 * 1024,
                  [](OrvaneAPIClient& client, const QString& base) {
                      test::await(client.fetchImageData(QUrl(base + "/storage/p.png"), true,
                                                        5 * 1024 * 1024));
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PageRows, APageKeepsNoMoreRowsThanWereAskedFor) {
    test::TempUserDefaults defaults;
    test::FakeService service;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    OrvaneAPIClient client;
    std::string clients, jobs;
    for (int i = 0; i < 150; ++i) {
        const std::string id = std::to_string(i);
        clients += std::string(i ? "," : "") + R"({"id":"c)" + id + R"("})";
        jobs += std::string(i ? "," : "") + R"({"id":"j)" + id + R"(","title":"J"})";
    }
    service.on("GET", "/api/clients", FakeResponse::json(200, R"({"data":[)" + clients + "]}"));
    service.on("GET", "/api/jobs", FakeResponse::json(200, R"({"data":[)" + jobs + "]}"));
    const auto gotClients = test::await(client.fetchClients(100)).data;
    const auto gotJobs =
        test::await(client.fetchJobs(std::nullopt, std::nullopt, std::nullopt, 100)).data;
    ASSERT_EQ(gotClients.size(), 100u);
    ASSERT_EQ(gotJobs.size(), 100u);
    EXPECT_EQ(gotClients.front().id, "c0");
    EXPECT_EQ(gotClients.back().id, "c99");
    EXPECT_EQ(gotJobs.back().id, "j99");
}

TEST(DisplayTexts, ServiceTextsAreCutBeforeAnyLayoutAndIdsAreKept) {
    test::TempUserDefaults defaults;
    test::FakeService service;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    OrvaneAPIClient client;
    const std::string longName(200'000, 'N');
    const std::string longId(1000, '7');
    service.on("GET", "/api/user",
               FakeResponse::json(200, R"({"id":")" + longId + R"(","email":"a@b.de","name":")" +
                                           longName + R"("})"));
    const APIUser user = test::await(client.fetchCurrentUser());
    EXPECT_EQ(user.name, QString(kMostDisplayChars, u'N'));
    EXPECT_EQ(user.id.size(), 1000);
    EXPECT_EQ(user.email, "a@b.de");

    service.on("POST", "/api/auth/login",
               FakeResponse::json(422, R"({"message":")" + std::string(50'000, 'x') + R"("})"));
    try {
        test::await(client.login("a@b.de", "pw", "Gerät", std::nullopt, std::nullopt));
        ADD_FAILURE() << "the refusal was taken";
    } catch (const OrvaneAPIError& e) {
        const QString text = e.localizedDescription();
        EXPECT_TRUE(text.startsWith(u"HTTP 422: {\"message\":\"xxx"))
            << text.left(40).toStdString();
        EXPECT_LE(text.size(), 10 + kMostDisplayChars);
    }

    // Short texts stay as they are; a cut never splits a surrogate pair.
    EXPECT_EQ(boundedDisplayText(QStringLiteral("Kundin GmbH")), "Kundin GmbH");
    const QString emoji = QString(kMostDisplayChars - 1, u'a') + QString::fromUtf8("😀") + u'b';
    EXPECT_EQ(boundedDisplayText(emoji), QString(kMostDisplayChars - 1, u'a'));
}
