#include "platform/http_session.h"
#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "service/transport_error.h"
#include "support/await.h"
#include "support/compressed_bodies.h"
#include "support/fake_service.h"
#include "support/raw_server.h"
#include "support/temp_user_defaults.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QScopeGuard>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include <dlfcn.h>
#include <zlib.h>

using namespace orvane;
using orvane::test::compressed;
using orvane::test::emptyDynamicBlocks;
using orvane::test::emptyMembersGzipped;
using orvane::test::FakeResponse;
using orvane::test::FakeService;
using orvane::test::RawReply;
using orvane::test::RawRequest;
using orvane::test::RawServer;

namespace {

const std::string kJobTime = R"({"data":{"id":7,"client_id":"c1","jobtask_id":"t1"}})";
const std::string kLogin = R"({"token":"12|abc","user":{"id":5,"email":"ada@example.com"}})";
const std::string kUser = R"({"id":1,"email":"ada@example.com"})";

std::string methodAndPath(const RawRequest& request) {
    return request.method + " " + request.target.substr(0, request.target.find('?'));
}

// What the caller of a call sees: "ok", or the German text of its failure.
std::string outcome(const std::function<void()>& call) {
    try {
        call();
        return "ok";
    } catch (const TransportError& error) {
        return "transport: " + error.localizedDescription().toStdString();
    } catch (const Error& error) {
        return "other: " + error.localizedDescription().toStdString();
    }
}

const std::string kConnectionLost = "transport: Die Netzwerkverbindung wurde unterbrochen.";

struct Call {
    std::string name;
    std::string method;
    std::string path;
    std::function<void(OrvaneAPIClient&)> run;
};

std::vector<Call> calls() {
    return {
        {"start", "POST", "/api/job-times/start",
         [](OrvaneAPIClient& c) {
             test::await(c.startJobTime(QStringLiteral("c1"), QStringLiteral("t1"), std::nullopt));
         }},
        {"stop", "PATCH", "/api/job-times/7/stop",
         [](OrvaneAPIClient& c) { test::await(c.stopJobTime(QStringLiteral("7"), std::nullopt)); }},
        {"update", "PATCH", "/api/job-times/7",
         [](OrvaneAPIClient& c) {
             test::await(c.updateJobTime(QStringLiteral("7"), true, QStringLiteral("up"), 15));
         }},
        {"sign-in", "POST", "/api/auth/login",
         [](OrvaneAPIClient& c) {
             test::await(c.login(QStringLiteral("a@b.de"), QStringLiteral("pw"),
                                 QStringLiteral("host"), std::nullopt, std::nullopt));
         }},
        {"sign-out", "POST", "/api/auth/logout",
         [](OrvaneAPIClient& c) { test::await(c.logout()); }},
    };
}

// The service behind a proxy that passes every request on and can lose the
// answers of the first few, as a connection that drops after the service
// acted would.
class BehindABreakingProxy : public ::testing::Test {
protected:
    BehindABreakingProxy()
        : proxy([this](const RawRequest& request) {
              const std::string answer = test::forwardRaw(service.port(), request);
              if (answersToLose > 0) {
                  --answersToLose;
                  return RawReply::dropped();
              }
              return RawReply{answer};
          }) {
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, proxy.baseURL());
        client.setToken(QStringLiteral("tok-1"));
        service.on("POST", "/api/job-times/start", FakeResponse::json(201, kJobTime));
        service.on("PATCH", "/api/job-times/7/stop", FakeResponse::json(200, kJobTime));
        service.on("PATCH", "/api/job-times/7", FakeResponse::json(200, kJobTime));
        service.on("POST", "/api/auth/login", FakeResponse::json(200, kLogin));
        service.on("POST", "/api/auth/logout", FakeResponse::json(204, ""));
        service.on("GET", "/api/user", FakeResponse::json(200, kUser));
    }

    test::TempUserDefaults defaults;
    FakeService service;
    std::atomic<int> answersToLose{0};
    RawServer proxy;
    OrvaneAPIClient client;
};

} // namespace

TEST_F(BehindABreakingProxy, ChangeIsSentOnceAndALostAnswerIsAConnectionFailure) {
    for (const Call& call : calls()) {
        SCOPED_TRACE(call.name);
        service.clearRequests();
        answersToLose = 1;
        EXPECT_EQ(outcome([&] { call.run(client); }), kConnectionLost);
        EXPECT_EQ(service.requestsTo(call.method, call.path).size(), 1u);

        // The next try is a new action of the user's and goes through.
        EXPECT_EQ(outcome([&] { call.run(client); }), "ok");
        EXPECT_EQ(service.requestsTo(call.method, call.path).size(), 2u);
    }
}

TEST_F(BehindABreakingProxy, ReadIsRepeatedQuietlyWhenItsAnswerIsLost) {
    answersToLose = 1;
    EXPECT_EQ(outcome([&] { test::await(client.fetchCurrentUser()); }), "ok");
    EXPECT_EQ(service.requestsTo("GET", "/api/user").size(), 2u);
}

// A host that keeps connections open after a read, and has forgotten them by
// the time the next request comes: whatever arrives on a kept connection is
// met with a close, as at the end of a keep-alive time-out.
TEST(StaleKeptAliveConnection, ChangeAfterAReadStillSucceedsOnTheFirstTry) {
    RawServer host([](const RawRequest& request) {
        if (request.indexOnConnection > 0)
            return RawReply::dropped();
        const std::string path = methodAndPath(request);
        if (path == "GET /api/user")
            return RawReply{test::rawHttpReply(200, kUser, true), false};
        if (path == "POST /api/job-times/start")
            return RawReply{test::rawHttpReply(201, kJobTime)};
        return RawReply{test::rawHttpReply(404, "{}")};
    });
    test::TempUserDefaults defaults;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, host.baseURL());
    OrvaneAPIClient client;
    client.setToken(QStringLiteral("tok-1"));

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(outcome([&] { test::await(client.fetchCurrentUser()); }), "ok");
        EXPECT_EQ(outcome([&] {
                      test::await(client.startJobTime(QStringLiteral("c1"), QStringLiteral("t1"),
                                                      std::nullopt));
                  }),
                  "ok");
    }
    int starts = 0;
    for (const RawRequest& request : host.requests())
        starts += methodAndPath(request) == "POST /api/job-times/start";
    EXPECT_EQ(starts, 3);
}

TEST(StaleKeptAliveConnection, ChallengedChangeIsAnsweredWithTheCredential) {
    test::TempUserDefaults defaults;
    FakeService service;
    service.requireBasicAuth("stage", "secret");
    service.on("POST", "/api/job-times/start", FakeResponse::json(201, kJobTime));
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    defaults->setString("orvane_http_basic_user", "stage");
    defaults->setString("orvane_http_basic_password", "secret");
    OrvaneAPIClient client;
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(outcome([&] {
                      test::await(client.startJobTime(QStringLiteral("c1"), QStringLiteral("t1"),
                                                      std::nullopt));
                  }),
                  "ok");
    const auto sent = service.requestsTo("POST", "/api/job-times/start");
    ASSERT_EQ(sent.size(), 4u); // each: refused bare, then once with the credential
    EXPECT_EQ(sent[1].body, sent[0].body);
    EXPECT_EQ(sent[1].json()["jobtask_id"].toString().toStdString(), "t1");
}

// ---- Replies that break off after their status line ----

TEST(CutOffReply, IsAConnectionFailureWhateverStatusCameFirst) {
    const struct {
        std::string name;
        std::string bytes;
        bool lengthAnnounced; // else only the framing tells the body is short
    } cases[] = {
        {"body shorter than announced",
         "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 500\r\n\r\n"
         R"({"id":1,"email":"a@b.de")",
         true},
        {"error status with its body cut",
         "HTTP/1.1 422 X\r\nContent-Type: application/json\r\nContent-Length: 90\r\n\r\n"
         R"({"message":)",
         true},
        {"chunked body without its last chunk",
         "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
         "8\r\n{\"id\":1,\r\n",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawServer host([&](const RawRequest&) { return RawReply{c.bytes}; });
        test::TempUserDefaults defaults;
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, host.baseURL());
        OrvaneAPIClient client;
        client.setToken(QStringLiteral("tok-1"));
        // A change goes out once: its answer's end is seen as it is.
        EXPECT_EQ(outcome([&] { test::await(client.logout()); }), kConnectionLost);
        const std::string reads[] = {
            outcome([&] { test::await(client.fetchCurrentUser()); }),
            outcome([&] { test::await(client.fetchActiveJobTimes()); }),
        };
        for (const std::string& read : reads) {
            if (c.lengthAnnounced)
                EXPECT_EQ(read, kConnectionLost);
            else // Qt repeats reads and may then pass the cut body on: it must not decode
                EXPECT_NE(read, "ok");
        }
    }
}

namespace {

// Every byte zlib inflates in this process: the work a reply costs, counted
// where it is done.
std::atomic<quint64> inflatedBytes = 0;
std::atomic<int> inflatedOnMainThread = 0;

} // namespace

int inflate(z_streamp stream, int flush) {
    using Inflate = int (*)(z_streamp, int);
    static const auto real = reinterpret_cast<Inflate>(dlsym(RTLD_NEXT, "inflate"));
    const uLong before = stream->total_out;
    const int result = real(stream, flush);
    inflatedBytes += stream->total_out - before;
    inflatedOnMainThread += QThread::currentThread() == qApp->thread();
    return result;
}

namespace {

// A record's reply, or with `bound` an image of at most that many bytes:
// "ok", its status and its size, or the failure.
std::string fetched(OrvaneAPIClient& client, const QString& url, qint64 bound) {
    if (bound == 0)
        return outcome([&] { test::await(client.fetchCurrentUser()); });
    std::string seen;
    const std::string failure = outcome([&] {
        const ImageDataResult image =
            test::await(client.fetchImageData(QUrl(url + "/api/user"), false, bound));
        seen = " " + std::to_string(image.response.httpStatus.value_or(0)) + " " +
               std::to_string(image.data.size());
    });
    return failure + seen;
}

} // namespace

TEST(CutOffReply, ACompressedBodyIsReadWholeOrRefusedAndAnErrorStatusStands) {
    const std::string head("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10); // gzip, then no stream
    const std::string invalid = "transport: Ungültige Antwort vom Server.";
    const std::string tooLarge =
        "transport: Die Antwort des Servers ist zu groß und wurde abgebrochen.";
    // 20 MB of empty members in their first stage.
    const std::string emptyMembers = emptyMembersGzipped(1'000'000);
    // 12 000 bytes that pass an 8 KiB bound, in a zlib stream whose check
    // value is wrong: all of them come out of one call that also fails.
    std::string badCheck = compressed(std::string(12'000, 'x'), 15);
    badCheck.back() = char(badCheck.back() ^ 1);
    // 4 MiB of empty dynamic blocks, gzipped: their bytes cost zlib most.
    const std::string emptyBlocks = compressed(emptyDynamicBlocks(47'000), 31);
    const std::string fourFold = compressed(compressed(emptyMembers, 31), 31);
    const std::string fourGzip = "gzip, gzip, gzip, gzip";
    const std::string brokenHead = "\x1f\x8b\x09" + std::string(200, 'x');
    using namespace std::chrono_literals;
    const struct {
        int status;
        std::string coding, body, seen;
        // Refused from its headers, the body not sent: the service closes at
        // once (0) or after this long.
        std::optional<std::chrono::milliseconds> bodyless;
        qint64 bound = 0; // else fetched as an image of at most this much
        bool byteByByte = false;
        bool lengthAnnounced = true;
        bool inflatesToNothing = false; // in its last stage: all is the stages' before
    } cases[] = {
        {200, "gzip", head, invalid},
        {200, "gzip", head + "\xff\xff", invalid},
        {200, "deflate", compressed(kUser, -15), "ok"}, // without the zlib wrapper
        // Ending in a long repeat across a multiple of 16 KiB: zlib may still
        // hold output once the input is used up.
        {200, "deflate", compressed(kUser + std::string(16'338, ' '), -15), "ok"},
        {200, "deflate", compressed(kUser + std::string(16'400, ' '), -15), "ok"},
        {200, "deflate", compressed(kUser + std::string(16'420, ' '), -15), "ok"},
        {200, "deflate", compressed(kUser + std::string(32'760, ' '), -15), "ok"},
        {200, "deflate", compressed(kUser + std::string(49'150, ' '), -15), "ok"},
        {200, "gzip", compressed(kUser.substr(0, 9), 31) + compressed(kUser.substr(9), 31), "ok"},
        {200, "gzip", compressed(kUser, 31) + "garbage", invalid},
        {200, "deflate", compressed(kUser, 15) + compressed(kUser, 15), invalid},
        {200, "gzip, deflate", compressed(compressed(kUser, 31), 15), "ok"},
        {200, "Deflate , x-gzip", compressed(compressed(kUser, -15), 31), "ok"},
        {200, "identity, gzip, gzip",
         compressed(compressed(kUser + std::string(250'000, ' '), 31), 31), "ok"},
        // Each stage is bounded, not only the last: stacked, empty members
        // would inflate to gigabytes of nothing.
        {200, "gzip, gzip", emptyMembers, tooLarge, {}, 0, false, true, true},
        {200, "gzip, gzip, gzip", compressed(emptyMembers, 31), tooLarge, {}, 0, false, true, true},
        // The same answer however the body is split on its way.
        {200, "deflate", badCheck, tooLarge, {}, 8192},
        {200, "deflate", badCheck, tooLarge, {}, 8192, true},
        {422, "deflate", badCheck, "ok 422 8192", {}, 8192},
        {422, "deflate", badCheck, "ok 422 8192", {}, 8192, true},
        // A stage before the last makes a small multiple of what it is
        // given: hostile middles are refused before they cost much.
        {200, "deflate, gzip", emptyBlocks, tooLarge, {}, kListReplyBytes, false, true, true},
        {200, fourGzip, fourFold, tooLarge, {}, kTasksReplyBytes, false, true, true},
        // A stream that takes far more than it makes is no encoder's.
        {200, "deflate", emptyDynamicBlocks(16'000), invalid, {}, kListReplyBytes},
        // The bytes decide in their order: a fault before the byte that
        // passes the bound, however they came.
        {200, "gzip, gzip", compressed(std::string(100, 'x'), 31), invalid, {}, 64},
        {200, "gzip, gzip", compressed(std::string(100, 'x'), 31), invalid, {}, 64, true},
        {200, "gzip", brokenHead, invalid, {}, 64, false, false},
        {200, "gzip", brokenHead, invalid, {}, 64, true, false},
        {200, "br", kUser, invalid},
        {200, "br", kUser, invalid, 0ms}, // the service closes at once: the reply ends once
        {200, "br", kUser, invalid, 30s}, // silent: cut after a grace, not when it lets go
        {401, "gzip", head + "\xff\xff", "other: HTTP 401: "},
    };
    // Qt tells of a reply ended twice only in its log.
    static std::atomic<int> endedTwice = 0;
    static QtMessageHandler logged = nullptr;
    logged = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& at, const QString& text) {
            endedTwice += text.contains(u"must only be called once");
            if (logged)
                logged(type, at, text);
        });
    const auto restore = qScopeGuard([] { qInstallMessageHandler(logged); });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.coding + std::to_string(c.body.size()) + (c.byteByByte ? " paced" : ""));
        RawServer host([&](const RawRequest&) {
            // The loop busy as the headers come: by the time it reads them,
            // the service's close has come too.
            if (c.bodyless)
                QMetaObject::invokeMethod(
                    qApp, [] { QThread::msleep(100); }, Qt::QueuedConnection);
            const std::string length =
                c.lengthAnnounced ? "Content-Length: " + std::to_string(c.body.size()) + "\r\n"
                                  : "Connection: close\r\n";
            RawReply reply{"HTTP/1.1 " + std::to_string(c.status) + " X\r\nContent-Encoding: " +
                           c.coding + "\r\n" + length + "\r\n" + (c.bodyless ? "" : c.body)};
            reply.holdOpen = c.bodyless.value_or(0ms);
            reply.byteGap = c.byteByByte ? 2ms : 0ms;
            return reply;
        });
        test::TempUserDefaults defaults;
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, host.baseURL());
        OrvaneAPIClient client;
        endedTwice = 0;
        const quint64 inflatedBefore = inflatedBytes;
        inflatedOnMainThread = 0;
        EXPECT_EQ(fetched(client, host.baseURL(), c.bound), c.seen);
        // The last stage makes at most the bound, each before it twice the
        // wire, rounded up to 16 KiB, and 64 KiB.
        const qint64 stages = std::count(c.coding.begin(), c.coding.end(), ',') + 1;
        const qint64 wire = qint64(c.body.size()) + 16 * 1024;
        const qint64 last = c.inflatesToNothing ? 0 : (c.bound ? c.bound : kRecordReplyBytes);
        EXPECT_LE(inflatedBytes - inflatedBefore,
                  quint64((stages - 1) * (2 * wire + 64 * 1024) + last + 16 * 1024));
        EXPECT_EQ(inflatedOnMainThread.load(), 0);
        if (c.bodyless) {
            EXPECT_EQ(endedTwice.load(), 0);
        }
    }
}

TEST(CutOffReply, StallInTheMiddleOfABodyIsATimeOut) {
    RawServer host([](const RawRequest&) {
        RawReply reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"id\":"};
        reply.holdOpen = std::chrono::milliseconds(3000);
        return reply;
    });
    platform::HttpSession session({std::chrono::milliseconds(300), std::chrono::seconds(10)}, {});
    QNetworkReply* reply = session.send(QNetworkRequest(QUrl(host.baseURL() + "/api/user")), "GET");
    ASSERT_TRUE(test::eventuallyTrue([&] { return reply->isFinished(); }));
    EXPECT_EQ(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const auto failure =
        transportFailure(*reply, platform::HttpSession::timedOut(reply), reply->bytesAvailable());
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->timedOut());
    EXPECT_EQ(failure->localizedDescription().toStdString(),
              "Zeitüberschreitung bei der Anforderung.");
    delete reply;
}

// A redirect whose answer came in just before the client went away: the
// resumed request must not follow it on the freed client.
TEST(ClientGone, RedirectAnsweredJustBeforeIsNotFollowed) {
    test::TempUserDefaults defaults;
    FakeService service;
    defaults->setString(OrvaneAPIConfig::kBaseURLKey, service.baseURL());
    FakeResponse redirect = FakeResponse::json(302, "{}");
    redirect.headers = {{"Location", "/api/elsewhere"}};
    redirect.delay = std::chrono::milliseconds(100);
    service.on("GET", "/api/clients", redirect);
    service.on("GET", "/api/elsewhere", FakeResponse::json(200, R"({"data":[]})"));
    auto client = std::make_unique<OrvaneAPIClient>();
    client->setToken(QStringLiteral("t"));
    const auto goneAtTheAnswer =
        QObject::connect(&OrvaneAPIClient::session().manager(), &QNetworkAccessManager::finished,
                         [&](QNetworkReply*) { client.reset(); });
    std::string seen = "still waiting";
    auto call = [](OrvaneAPIClient& c, std::string& seen) -> QCoro::Task<void> {
        try {
            co_await c.fetchClients(100);
            seen = "ok";
        } catch (const TransportError& error) {
            seen = error.cancelled() ? "cancelled" : "transport";
        } catch (...) {
            seen = "other";
        }
    }(*client, seen);
    test::eventuallyTrue([&] { return call.isReady(); });
    QObject::disconnect(goneAtTheAnswer);
    EXPECT_EQ(seen, "cancelled");
    EXPECT_EQ(service.requestsTo("GET", "/api/elsewhere").size(), 0u);
}
