#include "desktop/x_desktop.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvane::test {

namespace {

QString g_whyNot = QStringLiteral("not started");

// The program's full path, or empty.
std::string onPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    std::string dirs(path);
    std::size_t at = 0;
    while (at <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string candidate = dirs.substr(at, end - at) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = end + 1;
    }
    return {};
}

// A child that ends with us; `keepFd` stays open in it. Everything it needs
// is made before the fork: between fork and exec the child of a threaded
// process may not allocate (another thread may have held the allocator's
// lock), or it hangs before it ever runs the program.
pid_t spawn(const std::vector<std::string>& args, const char* display, int keepFd = -1) {
    const std::string program = onPath(args.front().c_str());
    if (program.empty())
        return -1;
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (!display || std::strncmp(*entry, "DISPLAY=", 8) != 0)
            environment.emplace_back(*entry);
    if (display)
        environment.push_back(std::string("DISPLAY=") + display);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(1);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            ::close(fd);
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

void end(pid_t& pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// Whether a window manager announced itself on the display's root window and
// is done starting: it names its workspaces and its (maybe empty) client list
// only once it runs. A window shown before that may land on no workspace.
bool managed(const char* display) {
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto present = [&](const char* name) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
            xcb_intern_atom_reply(
                connection,
                xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name),
                nullptr),
            &std::free);
        if (!atom || atom->atom == XCB_ATOM_NONE)
            return false;
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(
                connection,
                xcb_get_property(connection, 0, root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1),
                nullptr),
            &std::free);
        return reply && reply->type != XCB_ATOM_NONE;
    };
    const bool found = present("_NET_SUPPORTING_WM_CHECK") && present("_NET_CURRENT_DESKTOP") &&
                       present("_NET_CLIENT_LIST") && present("_NET_CLIENT_LIST_STACKING");
    xcb_disconnect(connection);
    return found;
}

} // namespace

XDesktop::~XDesktop() {
    end(manager_);
    end(server_);
}

QString XDesktop::whyNot() {
    return g_whyNot;
}

bool XDesktop::start() {
    for (const char* program : {"Xvfb", "openbox"})
        if (onPath(program).empty()) {
            g_whyNot = QStringLiteral("%1 is not installed (scripts/setup installs it)")
                           .arg(QLatin1String(program));
            return false;
        }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(30);

    // Xvfb writes the display it took to this pipe once it takes clients.
    int pipe[2];
    if (::pipe(pipe) != 0) {
        g_whyNot = QStringLiteral("no pipe for Xvfb");
        return false;
    }
    server_ = spawn({"Xvfb", "-displayfd", std::to_string(pipe[1]), "-screen", "0", "1280x800x24",
                     "-nolisten", "tcp"},
                    nullptr, pipe[1]);
    ::close(pipe[1]);
    std::string number;
    while (Clock::now() < deadline) {
        pollfd ready{pipe[0], POLLIN, 0};
        if (::poll(&ready, 1, 200) <= 0)
            continue;
        char c = 0;
        if (::read(pipe[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    ::close(pipe[0]);
    if (number.empty()) {
        g_whyNot = QStringLiteral("Xvfb did not start");
        return false;
    }
    display_ = QByteArray(":") + QByteArray::fromStdString(number);

    manager_ = spawn({"openbox", "--sm-disable"}, display_.constData());
    while (Clock::now() < deadline) {
        if (managed(display_.constData())) {
            g_whyNot.clear();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    g_whyNot = QStringLiteral("openbox did not take the display");
    return false;
}

} // namespace orvane::test
