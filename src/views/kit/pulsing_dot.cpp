#include "views/kit/pulsing_dot.h"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <array>

namespace orvane {

namespace {

constexpr int kHalfBreathMs = kBreathLoopMs / 2;
// Steps of a sixteenth of the breath each way: no coarser than twenty even
// frames a second where the breath is fastest, about eleven a second overall.
constexpr int kStepsPerHalf = 16;
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

// The times within a half breath where the eased breath crosses each step.
const std::array<int, kStepsPerHalf + 1>& stepTimes() {
    static const std::array<int, kStepsPerHalf + 1> times = [] {
        std::array<int, kStepsPerHalf + 1> out{};
        for (int k = 0; k <= kStepsPerHalf; ++k) {
            const qreal target = qreal(k) / kStepsPerHalf;
            int low = 0;
            int high = kHalfBreathMs;
            while (low < high) { // the first millisecond at or past the step
                const int mid = (low + high) / 2;
                if (easeInOut(qreal(mid) / kHalfBreathMs) + 1e-9 < target)
                    low = mid + 1;
                else
                    high = mid;
            }
            out[k] = low;
        }
        return out;
    }();
    return times;
}

} // namespace

qreal breathProgress(int atMs) {
    const int at = ((atMs % kBreathLoopMs) + kBreathLoopMs) % kBreathLoopMs;
    const int intoHalf = at < kHalfBreathMs ? at : kBreathLoopMs - at;
    return easeInOut(qreal(intoHalf) / kHalfBreathMs);
}

int nextBreathFrameMs(int atMs) {
    const int at = std::clamp(atMs, 0, kBreathLoopMs - 1);
    const auto& steps = stepTimes();
    for (const int t : steps) // going out
        if (t > at)
            return t;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) // coming back
        if (kBreathLoopMs - *it > at)
            return kBreathLoopMs - *it;
    return kBreathLoopMs;
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
    connect(m_breath, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const qreal progress = breathProgress(qRound(value.toReal() * kBreathLoopMs));
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
        m_frames.start(std::max(kMinFrameGapMs, nextBreathFrameMs(at) - at));
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
            m_frames.start(nextBreathFrameMs(0));
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
