// Reaching Orvane on a desktop, through the real windows: where it shows, how
// the popover keeps to the screen, keyboard-only use, Escape, a minimised
// popover. Offscreen, without a window manager: what a window manager does
// to our windows (minimising) is done here the way Qt hears it.

#include "e2e_ui/app_world.h"

#include "support/await.h"
#include "views/flow/login_view.h"
#include "views/flow/session_flow_view.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace orvane;
using namespace orvane::e2e;

namespace {

QRect screenArea() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// The whole frame on the screen once any slide has ended.
bool popoverOnScreen(AppWorld& world) {
    PopoverWindow* popover = world.app().popover();
    test::eventuallyTrue([&] { return !popover->sliding(); });
    return screenArea().contains(popover->frameGeometry());
}

bool signedIn(AppWorld& world) {
    return world.root().mainPanel() && world.root().mainPanel()->objectName() == "mainColumn";
}

QWidget* focused() {
    return QApplication::focusWidget();
}

} // namespace

// A panel that shows no items: the pill window stands in. Signed out by a
// refused token while open, the pill narrows beneath the popover at the
// screen's right edge; the popover follows it only as far as the edge.
TEST(DesktopRoad, ThePopoverStaysOnTheScreenWhenThePillChangesBeneathIt) {
    AppWorld world;
    world.watcher().setHostRegistered(false);
    world.launch();
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.app().statusItem()->isVisible(); }));
    if (!step("sign in from the pill", [&] {
            world.clickPill();
            ASSERT_TRUE(world.popoverShown());
            EXPECT_TRUE(popoverOnScreen(world));
            // The offscreen platform activates every window it shows, the pill
            // too (a window manager gives it no focus): wait for the popover's turn.
            ASSERT_TRUE(test::eventuallyTrue([&] {
                world.app().popover()->activateWindow();
                return world.app().popover()->isActiveWindow();
            }));
            world.type(world.named<QLineEdit>("email"), kDemoEmail);
            world.type(world.named<QLineEdit>("password"), kPassword);
            world.click(world.named<QAbstractButton>("signIn"));
            ASSERT_TRUE(test::eventuallyTrue([&] { return signedIn(world); }));
            world.settle();
            ASSERT_TRUE(popoverOnScreen(world));
            world.clickPill();
            ASSERT_FALSE(world.popoverShown());
            test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
            world.clickPill();
            ASSERT_TRUE(world.popoverShown());
            // Flush with the right edge: any slide to the right would leave the screen.
            EXPECT_EQ(world.app().popover()->frameGeometry().right(), screenArea().right());
        }))
        return;
    step("the token is refused at the next sync", [&] {
        const int pillWidth = world.app().statusItem()->width();
        world.service().resetToSeed(); // the service forgot every token
        world.app().syncTick();
        ASSERT_TRUE(test::eventuallyTrue([&] { return world.loginView() != nullptr; }));
        ASSERT_LT(world.app().statusItem()->width(), pillWidth) << "the pill narrowed";
        ASSERT_TRUE(world.popoverShown());
        EXPECT_TRUE(popoverOnScreen(world))
            << "frame x " << world.app().popover()->frameGeometry().left() << ".."
            << world.app().popover()->frameGeometry().right();
        world.settle();
    });
    step("opened again", [&] {
        world.clickPill();
        ASSERT_FALSE(world.popoverShown());
        test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
        world.clickPill();
        ASSERT_TRUE(world.popoverShown());
        EXPECT_TRUE(popoverOnScreen(world));
    });
}

// A watcher owns its name, but no panel shows items: Orvane stays on screen
// as the pill, and follows panels that come and go.
TEST(DesktopRoad, AWatcherWithoutAPanelLeavesThePillOnScreen) {
    AppWorld world;
    world.watcher().setHostRegistered(false);
    world.launch();
    QSignalSpy placed(&world.app(), &AppDelegate::statusItemPlaced);
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.app().statusItem()->isVisible(); }))
        << "nothing of Orvane on screen";
    // The first place is told when the watcher's answer comes, which may be
    // before or after the spy began: count from the known start.
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.app().panelItem()->hostKnown(); }));
    placed.clear();
    EXPECT_FALSE(world.app().onPanel());
    world.clickPill();
    EXPECT_TRUE(world.popoverShown());
    world.clickPill();

    world.watcher().setHostRegistered(true); // a panel starts
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.app().onPanel(); }));
    EXPECT_FALSE(world.app().statusItem()->isVisible());
    world.watcher().setHostRegistered(false); // and quits
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.app().statusItem()->isVisible(); }));
    EXPECT_FALSE(world.app().onPanel());

    // Each place is told once, as it is taken.
    ASSERT_TRUE(test::eventuallyTrue([&] { return placed.size() >= 2; }));
    test::spin(100ms);
    ASSERT_EQ(placed.size(), 2);
    EXPECT_EQ(placed[0][0].value<AppDelegate::StatusItemPlace>(),
              AppDelegate::StatusItemPlace::Panel);
    EXPECT_EQ(placed[1][0].value<AppDelegate::StatusItemPlace>(),
              AppDelegate::StatusItemPlace::PillWindow);
}

TEST(DesktopRoad, SignInWithTheKeyboardAlone) {
    AppWorld world;
    world.launch();
    world.clickPanelItem();
    ASSERT_NE(world.loginView(), nullptr);
    auto* email = world.named<QLineEdit>("email");
    auto* password = world.named<QLineEdit>("password");
    auto* eye = world.named<QAbstractButton>("passwordEye");
    auto* remember = world.named<QAbstractButton>("rememberMe");
    auto* signIn = world.named<QAbstractButton>("signIn");
    ASSERT_TRUE(email && password && eye && remember && signIn);
    if (!step("opened: the e-mail field has the keyboard", [&] {
            ASSERT_EQ(focused(), email);
            QTest::keyClicks(focused(), kDemoEmail);
            EXPECT_EQ(email->text(), kDemoEmail);
        }))
        return;
    if (!step("Tab through password, eye and switch", [&] {
            world.press(Qt::Key_Tab);
            ASSERT_EQ(focused(), password);
            QTest::keyClicks(focused(), kPassword);
            world.press(Qt::Key_Tab);
            ASSERT_EQ(focused(), eye);
            world.press(Qt::Key_Space);
            EXPECT_EQ(password->echoMode(), QLineEdit::Normal) << "Space pressed the eye";
            world.press(Qt::Key_Tab);
            ASSERT_EQ(focused(), remember);
            const bool remembered = world.app().appStore()->rememberMe();
            world.press(Qt::Key_Space);
            EXPECT_NE(world.app().appStore()->rememberMe(), remembered);
            world.press(Qt::Key_Tab);
            ASSERT_EQ(focused(), signIn);
            world.press(Qt::Key_Tab, Qt::ShiftModifier);
            ASSERT_EQ(focused(), remember) << "Shift+Tab goes back";
            world.press(Qt::Key_Tab);
            ASSERT_EQ(focused(), signIn);
        }))
        return;
    step("Return on the focused button signs in", [&] {
        world.press(Qt::Key_Return);
        EXPECT_TRUE(test::eventuallyTrue([&] { return signedIn(world); }));
        world.settle();
    });
}

// A click anywhere in the drawn box, its padding too, goes into its field.
TEST(DesktopRoad, AClickOnTheInputBoxFocusesItsField) {
    AppWorld world;
    world.launch();
    world.clickPanelItem();
    for (const char* name : {"email", "password"}) {
        SCOPED_TRACE(name);
        auto* field = world.named<QLineEdit>(name);
        ASSERT_TRUE(field);
        // The box is the first ancestor taller than the field.
        QWidget* box = field->parentWidget();
        while (box->height() <= field->height())
            box = box->parentWidget();
        for (const QPoint at : {QPoint(box->width() / 2, box->height() - 2),
                                QPoint(box->width() / 2, 2), QPoint(3, box->height() / 2)}) {
            world.app().root()->setFocus();
            QTest::mouseClick(box, Qt::LeftButton, {}, at);
            EXPECT_EQ(focused(), field) << "click at " << at.x() << "," << at.y();
        }
    }
}

TEST(DesktopRoad, EscapeClosesThePopoverUnlessAPanelIsUp) {
    AppWorld world;
    world.launch();
    world.clickPanelItem();
    ASSERT_TRUE(world.popoverShown());
    world.press(Qt::Key_Escape);
    EXPECT_FALSE(world.popoverShown()) << "signed out, nothing up";
}

TEST(DesktopRoad, EscapeIsTheSessionFlowsWhileItIsUp) {
    AppWorld world;
    world.launch();
    world.signInThroughView(kDemoEmail);
    ASSERT_TRUE(world.popoverShown());
    world.press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(test::eventuallyTrue([&] { return world.panel<SessionFlowView>() != nullptr; }));
    world.press(Qt::Key_Escape);
    EXPECT_TRUE(test::eventuallyTrue([&] { return world.panel<SessionFlowView>() == nullptr; }))
        << "Escape is the flow's: it closed it";
    EXPECT_TRUE(world.popoverShown()) << "and left the popover open";
    world.press(Qt::Key_Escape);
    EXPECT_FALSE(world.popoverShown());
}

// A taskbar (or the window manager's key) minimised the popover: that closed
// it, and every later click opens it un-minimised and active.
TEST(DesktopRoad, AMinimisedPopoverOpensAgainOnTheNextClick) {
    AppWorld world;
    world.launch();
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE(attempt);
        world.clickPanelItem();
        ASSERT_TRUE(world.popoverShown());
        PopoverWindow* popover = world.app().popover();
        popover->setWindowState(popover->windowState() | Qt::WindowMinimized);
        EXPECT_TRUE(test::eventuallyTrue([&] { return !popover->isVisible(); }));
        test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
        world.clickPanelItem();
        ASSERT_TRUE(world.popoverShown());
        EXPECT_FALSE(popover->isMinimized());
        world.clickPanelItem();
        test::spin(std::chrono::milliseconds(PopoverWindow::kToggleGraceMs + 50));
    }
}
