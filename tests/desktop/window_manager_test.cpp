// The pill and the popover as a window manager (openbox) treats them: on
// every workspace, out of the taskbar, and never left minimised.

#include "app/pill_window.h"
#include "app/popover_window.h"
#include "desktop/x_desktop.h"
#include "store/app_store.h"
#include "support/await.h"
#include "support/keychain_scope.h"
#include "support/temp_user_defaults.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

using namespace orvane;
using namespace std::chrono_literals;

namespace {

template <class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* x11() {
    auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

xcb_window_t root() {
    return xcb_setup_roots_iterator(xcb_get_setup(x11())).data->root;
}

xcb_atom_t atom(const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(x11(), xcb_intern_atom(x11(), 0, uint16_t(strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::vector<uint32_t> property(xcb_window_t window, const char* name, xcb_atom_t type) {
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(x11(), xcb_get_property(x11(), 0, window, atom(name), type, 0, 64),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

// The states the window manager holds for the window.
bool hasStates(xcb_window_t window, std::initializer_list<const char*> names) {
    const std::vector<uint32_t> states = property(window, "_NET_WM_STATE", XCB_ATOM_ATOM);
    for (const char* name : names)
        if (std::find(states.begin(), states.end(), atom(name)) == states.end())
            return false;
    return true;
}

bool viewable(xcb_window_t window) {
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(x11(), xcb_get_window_attributes(x11(), window), nullptr),
        &std::free);
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

// What a pager or a taskbar asks of the window manager.
void ask(xcb_window_t window, const char* type, std::initializer_list<uint32_t> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    int i = 0;
    for (const uint32_t value : data)
        event.data.data32[i++] = value;
    xcb_send_event(x11(), 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(x11());
}

uint32_t currentDesktop() {
    const std::vector<uint32_t> value = property(root(), "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL);
    return value.empty() ? 0xFFFFFFFF : value[0];
}

class WindowManager : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::XDesktop::whyNot().isEmpty())
            GTEST_SKIP() << "No window manager: " << test::XDesktop::whyNot().toStdString();
        ASSERT_TRUE(x11());
        store.emplace();
    }
    void TearDown() override {
        // Back to the first workspace for the next case.
        if (x11()) {
            ask(root(), "_NET_CURRENT_DESKTOP", {0, XCB_CURRENT_TIME});
            test::eventuallyTrue([] { return currentDesktop() == 0; });
        }
    }

    test::TempUserDefaults defaults;
    test::KeychainScope keychain;
    std::optional<AppStore> store;
};

} // namespace

TEST_F(WindowManager, ThePillShowsOnEveryWorkspaceAboveOthersAndOutOfTheTaskbar) {
    PillWindow pill(*store, [] {});
    pill.show();
    const auto id = static_cast<xcb_window_t>(pill.winId());
    ASSERT_TRUE(test::eventuallyTrue([&] { return viewable(id); }));
    EXPECT_TRUE(test::eventuallyTrue([&] {
        return hasStates(
            id, {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"});
    })) << "the window manager keeps it out of the taskbar and the switcher, above others";
    EXPECT_TRUE(test::eventuallyTrue([&] {
        const std::vector<uint32_t> desktop = property(id, "_NET_WM_DESKTOP", XCB_ATOM_CARDINAL);
        return !desktop.empty() && desktop[0] == 0xFFFFFFFF;
    })) << "on all workspaces";

    // Another workspace: the pill is still there.
    ask(root(), "_NET_CURRENT_DESKTOP", {1, XCB_CURRENT_TIME});
    ASSERT_TRUE(test::eventuallyTrue([] { return currentDesktop() == 1; }))
        << "openbox has a second workspace";
    test::spin(100ms);
    EXPECT_TRUE(viewable(id)) << "the pill shows on the second workspace too";
}

// A panel quits while the user types: the pill appears, the keyboard stays.
TEST_F(WindowManager, ThePillTakesNoFocusFromTheWindowTheUserTypesIn) {
    QLineEdit typing;
    typing.show();
    typing.activateWindow();
    ASSERT_TRUE(test::eventuallyTrue([&] { return typing.isActiveWindow(); }));

    PillWindow pill(*store, [] {});
    pill.show();
    const auto id = static_cast<xcb_window_t>(pill.winId());
    ASSERT_TRUE(test::eventuallyTrue([&] { return viewable(id); }));
    // Asked after the mapping: then the window manager has taken the window in.
    ASSERT_TRUE(test::eventuallyTrue([&] { return hasStates(id, {"_NET_WM_STATE_ABOVE"}); }));
    EXPECT_EQ(property(id, "WM_HINTS", XCB_ATOM_WM_HINTS).at(1), 0u) << "asks for no keyboard";
    EXPECT_TRUE(typing.isActiveWindow()) << "the keyboard stays where the user types";
}

// The X server maps the windows a quitting window manager had taken in, also
// a popover we had just hidden (a shell restart): it must not come back as an
// empty box. Watched from a connection of the test's own.
TEST_F(WindowManager, AHiddenPopoverMappedBehindOurBackIsHiddenAgain) {
    PopoverWindow popover;
    popover.setContent(new QLabel(QStringLiteral("Orvane")));
    popover.openAt(QRect(1180, 760, 80, 28));
    const auto id = static_cast<xcb_window_t>(popover.winId());
    ASSERT_TRUE(test::eventuallyTrue([&] { return viewable(id); }));
    popover.dismiss();
    ASSERT_TRUE(test::eventuallyTrue([&] { return !viewable(id); }));

    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(other, id, XCB_CW_EVENT_MASK, &mask);
    xcb_map_window(other, id);
    xcb_flush(other);
    uint8_t last = 0; // mapped, then hidden again
    EXPECT_TRUE(test::eventuallyTrue([&] {
        while (xcb_generic_event_t* event = xcb_poll_for_event(other)) {
            const uint8_t type = event->response_type & ~0x80;
            std::free(event);
            if (type == XCB_MAP_NOTIFY || (type == XCB_UNMAP_NOTIFY && last == XCB_MAP_NOTIFY))
                last = type;
        }
        return last == XCB_UNMAP_NOTIFY;
    }));
    xcb_disconnect(other);
}

// A taskbar's minimise (WM_CHANGE_STATE to iconic, as libwnck sends it): the
// popover closes, and the next opening shows it again, un-minimised and active.
TEST_F(WindowManager, AMinimisedPopoverOpensShownAndActive) {
    PopoverWindow popover;
    popover.setContent(new QLabel(QStringLiteral("Orvane")));
    const QRect anchor(1180, 760, 80, 28);
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        popover.openAt(anchor);
        const auto id = static_cast<xcb_window_t>(popover.winId());
        ASSERT_TRUE(test::eventuallyTrue([&] { return viewable(id); }));
        EXPECT_TRUE(test::eventuallyTrue([&] {
            return hasStates(id, {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
        })) << "no taskbar entry to minimise it from";
        EXPECT_TRUE(test::eventuallyTrue([&] {
            const std::vector<uint32_t> active =
                property(root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
            return !active.empty() && active[0] == id;
        })) << "the window manager made it the active window";

        // Qt asks for the activation once it hears of the mapping, before it
        // hears of the focus: a minimise sent earlier would be undone by it.
        ASSERT_TRUE(test::eventuallyTrue([&] { return popover.isActiveWindow(); }));
        constexpr uint32_t kIconic = 3;
        ask(id, "WM_CHANGE_STATE", {kIconic});
        ASSERT_TRUE(test::eventuallyTrue([&] { return !viewable(id); }));
        EXPECT_TRUE(test::eventuallyTrue([&] { return !popover.isVisible(); }))
            << "minimised is closed";
        // As before a person's next click: Qt took in that the keyboard left.
        ASSERT_TRUE(test::eventuallyTrue(
            [] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }));
    }
    popover.openAt(anchor);
    const auto id = static_cast<xcb_window_t>(popover.winId());
    EXPECT_TRUE(test::eventuallyTrue([&] { return viewable(id); }));
    EXPECT_FALSE(hasStates(id, {"_NET_WM_STATE_HIDDEN"}));
    EXPECT_TRUE(popover.isOpen());
    EXPECT_TRUE(test::eventuallyTrue([&] { return popover.isActiveWindow(); }))
        << "it has the keyboard";
}
