#include "app/popover_placement.h"

#include <algorithm>
#include <cmath>

namespace orvane {

namespace {
constexpr int kGap = 6;
// Hosts report the click or the item's corner or centre: within a panel
// item's size of the pointer.
constexpr int kNearPointer = 64;
} // namespace

std::optional<QPoint> panelClickPoint(const QPoint& reported, const std::optional<QPoint>& pointer,
                                      PointerTrust trust) {
    if (!pointer || trust == PointerTrust::Stale) {
        if (reported.isNull())
            return std::nullopt;
        return reported;
    }
    const QPoint off = reported - *pointer;
    const bool near = std::abs(off.x()) <= kNearPointer && std::abs(off.y()) <= kNearPointer;
    return reported.isNull() || !near ? *pointer : reported;
}

QRect panelFreeArea(const QRect& monitor, const QRect& available, const DesktopPanels& desktop) {
    QRect area = available & monitor;
    // A cut of half the monitor or more is no panel's: neither a strut's nor
    // the one a work area makes (a stale or bogus one left by another program).
    const auto panelsOnly = [&monitor](const QRect& cut) {
        return 2 * cut.width() > monitor.width() && 2 * cut.height() > monitor.height();
    };
    // The window manager's area for this monitor: the one that covers most of it.
    QRect best;
    for (const QRect& work : desktop.workAreas) {
        const QRect part = work & monitor;
        if (qint64(part.width()) * part.height() > qint64(best.width()) * best.height())
            best = part;
    }
    if (panelsOnly(area & best))
        area &= best;
    for (const PanelWindow& panel : desktop.panels) {
        const QRect on = panel.geometry & monitor;
        const auto& v = panel.strut;
        const auto widest = std::max_element(v.begin(), v.end());
        if (on.isEmpty() || *widest == 0)
            continue;
        QRect cut = area;
        switch (widest - v.begin()) {
        case 0:
            cut.setLeft(std::max(area.left(), on.right() + 1));
            break;
        case 1:
            cut.setRight(std::min(area.right(), on.left() - 1));
            break;
        case 2:
            cut.setTop(std::max(area.top(), on.bottom() + 1));
            break;
        default:
            cut.setBottom(std::min(area.bottom(), on.top() - 1));
            break;
        }
        if (panelsOnly(cut))
            area = cut;
    }
    return area.isEmpty() ? available & monitor : area;
}

QPoint panelEdgeAnchor(const QRect& monitor, const QRect& area, const std::optional<QPoint>& near) {
    const int left = area.left() - monitor.left(), right = monitor.right() - area.right();
    const int top = area.top() - monitor.top(), bottom = monitor.bottom() - area.bottom();
    const int widest = std::max({left, right, top, bottom});
    if (widest <= 0)
        return near.value_or(QPoint(area.right(), monitor.top()));
    const int x = near ? std::clamp(near->x(), area.left(), area.right()) : area.right();
    const int y = near ? std::clamp(near->y(), area.top(), area.bottom()) : area.bottom();
    if (widest == top)
        return {x, monitor.top() + top / 2};
    if (widest == bottom)
        return {x, monitor.bottom() - bottom / 2};
    if (widest == left)
        return {monitor.left() + left / 2, y};
    return {monitor.right() - right / 2, y};
}

PanelClick panelClickAction(const PanelClickMoments& m, qint64 now, bool fromMenuEntry) {
    // How far apart the menu's opening and the close it caused may be told:
    // the close may come with the click (before the host's wait for a
    // double click) or just after the menu opened.
    constexpr qint64 kClosedBeforeMenu = 1000;
    constexpr qint64 kClosedAfterMenu = 500;
    if (m.open)
        return PanelClick::Close;
    if (fromMenuEntry && m.menuOpenedAt) {
        const bool closedByThatMenu = m.closedByItselfAt &&
                                      *m.closedByItselfAt >= *m.menuOpenedAt - kClosedBeforeMenu &&
                                      *m.closedByItselfAt <= *m.menuOpenedAt + kClosedAfterMenu;
        return m.openWhenMenuOpened || closedByThatMenu ? PanelClick::Nothing : PanelClick::Open;
    }
    if (m.closedByItselfAt && now - *m.closedByItselfAt < kToggleGraceMs)
        return PanelClick::Nothing;
    return PanelClick::Open;
}

QPoint popoverOrigin(const QRect& anchor, const QSize& popover, const QRect& available) {
    const bool anchorInUpperHalf = anchor.center().y() < available.center().y();
    int x = anchor.center().x() - popover.width() / 2;
    int y = anchorInUpperHalf ? anchor.bottom() + 1 + kGap : anchor.top() - kGap - popover.height();
    return keptInside({x, y}, popover, available);
}

QPoint keptInside(const QPoint& origin, const QSize& size, const QRect& available) {
    const int x =
        std::max(available.left(), std::min(origin.x(), available.right() + 1 - size.width()));
    const int y =
        std::max(available.top(), std::min(origin.y(), available.bottom() + 1 - size.height()));
    return {x, y};
}

QRect placementArea(const QRect& available, const QRect& native, double scale) {
    if (scale <= 0 || native.isEmpty())
        return available;
    // A logical position maps to its scaled value rounded to the nearest
    // pixel, and our sizes scale to whole pixels: a window inside these
    // bounds ends inside the native area.
    constexpr double kSlack = 1e-9;
    const QPoint first(static_cast<int>(std::ceil(native.left() / scale - kSlack)),
                       static_cast<int>(std::ceil(native.top() / scale - kSlack)));
    const QPoint end(static_cast<int>(std::floor((native.right() + 1) / scale + kSlack)),
                     static_cast<int>(std::floor((native.bottom() + 1) / scale + kSlack)));
    return available.intersected(QRect(first, end - QPoint(1, 1)));
}

std::optional<double> fittedStatusItemLength(double currentLength, double fittingWidth) {
    const double width = std::max(std::ceil(fittingWidth), 20.0);
    if (std::abs(currentLength - width) > 0.5)
        return width;
    return std::nullopt;
}

std::optional<int> popoverSlide(double dx) {
    if (std::abs(dx) > 0.5)
        return static_cast<int>(std::lround(dx));
    return std::nullopt;
}

} // namespace orvane
