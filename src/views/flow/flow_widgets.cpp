#include "views/flow/flow_widgets.h"

#include "views/flow/flow_look.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QTimer>

#include <cmath>

namespace orvane {

namespace {

QFont capsuleFont() {
    return systemFont(13, FontWeight::Bold);
}
QFont linkFont() {
    return systemFont(12, FontWeight::Semibold);
}

} // namespace

// ---- FlowBackButton ----

FlowBackButton::FlowBackButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(QStringLiteral("Zurück"));
    setFixedSize(30, 30);
}

void FlowBackButton::setLight(bool light) {
    if (light == light_)
        return;
    light_ = light;
    update();
}

void FlowBackButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintShape(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 9, backButtonLook(light_));
    drawSymbol(p, u"chevron.left", QRectF(rect()).center(), 13, flowTitleColor(light_),
               FontWeight::Bold);
}

// ---- FlowStepIndicator ----

FlowStepIndicator::FlowStepIndicator(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Schritt 1 von 3"));
}

void FlowStepIndicator::setStep(int step, bool light) {
    if (step == step_ && light == light_)
        return;
    step_ = step;
    light_ = light;
    setAccessibleName(QStringLiteral("Schritt %1 von 3").arg(std::min(step + 1, 3)));
    update();
}

QSize FlowStepIndicator::sizeHint() const {
    return {20 + 6 + 6 + 2 * 6, 6};
}

void FlowStepIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    qreal x = 0;
    const qreal y = (height() - 6) / 2.0;
    for (int number = 1; number <= 3; ++number) {
        const StepCapsuleLook look = stepCapsuleLook(number, step_, light_);
        const QRectF capsule(x, y, look.width, 6);
        QPainterPath path;
        path.addRoundedRect(capsule, 3, 3);
        if (look.fill == StepCapsuleLook::Fill::Gradient) {
            QLinearGradient gradient(capsule.topLeft(), capsule.topRight());
            gradient.setColorAt(0, flowViolet());
            gradient.setColorAt(1, Palette::pink());
            p.fillPath(path, gradient);
        } else {
            p.fillPath(path, look.colour);
        }
        x += look.width + 6;
    }
}

// ---- FlowSpinner ----

FlowSpinner::FlowSpinner(QWidget* parent)
    : QWidget(parent), colour_(Palette::textTertiary()), timer_(new QTimer(this)) {
    setFixedSize(kSide, kSide);
    setAccessibleName(QStringLiteral("Lädt"));
    timer_->setInterval(80);
    connect(timer_, &QTimer::timeout, this, [this] {
        phase_ = (phase_ + 1) % 8;
        update();
    });
}

void FlowSpinner::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

bool FlowSpinner::isSpinning() const {
    return timer_->isActive();
}

void FlowSpinner::showEvent(QShowEvent*) {
    timer_->start();
}

void FlowSpinner::hideEvent(QHideEvent*) {
    timer_->stop();
}

void FlowSpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(QRectF(rect()).center());
    for (int spoke = 0; spoke < 8; ++spoke) {
        // The leading spoke is solid, the ones behind it fade out.
        const int age = (phase_ - spoke + 8) % 8;
        QColor colour = colour_;
        colour.setAlphaF(colour_.alphaF() * float(1.0 - age / 9.0));
        p.save();
        p.rotate(spoke * 45.0);
        QPainterPath bar;
        bar.addRoundedRect(QRectF(-1.2, -kSide / 2.0, 2.4, kSide * 0.28), 1.2, 1.2);
        p.fillPath(bar, colour);
        p.restore();
    }
}

// ---- FlowCapsuleButton ----

FlowCapsuleButton::FlowCapsuleButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent) {
    setText(title);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void FlowCapsuleButton::setAccentStyle(AccentStyle style) {
    style_ = style;
    update();
}

QSize FlowCapsuleButton::sizeHint() const {
    const QFontMetricsF metrics(capsuleFont());
    return QSizeF(std::ceil(metrics.horizontalAdvance(text())) + 36, metrics.height() + 16)
        .toSize();
}

void FlowCapsuleButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath capsule;
    const QRectF box(rect());
    capsule.addRoundedRect(box, box.height() / 2, box.height() / 2);
    fillAccent(p, capsule, style_);
    if (isDown())
        p.fillPath(capsule, QColor(0, 0, 0, 40));
    p.setPen(Qt::white);
    p.setFont(capsuleFont());
    p.drawText(box, Qt::AlignCenter, text());
}

// ---- FlowLinkButton ----

FlowLinkButton::FlowLinkButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize FlowLinkButton::sizeHint() const {
    const QFontMetricsF metrics(linkFont());
    return QSizeF(std::ceil(metrics.horizontalAdvance(text())) + 2, metrics.height() + 4).toSize();
}

void FlowLinkButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QColor colour = Palette::indigo();
    if (isDown())
        colour.setAlphaF(0.6f);
    p.setPen(colour);
    p.setFont(linkFont());
    p.drawText(rect(), Qt::AlignCenter, text());
}

// ---- FlowElidedLabel ----

FlowElidedLabel::FlowElidedLabel(QFont font, QWidget* parent)
    : QWidget(parent), font_(std::move(font)) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void FlowElidedLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void FlowElidedLabel::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

QSize FlowElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font_);
    return {std::min(metrics.horizontalAdvance(text_), 400), metrics.height()};
}

QSize FlowElidedLabel::minimumSizeHint() const {
    return {0, QFontMetrics(font_).height()};
}

void FlowElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(colour_);
    p.setFont(font_);
    const QFontMetrics metrics(font_);
    // One line: breaks in the text would start a second one.
    QString line = text_;
    line.replace(u'\n', u' ');
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter,
               metrics.elidedText(line, Qt::ElideRight, width()));
}

// ---- FlowSymbol ----

FlowSymbol::FlowSymbol(QString name, qreal pointSize, FontWeight weight, QSize box, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), pointSize_(pointSize), weight_(weight), box_(box) {
    setFixedSize(box);
}

void FlowSymbol::setName(const QString& name) {
    name_ = name;
    update();
}

void FlowSymbol::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void FlowSymbol::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawSymbol(p, name_, QRectF(rect()).center(), pointSize_, colour_, weight_);
}

// ---- FlowSearchBox ----

FlowSearchBox::FlowSearchBox(QWidget* parent) : QWidget(parent) {}

void FlowSearchBox::setLight(bool light) {
    if (light == light_)
        return;
    light_ = light;
    update();
}

void FlowSearchBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintShape(p, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, searchFieldLook(light_));
}

} // namespace orvane
