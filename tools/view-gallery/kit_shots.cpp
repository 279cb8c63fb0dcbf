#include "gallery.h"

#include "views/kit/assets.h"
#include "views/kit/custom_toggle.h"
#include "views/kit/fonts.h"
#include "views/kit/palette.h"
#include "views/kit/pulsing_dot.h"
#include "views/kit/stat_card.h"
#include "views/kit/symbols.h"

#include <QVariantAnimation>

#include <cmath>

namespace orvane::gallery {

namespace {

QColor ink(Backdrop backdrop) {
    return backdrop == Backdrop::Dark ? Palette::textPrimary() : QColor(20, 20, 28);
}

QWidget* accentSwatch(AccentStyle style) {
    return paintBox(QSize(160, 56), [style](QPainter& p, const QRectF& box) {
        QPainterPath shape;
        shape.addRoundedRect(box.adjusted(0, 0, 0, -20), 12, 12);
        fillAccent(p, shape, style);
        p.setPen(Palette::textSecondary());
        p.setFont(systemFont(11));
        p.drawText(QPointF(2, box.bottom() - 4), rawValue(style));
    });
}

// Every symbol at three sizes and three weights' worth of lines, with its name.
QWidget* symbolSheet(Backdrop backdrop) {
    const QStringList names = symbolNames();
    constexpr int columns = 3;
    const int rows = int(std::ceil(names.size() / double(columns)));
    return paintBox(QSize(columns * 220, rows * 40), [=](QPainter& p, const QRectF&) {
        for (int i = 0; i < names.size(); ++i) {
            const QPointF origin((i % columns) * 220, (i / columns) * 40);
            const QBrush brush(ink(backdrop));
            drawSymbol(p, names[i], origin + QPointF(10, 16), 12, brush);
            drawSymbol(p, names[i], origin + QPointF(32, 16), 16, brush, FontWeight::Semibold);
            drawSymbol(p, names[i], origin + QPointF(62, 16), 24, brush, FontWeight::Bold);
            p.setPen(ink(backdrop));
            p.setFont(systemFont(11));
            p.drawText(origin + QPointF(82, 20), names[i]);
        }
    });
}

// Every symbol large, to judge its shapes.
QWidget* largeSymbolSheet() {
    const QStringList names = symbolNames();
    constexpr int columns = 6;
    const int rows = int(std::ceil(names.size() / double(columns)));
    return paintBox(QSize(columns * 80, rows * 80), [=](QPainter& p, const QRectF&) {
        for (int i = 0; i < names.size(); ++i) {
            const QRectF box((i % columns) * 80 + 8, (i / columns) * 80 + 8, 64, 64);
            p.fillRect(box, QColor(255, 255, 255, 20));
            drawSymbol(p, names[i], box, Palette::textPrimary(), FontWeight::Medium);
        }
    });
}

// An asset at the given heights, as a 1x pixmap (what a tray shows) and drawn
// at full resolution.
QWidget* assetSheet(const QString& name) {
    const QSizeF natural = assetSize(name);
    const qreal aspect = natural.width() / natural.height();
    const QList<int> heights{16, 22, 32, 64};
    int width = 0;
    for (const int h : heights)
        width += int(std::ceil(h * aspect)) + 12;
    return paintBox(QSize(width, 2 * 64 + 12), [=](QPainter& p, const QRectF&) {
        qreal x = 0;
        for (const int h : heights) {
            const QSize size(int(std::ceil(h * aspect)), h);
            p.drawPixmap(QPointF(x, 64 - h), assetPixmap(name, size, 1.0));
            drawAsset(p, name, QRectF(QPointF(x, 2 * 64 + 12 - h), QSizeF(size)));
            x += size.width() + 12;
        }
    });
}

void breathe(QWidget* widget, int ms) {
    if (auto* animation = widget->findChild<QVariantAnimation*>()) {
        animation->pause();
        animation->setCurrentTime(ms);
    }
}

} // namespace

void addKitShots(Gallery& g) {
    using enum AccentStyle;
    using enum Backdrop;
    for (const AccentStyle s : {Gradient, Indigo, Mint, Amber})
        g.add({.name = "accent-" + rawValue(s), .make = [s] { return accentSwatch(s); }});

    g.add({.name = "symbols-dark", .make = [] { return symbolSheet(Dark); }});
    g.add({.name = "symbols-large", .make = [] { return largeSymbolSheet(); }});
    g.add({.name = "symbols-light", .make = [] { return symbolSheet(Light); }, .backdrop = Light});

    for (const AccentStyle s : {Gradient, Indigo, Mint, Amber}) {
        g.add({.name = "toggle-off-" + rawValue(s),
               .make = [s] { return new CustomToggle(false, s); }});
        g.add({.name = "toggle-on-" + rawValue(s),
               .make = [s] { return new CustomToggle(true, s); }});
    }
    g.add({.name = "toggle-springing",
           .make = [] { return new CustomToggle(false, Gradient); },
           .settle =
               [](QWidget* w) {
                   static_cast<CustomToggle*>(w)->setOn(true);
                   breathe(w, 190); // the overshoot's peak
               }});

    g.add({.name = "dot-still", .make = [] { return new PulsingDot(Palette::mint(), false); }});
    g.add({.name = "dot-pulsed",
           .make = [] { return new PulsingDot(Palette::mint(), true); },
           .settle = [](QWidget* w) { breathe(w, 1400); }});

    g.add({.name = "stat-card-plain",
           .make = [] { return new StatCard("Dauer", "1:02", "gerundet 1:15"); },
           .width = 180});
    g.add({.name = "stat-card-accent",
           .make = [] { return new StatCard("Betrag", "18:48:08", "netto", Gradient, true); },
           .width = 180});
    g.add({.name = "stat-card-foreground",
           .make =
               [] {
                   return new StatCard("Status", "11:11:11", "abrechenbar", Gradient, true,
                                       Palette::mint());
               },
           .width = 180});
    g.add({.name = "stat-card-narrow",
           .make =
               [] {
                   return new StatCard("ein sehr langer titel", "123:45:67",
                                       "eine Unterzeile, die nicht passt");
               },
           .width = 120});

    for (const char* asset : {"OIcon", "OrvaneLogo", "AppIcon"}) {
        const QString name = QString::fromLatin1(asset);
        g.add({.name = "asset-" + name + "-dark", .make = [name] { return assetSheet(name); }});
        g.add({.name = "asset-" + name + "-light",
               .make = [name] { return assetSheet(name); },
               .backdrop = Light});
    }
}

} // namespace orvane::gallery
