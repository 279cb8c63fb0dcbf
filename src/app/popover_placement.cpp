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

QPoint panelClickPoint(const QPoint& reported, const std::optional<QPoint>& pointer) {
    if (!pointer)
        return reported;
    const QPoint off = reported - *pointer;
    const bool near = std::abs(off.x()) <= kNearPointer && std::abs(off.y()) <= kNearPointer;
    return reported.isNull() || !near ? *pointer : reported;
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
