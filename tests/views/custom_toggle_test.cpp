#include "views/kit/custom_toggle.h"
#include "support/await.h"

#include <QMouseEvent>
#include <QTest>
#include <QVariantAnimation>

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(CustomToggle, LayersByState) {
    const ToggleLook off = toggleLook(false);
    EXPECT_FALSE(off.accentLayer);
    EXPECT_EQ(off.trackFill.rgb(), qRgb(255, 255, 255));
    EXPECT_NEAR(off.trackFill.alphaF(), 0.1, 1e-3);
    EXPECT_EQ(off.strokeWidth, 1);
    EXPECT_EQ(off.knobOffset, 2);

    const ToggleLook on = toggleLook(true);
    EXPECT_TRUE(on.accentLayer);
    EXPECT_EQ(on.trackFill.alpha(), 0);
    EXPECT_EQ(on.strokeWidth, 0);
    EXPECT_EQ(on.knobOffset, 18);
}

TEST(CustomToggle, KnobSpringsToTheOtherEndWhileShown) {
    CustomToggle toggle(false, AccentStyle::Mint);
    toggle.show();
    EXPECT_EQ(toggle.trackRect().size(), QSizeF(38, 22));
    EXPECT_EQ(toggle.knobOffset(), 2);

    toggle.setOn(true);
    EXPECT_TRUE(toggle.isAnimating());
    // The spring overshoots a little before it settles.
    auto* spring = toggle.findChild<QVariantAnimation*>();
    ASSERT_NE(spring, nullptr);
    spring->pause();
    spring->setCurrentTime(190);
    EXPECT_GT(toggle.knobOffset(), 18);
    EXPECT_LT(toggle.knobOffset(), 19);
    spring->resume();
    EXPECT_TRUE(test::eventuallyTrue([&] { return !toggle.isAnimating(); }));
    EXPECT_EQ(toggle.knobOffset(), 18);

    toggle.setOn(false);
    EXPECT_TRUE(test::eventuallyTrue([&] { return !toggle.isAnimating(); }));
    EXPECT_EQ(toggle.knobOffset(), 2);
}

TEST(CustomToggle, HiddenItJumpsAndHidingEndsTheSpring) {
    CustomToggle toggle;
    toggle.setOn(true);
    EXPECT_FALSE(toggle.isAnimating());
    EXPECT_EQ(toggle.knobOffset(), 18);

    toggle.show();
    toggle.setOn(false);
    EXPECT_TRUE(toggle.isAnimating());
    toggle.hide();
    EXPECT_FALSE(toggle.isAnimating());
    EXPECT_EQ(toggle.knobOffset(), 2);
}

// The row the switch sits in owns the value and takes the click.
class Row : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

TEST(CustomToggle, ClicksAndKeysChangeNothingAndReachTheRow) {
    Row row;
    row.resize(100, 40);
    auto* toggle = new CustomToggle(false, AccentStyle::Gradient, &row);
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));

    QTest::mouseClick(&row, Qt::LeftButton, {}, toggle->geometry().center());
    EXPECT_FALSE(toggle->isOn());
    EXPECT_EQ(row.presses, 1);
    EXPECT_FALSE(toggle->hasFocus());

    // Even given the focus, it leaves its value to its owner.
    toggle->setFocus();
    QTest::keyClick(toggle, Qt::Key_Space);
    QTest::keyClick(toggle, Qt::Key_Return);
    EXPECT_FALSE(toggle->isOn());
}

} // namespace
} // namespace orvane
