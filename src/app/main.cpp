#include "app/app_delegate.h"
#include "app/single_instance.h"
#include "views/kit/assets.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QThreadPool>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM quit through the event loop, so the store ends its work
// and the record store closes as at a normal quit.
void quitOnStopSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    // A Wayland client cannot place its own windows; XWayland lets the popover
    // open next to its anchor.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // An open popover redraws a few small rectangles many times a second. Put
    // through X shared memory, Qt waits for the server's answer before each
    // of them; sent as plain requests, they need no answer.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setDesktopFileName(QStringLiteral("app.orvane.Orvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt spreads large fills over its global thread pool. Here they come in
    // rare bursts (the popover shown, a sync's new figures); the threads need
    // not stay 30 s for the next one.
    QThreadPool::globalInstance()->setExpiryTimeout(2000);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    orvane::SingleInstance instance;
    switch (instance.claim()) {
    case orvane::SingleInstance::Claim::AnotherRuns:
        return instance.askRunningToToggle() ? 0 : 1;
    case orvane::SingleInstance::Claim::Owner:
    case orvane::SingleInstance::Claim::NoBus:
        break;
    }

    QIcon icon;
    for (const int size : {16, 22, 32, 48, 64, 128, 256})
        icon.addPixmap(orvane::assetPixmap(u"AppIcon", QSize(size, size)));
    QApplication::setWindowIcon(icon);

    quitOnStopSignals(app);
    orvane::AppDelegate delegate;
    QObject::connect(&instance, &orvane::SingleInstance::toggleRequested, &delegate,
                     &orvane::AppDelegate::togglePopover);
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
