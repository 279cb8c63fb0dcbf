#include "views/popover/section_title.h"

#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/key_hints.h"
#include "views/popover/popover_style.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace orvane {

namespace {

KeyHintStyle hintStyle() {
    return {.modifierFont = monospacedFont(9, FontWeight::Medium),
            .keyFont = monospacedFont(9, FontWeight::Semibold)};
}

} // namespace

SectionTitle::SectionTitle(QString text, ChromeSetting& chrome, std::optional<QChar> hintKey,
                           QWidget* parent)
    : QWidget(parent), m_text(std::move(text)), m_chrome(chrome), m_hintKey(hintKey) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::Heading);
    setAccessibleName(m_text);
    if (m_hintKey)
        setAccessibleDescription(shortcutText(*m_hintKey));
    connect(&m_chrome, &ChromeSetting::changed, this, qOverload<>(&QWidget::update));
}

QSize SectionTitle::sizeHint() const {
    const QFontMetricsF title(sectionTitleFont());
    qreal width = title.horizontalAdvance(m_text);
    qreal height = title.height();
    if (m_hintKey) {
        const KeyHintStyle style = hintStyle();
        width += 8 + keyHintWidth(style, *m_hintKey);
        height = std::max(height, QFontMetricsF(style.modifierFont).height());
    }
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize SectionTitle::minimumSizeHint() const {
    return QSize(0, sizeHint().height());
}

void SectionTitle::paintEvent(QPaintEvent*) {
    const bool light = m_chrome.light();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF title(sectionTitleFont());
    const qreal centre = height() / 2.0;
    qreal room = width();
    if (m_hintKey) {
        const KeyHintStyle style = hintStyle();
        const qreal hintWidth = keyHintWidth(style, *m_hintKey);
        const QFontMetricsF hint(style.modifierFont);
        QColor color = softTextColor(light);
        color.setAlphaF(color.alphaF() * 0.8f);
        drawKeyHint(p, QPointF(width() - hintWidth, centre + (hint.ascent() - hint.descent()) / 2),
                    style, *m_hintKey, color);
        room -= hintWidth + 8;
    }
    p.setPen(softTextColor(light));
    p.setFont(sectionTitleFont());
    p.drawText(QPointF(0, centre + (title.ascent() - title.descent()) / 2),
               elidedText(sectionTitleFont(), m_text, room));
}

} // namespace orvane
