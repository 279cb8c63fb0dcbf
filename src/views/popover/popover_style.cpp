#include "views/popover/popover_style.h"

#include "views/kit/fonts.h"
#include "views/kit/palette.h"

#include <QFontMetricsF>

#include <algorithm>

namespace orvane {

QColor strongTextColor(bool light) {
    return light ? QColor(17, 24, 39) : Palette::textPrimary();
}

QColor softTextColor(bool light) {
    return light ? QColor(107, 114, 128) : Palette::textTertiary();
}

QColor mutedTextColor(bool light) {
    return light ? QColor(156, 163, 175) : QColor(107, 122, 143);
}

QString hourMinuteText(qint64 seconds) {
    const qint64 s = std::max<qint64>(seconds, 0);
    return QString::number(s / 3600) + u':' +
           QStringLiteral("%1").arg((s % 3600) / 60, 2, 10, QLatin1Char('0'));
}

QFont sectionTitleFont() {
    QFont font = systemFont(10, FontWeight::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return font;
}

QString elidedText(const QFont& font, const QString& text, qreal width) {
    return QFontMetricsF(font).elidedText(text, Qt::ElideRight, std::max<qreal>(width, 0));
}

} // namespace orvane
