#include "support/raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace orvane::test {

namespace {

void writeAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::size_t contentLength(const std::string& head) {
    const std::string l = lower(head);
    const auto at = l.find("\r\ncontent-length:");
    if (at == std::string::npos)
        return 0;
    return std::stoul(l.substr(at + 17));
}

// Reads one request from `buffer` + the socket; false when the peer closed first.
bool readRequest(int fd, std::string& buffer, RawRequest& out) {
    char chunk[4096];
    std::size_t headEnd;
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    out.head = buffer.substr(0, headEnd + 4);
    const std::size_t length = contentLength(out.head);
    while (buffer.size() < headEnd + 4 + length) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    out.body = buffer.substr(headEnd + 4, length);
    buffer.erase(0, headEnd + 4 + length);
    const auto firstSpace = out.head.find(' ');
    const auto secondSpace = out.head.find(' ', firstSpace + 1);
    out.method = out.head.substr(0, firstSpace);
    out.target = out.head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    return true;
}

} // namespace

RawServer::RawServer(RawScript script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("raw server: cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

RawServer::~RawServer() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listenFd_);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        for (const int fd : openFds_)
            ::shutdown(fd, SHUT_RDWR);
        workers = std::move(workers_);
    }
    for (auto& worker : workers)
        worker.join();
}

QString RawServer::baseURL() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

std::vector<RawRequest> RawServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void RawServer::acceptLoop() {
    while (!stopping_) {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            return;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        openFds_.push_back(fd);
        const int connection = ++connections_;
        workers_.emplace_back([this, fd, connection] { serve(fd, connection); });
    }
}

void RawServer::serve(int fd, int connection) {
    std::string buffer;
    for (int index = 0; !stopping_; ++index) {
        RawRequest request;
        if (!readRequest(fd, buffer, request))
            break;
        request.connection = connection;
        request.indexOnConnection = index;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        const RawReply reply = script_(request);
        if (reply.byteGap.count() > 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const std::size_t head = reply.bytes.find("\r\n\r\n");
            std::size_t at = head == std::string::npos ? 0 : head + 4;
            writeAll(fd, reply.bytes.substr(0, at));
            for (; at < reply.bytes.size(); ++at) {
                std::this_thread::sleep_for(reply.byteGap);
                writeAll(fd, reply.bytes.substr(at, 1));
            }
        } else {
            writeAll(fd, reply.bytes);
        }
        if (reply.holdOpen.count() > 0) {
            pollfd wait{fd, POLLRDHUP, 0};
            ::poll(&wait, 1, static_cast<int>(reply.holdOpen.count()));
        }
        if (reply.close)
            break;
    }
    std::lock_guard lock(mutex_);
    std::erase(openFds_, fd);
    ::close(fd);
}

std::string forwardRaw(int port, const RawRequest& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string answer;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        // One exchange per connection: the upstream closes after its reply.
        std::string head = request.head;
        const auto at = lower(head).find("\r\nconnection:");
        if (at != std::string::npos)
            head.erase(at, head.find("\r\n", at + 2) - at);
        head.insert(head.size() - 2, "Connection: close\r\n");
        writeAll(fd, head + request.body);
        char chunk[4096];
        ssize_t n;
        while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
            answer.append(chunk, static_cast<std::size_t>(n));
    }
    if (fd >= 0)
        ::close(fd);
    return answer;
}

std::string rawHttpReply(int status, const std::string& body, bool keepAlive) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: " + (keepAlive ? "keep-alive" : "close") +
           "\r\n\r\n" + body;
}

} // namespace orvane::test
