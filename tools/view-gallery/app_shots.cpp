#include "gallery.h"

#include "app/menu_bar_pill_view.h"
#include "app/pill_window.h"
#include "app/popover_placement.h"
#include "app/popover_window.h"
#include "app/status_icon.h"
#include "store/app_store.h"
#include "views/kit/palette.h"
#include "views/popover/popover_root_view.h"
#include "views/popover/popover_views.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPainterPath>
#include <QScreen>

#include <cmath>
#include <memory>

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

// The real pill and popover windows at the bottom right of the screen: the
// popover opened above the pill while signed in, then signed out by the
// service, so that the pill narrowed and the popover slid after it. Drawn
// with the screen's available area around them and its edges marked.
class ScreenEdgeShot : public QWidget {
public:
    ScreenEdgeShot() {
        available_ = QGuiApplication::primaryScreen()->availableGeometry();
        APIUser user{.id = QStringLiteral("7"), .email = QStringLiteral("ada@orvane.test")};
        store_.setCurrentUser(user);
        store_.setIsLoggedIn(true);
        store_.setTodayTotalSecs(1 * 3600 + 15 * 60);
        pill_ = std::make_unique<PillWindow>(store_, [] {});
        fitPill();
        pill_->show();
        popover_ = std::make_unique<PopoverWindow>();
        popover_->setContent(new PopoverRootView(store_, nullptr, defaultPopoverViews(), nullptr));
        setFixedSize(available_.size());
    }

    // Runs once the picture's own window is up, so that nothing takes the
    // popover's activation after it opened.
    void play() {
        popover_->openAt(pill_->anchor());
        const int before = pill_->pillCenter().x();
        store_.setIsLoggedIn(false);
        fitPill();
        if (const auto dx = popoverSlide(pill_->pillCenter().x() - before))
            popover_->slideBy(*dx);
        // The slide and the sign-in view's entrance, with a deadline.
        const QDeadlineTimer deadline(2000);
        QDeadlineTimer calm(600);
        while (!deadline.hasExpired() && (popover_->sliding() || !calm.hasExpired()))
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(58, 64, 82));
        const QPoint origin = available_.topLeft();
        if (pill_->isVisible())
            p.drawPixmap(pill_->anchor().topLeft() - origin, pill_->grab());
        if (popover_->isVisible())
            p.drawPixmap(popover_->frameGeometry().topLeft() - origin, popover_->grab());
        p.setPen(QPen(Palette::pink(), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }

private:
    // As the application fits the pill to its text.
    void fitPill() {
        if (const auto length =
                fittedStatusItemLength(pill_->itemLength(), pill_->pill()->fittingWidth()))
            pill_->setItemLength(static_cast<int>(*length));
    }

    QRect available_;
    AppStore store_;
    std::unique_ptr<PillWindow> pill_;
    std::unique_ptr<PopoverWindow> popover_;
};

} // namespace

void addPanelIconShots(Gallery& gallery);

void addAppShots(Gallery& gallery) {
    addPanelIconShots(gallery);
    gallery.add({.name = QStringLiteral("popover-after-slide-at-screen-edge"),
                 .make = [] { return new ScreenEdgeShot; },
                 .settle = [](QWidget* shot) { static_cast<ScreenEdgeShot*>(shot)->play(); }});
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
