#include "views/kit/fonts.h"

#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace orvane {
namespace {

QFont tracked(QFont font, qreal tracking) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

TEST(DigitCells, ClocksKeepTheirWidthWhateverTheDigits) {
    const QFont fonts[] = {
        systemFont(12),
        tracked(systemFont(22, FontWeight::Medium), -0.5),
        systemFont(15, FontWeight::Bold),
        monospacedFont(12),
    };
    for (const QFont& font : fonts) {
        SCOPED_TRACE(font.toString().toStdString());
        const qreal zeros = digitCellTextWidth(font, QStringLiteral("00:00:00"));
        EXPECT_GT(zeros, 0);
        for (const char* clock : {"11:11:11", "18:48:08", "99:59:59"})
            EXPECT_DOUBLE_EQ(digitCellTextWidth(font, QString::fromLatin1(clock)), zeros) << clock;
    }
}

TEST(DigitCells, DrawnTextIsAsWideAsMeasured) {
    const QFont font = systemFont(20);
    const QString text = QStringLiteral("1:11 h");
    QImage image(200, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    drawDigitCellText(painter, QPointF(0, 30), font, text);
    painter.end();
    int rightmost = -1;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (qAlpha(image.pixel(x, y)) > 0)
                rightmost = x;
    const qreal width = digitCellTextWidth(font, text);
    EXPECT_GT(rightmost, width - 14);
    EXPECT_LE(rightmost, width + 1);
}

TEST(SystemFonts, SizeIsInPixelsAndWeightIsOneTheFamilyHas) {
    const QFont font = systemFont(13, FontWeight::Semibold);
    EXPECT_EQ(font.pixelSize(), 13);
    // DejaVu has no semibold face: the nearest is its bold, not a thickened
    // regular.
    const QFontInfo info(font);
    EXPECT_TRUE(info.weight() == QFont::Bold || info.weight() == QFont::DemiBold) << info.weight();
    EXPECT_LT(QFontInfo(systemFont(13, FontWeight::Medium)).weight(), QFont::DemiBold);
    EXPECT_TRUE(QFontInfo(monospacedFont(12)).fixedPitch());
}

} // namespace
} // namespace orvane
