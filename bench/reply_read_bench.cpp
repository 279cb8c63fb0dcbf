// What reading a reply costs the app, through the real client over loopback:
// for each body, the longest gap of a 1 ms timer on the main thread while it
// is fetched, and the CPU time the fetch took, on the main thread and in all.
// The service runs in a process of its own and sends as fast as loopback
// allows. Hostile bodies hold codings whose bytes cost zlib most: empty
// dynamic blocks and empty gzip members; the honest ones are real pages.
//
//   reply_read_bench [--only N]

#include "service/orvane_api_client.h"
#include "service/orvane_api_config.h"
#include "support/compressed_bodies.h"
#include "support/raw_server.h"
#include "support/temp_user_defaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <QCoroTask>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace orvane;

namespace {

// Empty dynamic blocks are about 90 bytes, empty gzip members 20.
std::string emptyBlocks(qint64 bytes) {
    return test::emptyDynamicBlocks(int(bytes / 90));
}

std::string gzipped(const std::string& body) {
    return test::compressed(body, 31);
}

// `bytes` of empty gzip members, gzipped `times` times over.
std::string emptyMembers(qint64 bytes, int times) {
    std::string body = test::emptyMembersGzipped(int(bytes / 20));
    for (int i = 1; i < times; ++i)
        body = gzipped(body);
    return body;
}

std::string clientsPage(int count) {
    std::string rows;
    for (int i = 0; i < count; ++i)
        rows += std::string(i ? "," : "") + R"({"id":"c)" + std::to_string(i) +
                R"(","company_name":"Kundin )" + std::to_string(i) +
                R"( GmbH","first_name":"Erika","last_name":"Mustermann","email":"kontakt)" +
                std::to_string(i) + R"(@kundin.example","city":"Berlin","archived":false,)" +
                R"("hourly_rate":"95.00","note":"Rahmenvertrag seit 2019, monatliche Abrechnung"})";
    return R"({"data":[)" + rows + R"(],"meta":{"current_page":1,"last_page":1,"per_page":20000}})";
}

// `count` tasks, each with `times` job times of a working day.
std::string tasksPage(int count, int times) {
    std::string rows;
    for (int i = 0; i < count; ++i) {
        std::string jobTimes;
        for (int t = 0; t < times; ++t)
            jobTimes +=
                std::string(t ? "," : "") + R"({"id":"jt)" + std::to_string(i) + "-" +
                std::to_string(t) +
                R"(","start_time":"2026-03-02T08:00:00Z","end_time":"2026-03-02T12:30:00Z",)"
                R"("billable":true,"round_direction":"up","round_value":15,)"
                R"("rounded_duration":{"hh_mm":"04:30","decimal":"4.50"},)"
                R"("note":"Abstimmung mit der Kundin, Entwurf überarbeitet"})";
        rows += std::string(i ? "," : "") + R"({"id":"t)" + std::to_string(i) +
                R"(","name":"Aufgabe )" + std::to_string(i) + R"(","job_times":[)" + jobTimes +
                "]}";
    }
    return R"({"data":[)" + rows + "]}";
}

enum class Call { Clients, Tasks };

struct Body {
    const char* name;
    std::string coding;
    Call call;
    bool hostile;
    std::function<std::string()> make;
};

std::vector<Body> bodies() {
    constexpr qint64 kMiB = 1024 * 1024;
    return {
        {"empty dynamic blocks in the middle, 64 MiB", "deflate, gzip", Call::Clients, true,
         [] { return gzipped(emptyBlocks(64 * kMiB)); }},
        {"empty dynamic blocks in the middle, 256 MiB", "deflate, gzip", Call::Tasks, true,
         [] { return gzipped(emptyBlocks(256 * kMiB)); }},
        {"empty gzip members, gzip x 4", "gzip, gzip, gzip, gzip", Call::Tasks, true,
         [] { return emptyMembers(256 * kMiB, 3); }},
        {"one coding of empty dynamic blocks, 32 MiB", "deflate", Call::Clients, true,
         [] { return emptyBlocks(32 * kMiB); }},
        {"honest gzip page, 20 000 clients", "gzip", Call::Clients, false,
         [] { return gzipped(clientsPage(20'000)); }},
        {"honest gzip task list, 50 000 tasks", "gzip", Call::Tasks, false,
         [] { return gzipped(tasksPage(50'000, 0)); }},
        {"honest gzip task step, 200 000 job times", "gzip", Call::Tasks, false,
         [] { return gzipped(tasksPage(5'000, 40)); }},
    };
}

double cpuSeconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// What came back is kept in `kept` and let go after the measurement: how a
// caller disposes of a long list is not the reading's cost.
QCoro::Task<QString> fetch(OrvaneAPIClient& client, Call call, std::shared_ptr<void>& kept) {
    try {
        if (call == Call::Clients) {
            auto page =
                std::make_shared<PaginatedResponse<ClientDTO>>(co_await client.fetchClients(100));
            kept = page;
            co_return QStringLiteral("%1 clients").arg(page->data.size());
        }
        auto tasks = std::make_shared<std::vector<JobTaskDTO>>(
            co_await client.fetchJobTasks(QStringLiteral("j1"), true));
        kept = tasks;
        co_return QStringLiteral("%1 tasks").arg(tasks->size());
    } catch (const Error& error) {
        co_return error.localizedDescription().left(48);
    }
}

} // namespace

int main(int argc, char** argv) {
    int only = -1;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--only") == 0)
            only = std::atoi(argv[i + 1]);
    std::vector<Body> all = bodies();

    // The service, in a process of its own so that its CPU is not the app's.
    int ports[2];
    if (pipe(ports) != 0)
        return 1;
    const pid_t service = fork();
    if (service == 0) {
        std::vector<std::string> made;
        for (const Body& body : all)
            made.push_back(body.make());
        test::RawServer host([&](const test::RawRequest& request) {
            // "/b<n>/api/…": the body's number leads the path.
            const std::size_t at = std::strtoul(request.target.c_str() + 2, nullptr, 10);
            const std::string& bytes = made.at(std::min(at, made.size() - 1));
            return test::RawReply{"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                                  "Content-Encoding: " +
                                  all[at].coding + "\r\nContent-Length: " +
                                  std::to_string(bytes.size()) + "\r\n\r\n" + bytes};
        });
        const int port = host.port();
        if (write(ports[1], &port, sizeof port) != sizeof port)
            _exit(1);
        pause();
        _exit(0);
    }
    int port = 0;
    if (read(ports[0], &port, sizeof port) != sizeof port)
        return 1;

    QCoreApplication app(argc, argv);
    test::TempUserDefaults defaults;
    std::printf("%-46s %-24s %9s %9s %9s  %s\n", "body", "codings", "gap ms", "main s", "cpu s",
                "outcome");
    bool met = true;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (only >= 0 && std::size_t(only) != i)
            continue;
        const Body& body = all[i];
        const QString base = QStringLiteral("http://127.0.0.1:%1/b%2").arg(port).arg(i);
        defaults->setString(OrvaneAPIConfig::kBaseURLKey, base);
        OrvaneAPIClient client;
        client.setToken(QStringLiteral("bench"));
        qint64 longestGap = 0;
        QElapsedTimer sinceBeat;
        QTimer beat;
        beat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&beat, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, sinceBeat.restart()); });
        const double main0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double all0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        QString outcome;
        bool done = false;
        std::shared_ptr<void> kept;
        auto run = [](OrvaneAPIClient& c, Call call, QString& out, bool& flag,
                      std::shared_ptr<void>& held) -> QCoro::Task<void> {
            out = co_await fetch(c, call, held);
            flag = true;
        };
        sinceBeat.start();
        beat.start(1);
        auto task = run(client, body.call, outcome, done, kept);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        beat.stop();
        longestGap = std::max(longestGap, sinceBeat.elapsed()); // up to the answer
        const double mainCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main0;
        const double allCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - all0;
        const bool ok = longestGap <= 16 && (!body.hostile || allCpu <= 1.0);
        met = met && ok;
        std::printf("%-46s %-24s %9lld %9.3f %9.3f  %s%s\n", body.name, body.coding.c_str(),
                    static_cast<long long>(longestGap), mainCpu, allCpu, qPrintable(outcome),
                    ok ? "" : "  (missed)");
        std::fflush(stdout);
    }
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);
    std::printf("targets (gap <= 16 ms; hostile bodies <= 1 s of CPU): %s\n",
                met ? "met" : "missed");
    return met ? 0 : 1;
}
