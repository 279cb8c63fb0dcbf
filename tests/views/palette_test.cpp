#include "views/kit/palette.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>

namespace orvane {
namespace {

struct NamedColour {
    const char* name;
    QColor (*colour)();
    QColor expected;
};

QColor white(qreal alpha) {
    QColor c(Qt::white);
    c.setAlphaF(float(alpha));
    return c;
}

QColor textPrimaryAt(qreal alpha) {
    QColor c(244, 244, 248);
    c.setAlphaF(float(alpha));
    return c;
}

TEST(Palette, NamedColoursAreTheFixedOnes) {
    const NamedColour table[] = {
        {"bgDeep", Palette::bgDeep, QColor(10, 11, 20)},
        {"bgCard", Palette::bgCard, QColor(18, 19, 31)},
        {"bgElevated", Palette::bgElevated, QColor(24, 26, 40)},
        {"bgInset", Palette::bgInset, QColor(13, 14, 24)},
        {"hairline", Palette::hairline, white(0.06)},
        {"border", Palette::border, white(0.1)},
        {"textPrimary", Palette::textPrimary, QColor(244, 244, 248)},
        {"textSecondary", Palette::textSecondary, textPrimaryAt(0.62)},
        {"textTertiary", Palette::textTertiary, textPrimaryAt(0.38)},
        {"indigo", Palette::indigo, QColor(99, 102, 241)},
        {"pink", Palette::pink, QColor(236, 72, 153)},
        {"mint", Palette::mint, QColor(52, 211, 153)},
        {"amber", Palette::amber, QColor(251, 191, 36)},
        {"rose", Palette::rose, QColor(244, 63, 94)},
    };
    for (const auto& row : table)
        EXPECT_EQ(row.colour(), row.expected) << row.name;
}

struct AccentRow {
    AccentStyle style;
    std::vector<QColor> colours;
};

// The mint and amber fills have colours of their own, not the palette's.
const AccentRow kAccents[] = {
    {AccentStyle::Gradient, {QColor(99, 102, 241), QColor(236, 72, 153)}},
    {AccentStyle::Indigo, {QColor(99, 102, 241)}},
    {AccentStyle::Mint, {QColor(16, 185, 129), QColor(34, 211, 238)}},
    {AccentStyle::Amber, {QColor(245, 158, 11), QColor(236, 72, 153)}},
};

TEST(AccentFill, IndigoIsSolidTheOthersRunTopLeftToBottomRight) {
    const QRectF rect(10, 20, 100, 50);
    for (const auto& row : kAccents) {
        SCOPED_TRACE(rawValue(row.style).toStdString());
        EXPECT_EQ(accentColors(row.style), row.colours);
        const QBrush brush = accentBrush(row.style, rect);
        if (row.colours.size() == 1) {
            EXPECT_EQ(brush.style(), Qt::SolidPattern);
            EXPECT_EQ(brush.color(), row.colours[0]);
            continue;
        }
        ASSERT_EQ(brush.style(), Qt::LinearGradientPattern);
        const auto* gradient = static_cast<const QLinearGradient*>(brush.gradient());
        EXPECT_EQ(gradient->start(), rect.topLeft());
        EXPECT_EQ(gradient->finalStop(), rect.bottomRight());
        const QGradientStops expected{{0.0, row.colours[0]}, {1.0, row.colours[1]}};
        EXPECT_EQ(gradient->stops(), expected);
    }
}

bool near(QRgb pixel, const QColor& colour) {
    return std::abs(qRed(pixel) - colour.red()) < 16 &&
           std::abs(qGreen(pixel) - colour.green()) < 16 &&
           std::abs(qBlue(pixel) - colour.blue()) < 16;
}

TEST(AccentFill, SpansTheShapeNotThePainter) {
    QImage image(200, 200, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    QPainterPath shape;
    shape.addRect(100, 100, 60, 60);
    fillAccent(painter, shape, AccentStyle::Gradient);
    painter.end();
    EXPECT_TRUE(near(image.pixel(101, 101), Palette::indigo()));
    EXPECT_TRUE(near(image.pixel(158, 158), Palette::pink()));
    EXPECT_EQ(image.pixel(90, 90), qRgb(0, 0, 0));
}

} // namespace
} // namespace orvane
