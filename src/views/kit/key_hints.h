#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>
#include <QStringList>

class QPainter;

namespace orvane {

// The popover's shortcuts are Ctrl+Shift+letter on the desktop (Ctrl+Alt
// belongs to the desktop itself); hints spell the modifiers the way the
// keyboards here label them.
QStringList shortcutModifierLabels();
// "Strg+⇧+N": the hint as one text, for accessible names.
QString shortcutText(QChar key);

// A hint drawn as a row of key caps' labels: the modifiers in `modifierFont`,
// then the key in `keyFont`, `spacing` apart.
struct KeyHintStyle {
    QFont modifierFont;
    QFont keyFont;
    qreal spacing = 2;
};
qreal keyHintWidth(const KeyHintStyle& style, QChar key);
// The row's text baseline starts at `baselineStart`.
void drawKeyHint(QPainter& painter, QPointF baselineStart, const KeyHintStyle& style, QChar key,
                 const QColor& color);

} // namespace orvane
