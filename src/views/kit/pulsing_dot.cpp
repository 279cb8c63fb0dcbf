#include "views/kit/pulsing_dot.h"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace orvane {

namespace {

constexpr int kHalfBreathMs = kBreathLoopMs / 2;
constexpr int kMaxStepsPerHalf = 32;
// Frames that fell behind (a busy event loop) are not caught up in a burst.
constexpr int kMinFrameGapMs = 20;

// Ease in and out with the Mac's curve, not Qt's steeper cubic.
qreal easeInOut(qreal t) {
    static const QEasingCurve curve = [] {
        QEasingCurve bezier(QEasingCurve::BezierSpline);
        bezier.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return bezier;
    }();
    return curve.valueForProgress(t);
}

int stepOf(qreal progress, int stepsPerHalf) {
    return std::clamp(int(std::floor(progress * stepsPerHalf + 1e-9)), 0, stepsPerHalf);
}

// The first millisecond of the half breath at each step, for each count of steps.
const std::vector<int>& stepTimes(int stepsPerHalf) {
    static std::array<std::vector<int>, kMaxStepsPerHalf + 1> bySteps;
    std::vector<int>& out = bySteps[size_t(stepsPerHalf)];
    if (out.empty()) {
        for (int k = 0; k <= stepsPerHalf; ++k) {
            int low = 0;
            int high = kHalfBreathMs;
            while (low < high) { // the first millisecond at or past the step
                const int mid = (low + high) / 2;
                if (stepOf(easeInOut(qreal(mid) / kHalfBreathMs), stepsPerHalf) < k)
                    low = mid + 1;
                else
                    high = mid;
            }
            out.push_back(low);
        }
    }
    return out;
}

int clampSteps(int stepsPerHalf) {
    return std::clamp(stepsPerHalf, 1, kMaxStepsPerHalf);
}

} // namespace

qreal breathProgress(int atMs) {
    const int at = ((atMs % kBreathLoopMs) + kBreathLoopMs) % kBreathLoopMs;
    const int intoHalf = at < kHalfBreathMs ? at : kBreathLoopMs - at;
    return easeInOut(qreal(intoHalf) / kHalfBreathMs);
}

int breathStepsPerHalf(qreal devicePixelRatio) {
    // The edge moves 0.4 x 2.5 pt, one point per device pixel of scale.
    return clampSteps(int(std::lround(8 * std::max<qreal>(devicePixelRatio, 1))));
}

int breathStep(int atMs, int stepsPerHalf) {
    const int steps = clampSteps(stepsPerHalf);
    return stepOf(breathProgress(atMs), steps);
}

int nextBreathFrameMs(int atMs, int stepsPerHalf) {
    const int at = std::clamp(atMs, 0, kBreathLoopMs - 1);
    const std::vector<int>& steps = stepTimes(clampSteps(stepsPerHalf));
    for (const int t : steps) // going out: step k from its first millisecond
        if (t > at)
            return t;
    // Coming back: step k ends once the time left to the loop's end is
    // below step k's first millisecond.
    for (auto it = steps.rbegin(); it != steps.rend(); ++it)
        if (kBreathLoopMs - *it + 1 > at && kBreathLoopMs - *it + 1 < kBreathLoopMs)
            return kBreathLoopMs - *it + 1;
    // The next loop starts plain, as this one ends: its first step is the change.
    return kBreathLoopMs + steps[1];
}

DotLook dotLook(qreal progress) {
    return {.scale = 1 + 0.4 * progress, .opacity = 1 - 0.45 * progress};
}

PulsingDot::PulsingDot(QColor color, bool animate, QWidget* parent)
    : QWidget(parent), m_color(color), m_animate(animate), m_breath(new QVariantAnimation(this)) {
    setFixedSize(sizeHint());
    // One loop is a whole breath, out and back, so it can run forever.
    m_breath->setStartValue(0.0);
    m_breath->setEndValue(1.0);
    m_breath->setDuration(2 * kHalfBreathMs);
    m_breath->setLoopCount(-1);
    // Only a new step is drawn: the same look is never painted twice.
    connect(m_breath, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const int steps = stepsPerHalf();
        const qreal progress =
            qreal(breathStep(qRound(value.toReal() * kBreathLoopMs), steps)) / steps;
        if (progress == m_progress)
            return;
        m_progress = progress;
        update();
    });
    // The breath is driven by a frame timer of its own, not the 60 Hz
    // animation clock, and only at the times its look moves a step.
    m_frames.setSingleShot(true);
    m_frames.setTimerType(Qt::PreciseTimer);
    connect(&m_frames, &QTimer::timeout, this, [this] {
        const int at = static_cast<int>(m_since.elapsed() % kBreathLoopMs);
        m_breath->setCurrentTime(at);
        m_frames.start(std::max(kMinFrameGapMs, nextBreathFrameMs(at, stepsPerHalf()) - at));
    });
}

void PulsingDot::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void PulsingDot::setAnimate(bool animate) {
    if (animate == m_animate)
        return;
    m_animate = animate;
    follow(isVisible());
}

void PulsingDot::setUnderlay(Underlay underlay) {
    m_underlay = std::move(underlay);
    setAttribute(Qt::WA_OpaquePaintEvent, bool(m_underlay));
    update();
}

int PulsingDot::stepsPerHalf() const {
    return breathStepsPerHalf(devicePixelRatioF());
}

bool PulsingDot::isPulsing() const {
    return m_frames.isActive();
}

QSize PulsingDot::sizeHint() const {
    return QSize(kSide, kSide);
}

void PulsingDot::follow(bool onScreen) {
    if (m_animate && onScreen) {
        if (!isPulsing()) {
            m_since.start();
            m_breath->setCurrentTime(0);
            m_frames.start(nextBreathFrameMs(0, stepsPerHalf()));
        }
        return;
    }
    m_frames.stop();
    m_progress = 0;
    update();
}

void PulsingDot::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    follow(true);
}

void PulsingDot::hideEvent(QHideEvent* event) {
    follow(false);
    QWidget::hideEvent(event);
}

void PulsingDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (m_underlay) {
        painter.save();
        m_underlay(painter, pos());
        painter.restore();
    }
    painter.setRenderHint(QPainter::Antialiasing);
    const DotLook now = look();
    const qreal radius = kDiameter / 2 * now.scale;
    painter.setOpacity(now.opacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(rect()).center(), radius, radius);
}

} // namespace orvane
