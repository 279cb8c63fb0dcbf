#include "views/kit/custom_toggle.h"

#include "views/kit/palette.h"
#include "views/kit/shadow.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane {

namespace {

constexpr qreal kCornerRadius = 14;
constexpr int kSpringMs = 300;

// A damped spring (response 0.25 s, damping fraction 0.75): it overshoots by
// about 3 % and has settled to within 0.5 % after 0.3 s.
qreal springCurve(qreal progress) {
    constexpr qreal response = 0.25;
    constexpr qreal damping = 0.75;
    const qreal omega = 2 * std::numbers::pi / response;
    const qreal damped = omega * std::sqrt(1 - damping * damping);
    const qreal t = progress * kSpringMs / 1000.0;
    return 1 - std::exp(-damping * omega * t) *
                   (std::cos(damped * t) + damping * omega / damped * std::sin(damped * t));
}

QPainterPath trackShape(const QRectF& track) {
    // A radius beyond half the height draws a capsule, as it does on the Mac.
    const qreal radius = std::min(kCornerRadius, track.height() / 2);
    QPainterPath path;
    path.addRoundedRect(track, radius, radius);
    return path;
}

QColor withAlpha(QColor color, qreal alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

ToggleLook toggleLook(bool isOn) {
    if (isOn)
        return {
            .accentLayer = true, .trackFill = Qt::transparent, .strokeWidth = 0, .knobOffset = 18};
    return {.accentLayer = false,
            .trackFill = withAlpha(Qt::white, 0.1),
            .strokeWidth = 1,
            .knobOffset = 2};
}

CustomToggle::CustomToggle(bool isOn, AccentStyle accentStyle, QWidget* parent)
    : QWidget(parent), m_isOn(isOn), m_accentStyle(accentStyle),
      m_knobOffset(toggleLook(isOn).knobOffset), m_knob(new QVariantAnimation(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
    QEasingCurve spring;
    spring.setCustomType(springCurve);
    m_knob->setEasingCurve(spring);
    m_knob->setDuration(kSpringMs);
    connect(m_knob, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_knobOffset = value.toReal();
        update();
    });
    connect(m_knob, &QVariantAnimation::finished, this, &CustomToggle::settle);
}

void CustomToggle::setOn(bool isOn) {
    if (isOn == m_isOn)
        return;
    m_isOn = isOn;
    if (!isVisible()) {
        settle();
        return;
    }
    m_knob->stop();
    m_knob->setStartValue(m_knobOffset);
    m_knob->setEndValue(toggleLook(isOn).knobOffset);
    m_knob->start();
    update();
}

void CustomToggle::setAccentStyle(AccentStyle style) {
    if (style == m_accentStyle)
        return;
    m_accentStyle = style;
    update();
}

bool CustomToggle::isAnimating() const {
    return m_knob->state() == QAbstractAnimation::Running;
}

QRectF CustomToggle::trackRect() const {
    return QRectF(QPointF(kShadowMargin, kShadowMargin), kTrackSize);
}

QSize CustomToggle::sizeHint() const {
    return (kTrackSize + QSizeF(2 * kShadowMargin, 2 * kShadowMargin)).toSize();
}

void CustomToggle::settle() {
    m_knob->stop();
    m_knobOffset = toggleLook(m_isOn).knobOffset;
    update();
}

void CustomToggle::hideEvent(QHideEvent* event) {
    settle();
    QWidget::hideEvent(event);
}

void CustomToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const ToggleLook look = toggleLook(m_isOn);
    const QRectF track = trackRect();
    const QPainterPath shape = trackShape(track);

    if (look.accentLayer) {
        drawShadow(painter, shape, withAlpha(Palette::indigo(), 0.35), 3);
        fillAccent(painter, shape, m_accentStyle);
    }
    painter.fillPath(shape, look.trackFill);
    if (look.strokeWidth > 0) {
        QPen pen(Palette::hairline(), look.strokeWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10);
        painter.strokePath(shape, pen);
    }

    const QRectF knob(track.left() + m_knobOffset,
                      track.top() + (track.height() - kKnobDiameter) / 2, kKnobDiameter,
                      kKnobDiameter);
    QPainterPath knobShape;
    knobShape.addEllipse(knob);
    drawShadow(painter, knobShape, withAlpha(Qt::black, 0.3), 3, QPointF(0, 1));
    painter.fillPath(knobShape, Qt::white);
}

} // namespace orvane
