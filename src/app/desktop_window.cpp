#include "app/desktop_window.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace orvane {

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

xcb_window_t rootOf(xcb_connection_t* connection) {
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return screens.rem > 0 ? screens.data->root : xcb_window_t{XCB_WINDOW_NONE};
}

// A request to the window manager about a mapped window (EWMH client message).
void ask(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t type,
         std::initializer_list<uint32_t> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (const uint32_t value : data)
        event.data.data32[i++] = value;
    xcb_send_event(connection, 0, rootOf(connection),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

class UnaskedMapFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) != XCB_MAP_NOTIFY)
            return false;
        const xcb_window_t window = reinterpret_cast<const xcb_map_notify_event_t*>(event)->window;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() || !widget->testAttribute(Qt::WA_WState_Created) ||
                static_cast<xcb_window_t>(widget->winId()) != window)
                continue;
            auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
            if (xcb_connection_t* connection = x11 ? x11->connection() : nullptr) {
                xcb_unmap_window(connection, window);
                xcb_flush(connection);
            }
        }
        return false;
    }
};

} // namespace

void keepHiddenWindowsHidden() {
    static bool installed = false;
    if (installed || !qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    installed = true;
    static UnaskedMapFilter filter;
    qApp->installNativeEventFilter(&filter);
}

void keepOffTaskbar(QWidget* window, DesktopPresence presence, bool shown) {
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const bool everywhere = presence == DesktopPresence::EveryWorkspace;
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t desktop = atom(connection, "_NET_WM_DESKTOP");
    std::vector<xcb_atom_t> wanted = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                      atom(connection, "_NET_WM_STATE_SKIP_PAGER"),
                                      atom(connection, "_NET_WM_STATE_ABOVE")};
    if (everywhere)
        wanted.push_back(atom(connection, "_NET_WM_STATE_STICKY"));
    constexpr uint32_t kAllDesktops = 0xFFFFFFFF;

    if (!shown) {
        // Withdrawn: the hints are ours to write; Qt adds its own to them.
        std::vector<xcb_atom_t> states;
        const auto cookie = xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 64);
        const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(
            xcb_get_property_reply(connection, cookie, nullptr));
        if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
            const auto* values =
                static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
            states.assign(values, values + xcb_get_property_value_length(reply.get()) / 4);
        }
        for (const xcb_atom_t a : wanted)
            if (std::find(states.begin(), states.end(), a) == states.end())
                states.push_back(a);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(states.size()), states.data());
        if (everywhere)
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL,
                                32, 1, &kAllDesktops);
    } else {
        constexpr uint32_t kAdd = 1;
        constexpr uint32_t kFromApplication = 1;
        for (std::size_t i = 0; i < wanted.size(); i += 2)
            ask(connection, id, state,
                {kAdd, wanted[i], i + 1 < wanted.size() ? wanted[i + 1] : 0, kFromApplication, 0});
        if (everywhere)
            ask(connection, id, desktop, {kAllDesktops, kFromApplication, 0, 0, 0});
    }
    xcb_flush(connection);
}

} // namespace orvane
