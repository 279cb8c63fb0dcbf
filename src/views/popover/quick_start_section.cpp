#include "views/popover/quick_start_section.h"

#include "platform/haptics.h"
#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"
#include "views/popover/popover_style.h"
#include "views/popover/section_title.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

namespace orvane {

namespace {

constexpr int kPadding = 12;
constexpr int kTile = 32;
constexpr int kSpacing = 10;
const QString kPath = QStringLiteral("Kunde → Projekt → Aufgabe");

QFont titleFont() {
    return systemFont(14, FontWeight::Semibold);
}
QFont pathFont() {
    return systemFont(11);
}

} // namespace

void newTimerTapped(const PopoverActions& actions) {
    platform::Haptics::shared().perform(platform::HapticPattern::Generic);
    if (actions.openSessionFlow)
        actions.openSessionFlow();
}

NewTimerButton::NewTimerButton(ChromeSetting& chrome, QWidget* parent)
    : QAbstractButton(parent), m_chrome(chrome) {
    setText(QStringLiteral("Neuer Timer"));
    setAccessibleName(text());
    setAccessibleDescription(kPath);
    setFocusPolicy(Qt::TabFocus);
    pressOnReturn(this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(&m_chrome, &ChromeSetting::changed, this, qOverload<>(&QWidget::update));
}

QSize NewTimerButton::sizeHint() const {
    const qreal texts =
        QFontMetricsF(titleFont()).height() + 2 + QFontMetricsF(pathFont()).height();
    return QSize(372, int(std::ceil(std::max<qreal>(kTile, texts))) + 2 * kPadding);
}

QSize NewTimerButton::minimumSizeHint() const {
    return QSize(2 * kPadding + kTile + kSpacing + 40, sizeHint().height());
}

void NewTimerButton::paintEvent(QPaintEvent*) {
    const bool light = m_chrome.light();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        p.setOpacity(0.7);
    const QRectF box = QRectF(rect());
    QPainterPath background;
    background.addRoundedRect(box, 12, 12);
    p.setClipPath(background);
    p.fillPath(background, light ? QColor(232, 240, 255) : QColor(255, 255, 255, 13));

    const qreal centre = box.height() / 2;
    const QRectF tile(kPadding, centre - kTile / 2.0, kTile, kTile);
    QPainterPath tileShape;
    tileShape.addRoundedRect(tile, 6, 6);
    QColor tint = Palette::indigo();
    tint.setAlphaF(0.25f);
    p.fillPath(tileShape, tint);
    drawSymbol(p, u"plus", tile.center(), 14, Palette::indigo(), FontWeight::Bold);

    const qreal chevronSize = 12;
    const qreal chevronX = box.width() - kPadding - chevronSize / 2;
    drawSymbol(p, u"chevron.right", QPointF(chevronX, centre), chevronSize, mutedTextColor(light),
               FontWeight::Semibold);

    const qreal textLeft = tile.right() + kSpacing;
    const qreal room = chevronX - chevronSize / 2 - kSpacing - textLeft;
    const QFontMetricsF title(titleFont());
    const QFontMetricsF path(pathFont());
    const qreal top = centre - (title.height() + 2 + path.height()) / 2;
    p.setPen(strongTextColor(light));
    p.setFont(titleFont());
    p.drawText(QPointF(textLeft, top + title.ascent()), elidedText(titleFont(), text(), room));
    p.setPen(softTextColor(light));
    p.setFont(pathFont());
    p.drawText(QPointF(textLeft, top + title.height() + 2 + path.ascent()),
               elidedText(pathFont(), kPath, room));
    if (hasFocus())
        strokeKeyboardFocus(p, box, 12);
}

QuickStartSection::QuickStartSection(AppStore&, ChromeSetting& chrome, PopoverActions actions,
                                     QWidget* parent)
    : QWidget(parent), m_actions(std::move(actions)), m_button(new NewTimerButton(chrome, this)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* title = new SectionTitle(QStringLiteral("SCHNELLSTART"), chrome, QChar(u'N'), this);
    title->lower(); // screen readers go through a section in its children's order
    column->addWidget(title);
    column->addWidget(m_button);
    connect(m_button, &QAbstractButton::clicked, this, [this] { newTimerTapped(m_actions); });
}

} // namespace orvane
