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

namespace {

// One side's strip, in X screen coordinates: the side's reserved width and
// the span along the edge. `inner` is the strip's first column or row
// inside the screen, on the side away from the edge.
struct Strip {
    enum Side { Left, Right, Top, Bottom } side;
    qint64 inner;
    qint64 start, end;
};

// The strips one _NET_WM_STRUT_PARTIAL reserves; nothing for a value past
// the screen or a span that runs backwards.
std::vector<Strip> stripsOf(const std::array<quint32, 12>& v, const QSize& root) {
    std::vector<Strip> strips;
    const qint64 w = root.width(), h = root.height();
    const auto add = [&](Strip::Side side, qint64 width, qint64 extent, qint64 start, qint64 end,
                         qint64 inner) {
        if (width <= 0 || width > extent || start > end)
            return;
        strips.push_back({side, inner, start, end});
    };
    add(Strip::Left, v[0], w, v[4], v[5], qint64(v[0]) - 1);
    add(Strip::Right, v[1], w, v[6], v[7], w - qint64(v[1]));
    add(Strip::Top, v[2], h, v[8], v[9], qint64(v[2]) - 1);
    add(Strip::Bottom, v[3], h, v[10], v[11], h - qint64(v[3]));
    return strips;
}

} // namespace

QRect panelFreeArea(const QRect& monitor, const QRect& available, const DesktopPanels& panels) {
    QRect area = available & monitor;
    // The window manager's area for this monitor: the one that covers most of it.
    QRect best;
    for (const QRect& work : panels.workAreas) {
        const QRect part = work & monitor;
        if (qint64(part.width()) * part.height() > qint64(best.width()) * best.height())
            best = part;
    }
    if (!best.isEmpty())
        area &= best;
    for (const auto& strut : panels.struts) {
        for (const Strip& strip : stripsOf(strut, panels.root)) {
            const bool vertical = strip.side == Strip::Left || strip.side == Strip::Right;
            const qint64 lo = vertical ? monitor.left() : monitor.top();
            const qint64 hi = vertical ? monitor.right() : monitor.bottom();
            const qint64 alongLo = vertical ? monitor.top() : monitor.left();
            const qint64 alongHi = vertical ? monitor.bottom() : monitor.right();
            if (strip.inner < lo || strip.inner > hi || strip.end < alongLo ||
                strip.start > alongHi)
                continue;
            const qint64 depth = strip.side == Strip::Left || strip.side == Strip::Top
                                     ? strip.inner - lo + 1
                                     : hi - strip.inner + 1;
            if (2 * depth >= hi - lo + 1)
                continue;
            const int inner = static_cast<int>(strip.inner);
            switch (strip.side) {
            case Strip::Left:
                area.setLeft(std::max(area.left(), inner + 1));
                break;
            case Strip::Right:
                area.setRight(std::min(area.right(), inner - 1));
                break;
            case Strip::Top:
                area.setTop(std::max(area.top(), inner + 1));
                break;
            case Strip::Bottom:
                area.setBottom(std::min(area.bottom(), inner - 1));
                break;
            }
        }
    }
    return area.isEmpty() ? available & monitor : area;
}

QPoint panelEdgeAnchor(const QRect& monitor, const QRect& area) {
    const int left = area.left() - monitor.left(), right = monitor.right() - area.right();
    const int top = area.top() - monitor.top(), bottom = monitor.bottom() - area.bottom();
    const int widest = std::max({left, right, top, bottom});
    if (widest <= 0 || widest == top)
        return {area.right(), monitor.top() + std::max(top, 1) / 2};
    if (widest == bottom)
        return {area.right(), monitor.bottom() - bottom / 2};
    if (widest == left)
        return {monitor.left() + left / 2, area.bottom()};
    return {monitor.right() - right / 2, area.bottom()};
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
