#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

#include <atomic>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace orvane::test {

struct RecordedRequest {
    std::string method;
    std::string path;      // as sent, still percent-encoded
    std::string query;     // as sent, without the "?"
    bool hasQuery = false; // whether the target had a "?" at all
    std::multimap<std::string, std::string> headers;
    std::string body;

    std::optional<std::string> header(const std::string& name) const;
    QJsonDocument json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(body)); }
};

// A body made while it is sent, without a length: `head`, `unit` `units`
// times, then `tail`. Nothing of it is held whole on either side of the test.
struct StreamedBody {
    std::string head;
    std::string unit;
    std::size_t units = 0;
    std::string tail;
    // Bytes the service got out before the client stopped reading.
    std::shared_ptr<std::atomic<std::size_t>> sent = std::make_shared<std::atomic<std::size_t>>(0);
    std::size_t size() const { return head.size() + unit.size() * units + tail.size(); }
};

struct FakeResponse {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    std::chrono::milliseconds delay{0};
    std::optional<StreamedBody> streamed; // instead of `body`

    static FakeResponse json(int status, const std::string& body) {
        FakeResponse r;
        r.status = status;
        r.body = body;
        return r;
    }
};

using FakeHandler = std::function<FakeResponse(const RecordedRequest&)>;

// A real HTTP server on 127.0.0.1 with an ephemeral port. Routes are scripted
// per test by method and exact (encoded) path; every request is recorded.
// Unscripted routes answer 404.
class FakeService {
public:
    FakeService();
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>", the base URL to configure.
    QString baseURL() const;

    void on(const std::string& method, const std::string& path, FakeResponse response);
    void on(const std::string& method, const std::string& path, FakeHandler handler);

    // Every request must then carry this basic-auth pair, or gets a 401
    // Basic challenge.
    void requireBasicAuth(const std::string& user, const std::string& password);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& method,
                                            const std::string& path) const;
    std::size_t requestCount() const;
    // Requests whose answer the service has given, after any delay.
    std::size_t answeredCount() const;
    RecordedRequest lastRequest() const;
    void clearRequests();

private:
    void handle(const void* request, void* response);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, FakeHandler> routes_;
    std::vector<RecordedRequest> requests_;
    std::size_t answered_ = 0;
    std::optional<std::pair<std::string, std::string>> basicAuth_;
};

} // namespace orvane::test
