#include "views/kit/stat_card.h"

#include "views/kit/accessibility.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

QFont tracked(QFont font, qreal tracking) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

qreal lineHeight(const QFont& font) {
    return QFontMetricsF(font).height();
}

} // namespace

QString statCardTitleText(const QString& title) {
    return title.toUpper();
}

QColor statCardValueColor(bool useAccentValue, const std::optional<QColor>& valueForeground) {
    if (valueForeground)
        return *valueForeground;
    return useAccentValue ? Palette::indigo() : Palette::textPrimary();
}

StatCard::StatCard(const QString& title, const QString& value, const QString& subtitle,
                   AccentStyle accentStyle, bool useAccentValue,
                   std::optional<QColor> valueForeground, QWidget* parent)
    : QWidget(parent), m_title(title), m_value(value), m_subtitle(subtitle),
      m_accentStyle(accentStyle), m_useAccentValue(useAccentValue),
      m_valueForeground(valueForeground) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::StaticText);
    nameChanged();
}

QString statCardSpokenText(const QString& title, const QString& value, const QString& subtitle) {
    return title + u' ' + value + QStringLiteral(", ") + subtitle;
}

void StatCard::setSpokenText(const QString& spoken) {
    m_spoken = spoken;
    nameChanged();
}

void StatCard::nameChanged() {
    const QString name =
        m_spoken.isEmpty() ? statCardSpokenText(m_title, m_value, m_subtitle) : m_spoken;
    if (name != accessibleName())
        setAccessibleName(name);
}

QFont StatCard::titleFont() {
    return tracked(systemFont(10, FontWeight::Bold), 1.0);
}
QFont StatCard::valueFont() {
    return tracked(systemFont(22, FontWeight::Medium), -0.5);
}
QFont StatCard::subtitleFont() {
    return systemFont(11);
}

void StatCard::setTitle(const QString& title) {
    if (title != m_title) {
        m_title = title;
        changed();
    }
}

void StatCard::setValue(const QString& value) {
    if (value != m_value) {
        m_value = value;
        changed();
    }
}

void StatCard::setSubtitle(const QString& subtitle) {
    if (subtitle != m_subtitle) {
        m_subtitle = subtitle;
        changed();
    }
}

void StatCard::setUseAccentValue(bool useAccentValue) {
    if (useAccentValue != m_useAccentValue) {
        m_useAccentValue = useAccentValue;
        update();
    }
}

void StatCard::setValueForeground(std::optional<QColor> color) {
    if (color != m_valueForeground) {
        m_valueForeground = color;
        update();
    }
}

void StatCard::changed() {
    nameChanged();
    updateGeometry();
    update();
}

QSize StatCard::sizeHint() const {
    const qreal width = std::max({QFontMetricsF(titleFont()).horizontalAdvance(shownTitle()),
                                  digitCellTextWidth(valueFont(), m_value),
                                  QFontMetricsF(subtitleFont()).horizontalAdvance(m_subtitle)});
    return QSize(int(std::ceil(width)) + 2 * kPadding, minimumSizeHint().height());
}

QSize StatCard::minimumSizeHint() const {
    const qreal height = lineHeight(titleFont()) + lineHeight(valueFont()) +
                         lineHeight(subtitleFont()) + 2 * kSpacing + 2 * kPadding;
    return QSize(2 * kPadding, int(std::ceil(height)));
}

void StatCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The 1-pt stroke lies on the card's edge; keep all of it inside.
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(card, kCornerRadius, kCornerRadius);
    painter.fillPath(shape, Palette::bgCard());
    QPen stroke(Palette::hairline(), 1);
    stroke.setMiterLimit(10);
    painter.strokePath(shape, stroke);

    const qreal left = kPadding;
    const qreal available = width() - 2 * kPadding;
    qreal top = kPadding;
    // Captions and subtitles that do not fit end in an ellipsis; the figure is
    // clipped, as an ellipsis would change what it says.
    const auto drawLine = [&](const QFont& font, const QString& text, const QColor& color) {
        const QFontMetricsF metrics(font);
        painter.setFont(font);
        painter.setPen(color);
        painter.drawText(QPointF(left, top + metrics.ascent()),
                         metrics.elidedText(text, Qt::ElideRight, available));
        top += metrics.height() + kSpacing;
    };

    drawLine(titleFont(), shownTitle(), Palette::textTertiary());

    const QFont figure = valueFont();
    painter.save();
    painter.setClipRect(QRectF(left, top, available, lineHeight(figure)));
    painter.setPen(valueColor());
    drawDigitCellText(painter, QPointF(left, top + QFontMetricsF(figure).ascent()), figure,
                      m_value);
    painter.restore();
    top += lineHeight(figure) + kSpacing;

    drawLine(subtitleFont(), m_subtitle, Palette::textTertiary());
}

} // namespace orvane
