// Drives the store's periodic synchronisation against a local fake service
// holding a long-time user (2 000 job times, one timer running) and prints
// what one sync costs the client: requests, bytes decoded and CPU time, and
// what Qt's HTTP alone spends on the same requests. Two shapes of the same
// history: spread over 300 tasks, and all of it on the task that runs now,
// whose whole list each sync reads with the task.
// Then the task step of the heaviest job (5 000 tasks carrying 200 000 job
// times): CPU and peak memory of reading its reply as the picker does.
//
// With --http: the same task step, a running task of 100 000 job times and
// a gzip reply far past its bound, each through a real HTTP server sending
// chunked replies without a length: CPU and peak memory of the whole fetch.
//
//   store_sync_bench [--syncs N]   N syncs per shape, 10 by default
//   store_sync_bench --http

#include "service/json_coding.h"
#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QCoroTask>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QUrlQuery>

#include <httplib.h>
#include <zlib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <map>
#include <optional>
#include <thread>
#include <vector>

using namespace orvane;

namespace {

constexpr int kTasks = 300;
constexpr int kJobTimes = 2000;
constexpr int kPerPage = 100;
constexpr int kRunningTask = 7;

struct Shape {
    const char* name;
    bool allOnRunningTask;
    double targetMs; // client CPU per sync
};
constexpr Shape kShapes[] = {{"spread over 300 tasks", false, 15.0},
                             {"all on the running task", true, 25.0}};

constexpr int kHeavyTasks = 5000;
constexpr int kHeavyJobTimes = 200'000;
constexpr double kHeavyTargetMs = 1000.0;
constexpr double kHeavyTargetMB = 150.0;

QString isoAt(const QDateTime& t) {
    return t.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject jobTime(int id, int task, const QDateTime& start, std::optional<QDateTime> end) {
    QJsonObject o{{"id", id},
                  {"client_id", QString::number(task % 12 + 1)},
                  {"jobtask_id", QString::number(task)},
                  {"start_time", isoAt(start)},
                  {"billable", true},
                  {"billed", false},
                  {"round_direction", "up"},
                  {"round_value", 15},
                  {"job_task", QJsonObject{{"id", task},
                                           {"title", QString("Aufgabe %1").arg(task)},
                                           {"job_id", task / 3 + 1},
                                           {"rate", "85.00"},
                                           {"scheduled_time", "12,5"}}},
                  {"job", QJsonObject{{"id", task / 3 + 1},
                                      {"title", QString("Auftrag %1").arg(task / 3 + 1)},
                                      {"job_number", QString("A-%1").arg(task / 3 + 1)}}},
                  {"client", QJsonObject{{"id", task % 12 + 1},
                                         {"company_name", QString("Kunde %1").arg(task % 12 + 1)},
                                         {"hourly_rate", 80}}}};
    if (end) {
        o.insert("end_time", isoAt(*end));
        o.insert("rounded_duration", QJsonObject{{"hh_mm", "1:00"}, {"decimal_hours", 1.0}});
    }
    return o;
}

// The fake's side: scripts the routes, writes its port to `portOut` and
// serves until the client closes `hold`.
int serve(const QDateTime& now, const Shape& shape, int portOut, int hold) {
    test::FakeService service;
    const auto answer = [](const QJsonValue& v) {
        return test::FakeResponse::json(
            200, (v.isArray() ? QJsonDocument(v.toArray()) : QJsonDocument(v.toObject()))
                     .toJson(QJsonDocument::Compact)
                     .toStdString());
    };

    QJsonArray history;
    std::map<int, QJsonArray> byTask;
    for (int i = 0; i < kJobTimes; ++i) {
        const QDateTime start = now.addSecs(-3600LL * (i + 2));
        const int task = shape.allOnRunningTask ? kRunningTask : i % kTasks;
        history.append(jobTime(1000 + i, task, start, start.addSecs(3600)));
        byTask[task].append(history.last());
    }
    const QJsonObject running = jobTime(99999, kRunningTask, now.addSecs(-600), std::nullopt);
    byTask[kRunningTask].prepend(running);

    service.on("GET", "/api/job-times/active", [&](const test::RecordedRequest&) {
        return answer(QJsonObject{{"data", QJsonArray{running}}});
    });
    service.on("GET", "/api/job-times", [&](const test::RecordedRequest& r) {
        const QUrlQuery query(QString::fromStdString(r.query));
        const int page = query.queryItemValue("page").toInt();
        QJsonArray data;
        for (int i = (page - 1) * kPerPage; i < std::min(kJobTimes, page * kPerPage); ++i)
            data.append(history[i]);
        const int lastPage = (kJobTimes + kPerPage - 1) / kPerPage;
        return answer(QJsonObject{{"data", data},
                                  {"meta", QJsonObject{{"current_page", page},
                                                       {"last_page", lastPage},
                                                       {"per_page", kPerPage},
                                                       {"total", kJobTimes}}}});
    });
    for (int task = 0; task < kTasks; ++task) {
        const std::string path = "/api/job-tasks/" + std::to_string(task);
        service.on("GET", path, [&, task](const test::RecordedRequest& r) {
            QJsonObject data{{"id", task},
                             {"title", QString("Aufgabe %1").arg(task)},
                             {"scheduled_time", "12,5"},
                             {"rounded_total_seconds", 3600 * 7},
                             {"rounded_today_seconds", 0}};
            // As the service does: the task's whole list unless asked to leave it out.
            if (QUrlQuery(QString::fromStdString(r.query)).queryItemValue("include_job_times") !=
                u"0")
                data.insert("job_times", byTask[task]);
            return answer(QJsonObject{{"data", data}});
        });
    }
    service.on("GET", "/api/job-times/invoiceable-summary", [&](const test::RecordedRequest&) {
        const QJsonObject bucket{{"from", "2026-01-01"},
                                 {"to", "2026-01-31"},
                                 {"hours_decimal", "1.0"},
                                 {"amount", 80},
                                 {"job_time_count", 1}};
        return answer(QJsonObject{
            {"timezone", "Europe/Berlin"}, {"today", bucket}, {"week", bucket}, {"month", bucket}});
    });

    const int port = service.port();
    if (::write(portOut, &port, sizeof port) != sizeof port)
        return 1;
    ::close(portOut);
    char ignored;
    while (::read(hold, &ignored, 1) > 0) {
    }
    return 0;
}

double cpuMs(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// What the client's replies brought, counted as each one finishes.
struct Received {
    qint64 replies = 0;
    // Reply bodies: their length on the wire while the fake serves them plain
    // (Qt drops Content-Length of a body it decompresses).
    qint64 bytes = 0;
    qint64 compressed = 0; // replies that came with a content coding
};

// The fake of one shape in a child process, forked before any thread exists.
struct Fake {
    pid_t pid = -1;
    int port = 0;
    int hold = -1; // closing it ends the fake
};

std::optional<Fake> forkFake(const QDateTime& now, const Shape& shape) {
    int portPipe[2];
    int holdPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(holdPipe) != 0) {
        std::perror("store_sync_bench: pipe");
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("store_sync_bench: fork");
        return std::nullopt;
    }
    if (pid == 0) {
        ::close(portPipe[0]);
        ::close(holdPipe[1]);
        std::_Exit(serve(now, shape, portPipe[1], holdPipe[0]));
    }
    ::close(portPipe[1]);
    ::close(holdPipe[0]);
    Fake fake{pid, 0, holdPipe[1]};
    if (::read(portPipe[0], &fake.port, sizeof fake.port) != sizeof fake.port) {
        std::fprintf(stderr, "store_sync_bench: the fake service did not start\n");
        return std::nullopt;
    }
    ::close(portPipe[0]);
    return fake;
}

// The same requests sent one after another by a bare manager, their bodies
// read and dropped: what Qt's HTTP alone costs the process, in ms per round.
double measureBareTransfer(const std::vector<QNetworkRequest>& requests, int rounds) {
    QNetworkAccessManager manager;
    double total = 0;
    for (int round = 0; round <= rounds; ++round) {
        const double before = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
        for (const QNetworkRequest& request : requests) {
            QNetworkReply* reply = manager.get(request);
            QEventLoop loop;
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec();
            (void)reply->readAll();
            delete reply;
        }
        if (round > 0) // the first opens what later rounds find open
            total += cpuMs(CLOCK_PROCESS_CPUTIME_ID) - before;
    }
    return total / rounds;
}

struct ShapeFigures {
    double meanMs = 0; // client CPU per sync
    double bareMs = 0; // of that, Qt's transfer of the same replies
};

// Mean client CPU per sync in ms (every thread of the client: Qt does HTTP
// on a thread of its own), printed sync by sync.
ShapeFigures measureShape(const Shape& shape, const Fake& fake, const QDateTime& now, int syncs) {
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::ClockScope clock(now);
    defaults->setString("orvane_api_base_url",
                        QStringLiteral("http://127.0.0.1:%1").arg(fake.port));

    Received received;
    std::vector<QNetworkRequest> lastSync;
    const QMetaObject::Connection counting = QObject::connect(
        &OrvaneAPIClient::session().manager(), &QNetworkAccessManager::finished,
        [&received, &lastSync](QNetworkReply* reply) {
            ++received.replies;
            lastSync.push_back(reply->request());
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            received.bytes += length.isValid() ? length.toLongLong() : reply->bytesAvailable();
            if (!reply->rawHeader("Content-Encoding").isEmpty())
                ++received.compressed;
        });

    AppStore store;
    store.api().setToken(QStringLiteral("bench-token"));
    store.setCurrentUser(APIUser{"1", "bench@example.com", "Bench", "User", std::nullopt,
                                 std::nullopt, std::nullopt, std::nullopt, "80"});
    store.setIsLoggedIn(true);
    QCoro::waitFor(store.restoreActiveSessions());

    std::printf("\n%s: %d job times, %d tasks\n", shape.name, kJobTimes,
                shape.allOnRunningTask ? 1 : kTasks);
    std::printf("sync  requests  bytes-received  cpu-ms-process  cpu-ms-main\n");
    qint64 totalRequests = 0;
    qint64 totalBytes = 0;
    std::vector<double> perSync;
    double totalMain = 0;
    for (int sync = 1; sync <= syncs; ++sync) {
        clock.advance(30'000); // the periodic sync runs every 30 s
        const Received before = received;
        lastSync.clear();
        const double processBefore = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
        const double mainBefore = cpuMs(CLOCK_THREAD_CPUTIME_ID);
        // In an event loop that sleeps while the replies travel: the tests'
        // await helper polls, and its polling would count as the client's work.
        QCoro::waitFor(store.syncWithServer());
        const double process = cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
        const double main = cpuMs(CLOCK_THREAD_CPUTIME_ID) - mainBefore;
        const qint64 requests = received.replies - before.replies;
        const qint64 bytes = received.bytes - before.bytes;
        totalRequests += requests;
        totalBytes += bytes;
        perSync.push_back(process);
        totalMain += main;
        std::printf("%4d  %8lld  %14lld  %14.1f  %11.1f\n", sync, static_cast<long long>(requests),
                    static_cast<long long>(bytes), process, main);
    }
    double totalProcess = 0;
    for (const double ms : perSync)
        totalProcess += ms;
    std::sort(perSync.begin(), perSync.end());
    std::printf("mean  %8.1f  %14.0f  %14.1f  %11.1f\n", static_cast<double>(totalRequests) / syncs,
                static_cast<double>(totalBytes) / syncs, totalProcess / syncs, totalMain / syncs);
    std::printf("recent tasks shown: %zu, sessions open: %zu\n", store.recentTasks().size(),
                store.sessions().size());
    if (received.compressed > 0) {
        std::printf("warning: %lld replies came compressed; the figures include "
                    "decompressing them\n",
                    static_cast<long long>(received.compressed));
    }
    QObject::disconnect(counting);
    return {totalProcess / syncs, measureBareTransfer(lastSync, syncs)};
}

// One task's job times in the stand-in's record shape.
QByteArray heavyJobTimes(const QDateTime& now, int task, int perTask) {
    QByteArray body;
    for (int i = 0; i < perTask; ++i) {
        const QDateTime start = now.addSecs(-3600LL * (task * perTask + i + 2));
        if (i)
            body += ',';
        // With the members the stand-in adds to the snippets.
        QJsonObject entry = jobTime(task * perTask + i, task, start, start.addSecs(3600));
        QJsonObject snippet = entry.value("job_task").toObject();
        snippet.insert("job_number", QString("A-%1").arg(task / 3 + 1));
        entry.insert("job_task", snippet);
        snippet = entry.value("job").toObject();
        snippet.insert("project_number", QString("P-%1").arg(task / 30 + 1));
        entry.insert("job", snippet);
        body += QJsonDocument(entry).toJson(QJsonDocument::Compact);
    }
    return body;
}

// The heaviest job's task list.
QByteArray heavyTaskList(const QDateTime& now) {
    QByteArray body = "{\"data\":[";
    for (int task = 0; task < kHeavyTasks; ++task) {
        body += task ? ",{" : "{";
        body += "\"id\":" + QByteArray::number(task) + ",\"title\":\"Aufgabe " +
                QByteArray::number(task) + "\",\"scheduled_time\":\"12,5\",\"job_times\":[";
        body += heavyJobTimes(now, task, kHeavyJobTimes / kHeavyTasks);
        body += "]}";
    }
    body += "]}";
    return body;
}

// The heaviest job's task list, written by a child process into `out` (its
// length first), so that building it costs the measured process nothing.
int writeHeavyTaskList(const QDateTime& now, int out) {
    const QByteArray body = heavyTaskList(now);
    const qint64 size = body.size();
    if (::write(out, &size, sizeof size) != sizeof size)
        return 1;
    for (qint64 at = 0; at < size;) {
        const ssize_t n = ::write(out, body.constData() + at, size_t(size - at));
        if (n <= 0)
            return 1;
        at += n;
    }
    return 0;
}

// Resident and peak resident memory of this process, in MB.
double statusMB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + std::strlen(field)) / 1024.0;
    return 0;
}

struct HeavyFigures {
    double cpuMs = 0;
    double peakAboveIdleMB = 0;
    bool ok = false;
};

// Reads the reply into a buffer with the reader's padding (as the HTTP
// session does) and decodes it as the picker's task step does: every task,
// job times summed as they pass.
HeavyFigures measureHeavyTaskStep(const QDateTime& now) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeEnds[0]);
        std::_Exit(writeHeavyTaskList(now, pipeEnds[1]));
    }
    ::close(pipeEnds[1]);
    HeavyFigures figures;
    // The peak counts from here: what the step adds to the running app.
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const double idle = statusMB("VmRSS:");
    qint64 size = 0;
    QByteArray body;
    if (::read(pipeEnds[0], &size, sizeof size) == sizeof size) {
        body.reserve(size + wire::kReadPadding);
        body.resize(size);
        qint64 at = 0;
        while (at < size) {
            const ssize_t n = ::read(pipeEnds[0], body.data() + at, size_t(size - at));
            if (n <= 0)
                break;
            at += n;
        }
        figures.ok = at == size;
    }
    ::close(pipeEnds[0]);
    ::waitpid(pid, nullptr, 0);
    if (!figures.ok)
        return figures;
    const double before = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    std::vector<JobTaskDTO> tasks;
    qint64 booked = 0;
    {
        const SummingJobTimes summing(&entryDurationSecs);
        tasks = wire::decodeDataList<JobTaskDTO>(body);
    }
    for (const JobTaskDTO& task : tasks)
        booked = saturatingAdd(booked, task.bookedSecs.value_or(0));
    figures.cpuMs = cpuMs(CLOCK_THREAD_CPUTIME_ID) - before;
    figures.peakAboveIdleMB = statusMB("VmHWM:") - idle;
    std::printf("\nheaviest job's task step: %lld bytes (%.0f per job time), %zu tasks, "
                "%lld h booked\n",
                static_cast<long long>(size), double(size) / kHeavyJobTimes, tasks.size(),
                static_cast<long long>(booked / 3600));
    figures.ok = tasks.size() == size_t(kHeavyTasks);
    return figures;
}

// ---- Through real HTTP, chunked ----

constexpr int kRunningJobTimes = 100'000;
constexpr qint64 kBombWireBytes = 1024 * 1024;

// About 1 MiB of gzip that inflates to about a GiB of blanks.
std::string gzipBomb() {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::vector<char> blanks(1 << 20, ' ');
    std::string out;
    char chunk[64 * 1024];
    for (bool last = false; !last;) {
        last = qint64(out.size()) >= kBombWireBytes;
        z.next_in = reinterpret_cast<Bytef*>(blanks.data());
        z.avail_in = last ? 0 : uInt(blanks.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(chunk);
            z.avail_out = sizeof chunk;
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(chunk, sizeof chunk - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// Serves `body` as a real server does: chunks of 16 KB, no length.
void serveChunked(httplib::Response& res, std::shared_ptr<const std::string> body) {
    res.set_chunked_content_provider(
        "application/json; charset=utf-8", [body](size_t offset, httplib::DataSink& sink) {
            const size_t n = std::min<size_t>(16 * 1024, body->size() - offset);
            if (n && !sink.write(body->data() + offset, n))
                return false;
            if (offset + n >= body->size())
                sink.done();
            return true;
        });
}

int serveChunkedReplies(const QDateTime& now, int portOut, int hold) {
    const auto heavy = std::make_shared<const std::string>(heavyTaskList(now).toStdString());
    const auto running = std::make_shared<const std::string>(
        (R"({"data":{"id":1,"title":"Aufgabe 1","scheduled_time":"12,5","job_times":[)" +
         heavyJobTimes(now, 1, kRunningJobTimes) + "]}}")
            .toStdString());
    const auto bomb = std::make_shared<const std::string>(gzipBomb());
    httplib::Server server;
    server.Get(
        "/api/jobs/heavy/job-tasks",
        [heavy](const httplib::Request&, httplib::Response& res) { serveChunked(res, heavy); });
    server.Get(
        "/api/job-tasks/running",
        [running](const httplib::Request&, httplib::Response& res) { serveChunked(res, running); });
    server.Get("/api/job-tasks/bomb", [bomb](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Encoding", "gzip");
        serveChunked(res, bomb);
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listening([&server] { server.listen_after_bind(); });
    if (::write(portOut, &port, sizeof port) != sizeof port)
        return 1;
    ::close(portOut);
    char ignored;
    while (::read(hold, &ignored, 1) > 0) {
    }
    server.stop();
    listening.join();
    return 0;
}

std::optional<Fake> forkChunkedServer(const QDateTime& now) {
    int portPipe[2];
    int holdPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(holdPipe) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        ::close(portPipe[0]);
        ::close(holdPipe[1]);
        std::_Exit(serveChunkedReplies(now, portPipe[1], holdPipe[0]));
    }
    ::close(portPipe[1]);
    ::close(holdPipe[0]);
    Fake fake{pid, 0, holdPipe[1]};
    if (::read(portPipe[0], &fake.port, sizeof fake.port) != sizeof fake.port)
        return std::nullopt;
    ::close(portPipe[0]);
    return fake;
}

struct FetchFigures {
    double processMs = 0;
    double mainMs = 0;
    double peakAboveIdleMB = 0;
    QString outcome;
};

using Fetch = std::function<QCoro::Task<QString>()>;

// This QCoro's waitFor never returns from a coroutine that throws.
QCoro::Task<QString> outcomeOf(const Fetch& fetch) {
    try {
        co_return co_await fetch();
    } catch (const Error& e) {
        co_return QStringLiteral("refused: ") + e.localizedDescription();
    }
}

// One fetch from the request to the decoded records, the peak counted from
// an idle client.
FetchFigures measureFetch(const Fetch& fetch) {
    { std::ofstream("/proc/self/clear_refs") << "5"; }
    const double idle = statusMB("VmRSS:");
    const double processBefore = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const double mainBefore = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    FetchFigures figures;
    figures.outcome = QCoro::waitFor(outcomeOf(fetch));
    figures.processMs = cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
    figures.mainMs = cpuMs(CLOCK_THREAD_CPUTIME_ID) - mainBefore;
    figures.peakAboveIdleMB = statusMB("VmHWM:") - idle;
    return figures;
}

int measureChunked(const Fake& fake) {
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    defaults->setString("orvane_api_base_url",
                        QStringLiteral("http://127.0.0.1:%1").arg(fake.port));
    OrvaneAPIClient api;
    api.sumJobTimesWith(&entryDurationSecs);
    struct Case {
        const char* name;
        Fetch fetch;
        double targetMB;
        double targetMs;
    };
    const Case cases[] = {
        {"heaviest task step",
         [&api]() -> QCoro::Task<QString> {
             const auto tasks = co_await api.fetchJobTasks(QStringLiteral("heavy"), true);
             co_return QStringLiteral("%1 tasks").arg(tasks.size());
         },
         kHeavyTargetMB, kHeavyTargetMs},
        {"running task, 100 000 job times",
         [&api]() -> QCoro::Task<QString> {
             const auto task = co_await api.fetchJobTask(QStringLiteral("running"), true);
             co_return QStringLiteral("%1 h booked").arg(task.bookedSecs.value_or(0) / 3600);
         },
         kHeavyTargetMB, kHeavyTargetMs},
        {"gzip reply of 1 MiB",
         [&api]() -> QCoro::Task<QString> {
             co_await api.fetchJobTask(QStringLiteral("bomb"), true);
             co_return QStringLiteral("read");
         },
         double(kTasksReplyBytes) / (1 << 20) + 16, kHeavyTargetMs},
    };
    std::printf("\nthrough HTTP, chunked, no length          cpu-ms-process  cpu-ms-main  "
                "peak-MB-above-idle  target-MB\n");
    bool met = true;
    for (const Case& c : cases) {
        const FetchFigures f = measureFetch(c.fetch);
        const bool caseMet = f.peakAboveIdleMB <= c.targetMB && f.processMs <= c.targetMs;
        met = met && caseMet;
        std::printf("%-40s %15.1f %12.1f %19.1f %10.0f  %s  (%s)\n", c.name, f.processMs, f.mainMs,
                    f.peakAboveIdleMB, c.targetMB, caseMet ? "met" : "MISSED",
                    qPrintable(f.outcome.left(70)));
    }
    return met ? 0 : 2;
}
} // namespace

int main(int argc, char** argv) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (argc > 1 && std::strcmp(argv[1], "--http") == 0) {
        const auto fake = forkChunkedServer(now);
        if (!fake)
            return 1;
        int result = 0;
        {
            QCoreApplication app(argc, argv);
            result = measureChunked(*fake);
        }
        ::close(fake->hold);
        ::waitpid(fake->pid, nullptr, 0);
        return result;
    }
    int syncs = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--syncs") == 0)
            syncs = std::max(1, std::atoi(argv[i + 1]));

    // Both fakes first: forking once Qt's threads run could copy a held lock.
    std::vector<Fake> fakes;
    for (const Shape& shape : kShapes) {
        const auto fake = forkFake(now, shape);
        if (!fake)
            return 1;
        fakes.push_back(*fake);
    }

    std::vector<ShapeFigures> means;
    HeavyFigures heavy;
    {
        QCoreApplication app(argc, argv);
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
        std::printf("note: this build is not optimised or runs sanitizers; take the figures from "
                    "a Release build\n");
#endif
        for (std::size_t i = 0; i < std::size(kShapes); ++i)
            means.push_back(measureShape(kShapes[i], fakes[i], now, syncs));
        heavy = measureHeavyTaskStep(now);
    }
    // All closed before any wait: each later fake holds a copy of the
    // earlier ones' ends.
    for (const Fake& fake : fakes)
        ::close(fake.hold);
    for (const Fake& fake : fakes)
        ::waitpid(fake.pid, nullptr, 0);

    bool met = true;
    std::printf("\n");
    for (std::size_t i = 0; i < std::size(kShapes); ++i) {
        const bool shapeMet = means[i].meanMs <= kShapes[i].targetMs;
        met = met && shapeMet;
        std::printf("client CPU per sync, %-24s %6.1f ms   target <= %.0f ms: %s\n",
                    kShapes[i].name, means[i].meanMs, kShapes[i].targetMs,
                    shapeMet ? "met" : "MISSED");
        std::printf("  Qt's HTTP alone, the same requests       %6.1f ms\n", means[i].bareMs);
    }
    const bool heavyCpuMet = heavy.ok && heavy.cpuMs <= kHeavyTargetMs;
    const bool heavyMemoryMet = heavy.ok && heavy.peakAboveIdleMB <= kHeavyTargetMB;
    std::printf("task step of the heaviest job, CPU       %8.1f ms   target <= %.0f ms: %s\n",
                heavy.cpuMs, kHeavyTargetMs, heavyCpuMet ? "met" : "MISSED");
    std::printf("task step of the heaviest job, peak      %8.1f MB   target <= %.0f MB above "
                "idle: %s\n",
                heavy.peakAboveIdleMB, kHeavyTargetMB, heavyMemoryMet ? "met" : "MISSED");
    met = met && heavyCpuMet && heavyMemoryMet;
    return met ? 0 : 2;
}
