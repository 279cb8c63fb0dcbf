#include "views/kit/pulsing_dot.h"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

namespace orvane {

namespace {

constexpr int kHalfBreathMs = 1400;
// Twenty frames a second are plenty for a 5-pt dot and keep an open popover
// from waking sixty times a second for it.
constexpr int kFrameMs = 50;

// Ease in and out with the Mac's curve, not Qt's steeper cubic.
qreal easeInOut(qreal t) {
    static const QEasingCurve curve = [] {
        QEasingCurve bezier(QEasingCurve::BezierSpline);
        bezier.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return bezier;
    }();
    return curve.valueForProgress(t);
}

} // namespace

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
        const qreal phase = value.toReal();
        m_progress = easeInOut(phase < 0.5 ? 2 * phase : 2 - 2 * phase);
        update();
    });
    // The breath is driven by a frame timer of its own, not the 60 Hz
    // animation clock.
    m_frames.setInterval(kFrameMs);
    m_frames.setTimerType(Qt::CoarseTimer);
    connect(&m_frames, &QTimer::timeout, this, [this] {
        m_breath->setCurrentTime(static_cast<int>(m_since.elapsed() % (2 * kHalfBreathMs)));
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
            m_frames.start();
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
