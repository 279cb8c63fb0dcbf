#include "app/status_icon.h"

#include "views/kit/assets.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"

#include <QPainter>

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

QImage statusClockImage(const QString& clock, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF box(0, 0, size, size);
    const qreal rim = std::max<qreal>(1.0, size / 22.0);
    p.setPen(QPen(QColor(255, 255, 255, 220), rim));
    p.setBrush(Palette::bgDeep());
    p.drawRoundedRect(box.adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2), size * 0.22, size * 0.22);
    // The running dot above the time, as in the pill.
    const qreal dot = std::max<qreal>(2.0, size * 0.16);
    p.setPen(Qt::NoPen);
    p.setBrush(Palette::pink());
    p.drawEllipse(QRectF((size - dot) / 2, size * 0.12, dot, dot));
    // As large as fits the width; the time reads in the lower part.
    QFont font = systemFont(size * 0.5, FontWeight::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -size / 44.0);
    const qreal room = size - 2 * rim - size * 0.08;
    for (qreal px = size * 0.5; px > 4; px -= 0.5) {
        font.setPixelSize(std::max(1, int(px)));
        if (QFontMetricsF(font).horizontalAdvance(clock) <= room)
            break;
    }
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, size * 0.28, size, size * 0.68), Qt::AlignCenter, clock);
    p.end();
    return image;
}

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
