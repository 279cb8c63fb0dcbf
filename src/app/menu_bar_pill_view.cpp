#include "app/menu_bar_pill_view.h"

#include "app/pill_accessible.h"
#include "platform/clock.h"
#include "views/kit/assets.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"

#include <QAccessible>
#include <QPainter>

#include <cmath>

namespace orvane {

QString pillClockText(qint64 secs) {
    const qint64 s = std::max<qint64>(secs, 0);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

PillContent pillContent(bool isLoggedIn, const std::vector<TimerSession>& sessions,
                        const std::optional<QUuid>& activeSessionId, qint64 todayTotalSecs,
                        const QDateTime& now) {
    const TimerSession* shown = displayedSession(sessions, activeSessionId);
    // A running session shows its clock whatever the sign-in state says.
    if (shown && shown->running && !shown->onBreak)
        return {PillContent::Kind::Running, pillClockText(shown->liveElapsedSecs(now))};
    if (isLoggedIn)
        return {PillContent::Kind::Idle, pillClockText(todayTotalSecs)};
    return {};
}

PillContent pillContent(const AppStore& store, const QDateTime& now) {
    return pillContent(store.isLoggedIn(), store.sessions(), store.activeSessionId(),
                       store.todayTotalSecs(), now);
}

namespace {
QFont pillFont() {
    return systemFont(PillMetrics::kTextPixels);
}
} // namespace

qreal pillFittingWidth(const PillContent& content) {
    qreal width = PillMetrics::kPadding * 2 + PillMetrics::kIcon;
    if (content.kind != PillContent::Kind::SignedOut)
        width += PillMetrics::kSpacing * 2 + PillMetrics::kMarker +
                 digitCellTextWidth(pillFont(), content.text);
    return width;
}

void paintPill(QPainter& painter, const QRectF& box, const PillContent& content) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal midY = box.center().y();
    qreal x = box.left() + PillMetrics::kPadding;
    drawAsset(painter, u"OIcon",
              QRectF(x, midY - PillMetrics::kIcon / 2, PillMetrics::kIcon, PillMetrics::kIcon));
    x += PillMetrics::kIcon;
    if (content.kind != PillContent::Kind::SignedOut) {
        x += PillMetrics::kSpacing;
        const QRectF marker(x, midY - PillMetrics::kMarker / 2, PillMetrics::kMarker,
                            PillMetrics::kMarker);
        if (content.kind == PillContent::Kind::Running) {
            const qreal inset = (PillMetrics::kMarker - PillMetrics::kDot) / 2;
            painter.setPen(Qt::NoPen);
            painter.setBrush(Palette::pink());
            painter.drawEllipse(marker.adjusted(inset, inset, -inset, -inset));
        } else {
            QColor glyph(Qt::white);
            glyph.setAlphaF(0.9f);
            const qreal inset = (PillMetrics::kMarker - PillMetrics::kGlyphPixels) / 2;
            drawSymbol(painter, u"pause.fill", marker.adjusted(inset, inset, -inset, -inset),
                       glyph);
        }
        x += PillMetrics::kMarker + PillMetrics::kSpacing;
        const QFont font = pillFont();
        const QFontMetricsF metrics(font);
        const qreal baseline = midY + (metrics.ascent() - metrics.descent()) / 2;
        painter.setPen(Qt::white);
        drawDigitCellText(painter, QPointF(x, baseline), font, content.text);
    }
    painter.restore();
}

MenuBarPillView::MenuBarPillView(AppStore& store, std::function<void()> onTap, QWidget* parent)
    : QWidget(parent), store_(&store), onTap_(std::move(onTap)) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    installPillAccessibility();
    clock_.setSingleShot(true);
    clock_.setTimerType(Qt::PreciseTimer);
    connect(&clock_, &QTimer::timeout, this, &MenuBarPillView::refresh);
    connect(&store, &AppStore::changed, this, [this](AppStore::Property property) {
        switch (property) {
        case AppStore::Property::IsLoggedIn:
        case AppStore::Property::Sessions:
        case AppStore::Property::ActiveSessionId:
        case AppStore::Property::TodayTotalSecs:
            refresh();
            break;
        default:
            break;
        }
    });
    refresh();
}

void MenuBarPillView::refresh() {
    if (!store_)
        return;
    const QDateTime now = platform::Clock::shared().now();
    PillContent next = pillContent(*store_, now);
    // The store's tick turns the clock just past each second, and every
    // refresh puts this clock off again: it fires only where no tick came
    // (a tick that runs late), so the pill wakes no more than the store.
    if (next.kind == PillContent::Kind::Running) {
        const TimerSession* shown = displayedSession(store_->sessions(), store_->activeSessionId());
        clock_.start(shown ? msUntilNextSecond(*shown, now) + kTickGraceMs : 1000);
    } else {
        clock_.stop();
    }
    if (next == content_)
        return;
    const bool resized = next.kind != content_.kind || next.text.size() != content_.text.size();
    const QString spoken = pillAccessibleName(content_);
    content_ = std::move(next);
    if (QAccessible::isActive() && pillAccessibleName(content_) != spoken) {
        QAccessibleEvent renamed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
    if (resized)
        updateGeometry();
    update();
    Q_EMIT contentChanged();
}

qreal MenuBarPillView::fittingWidth() const {
    return pillFittingWidth(content_);
}

QSize MenuBarPillView::sizeHint() const {
    const qreal height = PillMetrics::kPadding * 2 + PillMetrics::kIcon;
    return QSize(static_cast<int>(std::ceil(fittingWidth())), static_cast<int>(height));
}

void MenuBarPillView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintPill(painter, QRectF(rect()), content_);
}

} // namespace orvane
