#include "support/fake_service.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>

namespace orvane::test {

namespace {

// Chunked, in pieces of about 64 KB made as the client takes them. httplib
// compresses only the bare "application/json", so a type with parameters
// keeps the bytes as scripted.
void stream(httplib::Response& res, const FakeResponse& answer) {
    struct Cursor {
        StreamedBody body;
        std::size_t next = 0; // units written
        bool headSent = false;
        bool announced = false; // else chunked
    };
    auto cursor = std::make_shared<Cursor>(Cursor{*answer.streamed});
    const std::string type = answer.contentType == "application/json"
                                 ? "application/json; charset=utf-8"
                                 : answer.contentType;
    const auto next = [cursor](size_t, httplib::DataSink& sink) {
        StreamedBody& body = cursor->body;
        std::string piece;
        if (!cursor->headSent) {
            piece = body.head;
            cursor->headSent = true;
        }
        while (piece.size() < 64 * 1024 && cursor->next < body.units) {
            piece += body.unit;
            ++cursor->next;
        }
        const bool last = cursor->next >= body.units;
        if (last)
            piece += body.tail;
        if (!piece.empty() && !sink.write(piece.data(), piece.size()))
            return false;
        *body.sent += piece.size();
        if (last && !cursor->announced)
            sink.done();
        return !last || !cursor->announced;
    };
    // A length scripted in the headers is announced, whatever comes.
    for (const auto& [key, value] : answer.headers)
        if ((cursor->announced = key == "Content-Length"))
            return res.set_content_provider(
                std::stoull(value), type.c_str(),
                [next](size_t at, size_t, httplib::DataSink& sink) { return next(at, sink); });
    res.set_chunked_content_provider(type, next);
}

} // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (std::equal(key.begin(), key.end(), name.begin(), name.end(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return value;
    return std::nullopt;
}

FakeService::FakeService() : server_(std::make_unique<httplib::Server>()) {
    const auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
        handle(&req, &res);
    };
    server_->Get(".*", dispatch);
    server_->Post(".*", dispatch);
    server_->Put(".*", dispatch);
    server_->Patch(".*", dispatch);
    server_->Delete(".*", dispatch);
    server_->Options(".*", dispatch);
    // One request per connection: a kept-alive client connection would make
    // stop() wait out the keep-alive time.
    server_->set_keep_alive_max_count(1);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("fake service: cannot bind 127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeService::~FakeService() {
    server_->stop();
    if (thread_.joinable())
        thread_.join();
}

QString FakeService::baseURL() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

void FakeService::on(const std::string& method, const std::string& path, FakeResponse response) {
    on(method, path, [response](const RecordedRequest&) { return response; });
}

void FakeService::on(const std::string& method, const std::string& path, FakeHandler handler) {
    std::lock_guard lock(mutex_);
    routes_[{method, path}] = std::move(handler);
}

void FakeService::requireBasicAuth(const std::string& user, const std::string& password) {
    std::lock_guard lock(mutex_);
    basicAuth_ = {user, password};
}

void FakeService::handle(const void* request, void* response) {
    const auto& req = *static_cast<const httplib::Request*>(request);
    auto& res = *static_cast<httplib::Response*>(response);

    RecordedRequest recorded;
    recorded.method = req.method;
    const auto mark = req.target.find('?');
    recorded.path = req.target.substr(0, mark);
    recorded.hasQuery = mark != std::string::npos;
    recorded.query = recorded.hasQuery ? req.target.substr(mark + 1) : std::string();
    for (const auto& [key, value] : req.headers)
        recorded.headers.emplace(key, value);
    recorded.body = req.body;

    FakeHandler handler;
    std::optional<std::pair<std::string, std::string>> gate;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(recorded);
        gate = basicAuth_;
        const auto it = routes_.find({recorded.method, recorded.path});
        if (it != routes_.end())
            handler = it->second;
    }
    struct Answered {
        FakeService& service;
        ~Answered() {
            std::lock_guard lock(service.mutex_);
            ++service.answered_;
        }
    } answered{*this};

    if (gate) {
        const std::string expected =
            "Basic " +
            QByteArray::fromStdString(gate->first + ":" + gate->second).toBase64().toStdString();
        if (recorded.header("Authorization").value_or("") != expected) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"orvane\"");
            res.set_content(R"({"message":"Unauthenticated."})", "application/json");
            return;
        }
    }
    if (!handler) {
        res.status = 404;
        res.set_content(R"({"message":"Not Found"})", "application/json");
        return;
    }
    const FakeResponse answer = handler(recorded);
    if (answer.delay.count() > 0)
        std::this_thread::sleep_for(answer.delay);
    res.status = answer.status;
    for (const auto& [key, value] : answer.headers)
        res.set_header(key, value);
    if (answer.streamed) {
        stream(res, answer);
        return;
    }
    if (answer.body.empty()) {
        res.set_content(answer.body, answer.contentType);
        return;
    }
    // Served through a provider of known length, which httplib never
    // compresses: the client receives the scripted bytes as they are, not
    // Brotli (set_content compresses whenever Accept-Encoding allows it).
    auto body = std::make_shared<const std::string>(answer.body);
    res.set_content_provider(body->size(), answer.contentType.c_str(),
                             [body](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return sink.write(body->data() + offset, length);
                             });
}

std::vector<RecordedRequest> FakeService::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> FakeService::requestsTo(const std::string& method,
                                                     const std::string& path) const {
    std::lock_guard lock(mutex_);
    std::vector<RecordedRequest> out;
    for (const auto& r : requests_)
        if (r.method == method && r.path == path)
            out.push_back(r);
    return out;
}

std::size_t FakeService::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

std::size_t FakeService::answeredCount() const {
    std::lock_guard lock(mutex_);
    return answered_;
}

RecordedRequest FakeService::lastRequest() const {
    std::lock_guard lock(mutex_);
    if (requests_.empty())
        throw std::runtime_error("fake service: no request received");
    return requests_.back();
}

void FakeService::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

} // namespace orvane::test
