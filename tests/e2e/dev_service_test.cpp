// The stand-in as a black box: what it does on the wire and as a program.

#include "dev_service.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using orvane::dev::DevService;
using namespace std::chrono_literals;

namespace {

const std::string kSignIn =
    R"({"email":"demo@orvane.test","password":"orvane-demo","device_name":"Test")";

// A client connection that sends exactly the bytes a case writes.
class RawConnection {
public:
    explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const timeval limit{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    void send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // The status of the answer; 0 when none arrives within five seconds.
    int status() {
        std::string received;
        char buffer[512];
        while (received.find("\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return 0;
            received.append(buffer, static_cast<size_t>(n));
        }
        const auto space = received.find(' ');
        return space == std::string::npos ? 0 : std::atoi(received.c_str() + space + 1);
    }

private:
    int fd_;
    bool connected_ = false;
};

class DevServiceWire : public ::testing::Test {
protected:
    void SetUp() override {
        service_ = std::make_unique<DevService>(DevService::demoData(),
                                                orvane::dev::DevServiceOptions{.quiet = true});
        service_->start();
    }

    httplib::Client client() {
        httplib::Client c("127.0.0.1", service_->port());
        c.set_connection_timeout(2s);
        c.set_read_timeout(2s);
        c.set_write_timeout(2s);
        return c;
    }

    std::string signIn() {
        const auto answer = client().Post("/api/auth/login", kSignIn + "}", "application/json");
        if (!answer || answer->status != 200)
            return {};
        return QJsonDocument::fromJson(QByteArray::fromStdString(answer->body))
            .object()
            .value("token")
            .toString()
            .toStdString();
    }

    std::unique_ptr<DevService> service_;
};

struct BodyCase {
    const char* name;
    bool chunked;
    std::size_t padding; // bytes of filler inside the sign-in object
    int status;
};

void PrintTo(const BodyCase& c, std::ostream* out) {
    *out << c.name;
}

class DevServiceBodies : public DevServiceWire, public ::testing::WithParamInterface<BodyCase> {};

// However a body is framed, more than 1 MiB is refused before it fills memory.
TEST_P(DevServiceBodies, SignInBodyIsReadUpToTheLimit) {
    const BodyCase& c = GetParam();
    const std::string head = kSignIn + R"(,"padding":")";
    const std::string tail = "\"}";
    std::size_t sent = 0;
    const httplib::ContentProviderWithoutLength chunks = [&](size_t, httplib::DataSink& sink) {
        if (sent == 0)
            sink.write(head.data(), head.size());
        const std::string filler(std::min<std::size_t>(64 * 1024, c.padding - sent), 'x');
        if (!filler.empty())
            sink.write(filler.data(), filler.size());
        sent += filler.size();
        if (sent == c.padding) {
            sink.write(tail.data(), tail.size());
            sink.done();
        }
        return true;
    };
    const auto answer =
        c.chunked ? client().Post("/api/auth/login", chunks, "application/json")
                  : client().Post("/api/auth/login", head + std::string(c.padding, 'x') + tail,
                                  "application/json");
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, c.status);
}

INSTANTIATE_TEST_SUITE_P(Framing, DevServiceBodies,
                         ::testing::Values(BodyCase{"ChunkedSmall", true, 10, 200},
                                           BodyCase{"ChunkedTenMegabytes", true, 10 << 20, 413},
                                           BodyCase{"LengthTwoMegabytes", false, 2 << 20, 413}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevServiceWire, PostWithoutBodyOrLengthIsAnEmptyBody) {
    const std::string token = signIn();
    ASSERT_FALSE(token.empty());
    RawConnection connection(service_->port());
    ASSERT_TRUE(connection.connected());
    connection.send("POST /api/auth/logout HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    "Authorization: Bearer " +
                    token + "\r\nAccept: application/json\r\n\r\n");
    EXPECT_EQ(connection.status(), 204);
    EXPECT_EQ(client().Get("/api/user", {{"Authorization", "Bearer " + token}})->status, 401)
        << "the token is signed out";
}

TEST_F(DevServiceWire, AnswersWhileClientsStall) {
    std::vector<std::unique_ptr<RawConnection>> stalled;
    for (int i = 0; i < 32; ++i) {
        stalled.push_back(std::make_unique<RawConnection>(service_->port()));
        if (i % 2)
            stalled.back()->send("GET /api/user HTTP/1.1\r\n"); // and never the rest
        // httplib listens with a backlog of 5: a burst of connects would wait
        // for SYN retries.
        std::this_thread::sleep_for(2ms);
    }
    const auto started = std::chrono::steady_clock::now();
    const auto answer = client().Get("/api/clients");
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 401);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
}

TEST_F(DevServiceWire, AStopRefusesConnectionsAndAStartOnThatPortKeepsTheData) {
    const std::string token = signIn();
    ASSERT_FALSE(token.empty());
    const int port = service_->port();
    service_->stop();
    EXPECT_FALSE(RawConnection(port).connected()) << "nothing listens";
    ASSERT_EQ(service_->start(QStringLiteral("127.0.0.1"), port), port);
    const auto answer = client().Get("/api/user", {{"Authorization", "Bearer " + token}});
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 200) << "the sign-in outlived the pause";
}

// The program itself, as a newcomer starts it.
class DevServiceProgram : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& p : programs_) {
            p->kill();
            p->waitForFinished(5000);
        }
    }

    QProcess& run(const QStringList& arguments) {
        programs_.push_back(std::make_unique<QProcess>());
        QProcess& p = *programs_.back();
        p.start(QStringLiteral(ORVANE_DEV_SERVICE_PROGRAM), arguments);
        return p;
    }

    // The port from the start-up line; 0 when none came.
    static int listeningPort(QProcess& p) {
        QByteArray seen;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!seen.contains('\n') && std::chrono::steady_clock::now() < deadline) {
            p.waitForReadyRead(100);
            seen += p.readAllStandardError();
        }
        const auto match = QRegularExpression(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)"))
                               .match(QString::fromUtf8(seen));
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    }

    std::vector<std::unique_ptr<QProcess>> programs_;
};

TEST_F(DevServiceProgram, RefusesAPortThatIsTaken) {
    QProcess& first = run({"--port", "0", "--quiet"});
    const int port = listeningPort(first);
    ASSERT_GT(port, 0);

    QProcess& second = run({"--port", QString::number(port), "--quiet"});
    ASSERT_TRUE(second.waitForFinished(5000)) << "a second stand-in started on the same port";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(second.exitCode(), 0);
    const QString message = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(message.contains(QStringLiteral("already in use"))) << message.toStdString();
}

TEST_F(DevServiceProgram, InterruptEndsItAtOnceWithAConnectionKeptAlive) {
    QProcess& program = run({"--port", "0", "--quiet"});
    const int port = listeningPort(program);
    ASSERT_GT(port, 0);
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    ASSERT_EQ(client.Get("/api/user")->status, 401);

    ::kill(static_cast<pid_t>(program.processId()), SIGINT);
    EXPECT_TRUE(program.waitForFinished(1000)) << "still running a second after Ctrl+C";
    EXPECT_EQ(program.exitCode(), 0);
}

} // namespace
