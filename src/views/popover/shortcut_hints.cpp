#include "views/popover/shortcut_hints.h"

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

constexpr qreal kRowSpacing = 8;   // between hints and the dot
constexpr qreal kLabelSpacing = 4; // between a label and its keys

QFont labelFont() {
    return systemFont(10);
}
KeyHintStyle keyStyle() {
    return {.modifierFont = monospacedFont(9, FontWeight::Medium),
            .keyFont = monospacedFont(9, FontWeight::Bold)};
}

// Walks the row left to right: each text piece with its font and x, and
// each key hint with its x; returns the row's width.
template <typename Text, typename Keys> qreal walkRow(Text text, Keys keys) {
    const QFontMetricsF label(labelFont());
    const KeyHintStyle style = keyStyle();
    const QString separator = QString::fromUtf16(kShortcutHintSeparator);
    qreal x = 0;
    bool first = true;
    for (const ShortcutHint& hint : footerShortcutHints()) {
        if (!first) {
            x += kRowSpacing;
            text(x, separator);
            x += label.horizontalAdvance(separator) + kRowSpacing;
        }
        first = false;
        text(x, hint.label);
        x += label.horizontalAdvance(hint.label) + kLabelSpacing;
        keys(x, hint.key);
        x += keyHintWidth(style, hint.key);
    }
    return x;
}

} // namespace

std::vector<ShortcutHint> footerShortcutHints() {
    return {{QStringLiteral("Start/Stopp"), u'T'}, {QStringLiteral("Neu"), u'N'}};
}

ShortcutHints::ShortcutHints(ChromeSetting& chrome, QWidget* parent)
    : QWidget(parent), m_chrome(chrome) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::StaticText);
    setAccessibleName(
        QStringLiteral("Start/Stopp %1 · Neu %2").arg(shortcutText(u'T'), shortcutText(u'N')));
    connect(&m_chrome, &ChromeSetting::changed, this, qOverload<>(&QWidget::update));
}

QSize ShortcutHints::sizeHint() const {
    const qreal width = walkRow([](qreal, const QString&) {}, [](qreal, QChar) {});
    const qreal height = std::max(QFontMetricsF(labelFont()).height(),
                                  QFontMetricsF(keyStyle().modifierFont).height());
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

QSize ShortcutHints::minimumSizeHint() const {
    return sizeHint();
}

void ShortcutHints::paintEvent(QPaintEvent*) {
    const QColor color = mutedTextColor(m_chrome.light());
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal centre = height() / 2.0;
    const QFontMetricsF label(labelFont());
    const KeyHintStyle style = keyStyle();
    const QFontMetricsF keys(style.modifierFont);
    p.setPen(color);
    p.setFont(labelFont());
    walkRow(
        [&](qreal x, const QString& text) {
            p.drawText(QPointF(x, centre + (label.ascent() - label.descent()) / 2), text);
        },
        [&](qreal x, QChar key) {
            drawKeyHint(p, QPointF(x, centre + (keys.ascent() - keys.descent()) / 2), style, key,
                        color);
        });
}

} // namespace orvane
