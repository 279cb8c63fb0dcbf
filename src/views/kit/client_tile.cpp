#include "views/kit/client_tile.h"

#include "views/kit/accessibility.h"
#include "views/kit/fonts.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace orvane {

QColor colorFromHex(quint32 rgb) {
    return QColor(int((rgb >> 16) & 0xFF), int((rgb >> 8) & 0xFF), int(rgb & 0xFF));
}

ClientTile::ClientTile(int side, qreal cornerRadius, qreal fontPixels, QWidget* parent)
    : QWidget(parent), m_radius(cornerRadius), m_fontPixels(fontPixels) {
    setFixedSize(side, side);
    setAccessibleRole(this, QAccessible::Graphic);
}

void ClientTile::setClient(quint32 colorHex, const QString& initials) {
    m_color = colorFromHex(colorHex);
    m_initials = initials;
    setAccessibleName(initials);
    update();
}

void ClientTile::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), m_radius, m_radius);
    p.fillPath(shape, m_color);
    const QFont font = systemFont(m_fontPixels, FontWeight::Bold);
    p.setFont(font);
    p.setPen(Qt::white);
    // Initials come from names: at most a few characters, cut if wider.
    const QString shown = QFontMetricsF(font).elidedText(m_initials, Qt::ElideRight, width() - 2);
    p.drawText(QRectF(rect()), Qt::AlignCenter, shown);
}

} // namespace orvane
