#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace orvane {

// Where the popover opens for an anchor (the pill window, or a panel item's
// click point as a 1 × 1 rect): below the anchor when the anchor sits in the
// upper half of its screen, above it otherwise; centred on the anchor and
// kept inside the available area.
QPoint popoverOrigin(const QRect& anchor, const QSize& popover, const QRect& available);

// Where a click on a panel item opens the popover: at the host's point,
// unless that cannot be the item's: (0, 0), or far from the pointer at the
// click (MATE's fixed (0, 25) and (33, 0), waybar's point inside its own
// widget). Then at the pointer; without one (Wayland), at the host's point.
QPoint panelClickPoint(const QPoint& reported, const std::optional<QPoint>& pointer);

// The status item's new length after a fit, or nothing when it stays: the
// width is the fitting width rounded up, at least 20, and replaces the
// current length only when the two differ by more than half a pixel.
std::optional<double> fittedStatusItemLength(double currentLength, double fittingWidth);

// How far a shown popover slides after its anchor's centre moved by `dx`:
// nothing for half a pixel or less.
std::optional<int> popoverSlide(double dx);

// The logical area a window may fill on a screen scaled by `scale`: the
// logical `available` area less what maps beyond its `native` pixels once
// scaled and rounded (both relative to the screen's origin). At a fractional
// scale the logical area is rounded from the native one and may reach a
// pixel past it.
QRect placementArea(const QRect& available, const QRect& native, double scale);

// Where a popover of `size` whose top left is meant to be at `origin` stands
// wholly inside `available`; a popover larger than the area keeps its top
// left visible.
QPoint keptInside(const QPoint& origin, const QSize& size, const QRect& available);

} // namespace orvane
