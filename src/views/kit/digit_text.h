#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <optional>

namespace orvane {

// One line of figures in "monospaced digits": a running time keeps its width.
class DigitText : public QWidget {
    Q_OBJECT
public:
    DigitText(const QFont& font, const QColor& color, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // What screen readers read in place of the figures: a figure that moves
    // every second is said more coarsely, as each change of a name reaches
    // every screen reader. Without it the figures are read.
    void setSpokenText(const QString& text);
    void setColor(const QColor& color);
    QColor color() const { return m_color; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont m_font;
    QColor m_color;
    QString m_text;
    std::optional<QString> m_spoken;
};

} // namespace orvane
