#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

namespace orvane {

// Plain text in one font and colour that never makes its layout wider than
// it is given: one line cut with "…", or lines broken between words and,
// for a word longer than the line, inside it. Service and user texts can be
// any length.
class TextBlock : public QWidget {
    Q_OBJECT
public:
    enum class Wrap { OneLine, Lines };

    TextBlock(const QString& text, const QFont& font, const QColor& color,
              Wrap wrap = Wrap::OneLine, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    void setTextFont(const QFont& font);
    QFont textFont() const { return m_font; }
    void setAlignment(Qt::Alignment alignment);
    // 0: as many as the text needs.
    void setMaximumLines(int lines);
    // Lines at the current width, as many as the maximum allows.
    int lineCount() const { return int(lines(width()).size()); }

    // The text as drawn at the current size (with "…" where it was cut).
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_wrap == Wrap::Lines; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Line {
        QString text;
        qreal width = 0;
    };
    // The lines at `width`; at most as many as `height` holds whole, the
    // last of them cut with "…" where text is left over.
    std::vector<Line> lines(qreal width, qreal height = -1) const;
    void changed();

    QString m_text;
    QFont m_font;
    QColor m_color;
    Wrap m_wrap;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    int m_maximumLines = 0;
};

} // namespace orvane
