#pragma once

#include "dev_service.h"
#include "service/token_storage.h"
#include "store/app_store.h"
#include "support/await.h"
#include "support/fakes.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QDeadlineTimer>
#include <QJsonDocument>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

namespace orvane::e2e {

using namespace std::chrono_literals;

inline const QString kDemoEmail = QStringLiteral("demo@orvane.test");
inline const QString kTwoFactorEmail = QStringLiteral("zweifaktor@orvane.test");
inline const QString kNotReadyEmail = QStringLiteral("avv@orvane.test");
inline const QString kPassword = QStringLiteral("orvane-demo");
// A Wednesday, 14:00 in Berlin: within the demo user's working day, after
// the demo data's early entry of today.
inline const QDateTime kStart(QDate(2026, 3, 4), QTime(13, 0), Qt::UTC);

// What the pick views hand to a start.
struct Pick {
    ClientDTO client;
    JobDTO job;
    JobTaskDTO task;
};

// Everything one end-to-end case runs in: the stand-in seeded with the demo
// data on an ephemeral port, a manual clock both sides read, own user
// defaults, an in-memory keyring; the store on demand.
class World {
public:
    explicit World(dev::DevServiceOptions options = {})
        : clock_(kStart), nowMs_(kStart.toMSecsSinceEpoch()),
          service_(dev::DevService::demoData(), withClock(std::move(options))) {
        service_.start();
        defaults_->setString(QStringLiteral("orvane_api_base_url"), service_.baseURL());
        biometrics_.available = false;
    }
    ~World() {
        try {
            settle();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "at the end of the case: " << e.what();
        }
        store_.reset();
        // Idle keep-alive connections would hold the service's workers.
        OrvaneAPIClient::session().manager().clearConnectionCache();
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    AppStore& store() {
        if (!store_)
            store_ = std::make_unique<AppStore>();
        return *store_;
    }
    // The app quits; the next store() is the next start.
    void restart() {
        settle();
        store_.reset();
    }
    dev::DevService& service() { return service_; }
    platform::UserDefaults& defaults() { return *defaults_; }

    void advance(std::chrono::milliseconds by) {
        clock_.advance(by.count());
        nowMs_ += by.count();
    }

    // Lets started work finish: until every request has its answer, the
    // service has heard nothing for a while and no refresh runs.
    void settle() {
        std::size_t seen = service_.requestCount();
        QDeadlineTimer quiet(300ms);
        QDeadlineTimer unanswered(3s); // an aborted request is never answered
        const QDeadlineTimer giveUp(test::kPatience);
        while (!giveUp.hasExpired()) {
            test::spin(20ms);
            if (const std::size_t now = service_.requestCount(); now != seen) {
                seen = now;
                quiet.setRemainingTime(300ms);
                unanswered.setRemainingTime(3s);
            } else if (quiet.hasExpired() &&
                       (service_.answeredCount() >= seen || unanswered.hasExpired()) &&
                       !(store_ && store_->isRefreshing())) {
                return;
            }
        }
        throw std::runtime_error("the store kept talking to the service");
    }

    bool spinUntil(const std::function<bool()>& condition) {
        return test::eventuallyTrue(condition);
    }

    void signIn(const QString& email = kDemoEmail,
                const std::optional<QString>& code = std::nullopt) {
        test::await(store().login(email, kPassword, code));
        settle();
    }

    std::optional<QString> storedToken() {
        test::KeychainScope::settle();
        if (auto token = readAuthToken(authTokenQuery(true)))
            return token;
        return readAuthToken(authTokenQuery(false));
    }

    // Looks the task up the way the pick views do: client, jobs, tasks.
    Pick pick(const QString& company, const QString& jobTitle, const QString& taskTitle) {
        for (const ClientDTO& client : store().clients()) {
            if (client.companyName != company)
                continue;
            const std::optional<QString> clientId = client.id;
            const std::optional<QString> archived = QStringLiteral("0");
            const auto jobs =
                test::await(store().api().fetchJobs(clientId, std::nullopt, archived, 100));
            for (const JobDTO& job : jobs.data) {
                if (job.title != jobTitle)
                    continue;
                for (const JobTaskDTO& task :
                     test::await(store().api().fetchJobTasks(job.id, true)))
                    if (task.title == taskTitle)
                        return {client, job, task};
            }
        }
        throw std::runtime_error(("no task " + taskTitle + " in the catalogue").toStdString());
    }

    // A request to the service past the store, with the store's token.
    std::pair<int, QJsonObject> call(const std::string& method, const std::string& path,
                                     const std::string& body = "{}") {
        httplib::Client client("127.0.0.1", service_.port());
        const httplib::Headers headers{
            {"Authorization", "Bearer " + store().api().currentToken().value_or("").toStdString()},
            {"Accept", "application/json"}};
        const auto result = method == "PATCH"
                                ? client.Patch(path, headers, body, "application/json")
                                : client.Get(path, headers);
        if (!result)
            throw std::runtime_error("no answer from the service for " + path);
        return {result->status,
                QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object()};
    }

private:
    dev::DevServiceOptions withClock(dev::DevServiceOptions options) {
        options.quiet = true;
        options.now = [this] { return QDateTime::fromMSecsSinceEpoch(nowMs_.load(), Qt::UTC); };
        return options;
    }

    test::ClockScope clock_;
    std::atomic<qint64> nowMs_; // the clock as the service's threads read it
    test::TempUserDefaults defaults_;
    test::KeychainScope keychain_;
    test::FakeBiometrics biometrics_;
    test::FakeHaptics haptics_;
    dev::DevService service_;
    std::unique_ptr<AppStore> store_;
};

} // namespace orvane::e2e
