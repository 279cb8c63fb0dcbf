#include "views/popover/today_card.h"

#include "store/app_store.h"
#include "store/time_money_helpers.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/popover/popover_style.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <optional>

namespace orvane {

namespace {

// The card's fonts with their metrics, made once and again only when the
// desktop's fonts change: a paint measures with them and builds none.
struct CardFonts {
    QFont title, total, target, counts, billable;
    QFontMetricsF titleMetrics, totalMetrics, targetMetrics, countsMetrics, billableMetrics;
    // Heights of the card's lines, top to bottom.
    qreal titleHeight, totalHeight, statsHeight;

    static QFont makeTotal() {
        QFont font = monospacedFont(34, FontWeight::Semibold);
        font.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
        return font;
    }
    CardFonts()
        : title(sectionTitleFont()), total(makeTotal()), target(systemFont(12)),
          counts(systemFont(11)), billable(systemFont(11, FontWeight::Semibold)),
          titleMetrics(title), totalMetrics(total), targetMetrics(target), countsMetrics(counts),
          billableMetrics(billable), titleHeight(titleMetrics.height()),
          totalHeight(totalMetrics.height()),
          statsHeight(std::max(countsMetrics.height(), billableMetrics.height())) {}
};
QString elided(const QFontMetricsF& metrics, const QString& text, qreal width) {
    return metrics.elidedText(text, Qt::ElideRight, std::max<qreal>(width, 0));
}
const CardFonts& cardFonts(bool renew = false) {
    // A desktop font change noticed here renews them through the signal.
    DesktopFonts::shared().follow();
    // Never destroyed: fonts must not outlive the application's font cache.
    static auto* fonts = new std::optional<CardFonts>;
    if (!*fonts || renew)
        fonts->emplace();
    return **fonts;
}
constexpr qreal kTitleToTotal = 4;
constexpr qreal kTotalToBar = 12;
constexpr qreal kBarToStats = 10;

// The glow of the card's top-trailing corner, in the card's coordinates:
// centred 50 pt beyond the corner on both axes, its radius with the blur.
constexpr qreal kGlowReach = 50, kGlowRadius = 90, kGlowBlur = 18;
QPointF glowCentre(const QRectF& card) {
    return {card.right() + kGlowReach, card.top() - kGlowReach};
}
QRadialGradient glowGradient(const QRectF& card, bool light) {
    QRadialGradient glow(glowCentre(card), kGlowRadius + kGlowBlur);
    QColor violet(139, 92, 246);
    violet.setAlphaF(light ? 0.18f : 0.32f);
    glow.setColorAt(0, violet);
    violet.setAlphaF(0);
    glow.setColorAt(1, violet);
    return glow;
}
QPainterPath cardShape(const QRectF& box) {
    QPainterPath card;
    card.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), TodayCard::kCornerRadius,
                        TodayCard::kCornerRadius);
    return card;
}

// Draws the glow where it reaches past the card, over the sections around
// it, as the card is not clipped to its shape; the card draws the rest under
// its own figures.
class OuterGlow : public QWidget {
public:
    OuterGlow(TodayCard* card, ChromeSetting& chrome, QWidget* parent)
        : QWidget(parent), card_(card), chrome_(chrome) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        connect(&chrome, &ChromeSetting::changed, this, qOverload<>(&QWidget::update));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!card_)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF card(QPointF(card_->mapTo(parentWidget(), QPoint(0, 0)) - pos()),
                          QSizeF(card_->size()));
        QPainterPath outside;
        outside.addRect(QRectF(rect()));
        p.setClipPath(outside.subtracted(cardShape(card)));
        p.fillRect(rect(), glowGradient(card, chrome_.light()));
    }

private:
    QPointer<TodayCard> card_;
    ChromeSetting& chrome_;
};

void fillCapsule(QPainter& p, const QRectF& box, const QBrush& brush) {
    QPainterPath shape;
    const qreal radius = std::min(box.height(), box.width()) / 2;
    shape.addRoundedRect(box, radius, radius);
    p.fillPath(shape, brush);
}

} // namespace

double todayProgress(qint64 trackedSecs, qint64 targetSecs) {
    if (targetSecs < 1)
        return 0;
    return std::clamp(double(trackedSecs) / double(targetSecs), 0.0, 1.0);
}

QString todayTargetText(qint64 targetSecs) {
    return QStringLiteral("/ ") + hourMinuteText(targetSecs) + QStringLiteral(" Ziel");
}

QString todayCountsText(qint64 sessions, qint64 projects) {
    return QString::number(sessions) + QStringLiteral(" Sessions · ") + QString::number(projects) +
           QStringLiteral(" Projekte");
}

QString todayBillableText(qint64 euroCents) {
    return u'+' + formatEuro(euroCents) + QStringLiteral(" abrechenbar");
}

bool todayTotalIsLive(const std::vector<TimerSession>& sessions) {
    return std::any_of(sessions.begin(), sessions.end(),
                       [](const TimerSession& s) { return s.running || s.onBreak; });
}

QString todaySpokenText(qint64 trackedSecs, qint64 targetSecs, qint64 sessions, qint64 projects,
                        qint64 billableEuroCents) {
    return QStringLiteral("Heute erfasst ") + spokenHoursMinutes(trackedSecs) +
           QStringLiteral(" von ") + spokenHoursMinutes(targetSecs) + QStringLiteral(" Ziel, ") +
           QString::number(sessions) +
           (sessions == 1 ? QStringLiteral(" Session, ") : QStringLiteral(" Sessions, ")) +
           QString::number(projects) +
           (projects == 1 ? QStringLiteral(" Projekt, ") : QStringLiteral(" Projekte, ")) +
           formatEuro(billableEuroCents) + QStringLiteral(" abrechenbar");
}

TodayFigures todayFigures(const AppStore& store) {
    const qint64 tracked = store.todayTrackedSecsLive();
    const qint64 target = store.todayTargetSecs();
    return {.total = hourMinuteText(tracked),
            .target = todayTargetText(target),
            .progress = todayProgress(tracked, target),
            .counts = todayCountsText(store.todaySessionsCount(), store.todayProjectsCount()),
            .billable = todayBillableText(store.todayBillableEuroCents())};
}

bool todayFiguresMoved(const TodayFigures& drawn, const TodayFigures& now, qreal barWidth) {
    const auto barEnd = [barWidth](const TodayFigures& f) {
        return std::llround(f.progress * barWidth * 4);
    };
    return drawn.total != now.total || drawn.target != now.target || drawn.counts != now.counts ||
           drawn.billable != now.billable || barEnd(drawn) != barEnd(now);
}

TodayCard::TodayCard(AppStore& store, ChromeSetting& chrome, QWidget* parent)
    : QWidget(parent), m_store(store), m_chrome(chrome) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleRole(this, QAccessible::StaticText);
    m_spoken = spokenText();
    connect(&DesktopFonts::shared(), &DesktopFonts::changed, this, [this] {
        cardFonts(true);
        updateGeometry();
        update();
    });
    // The live total turns with the store's tick, on the second the other
    // clocks turn, instead of on a clock of the card's own.
    connect(&m_store, &AppStore::ticked, this, [this] {
        if (m_ticking)
            clockTick();
    });
    connect(&m_store, &AppStore::changed, this, [this](AppStore::Property property) {
        switch (property) {
        case AppStore::Property::Sessions:
            followSessions();
            break;
        case AppStore::Property::AccentStyle:
            update();
            return;
        // The tick's stamp changes nothing on the card; the tick itself is heard above.
        case AppStore::Property::LastLiveActivitySyncFromTick:
            return;
        default:
            break;
        }
        // Most of the store's changes (a running session counts up every
        // second) change nothing on the card.
        clockTick();
    });
    connect(&m_chrome, &ChromeSetting::changed, this, qOverload<>(&QWidget::update));
    if (parent) {
        m_glow = new OuterGlow(this, m_chrome, parent);
        parent->installEventFilter(this);
        placeGlow();
    }
}

TodayCard::~TodayCard() {
    delete m_glow.data();
}

bool TodayCard::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::ParentAboutToChange:
        if (parentWidget())
            parentWidget()->removeEventFilter(this);
        delete m_glow.data();
        break;
    case QEvent::ParentChange:
        if (QWidget* parent = parentWidget()) {
            m_glow = new OuterGlow(this, m_chrome, parent);
            parent->installEventFilter(this);
            placeGlow();
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        placeGlow();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool TodayCard::eventFilter(QObject* watched, QEvent* event) {
    // Sections added later would cover the glow; a resize moves its bounds.
    if (watched == parentWidget() &&
        (event->type() == QEvent::ChildAdded || event->type() == QEvent::Resize))
        placeGlow();
    return QWidget::eventFilter(watched, event);
}

void TodayCard::placeGlow() {
    if (!m_glow || !parentWidget())
        return;
    const QRect card = geometry();
    const int reach = int(std::ceil(kGlowRadius + kGlowBlur));
    const QPoint centre(card.right() + 1 + int(kGlowReach), card.top() - int(kGlowReach));
    const QRect around = QRect(centre.x() - reach, centre.y() - reach, 2 * reach, 2 * reach)
                             .intersected(parentWidget()->rect());
    m_glow->setGeometry(around);
    m_glow->setVisible(isVisible() && !around.isEmpty());
    m_glow->raise();
    m_glow->update();
}

QString TodayCard::spokenText() const {
    const qint64 tracked = m_store.todayTrackedSecsLive();
    return todaySpokenText(tracked, m_store.todayTargetSecs(), m_store.todaySessionsCount(),
                           m_store.todayProjectsCount(), m_store.todayBillableEuroCents());
}

// The sentence moves by the minute at most; a hidden card is read anew when shown.
void TodayCard::followSpokenText() {
    if (!isVisible())
        return;
    if (QString spoken = spokenText(); spoken != m_spoken) {
        m_spoken = std::move(spoken);
        announceNameChange(this);
    }
}

bool TodayCard::isTicking() const {
    return m_ticking;
}

void TodayCard::followSessions() {
    m_ticking = isVisible() && todayTotalIsLive(m_store.sessions());
}

// The total shows minutes: most seconds change nothing on the card.
void TodayCard::clockTick() {
    if (!isVisible())
        return;
    if (todayFiguresMoved(m_drawn, figures(), width() - 2 * kPadding)) {
        update();
        followSpokenText();
    }
}

void TodayCard::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    followSessions();
    followSpokenText();
}

void TodayCard::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_ticking = false;
}

QSize TodayCard::sizeHint() const {
    const CardFonts& fonts = cardFonts();
    const qreal height = 2 * kPadding + fonts.titleHeight + kTitleToTotal + fonts.totalHeight +
                         kTotalToBar + kBarHeight + kBarToStats + fonts.statsHeight;
    return QSize(372, int(std::ceil(height)));
}

QSize TodayCard::minimumSizeHint() const {
    return QSize(2 * kPadding + 40, sizeHint().height());
}

void TodayCard::paintEvent(QPaintEvent*) {
    const bool light = m_chrome.light();
    const TodayFigures shown = figures();
    m_drawn = shown;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());

    // Background: gradient, hairline, then the glow from beyond the top-right corner.
    const QPainterPath card = cardShape(box);
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, light ? QColor(245, 247, 255) : Palette::bgCard());
    fill.setColorAt(1, light ? QColor(255, 241, 248) : QColor(26, 27, 46));
    p.fillPath(card, fill);
    QPen hairline(light ? QColor(0, 0, 0, 15) : Palette::hairline(), 1);
    hairline.setCapStyle(Qt::FlatCap);
    hairline.setJoinStyle(Qt::MiterJoin);
    p.strokePath(card, hairline);
    // Inside the card; the part beyond its corner is the sibling's.
    p.save();
    p.setClipPath(card);
    p.fillRect(box, glowGradient(box, light));
    p.restore();

    const CardFonts& fonts = cardFonts();
    const qreal left = kPadding;
    const qreal width = box.width() - 2 * kPadding;
    qreal y = kPadding;

    p.setPen(softTextColor(light));
    p.setFont(fonts.title);
    p.drawText(QPointF(left, y + fonts.titleMetrics.ascent()),
               elided(fonts.titleMetrics, QStringLiteral("HEUTE ERFASST"), width));
    y += fonts.titleHeight + kTitleToTotal;

    // Total and target share a baseline; with hostile figures the target
    // gives way first, then the total.
    const QFontMetricsF& totalMetrics = fonts.totalMetrics;
    const qreal baseline = y + totalMetrics.ascent();
    const QString total = elided(totalMetrics, shown.total, width);
    const qreal totalWidth = totalMetrics.horizontalAdvance(total);
    p.setPen(Palette::indigo());
    p.setFont(fonts.total);
    p.drawText(QPointF(left, baseline), total);
    const qreal targetRoom = width - totalWidth - 6;
    if (targetRoom > 0) {
        p.setPen(softTextColor(light));
        p.setFont(fonts.target);
        p.drawText(QPointF(left + totalWidth + 6, baseline),
                   elided(fonts.targetMetrics, shown.target, targetRoom));
    }
    y += fonts.totalHeight + kTotalToBar;

    const QRectF track(left, y, width, kBarHeight);
    fillCapsule(p, track, light ? QColor(0, 0, 0, 15) : QColor(255, 255, 255, 15));
    if (shown.progress > 0) {
        const QRectF bar(left, y, width * shown.progress, kBarHeight);
        fillCapsule(p, bar, accentBrush(m_store.accentStyle(), bar));
    }
    y += kBarHeight + kBarToStats;

    // The amount keeps its room; the counts take what is left.
    const QFontMetricsF& billableMetrics = fonts.billableMetrics;
    const QString billable = elided(billableMetrics, shown.billable, width);
    const qreal billableWidth = billableMetrics.horizontalAdvance(billable);
    const qreal statsCentre = y + fonts.statsHeight / 2;
    p.setPen(Palette::mint());
    p.setFont(fonts.billable);
    p.drawText(QPointF(left + width - billableWidth,
                       statsCentre + (billableMetrics.ascent() - billableMetrics.descent()) / 2),
               billable);
    const QFontMetricsF& countsMetrics = fonts.countsMetrics;
    p.setPen(mutedTextColor(light));
    p.setFont(fonts.counts);
    p.drawText(QPointF(left, statsCentre + (countsMetrics.ascent() - countsMetrics.descent()) / 2),
               elided(countsMetrics, shown.counts, width - billableWidth - 8));
}

} // namespace orvane
