#include "views/kit/digit_text.h"

#include "views/kit/accessibility.h"
#include "views/kit/fonts.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace orvane {

DigitText::DigitText(const QFont& font, const QColor& color, QWidget* parent)
    : QWidget(parent), m_font(font), m_color(color) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::StaticText);
}

void DigitText::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    if (!m_spoken)
        setAccessibleName(text);
    updateGeometry();
    update();
}

void DigitText::setSpokenText(const QString& text) {
    if (text == m_spoken)
        return;
    m_spoken = text;
    setAccessibleName(text);
}

void DigitText::setColor(const QColor& color) {
    m_color = color;
    update();
}

QSize DigitText::sizeHint() const {
    return QSize(int(std::ceil(digitCellTextWidth(m_font, m_text))),
                 int(std::ceil(QFontMetricsF(m_font).height())));
}

QSize DigitText::minimumSizeHint() const {
    // Hostile figures may be wider than any panel; a fixed size policy keeps
    // ordinary ones whole.
    return QSize(0, sizeHint().height());
}

void DigitText::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setPen(m_color);
    drawDigitCellText(p, QPointF(0, QFontMetricsF(m_font).ascent()), m_font, m_text);
}

} // namespace orvane
