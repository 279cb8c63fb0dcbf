#include "views/kit/pulsing_dot.h"

#include <QVariantAnimation>

#include <gtest/gtest.h>

namespace orvane {
namespace {

void expectPlain(const PulsingDot& dot) {
    EXPECT_FALSE(dot.isPulsing());
    EXPECT_EQ(dot.look().scale, 1.0);
    EXPECT_EQ(dot.look().opacity, 1.0);
}

TEST(PulsingDot, PulsesOnlyWhileShownAndAnimated) {
    PulsingDot dot(Qt::green, true);
    EXPECT_FALSE(dot.isPulsing()); // not on screen yet
    dot.show();
    EXPECT_TRUE(dot.isPulsing());
    dot.hide();
    expectPlain(dot);
    dot.show();
    EXPECT_TRUE(dot.isPulsing());
    dot.setAnimate(false);
    expectPlain(dot);
}

TEST(PulsingDot, StaysPlainWithoutAnimate) {
    PulsingDot dot(Qt::green, false);
    dot.show();
    expectPlain(dot);
    EXPECT_EQ(dot.size(), QSize(7, 7));
}

TEST(PulsingDot, StartsWhenAnimateTurnsOnWhileShown) {
    PulsingDot dot(Qt::green, false);
    dot.show();
    dot.setAnimate(true);
    EXPECT_TRUE(dot.isPulsing());
}

TEST(PulsingDot, AnimateTurnedOnWhileHiddenWaitsForTheScreen) {
    PulsingDot dot(Qt::green, false);
    dot.setAnimate(true);
    EXPECT_FALSE(dot.isPulsing());
    dot.show();
    EXPECT_TRUE(dot.isPulsing());
}

TEST(PulsingDot, HidingTheWindowStopsIt) {
    QWidget window;
    auto* dot = new PulsingDot(Qt::green, true, &window);
    window.show();
    EXPECT_TRUE(dot->isPulsing());
    window.hide();
    EXPECT_FALSE(dot->isPulsing());
    window.show();
    EXPECT_TRUE(dot->isPulsing());
}

TEST(PulsingDot, BreathesOutInOnePointFourSecondsAndBack) {
    EXPECT_EQ(dotLook(0).scale, 1.0);
    EXPECT_EQ(dotLook(0).opacity, 1.0);
    EXPECT_DOUBLE_EQ(dotLook(1).scale, 1.4);
    EXPECT_DOUBLE_EQ(dotLook(1).opacity, 0.55);

    PulsingDot dot(Qt::green, true);
    dot.show();
    auto* breath = dot.findChild<QVariantAnimation*>();
    ASSERT_NE(breath, nullptr);
    breath->pause();
    breath->setCurrentTime(1400);
    EXPECT_NEAR(dot.look().scale, 1.4, 1e-6);
    EXPECT_NEAR(dot.look().opacity, 0.55, 1e-6);
    // Ease in and out: a quarter of the way in time is less than a quarter of
    // the way in size.
    breath->setCurrentTime(350);
    EXPECT_LT(dot.look().scale, 1.1);
    EXPECT_GT(dot.look().scale, 1.0);
    breath->setCurrentTime(2799);
    EXPECT_NEAR(dot.look().scale, 1.0, 1e-3);
}

// Frames come where the breath has moved a step, not at an even rate: no
// step is coarse, and the slow turns cost few frames.
TEST(PulsingDot, FramesFallAtEvenStepsOfTheBreath) {
    std::vector<int> frames{0};
    while (frames.back() < kBreathLoopMs && frames.size() < 1000)
        frames.push_back(nextBreathFrameMs(frames.back()));
    ASSERT_EQ(frames.back(), kBreathLoopMs);
    EXPECT_EQ(frames.size() - 1, 32u) << "frames in one loop of 2.8 s";
    int widest = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        SCOPED_TRACE(frames[i]);
        ASSERT_GT(frames[i], frames[i - 1]);
        EXPECT_LE(std::abs(breathProgress(frames[i]) - breathProgress(frames[i - 1])),
                  1.0 / 16 + 1e-3);
        widest = std::max(widest, frames[i] - frames[i - 1]);
    }
    EXPECT_GT(widest, 150) << "the turns of the breath took as many frames as its middle";
    EXPECT_EQ(nextBreathFrameMs(-5), nextBreathFrameMs(0));
    EXPECT_EQ(nextBreathFrameMs(kBreathLoopMs + 7), kBreathLoopMs);
    EXPECT_NEAR(breathProgress(1400), 1.0, 1e-9);
    EXPECT_NEAR(breathProgress(kBreathLoopMs + 1400), 1.0, 1e-9);
}

} // namespace
} // namespace orvane
