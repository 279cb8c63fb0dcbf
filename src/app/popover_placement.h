#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <array>
#include <optional>
#include <vector>

namespace orvane {

// Where the popover opens for an anchor (the pill window, or a panel item's
// click point as a 1 × 1 rect): below the anchor when the anchor sits in the
// upper half of its screen, above it otherwise; centred on the anchor and
// kept inside the available area.
QPoint popoverOrigin(const QRect& anchor, const QSize& popover, const QRect& available);

// What the window system says of the pointer. X11 follows it everywhere;
// Xwayland learns it only while it is over an X window, so there it is
// stale: where the pointer last left one of our windows.
enum class PointerTrust { Current, Stale };

// Where a click on a panel item opens the popover: at the host's point,
// unless that cannot be the item's: (0, 0), or far from a current pointer at
// the click (MATE's fixed (0, 25) and (33, 0), waybar's point inside its own
// widget). Then at the pointer, when it is current. Nothing when no point
// can be the item's (a stale pointer and no point, a middle click on GNOME).
std::optional<QPoint> panelClickPoint(const QPoint& reported, const std::optional<QPoint>& pointer,
                                      PointerTrust trust = PointerTrust::Current);

// What the desktop's panels reserve, as the X server tells it: each panel
// window (one that reserves a strip of the screen with _NET_WM_STRUT or
// _NET_WM_STRUT_PARTIAL) with its place and the strip's first four values
// (left, right, top, bottom); and the window manager's work areas, one per
// monitor (mutter's _GTK_WORKAREAS, also under Xwayland, where GNOME's top
// bar is no X window). The values are other programs' and not trusted.
struct PanelWindow {
    QRect geometry;
    std::array<quint32, 4> strut{};
};
struct DesktopPanels {
    std::vector<PanelWindow> panels;
    std::vector<QRect> workAreas;
};

// The part of `monitor` a popover may cover: `available`, within the work
// area the window manager gives this monitor, less every panel on it from
// the panel's inner side to the edge it reserves. The panel's own place
// says where: the values panels give are measured from the edges of the
// whole X screen or, at an edge between two monitors, from the monitor's
// (xfce4-panel). A cut of half the monitor or more is no panel's, by a
// strut or by the work area alike.
QRect panelFreeArea(const QRect& monitor, const QRect& available, const DesktopPanels& panels);

// Where the popover opens when no click tells where the item is: at the
// edge of `monitor` where its panel is (the widest strip `area` leaves),
// across from `near` (the pointer, by the item's menu) or else at the
// edge's end where notification areas sit (right, or bottom). Without a
// panel at `near`, or else at the top right. Never mid-screen.
QPoint panelEdgeAnchor(const QRect& monitor, const QRect& area,
                       const std::optional<QPoint>& near = std::nullopt);

// What a click on the panel item, or its menu entry, does to the popover.
// Hosts that answer a click with the item's menu (GNOME's extension) take
// the keyboard as the menu opens, and so close an open popover a moment
// before or after: the entry chosen from that menu is the closing click.
// Times are monotonic milliseconds.
struct PanelClickMoments {
    bool open = false;
    std::optional<qint64> closedByItselfAt; // the last close on losing the keyboard
    std::optional<qint64> menuOpenedAt;     // the host's menu, last opened
    bool openWhenMenuOpened = false;
};
enum class PanelClick { Open, Close, Nothing };
// A click this soon after the popover closed itself is the click that
// closed it (on the item): it must not open the popover again.
inline constexpr qint64 kToggleGraceMs = 250;
PanelClick panelClickAction(const PanelClickMoments& moments, qint64 now, bool fromMenuEntry);

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
