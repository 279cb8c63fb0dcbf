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

// Frames come where the drawn look moves a step, not at an even rate: no
// step is coarse, the slow turns cost few frames, and a step is as fine as
// the screen's pixels can show.
TEST(PulsingDot, FramesFallWhereTheDrawnStepChanges) {
    const struct {
        qreal dpr;
        int steps;
        size_t frames; // in one loop of 2.8 s
    } cases[] = {
        {1.0, 8, 16},
        {1.5, 12, 24},
        {2.0, 16, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpr);
        const int steps = breathStepsPerHalf(c.dpr);
        EXPECT_EQ(steps, c.steps);
        std::vector<int> frames{0};
        while (frames.back() < kBreathLoopMs && frames.size() < 1000)
            frames.push_back(nextBreathFrameMs(frames.back(), steps));
        frames.pop_back(); // the next loop's
        EXPECT_EQ(frames.size() - 1, c.frames);
        int widest = 0;
        frames.push_back(kBreathLoopMs);
        for (size_t i = 1; i + 1 < frames.size(); ++i) {
            SCOPED_TRACE(frames[i]);
            ASSERT_GT(frames[i], frames[i - 1]);
            // Each frame draws a new step, one away from the last; in between nothing changes.
            EXPECT_EQ(std::abs(breathStep(frames[i], steps) - breathStep(frames[i - 1], steps)), 1);
            EXPECT_EQ(breathStep(frames[i + 1] - 1, steps), breathStep(frames[i], steps));
            widest = std::max(widest, frames[i] - frames[i - 1]);
        }
        EXPECT_GT(widest, 150) << "the turns of the breath took as many frames as its middle";
    }
    EXPECT_EQ(breathStep(1400, 8), 8);
    EXPECT_EQ(breathStep(0, 8), 0);
    EXPECT_EQ(nextBreathFrameMs(-5, 8), nextBreathFrameMs(0, 8));
    EXPECT_EQ(nextBreathFrameMs(kBreathLoopMs + 7, 8), kBreathLoopMs + nextBreathFrameMs(0, 8));
    EXPECT_NEAR(breathProgress(1400), 1.0, 1e-9);
    EXPECT_NEAR(breathProgress(kBreathLoopMs + 1400), 1.0, 1e-9);
}

} // namespace
} // namespace orvane
