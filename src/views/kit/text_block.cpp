#include "views/kit/text_block.h"

#include "views/kit/accessibility.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {

// Widest a wrapped block asks for before its layout gives it a width.
constexpr qreal kPreferredWrapWidth = 340;

QString flattened(QString text) {
    text.replace(u'\n', u' ');
    text.replace(u'\r', u' ');
    text.replace(QChar::LineSeparator, u' ');
    text.replace(QChar::ParagraphSeparator, u' ');
    return text;
}

} // namespace

TextBlock::TextBlock(const QString& text, const QFont& font, const QColor& color, Wrap wrap,
                     QWidget* parent)
    : QWidget(parent), m_text(text), m_font(font), m_color(color), m_wrap(wrap) {
    QSizePolicy policy(QSizePolicy::Preferred,
                       wrap == Wrap::Lines ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    policy.setHeightForWidth(wrap == Wrap::Lines);
    setSizePolicy(policy);
    setAccessibleRole(this, QAccessible::StaticText);
    setAccessibleName(text);
}

void TextBlock::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    changed();
}

void TextBlock::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TextBlock::setTextFont(const QFont& font) {
    m_font = font;
    changed();
}

void TextBlock::setAlignment(Qt::Alignment alignment) {
    m_alignment = alignment;
    update();
}

void TextBlock::setMaximumLines(int lines) {
    lines = std::max(lines, 0);
    if (lines == m_maximumLines)
        return;
    m_maximumLines = lines;
    changed();
}

void TextBlock::changed() {
    updateGeometry();
    update();
}

std::vector<TextBlock::Line> TextBlock::lines(qreal width, qreal height) const {
    const QFontMetricsF metrics(m_font);
    width = std::max<qreal>(width, 1);
    // A layout that gives less height than the text needs gets whole lines,
    // never a line cut through its glyphs; one line at the least.
    int most = m_maximumLines;
    if (height >= 0) {
        const int fit =
            1 + std::max(0, int(std::floor((height - metrics.height()) / metrics.lineSpacing())));
        most = most > 0 ? std::min(most, fit) : fit;
    }
    if (m_wrap == Wrap::OneLine) {
        const QString shown = metrics.elidedText(flattened(m_text), Qt::ElideRight, width);
        return {{shown, metrics.horizontalAdvance(shown)}};
    }
    QString text = m_text;
    text.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(text, m_font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    std::vector<Line> out;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (most > 0 && int(out.size()) == most - 1) {
            // The last allowed line takes the rest of the text, cut to fit.
            QString rest = flattened(text.mid(line.textStart()));
            // As on every other line, a trailing blank takes no room.
            while (!rest.isEmpty() && rest.back().isSpace())
                rest.chop(1);
            const QString shown = metrics.elidedText(rest, Qt::ElideRight, width);
            out.push_back({shown, metrics.horizontalAdvance(shown)});
            break;
        }
        QString piece = text.mid(line.textStart(), line.textLength());
        while (!piece.isEmpty() && (piece.back().isSpace() || piece.back() == QChar::LineSeparator))
            piece.chop(1);
        out.push_back({piece, line.naturalTextWidth()});
    }
    layout.endLayout();
    if (out.empty())
        out.push_back({});
    return out;
}

QString TextBlock::shownText() const {
    QStringList pieces;
    for (const Line& line : lines(width(), height()))
        pieces << line.text;
    return pieces.join(u'\n');
}

QSize TextBlock::sizeHint() const {
    const QFontMetricsF metrics(m_font);
    const qreal natural = std::ceil(metrics.horizontalAdvance(flattened(m_text)));
    if (m_wrap == Wrap::OneLine)
        return QSize(int(natural), int(std::ceil(metrics.height())));
    const int width = int(std::min(natural, kPreferredWrapWidth));
    return QSize(width, heightForWidth(width));
}

QSize TextBlock::minimumSizeHint() const {
    const QFontMetricsF metrics(m_font);
    const qreal natural = std::ceil(metrics.horizontalAdvance(flattened(m_text)));
    const qreal least = std::ceil(metrics.horizontalAdvance(QStringLiteral("W…")));
    return QSize(int(std::min(natural, least)), int(std::ceil(metrics.height())));
}

int TextBlock::heightForWidth(int width) const {
    const QFontMetricsF metrics(m_font);
    if (m_wrap == Wrap::OneLine)
        return int(std::ceil(metrics.height()));
    return int(std::ceil(metrics.lineSpacing() * qreal(lines(width).size())));
}

void TextBlock::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(m_font);
    painter.setPen(m_color);
    const QFontMetricsF metrics(m_font);
    qreal y = metrics.ascent();
    for (const Line& line : lines(width(), height())) {
        qreal x = 0;
        if (m_alignment & Qt::AlignHCenter)
            x = (width() - line.width) / 2;
        else if (m_alignment & Qt::AlignRight)
            x = width() - line.width;
        painter.drawText(QPointF(x, y), line.text);
        y += metrics.lineSpacing();
    }
}

} // namespace orvane
