#include "app/status_icon.h"

#include "views/kit/assets.h"
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

QString labelGuide(const QString& text) {
    QString guide = text;
    for (QChar& c : guide)
        if (c.isDigit())
            c = u'0';
    return guide;
}

} // namespace orvane
