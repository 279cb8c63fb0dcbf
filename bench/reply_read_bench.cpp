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
#include "support/raw_server.h"
#include "support/temp_user_defaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <QCoroTask>

#include <zlib.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace orvane;

namespace {

// Streams `make` through deflate: `make(out)` appends the next piece and
// returns false after the last.
std::string deflated(const std::function<bool(std::string&)>& make, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    std::string out, piece;
    char chunk[64 * 1024];
    bool more = true;
    while (more) {
        piece.clear();
        more = make(piece);
        z.next_in = reinterpret_cast<Bytef*>(piece.data());
        z.avail_in = uInt(piece.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(chunk);
            z.avail_out = sizeof chunk;
            deflate(&z, more ? Z_NO_FLUSH : Z_FINISH);
            out.append(chunk, sizeof chunk - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string gzipped(const std::string& body) {
    bool sent = false;
    return deflated(
        [&](std::string& out) {
            if (!sent)
                out = body;
            sent = true;
            return false;
        },
        31);
}

// Empty deflate blocks with dynamic codes, `bytes` of them in a zlib stream:
// zlib builds two tables for each and makes nothing. The pattern repeats
// every eight blocks.
class EmptyBlocks {
public:
    explicit EmptyBlocks(qint64 bytes) : left_(bytes) { out_.assign("\x78\x9c", 2); }
    bool next(std::string& out) {
        while (out_.size() < 64 * 1024 && left_ > 0)
            block();
        if (left_ <= 0 && !ended_) {
            put(1, 1), put(1, 2), put(0, 7);
            if (used_ > 0)
                out_ += char(bits_);
            out_ += std::string("\0\0\0\1", 4);
            ended_ = true;
        }
        out.swap(out_);
        out_.clear();
        return !ended_;
    }

private:
    void put(quint32 value, int n, bool code = false) {
        for (int i = 0; i < n; ++i) {
            bits_ |= ((value >> (code ? n - 1 - i : i)) & 1u) << used_;
            if (++used_ == 8) {
                out_ += char(bits_);
                --left_;
                bits_ = 0;
                used_ = 0;
            }
        }
    }
    void block() {
        static const int order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
        put(0, 1), put(2, 2), put(29, 5), put(29, 5), put(15, 4);
        for (const int symbol : order)
            put(symbol == 4 || symbol == 5 || symbol == 8 || symbol == 9 ? 2 : 0, 3);
        for (int symbol = 0; symbol < 286; ++symbol)
            put(symbol < 226 ? 2 : 3, 2, true);
        for (int distance = 0; distance < 30; ++distance)
            put(distance < 2 ? 0 : 1, 2, true);
        put(452 + (256 - 226), 9, true);
    }
    qint64 left_;
    std::string out_;
    quint32 bits_ = 0;
    int used_ = 0;
    bool ended_ = false;
};

std::string emptyBlocksGzipped(qint64 bytes) {
    EmptyBlocks blocks(bytes);
    return deflated([&](std::string& out) { return blocks.next(out); }, 31);
}

std::string emptyBlocks(qint64 bytes) {
    EmptyBlocks blocks(bytes);
    std::string all, piece;
    while (blocks.next(piece))
        all += piece;
    return all + piece;
}

// `bytes` of empty gzip members, gzipped `times` times over.
std::string emptyMembers(qint64 bytes, int times) {
    const std::string member = gzipped("");
    std::string block;
    while (block.size() < 64 * 1024)
        block += member;
    qint64 left = bytes;
    std::string body = deflated(
        [&](std::string& out) {
            out = block;
            left -= qint64(block.size());
            return left > 0;
        },
        31);
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
         [] { return emptyBlocksGzipped(64 * kMiB); }},
        {"empty dynamic blocks in the middle, 256 MiB", "deflate, gzip", Call::Tasks, true,
         [] { return emptyBlocksGzipped(256 * kMiB); }},
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
