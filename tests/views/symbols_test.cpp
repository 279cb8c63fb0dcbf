#include "views/kit/symbols.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace orvane {
namespace {

// Every symbol the views name (the biometric ones only on platforms that
// have such sensors).
const char* const kNamed[] = {
    "pause.fill",
    "play.fill",
    "stop.fill",
    "plus",
    "chevron.right",
    "chevron.left",
    "eye.fill",
    "eye.slash.fill",
    "checkmark",
    "xmark",
    "person.2.slash",
    "timer",
    "folder.badge.plus",
    "checklist",
    "lock.fill",
    "sun.max.fill",
    "moon.fill",
    "magnifyingglass",
    "exclamationmark.triangle",
};

TEST(Symbols, EveryNamedSymbolIsDrawnInsideItsBox) {
    const QRectF unit(0, 0, 1, 1);
    for (const char* name : kNamed) {
        const QString symbol = QString::fromLatin1(name);
        EXPECT_TRUE(hasSymbol(symbol)) << name;
        EXPECT_TRUE(symbolNames().contains(symbol)) << name;
        for (const FontWeight weight : {FontWeight::Regular, FontWeight::Bold}) {
            const QPainterPath path = symbolPath(symbol, weight);
            EXPECT_FALSE(path.isEmpty()) << name;
            EXPECT_TRUE(unit.adjusted(-0.01, -0.01, 0.01, 0.01).contains(path.boundingRect()))
                << name;
        }
    }
}

TEST(Symbols, UnknownNamesDrawNothing) {
    for (const char* name : {"", "Plus", "pause", " plus", "touchid", "plus.circle"}) {
        EXPECT_FALSE(hasSymbol(QString::fromLatin1(name))) << name;
        EXPECT_TRUE(symbolPath(QString::fromLatin1(name)).isEmpty()) << name;
    }
}

TEST(Symbols, HeavierWeightDrawsHeavierLines) {
    const auto inked = [](FontWeight weight) {
        QImage image(100, 100, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        drawSymbol(painter, u"xmark", QRectF(0, 0, 100, 100), Qt::black, weight);
        painter.end();
        int count = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                count += qAlpha(image.pixel(x, y)) > 128;
        return count;
    };
    EXPECT_GT(inked(FontWeight::Bold), inked(FontWeight::Regular) * 5 / 4);
}

TEST(Symbols, DrawnCentredInTheBoxKeepingTheirAspect) {
    QImage image(100, 50, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawSymbol(painter, u"stop.fill", QRectF(0, 0, 100, 50), Qt::black);
    painter.end();
    // A 50 × 50 box in the middle: the square fills its centre and stays out
    // of the sides.
    EXPECT_EQ(qAlpha(image.pixel(50, 25)), 255);
    EXPECT_EQ(qAlpha(image.pixel(20, 25)), 0);
    EXPECT_EQ(qAlpha(image.pixel(80, 25)), 0);
}

} // namespace
} // namespace orvane
