#include "app/app_delegate.h"
#include "app/single_instance.h"
#include "platform/keychain_thread.h"
#include "views/kit/assets.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QThreadPool>

#include <csignal>
#include <cstdio>
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

// What a trial run (scripts/run --demo) tells the person at the terminal.
void tell(const char* line) {
    std::fprintf(stderr, "run: %s\n", line);
}

void tellWhereOrvaneIs(orvane::AppDelegate::StatusItemPlace place) {
    if (place == orvane::AppDelegate::StatusItemPlace::Panel)
        tell("Orvane is the icon in the panel's tray now: click it to open Orvane "
             "(or start scripts/run --demo again).");
    else
        tell("Orvane is the small window at the bottom right of the screen now: click it to "
             "open Orvane (or start scripts/run --demo again).");
}

} // namespace

int main(int argc, char** argv) {
    // A Wayland client cannot place its own windows. GNOME's and Plasma's
    // XWayland windows stand where they are put, so the popover opens next
    // to its anchor there; wlroots compositors (sway) and weston place X
    // windows themselves too, or hide them: native Wayland is better there.
    const QString desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toUpper();
    const bool placesXWindows = desktops.split(u':').contains(QStringLiteral("GNOME")) ||
                                desktops.split(u':').contains(QStringLiteral("KDE"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        // X11 also where Qt's Wayland plugin is missing.
        qputenv("QT_QPA_PLATFORM", placesXWindows ? "xcb" : "wayland;xcb");

    // Frames go through X shared memory, Qt's default. Plain requests spare
    // the open popover's small redraws a little, but cost the X server three
    // times as much for each slide of the picker (app_idle_bench --display).
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setDesktopFileName(QStringLiteral("app.orvane.Orvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt spreads large fills over its global thread pool. Here they come in
    // rare bursts (the popover shown, a sync's new figures); the threads need
    // not stay 30 s for the next one.
    QThreadPool::globalInstance()->setExpiryTimeout(2000);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const bool trial = !qEnvironmentVariableIsEmpty("ORVANE_DEMO");
    orvane::SingleInstance instance;
    const orvane::SingleInstance::Start start = instance.start();
    if (start != orvane::SingleInstance::Start::Run) {
        const bool handedOver = start == orvane::SingleInstance::Start::HandedOver;
        if (trial)
            tell(handedOver ? "Orvane already runs for a trial: it opened (or closed) its window "
                              "there. This start ends here."
                            : "Orvane already runs for a trial but did not answer.");
        return handedOver ? 0 : 1;
    }
    // A start while this one shuts down finds the name free.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance,
                     &orvane::SingleInstance::release);

    QIcon icon;
    for (const int size : {16, 22, 32, 48, 64, 128, 256})
        icon.addPixmap(orvane::assetPixmap(u"AppIcon", QSize(size, size)));
    QApplication::setWindowIcon(icon);

    quitOnStopSignals(app);
    // A keyring call still under way (a hung keyring) holds up no quit.
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [] { orvane::platform::KeychainThread::shared().shutDown(); });
    orvane::AppDelegate delegate;
    QObject::connect(&instance, &orvane::SingleInstance::toggleRequested, &delegate,
                     &orvane::AppDelegate::togglePopover);
    if (trial) {
        QObject::connect(&delegate, &orvane::AppDelegate::statusItemPlaced, &app,
                         &tellWhereOrvaneIs);
        const QByteArray signIn = qgetenv("ORVANE_DEMO_SIGN_IN");
        if (!signIn.isEmpty())
            std::fprintf(stderr, "run: sign in as %s\n", signIn.constData());
        tell("Ctrl+C here ends the trial (the app and the stand-in).");
    }
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
