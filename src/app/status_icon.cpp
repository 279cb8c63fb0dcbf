#include "app/status_icon.h"

#include "views/kit/assets.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"

#include <QPainter>

#include <algorithm>

namespace orvane {

QImage statusIconImage(PillContent::Kind kind, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    drawAsset(p, u"OIcon", QRectF(0, 0, size, size));
    if (kind != PillContent::Kind::SignedOut) {
        const qreal badge = size * 0.5;
        const QRectF disc(size - badge, size - badge, badge, badge);
        p.setPen(QPen(QColor(255, 255, 255, 220), std::max<qreal>(1.0, size / 22.0)));
        p.setBrush(Palette::bgDeep());
        p.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
        const qreal inset = badge * 0.28;
        const QRectF mark = disc.adjusted(inset, inset, -inset, -inset);
        if (kind == PillContent::Kind::Running) {
            p.setPen(Qt::NoPen);
            p.setBrush(Palette::pink());
            p.drawEllipse(mark);
        } else {
            drawSymbol(p, u"pause.fill", mark, QColor(Qt::white));
        }
    }
    p.end();
    return image;
}

QList<QImage> statusIconImages(PillContent::Kind kind) {
    QList<QImage> images;
    for (const int size : {16, 22, 32, 48})
        images.append(statusIconImage(kind, size));
    return images;
}

StatusIconFace statusIconFace(const PillContent& content) {
    if (content.kind != PillContent::Kind::Running)
        return {content.kind, {}};
    // "HH:MM:SS", hours uncapped: hours without the leading zero, then minutes.
    const QStringList parts = content.text.split(u':');
    if (parts.size() != 3)
        return {content.kind, {}};
    bool ok = false;
    const qint64 hours = parts[0].toLongLong(&ok);
    if (!ok || parts[1].size() != 2)
        return {content.kind, {}};
    return {content.kind, QString::number(hours) + u':' + parts[1]};
}

namespace {

// Panels draw the item as a square of 16 to 24 pixels, whatever the pixmap's
// shape (a wider one is only scaled down): the time gets the whole square,
// its glyphs drawn narrower than the font's so that the digits can be taller.
QImage statusClockImage(const QString& clock, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF box(0, 0, size, size);
    // The pink rim says "running", as the pill's dot does.
    const qreal rim = std::max<qreal>(1.0, size / 16.0);
    p.setPen(QPen(Palette::pink(), rim));
    p.setBrush(Palette::bgDeep());
    p.drawRoundedRect(box.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2), size * 0.2, size * 0.2);

    // As tall as the square allows, then as narrow as still reads: fonts
    // differ much in how wide their digits are (DejaVu's are wide).
    const qreal room = size - 2 * rim - std::max<qreal>(1.0, size * 0.05);
    QFont font = systemFont(size, FontWeight::Bold);
    QRectF ink;
    qreal squeeze = 1.0;
    for (int px = int(size * 0.8); px >= 4; --px) {
        font.setPixelSize(px);
        ink = QFontMetricsF(font).tightBoundingRect(clock);
        if (ink.height() > size * 0.55 || ink.width() <= 0)
            continue;
        squeeze = std::min(0.85, room / ink.width());
        if (squeeze >= 0.6)
            break;
    }
    p.setFont(font);
    p.setPen(Qt::white);
    p.translate(size / 2.0, size / 2.0);
    p.scale(squeeze, 1.0);
    p.drawText(-ink.center(), clock);
    p.end();
    return image;
}

} // namespace

QList<QImage> statusIconImages(const StatusIconFace& face) {
    if (face.clock.isEmpty())
        return statusIconImages(face.kind);
    QList<QImage> images;
    for (const int size : {16, 22, 32, 48})
        images.append(statusClockImage(face.clock, size));
    return images;
}

QString statusToolTipTitle(const PillContent& content) {
    if (content.text.isEmpty())
        return QStringLiteral("Orvane");
    return QStringLiteral("Orvane ") + content.text;
}

QString labelGuide(const QString& text) {
    QString guide = text;
    for (QChar& c : guide)
        if (c.isDigit())
            c = u'0';
    return guide;
}

} // namespace orvane
