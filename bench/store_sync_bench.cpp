// Drives the store's periodic synchronisation against a local fake service
// holding a long-time user (2 000 job times over 300 tasks, one timer
// running) and prints what one sync costs: requests and bytes decoded.

#include "store/app_store.h"
#include "support/await.h"
#include "support/fake_service.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

#include <atomic>
#include <cstdio>

using namespace orvane;

namespace {

constexpr int kTasks = 300;
constexpr int kJobTimes = 2000;
constexpr int kPerPage = 100;
constexpr int kSyncs = 10;

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    test::ClockScope clock(QDateTime::currentDateTimeUtc());
    test::FakeService service;
    defaults->setString("orvane_api_base_url", service.baseURL());

    std::atomic<qint64> bytesServed{0};
    const auto answer = [&bytesServed](const std::string& body) {
        bytesServed += static_cast<qint64>(body.size());
        return test::FakeResponse::json(200, body);
    };
    const auto compact = [](const QJsonValue& v) {
        return (v.isArray() ? QJsonDocument(v.toArray()) : QJsonDocument(v.toObject()))
            .toJson(QJsonDocument::Compact)
            .toStdString();
    };

    const QDateTime now = clock.now();
    QJsonArray history;
    for (int i = 0; i < kJobTimes; ++i) {
        const QDateTime start = now.addSecs(-3600LL * (i + 2));
        history.append(jobTime(1000 + i, i % kTasks, start, start.addSecs(3600)));
    }
    const QJsonObject running = jobTime(99999, 7, now.addSecs(-600), std::nullopt);

    service.on("GET", "/api/job-times/active", [&](const test::RecordedRequest&) {
        return answer(compact(QJsonObject{{"data", QJsonArray{running}}}));
    });
    service.on("GET", "/api/job-times", [&](const test::RecordedRequest& r) {
        const QUrlQuery query(QString::fromStdString(r.query));
        const int page = query.queryItemValue("page").toInt();
        QJsonArray data;
        for (int i = (page - 1) * kPerPage; i < std::min(kJobTimes, page * kPerPage); ++i)
            data.append(history[i]);
        const int lastPage = (kJobTimes + kPerPage - 1) / kPerPage;
        return answer(compact(QJsonObject{{"data", data},
                                          {"meta", QJsonObject{{"current_page", page},
                                                               {"last_page", lastPage},
                                                               {"per_page", kPerPage},
                                                               {"total", kJobTimes}}}}));
    });
    for (int task = 0; task < kTasks; ++task) {
        const std::string path = "/api/job-tasks/" + std::to_string(task);
        service.on("GET", path, [&, task](const test::RecordedRequest&) {
            return answer(
                compact(QJsonObject{{"data", QJsonObject{{"id", task},
                                                         {"title", QString("Aufgabe %1").arg(task)},
                                                         {"scheduled_time", "12,5"},
                                                         {"rounded_total_seconds", 3600 * 7},
                                                         {"rounded_today_seconds", 0},
                                                         {"job_times", QJsonArray{}}}}}));
        });
    }
    service.on("GET", "/api/job-times/invoiceable-summary", [&](const test::RecordedRequest&) {
        const QJsonObject bucket{{"from", "2026-01-01"},
                                 {"to", "2026-01-31"},
                                 {"hours_decimal", "1.0"},
                                 {"amount", 80},
                                 {"job_time_count", 1}};
        return answer(compact(QJsonObject{{"timezone", "Europe/Berlin"},
                                          {"today", bucket},
                                          {"week", bucket},
                                          {"month", bucket}}));
    });

    AppStore store;
    store.api().setToken(QStringLiteral("bench-token"));
    store.setCurrentUser(APIUser{"1", "bench@example.com", "Bench", "User", std::nullopt,
                                 std::nullopt, std::nullopt, std::nullopt, "80"});
    store.setIsLoggedIn(true);
    test::await(store.restoreActiveSessions(), std::chrono::minutes(2));

    std::printf("sync  requests  bytes-decoded\n");
    qint64 totalRequests = 0;
    qint64 totalBytes = 0;
    for (int sync = 1; sync <= kSyncs; ++sync) {
        clock.advance(30'000); // the periodic sync runs every 30 s
        const auto requestsBefore = service.requestCount();
        const qint64 bytesBefore = bytesServed;
        test::await(store.syncWithServer(), std::chrono::minutes(2));
        const auto requests = static_cast<qint64>(service.requestCount() - requestsBefore);
        const qint64 bytes = bytesServed - bytesBefore;
        totalRequests += requests;
        totalBytes += bytes;
        std::printf("%4d  %8lld  %13lld\n", sync, static_cast<long long>(requests),
                    static_cast<long long>(bytes));
    }
    std::printf("mean  %8.1f  %13.0f\n", static_cast<double>(totalRequests) / kSyncs,
                static_cast<double>(totalBytes) / kSyncs);
    std::printf("recent tasks shown: %zu, sessions open: %zu\n", store.recentTasks().size(),
                store.sessions().size());
    return 0;
}
