#pragma once

#include <QFont>
#include <QObject>
#include <QPointF>
#include <QString>

class QPainter;

namespace orvane {

enum class FontWeight { Regular, Medium, Semibold, Bold };

// The system font at `pixelSize` logical pixels, in the nearest weight the
// family has.
QFont systemFont(qreal pixelSize, FontWeight weight = FontWeight::Regular);
// A fixed-pitch family ("monospaced design").
QFont monospacedFont(qreal pixelSize, FontWeight weight = FontWeight::Regular);

// Tells once whenever the desktop's general or fixed font changes; the kept
// fonts above are new by then. Qt 6.4 tells a theme's new font only with a
// ThemeChange to each window, never with an ApplicationFontChange, and there
// may be no window at all: a panel that hosts status items needs none until
// the popover opens. So every use of a kept font looks too.
class DesktopFonts : public QObject {
    Q_OBJECT
public:
    static DesktopFonts& shared();
    // Compares the theme's two fonts with the kept ones (cheap); on a change
    // drops the kept fonts and tells `changed`. Fonts kept elsewhere call it
    // before they are used.
    void follow();

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DesktopFonts();
    QFont m_general;
    QFont m_fixed;
};

// "Monospaced digits": every digit takes the cell of the font's widest digit,
// so a running clock keeps its width and does not jitter. Other characters
// keep their own advance.
qreal digitCellTextWidth(const QFont& font, const QString& text);
void drawDigitCellText(QPainter& painter, const QPointF& baselineStart, const QFont& font,
                       const QString& text);

} // namespace orvane
