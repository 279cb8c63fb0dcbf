#pragma once

#include <QColor>
#include <QWidget>

class QTimer;

namespace orvane {

// The small indeterminate progress indicator: spokes fading round a circle.
// It turns only while it is on screen.
class ActivitySpinner : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSide = 16;
    static constexpr int kSpokes = 8;

    explicit ActivitySpinner(QColor color = Qt::gray, QWidget* parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    bool isSpinning() const;
    // The spoke drawn brightest now.
    int leadingSpoke() const { return m_step; }

    QSize sizeHint() const override { return QSize(kSide, kSide); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor m_color;
    int m_step = 0;
    QTimer* m_turn;
};

} // namespace orvane
