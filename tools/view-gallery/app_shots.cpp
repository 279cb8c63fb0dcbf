#include "gallery.h"

#include "app/menu_bar_pill_view.h"
#include "app/pill_window.h"
#include "app/status_icon.h"
#include "views/kit/palette.h"

#include <QPainterPath>

#include <cmath>

namespace orvane::gallery {

namespace {

// The pill as its window shows it: the dark rounded window around the pill.
QWidget* pillShot(const PillContent& content) {
    const qreal width = std::max(std::ceil(pillFittingWidth(content)), 20.0);
    const QSize size(static_cast<int>(width) + 2 * PillWindow::kPaddingX,
                     18 + 2 * PillWindow::kPaddingY);
    return paintBox(size, [content](QPainter& p, const QRectF& box) {
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath outline;
        outline.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 9, 9);
        p.fillPath(outline, Palette::bgDeep());
        p.setPen(QPen(Palette::border(), 1));
        p.drawPath(outline);
        paintPill(p,
                  box.adjusted(PillWindow::kPaddingX, PillWindow::kPaddingY, -PillWindow::kPaddingX,
                               -PillWindow::kPaddingY),
                  content);
    });
}

} // namespace

void addPanelIconShots(Gallery& gallery);

void addAppShots(Gallery& gallery) {
    addPanelIconShots(gallery);
    using Kind = PillContent::Kind;
    const struct {
        const char* name;
        PillContent content;
    } pills[] = {
        {"pill-signed-out", {}},
        {"pill-idle-today", {Kind::Idle, QStringLiteral("01:15:00")}},
        {"pill-on-break", {Kind::Idle, QStringLiteral("00:00:00")}},
        {"pill-running", {Kind::Running, QStringLiteral("01:02:05")}},
        {"pill-running-long", {Kind::Running, QStringLiteral("100:00:00")}},
    };
    for (const auto& pill : pills)
        for (const Backdrop backdrop : {Backdrop::Dark, Backdrop::Light})
            gallery.add({.name = QString::fromLatin1(pill.name) +
                                 (backdrop == Backdrop::Dark ? "" : "-on-light"),
                         .make = [content = pill.content] { return pillShot(content); },
                         .backdrop = backdrop});
}

void addPanelIconShots(Gallery& gallery) {
    using Kind = PillContent::Kind;
    // The panel item's icons at their sizes, side by side, on both kinds of panel.
    for (const Backdrop backdrop : {Backdrop::Dark, Backdrop::Light})
        gallery.add(
            {.name =
                 QStringLiteral("panel-icons") + (backdrop == Backdrop::Dark ? "-dark" : "-light"),
             .make =
                 [] {
                     return paintBox(QSize(3 * 140, 4 * 60), [](QPainter& p, const QRectF&) {
                         qreal x = 6;
                         for (const Kind kind : {Kind::SignedOut, Kind::Idle, Kind::Running}) {
                             for (const QImage& icon : statusIconImages(kind)) {
                                 p.drawImage(QPointF(x, 6), icon);
                                 x += icon.width() + 4;
                             }
                             x += 8;
                         }
                         // While running, the icon carries the clock.
                         qreal y = 60;
                         for (const QStringList& row :
                              {QStringList{"0:07", "1:02"}, {"10:45", "117:59"}, {"8:00"}}) {
                             x = 6;
                             for (const QString& clock : row) {
                                 for (const QImage& icon :
                                      statusIconImages(StatusIconFace{Kind::Running, clock})) {
                                     p.drawImage(QPointF(x, y), icon);
                                     x += icon.width() + 4;
                                 }
                                 x += 8;
                             }
                             y += 60;
                         }
                     });
                 },
             .backdrop = backdrop});
}

} // namespace orvane::gallery
