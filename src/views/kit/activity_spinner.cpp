#include "views/kit/activity_spinner.h"

#include <QPainter>
#include <QTimer>

#include <cmath>

namespace orvane {

namespace {
// One turn a second, as the system's small spinner.
constexpr int kStepMs = 1000 / ActivitySpinner::kSpokes;
} // namespace

ActivitySpinner::ActivitySpinner(QColor color, QWidget* parent)
    : QWidget(parent), m_color(color), m_turn(new QTimer(this)) {
    setFixedSize(sizeHint());
    setAccessibleName(QStringLiteral("Lädt"));
    m_turn->setInterval(kStepMs);
    connect(m_turn, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
}

void ActivitySpinner::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

bool ActivitySpinner::isSpinning() const {
    return m_turn->isActive();
}

void ActivitySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_turn->start();
}

void ActivitySpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_turn->stop();
}

void ActivitySpinner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const qreal outer = kSide / 2.0 - 1;
    const qreal inner = outer * 0.45;
    for (int i = 0; i < kSpokes; ++i) {
        // The leading spoke is full, those behind it fade out.
        const int behind = (m_step - i + kSpokes) % kSpokes;
        QColor c = m_color;
        c.setAlphaF(float(m_color.alphaF() * (1.0 - 0.8 * behind / (kSpokes - 1))));
        p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
        const qreal angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        const QPointF direction(std::cos(angle), std::sin(angle));
        p.drawLine(centre + direction * inner, centre + direction * outer);
    }
}

} // namespace orvane
