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

// An error of a window that went away meanwhile is ours to drop: without
// it, xcb hands the error to Qt's event queue.
struct DropError {
    xcb_generic_error_t* error = nullptr;
    ~DropError() { std::free(error); }
    operator xcb_generic_error_t**() { return &error; }
};

// A name another program chose is looked up, never made an atom for good.
xcb_atom_t atom(xcb_connection_t* connection, const char* name, bool onlyIfExists = false) {
    const auto cookie = xcb_intern_atom(connection, onlyIfExists ? 1 : 0,
                                        static_cast<uint16_t>(strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(
        xcb_intern_atom_reply(connection, cookie, DropError()));
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

xcb_connection_t* x11Connection() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

using PropertyReply = std::unique_ptr<xcb_get_property_reply_t, FreeReply>;

// Up to `most` 32-bit values of a property of `type`.
std::vector<uint32_t> values(const PropertyReply& reply, xcb_atom_t type, std::size_t most) {
    if (!reply || reply->format != 32 || reply->type != type)
        return {};
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = std::min<std::size_t>(xcb_get_property_value_length(reply.get()) / 4, most);
    return {data, data + count};
}

PropertyReply getProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie) {
    return PropertyReply(xcb_get_property_reply(connection, cookie, DropError()));
}

// Bounds on what other programs put on the root window.
constexpr uint32_t kMostWindows = 4096;
constexpr uint32_t kMostWorkAreas = 64;

} // namespace

std::optional<DesktopPanels> desktopPanels() {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return std::nullopt;
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    if (screens.rem <= 0)
        return std::nullopt;
    const xcb_window_t root = screens.data->root;
    DesktopPanels panels;

    // The application's one connection: its atoms stay.
    static const xcb_atom_t partial = atom(connection, "_NET_WM_STRUT_PARTIAL");
    static const xcb_atom_t strut = atom(connection, "_NET_WM_STRUT");
    static const xcb_atom_t clientList = atom(connection, "_NET_CLIENT_LIST");
    static const xcb_atom_t currentDesktop = atom(connection, "_NET_CURRENT_DESKTOP");
    const auto clients =
        xcb_get_property(connection, 0, root, clientList, XCB_ATOM_WINDOW, 0, kMostWindows);
    const auto desktop =
        xcb_get_property(connection, 0, root, currentDesktop, XCB_ATOM_CARDINAL, 0, 1);
    const auto tree = xcb_query_tree(connection, root);

    // Panels are the window manager's clients, or (without one, or for
    // docks it leaves alone) the root's own children.
    std::vector<xcb_window_t> windows;
    for (const uint32_t id :
         values(getProperty(connection, clients), XCB_ATOM_WINDOW, kMostWindows))
        windows.push_back(id);
    if (const std::unique_ptr<xcb_query_tree_reply_t, FreeReply> children(
            xcb_query_tree_reply(connection, tree, DropError()));
        children) {
        const xcb_window_t* ids = xcb_query_tree_children(children.get());
        const int count = std::min<int>(xcb_query_tree_children_length(children.get()),
                                        static_cast<int>(kMostWindows));
        windows.insert(windows.end(), ids, ids + count);
    }
    std::sort(windows.begin(), windows.end());
    windows.erase(std::unique(windows.begin(), windows.end()), windows.end());

    const auto current = values(getProperty(connection, desktop), XCB_ATOM_CARDINAL, 1);
    const QByteArray areasName =
        "_GTK_WORKAREAS_D" + QByteArray::number(current.empty() ? 0u : current[0]);
    const xcb_atom_t areasAtom = atom(connection, areasName.constData(), true);
    const auto areas =
        xcb_get_property(connection, 0, root, areasAtom, XCB_ATOM_CARDINAL, 0, kMostWorkAreas * 4);

    // Asked all at once: one round trip, however many windows.
    struct Asked {
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t partial, strut;
    };
    std::vector<Asked> asked;
    asked.reserve(windows.size());
    for (const xcb_window_t window : windows)
        asked.push_back({xcb_get_window_attributes(connection, window),
                         xcb_get_property(connection, 0, window, partial, XCB_ATOM_CARDINAL, 0, 12),
                         xcb_get_property(connection, 0, window, strut, XCB_ATOM_CARDINAL, 0, 4)});
    std::vector<std::pair<xcb_window_t, std::array<quint32, 4>>> reserving;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const std::unique_ptr<xcb_get_window_attributes_reply_t, FreeReply> attributes(
            xcb_get_window_attributes_reply(connection, asked[i].attributes, DropError()));
        const auto full = values(getProperty(connection, asked[i].partial), XCB_ATOM_CARDINAL, 12);
        const auto plain = values(getProperty(connection, asked[i].strut), XCB_ATOM_CARDINAL, 4);
        const auto& strip = full.size() == 12 ? full : plain;
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || strip.size() < 4)
            continue;
        reserving.push_back({windows[i], {strip[0], strip[1], strip[2], strip[3]}});
    }
    // Where each panel is on the screen, again in one round trip.
    std::vector<std::pair<xcb_get_geometry_cookie_t, xcb_translate_coordinates_cookie_t>> places;
    for (const auto& [window, strut] : reserving)
        places.push_back({xcb_get_geometry(connection, window),
                          xcb_translate_coordinates(connection, window, root, 0, 0)});
    for (std::size_t i = 0; i < places.size(); ++i) {
        const std::unique_ptr<xcb_get_geometry_reply_t, FreeReply> geometry(
            xcb_get_geometry_reply(connection, places[i].first, DropError()));
        const std::unique_ptr<xcb_translate_coordinates_reply_t, FreeReply> origin(
            xcb_translate_coordinates_reply(connection, places[i].second, DropError()));
        if (geometry && origin)
            panels.panels.push_back(
                {QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height),
                 reserving[i].second});
    }
    const auto rects =
        values(getProperty(connection, areas), XCB_ATOM_CARDINAL, kMostWorkAreas * 4);
    for (std::size_t i = 0; i + 4 <= rects.size(); i += 4) {
        const QRect rect(int(std::min<uint32_t>(rects[i], 0x7fff)),
                         int(std::min<uint32_t>(rects[i + 1], 0x7fff)),
                         int(std::min<uint32_t>(rects[i + 2], 0x7fff)),
                         int(std::min<uint32_t>(rects[i + 3], 0x7fff)));
        if (!rect.isEmpty())
            panels.workAreas.push_back(rect);
    }
    return panels;
}

PointerTrust pointerTrust() {
    const bool insideWayland = qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                               qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
    return insideWayland ? PointerTrust::Stale : PointerTrust::Current;
}

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
            xcb_get_property_reply(connection, cookie, DropError()));
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
