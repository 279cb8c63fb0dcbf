#include "dev_service.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <pthread.h>

using orvane::dev::DevService;
using orvane::dev::DevServiceOptions;

namespace {

int fail(const QString& text) {
    std::fprintf(stderr, "orvane-dev-service: %s\n", qPrintable(text));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-dev-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A local stand-in of the Orvane web service with demo data in memory.\n"
                       "Demo accounts (password orvane-demo): demo@orvane.test, "
                       "zweifaktor@orvane.test (two-factor code %1), avv@orvane.test (account "
                       "not ready).")
            .arg(QLatin1String(DevService::kDemoCode)));
    parser.addHelpOption();
    const QCommandLineOption host(QStringLiteral("host"),
                                  QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                  QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on (default 8765, 0 = any)."),
                                  QStringLiteral("port"), QStringLiteral("8765"));
    const QCommandLineOption data(
        QStringLiteral("data"),
        QStringLiteral("Seed JSON file (default: the demo data built into the program)."),
        QStringLiteral("path"));
    const QCommandLineOption basicAuth(
        QStringLiteral("basic-auth"),
        QStringLiteral("Put an HTTP basic-auth gate in front, with this pair."),
        QStringLiteral("user:password"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No log line per request."));
    parser.addOptions({host, port, data, basicAuth, quiet});
    parser.process(app);

    bool portOk = false;
    const int portNumber = parser.value(port).toInt(&portOk);
    if (!portOk || portNumber < 0 || portNumber > 65535)
        return fail(QStringLiteral("--port wants a number from 0 to 65535"));

    DevServiceOptions options;
    options.quiet = parser.isSet(quiet);
    if (parser.isSet(basicAuth)) {
        const QString pair = parser.value(basicAuth);
        const qsizetype colon = pair.indexOf(u':');
        if (colon <= 0)
            return fail(QStringLiteral("--basic-auth wants user:password"));
        options.basicAuth = std::pair(pair.left(colon), pair.mid(colon + 1));
    }

    // Signals are taken by sigwait below, not by the server's threads.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        const QJsonDocument seed =
            parser.isSet(data) ? DevService::readData(parser.value(data)) : DevService::demoData();
        DevService service(seed, options);
        const int bound = service.start(parser.value(host), portNumber);
        std::fprintf(stderr,
                     "orvane-dev-service: listening on http://%s:%d (sign in as demo@orvane.test "
                     "/ orvane-demo; Ctrl+C stops)\n",
                     qPrintable(parser.value(host)), bound);
        int received = 0;
        sigwait(&stopSignals, &received);
        // stop() would wait out every kept-alive connection's idle time, and
        // nothing in memory outlives the program anyway.
        std::_Exit(0);
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return 0;
}
