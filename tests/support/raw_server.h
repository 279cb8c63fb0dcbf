#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orvane::test {

struct RawRequest {
    std::string method;
    std::string target;
    std::string head; // request line and headers, up to the blank line
    std::string body;
    int connection = 0;        // 1 for the first connection accepted, and so on
    int indexOnConnection = 0; // 0 for the first request on its connection
    std::string bytes() const { return head + body; }
};

// What goes back for one request. Nothing to send and `close` set: the
// connection closes without a reply.
struct RawReply {
    std::string bytes;
    bool close = true;
    std::chrono::milliseconds holdOpen{0}; // before closing: a stalled sender
    // The body after the head a byte at a time, this far apart: a slow link.
    std::chrono::milliseconds byteGap{0};
    static RawReply dropped() { return {}; }
};

using RawScript = std::function<RawReply(const RawRequest&)>;

// A TCP server on 127.0.0.1 that answers with whatever bytes the script
// gives, so that tests can break HTTP the way networks and proxies do:
// connections dropped after the request, bodies cut short, kept-alive
// connections closed under a client.
class RawServer {
public:
    explicit RawServer(RawScript script);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return port_; }
    QString baseURL() const;
    std::vector<RawRequest> requests() const;
    int connections() const { return connections_.load(); }

private:
    void acceptLoop();
    void serve(int fd, int connection);

    RawScript script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
    std::vector<RawRequest> requests_;
};

// Sends `request` to 127.0.0.1:`port` on a connection of its own and returns
// everything that came back until that side closed.
std::string forwardRaw(int port, const RawRequest& request);

// "HTTP/1.1 <status> X\r\n…": a whole reply with Content-Length.
std::string rawHttpReply(int status, const std::string& body, bool keepAlive = false);

} // namespace orvane::test
