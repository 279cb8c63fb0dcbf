#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QPainter;
class QPointF;

namespace orvane {

// Text colours of the signed-in popover by chrome (light or dark).
QColor strongTextColor(bool light);
QColor softTextColor(bool light);
// The faintest: footer hints, counts, chevrons.
QColor mutedTextColor(bool light);

// Hours and minutes, "%d:%02d": hours neither padded nor wrapped at a day,
// seconds dropped, anything below zero as 0:00.
QString hourMinuteText(qint64 seconds);

// "HEUTE ERFASST", "SCHNELLSTART", "ZULETZT": small, bold, spaced out.
QFont sectionTitleFont();

// `text` cut at its end with "…" to fit `width`.
QString elidedText(const QFont& font, const QString& text, qreal width);

} // namespace orvane
