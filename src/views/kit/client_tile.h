#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace orvane {

// 0xRRGGBB as the store keeps a client's colour.
QColor colorFromHex(quint32 rgb);

// A client's initials in white on a rounded square of its colour.
class ClientTile : public QWidget {
    Q_OBJECT
public:
    ClientTile(int side, qreal cornerRadius, qreal fontPixels, QWidget* parent = nullptr);

    void setClient(quint32 colorHex, const QString& initials);
    QColor color() const { return m_color; }
    QString initials() const { return m_initials; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qreal m_radius;
    qreal m_fontPixels;
    QColor m_color;
    QString m_initials;
};

} // namespace orvane
