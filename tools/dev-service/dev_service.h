#pragma once

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace orvane::dev {

struct DevServiceOptions {
    // When set, a request needs this basic-auth pair or a bearer token the
    // service issued (a real gate would sit in front of the whole host).
    std::optional<std::pair<QString, QString>> basicAuth;
    // No log line per request.
    bool quiet = false;
    // "Now" in UTC, for start and stop times and for what counts as today;
    // the real clock when empty. Called on the server's worker threads.
    std::function<QDateTime()> now;
};

// A stand-in for the Orvane web service on a loopback address: the REST API
// under /api as the app calls it, with state in memory seeded from a JSON
// document (see demo-data.json for its shape).
class DevService {
public:
    // The two-factor code every account with two-factor sign-in accepts.
    static constexpr const char* kDemoCode = "123456";

    // Throws std::runtime_error when the seed cannot be read.
    explicit DevService(const QJsonDocument& seed, DevServiceOptions options = {});
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // The demo data shipped with the program.
    static QJsonDocument demoData();
    // A seed document from a file; throws std::runtime_error.
    static QJsonDocument readData(const QString& path);

    // Starts serving on another thread and returns the bound port (port 0
    // picks a free one). Throws std::runtime_error when it cannot bind.
    int start(const QString& host = QStringLiteral("127.0.0.1"), int port = 0);
    // Refuses connections from now on, as a service gone away does. The data
    // stays: a start on the same port carries on with sign-ins and job times.
    void stop();
    int port() const;
    // "http://<host>:<port>", the address to point the app at.
    QString baseURL() const;

    // Back to the seed: sign-ins, started and changed job times are gone.
    void resetToSeed();
    // Requests received so far (counted on arrival), and those answered.
    std::size_t requestCount() const;
    std::size_t answeredCount() const;
    // Replaces an account's requirements, as completing or outdating the
    // profile or the AVV in the web application would. False for an unknown
    // e-mail.
    bool setAccountRequirements(const QString& email, const QJsonObject& requirements);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orvane::dev
