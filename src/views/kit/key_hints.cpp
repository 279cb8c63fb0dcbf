#include "views/kit/key_hints.h"

#include <QFontMetricsF>
#include <QPainter>

namespace orvane {

QStringList shortcutModifierLabels() {
    return {QStringLiteral("Strg"), QStringLiteral("⇧")};
}

QString shortcutText(QChar key) {
    return shortcutModifierLabels().join(u'+') + u'+' + key;
}

qreal keyHintWidth(const KeyHintStyle& style, QChar key) {
    const QFontMetricsF modifiers(style.modifierFont);
    qreal width = 0;
    for (const QString& label : shortcutModifierLabels())
        width += modifiers.horizontalAdvance(label) + style.spacing;
    return width + QFontMetricsF(style.keyFont).horizontalAdvance(key);
}

void drawKeyHint(QPainter& painter, QPointF baselineStart, const KeyHintStyle& style, QChar key,
                 const QColor& color) {
    painter.save();
    painter.setPen(color);
    painter.setFont(style.modifierFont);
    const QFontMetricsF modifiers(style.modifierFont);
    qreal x = baselineStart.x();
    for (const QString& label : shortcutModifierLabels()) {
        painter.drawText(QPointF(x, baselineStart.y()), label);
        x += modifiers.horizontalAdvance(label) + style.spacing;
    }
    painter.setFont(style.keyFont);
    painter.drawText(QPointF(x, baselineStart.y()), QString(key));
    painter.restore();
}

} // namespace orvane
