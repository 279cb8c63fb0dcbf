#include "views/kit/assets.h"

#include <QImage>

#include <gtest/gtest.h>

namespace orvane {
namespace {

int opaquePixels(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

TEST(Assets, EachDrawingRendersAtTheSizeAsked) {
    for (const char* name : {"OIcon", "OrvaneLogo", "AppIcon"}) {
        const QString asset = QString::fromLatin1(name);
        const QSizeF natural = assetSize(asset);
        ASSERT_FALSE(natural.isEmpty()) << name;
        const QSize size(qRound(16 * natural.width() / natural.height()), 16);
        const QPixmap pixmap = assetPixmap(asset, size, 2.0);
        ASSERT_FALSE(pixmap.isNull()) << name;
        EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(size)) << name;
        EXPECT_EQ(pixmap.size(), size * 2) << name;
        EXPECT_GT(opaquePixels(pixmap), 40) << name;
    }
}

TEST(Assets, UnknownNamesGiveNothing) {
    for (const char* name : {"", "oicon", "OIcon.svg", "../OIcon", "Missing"}) {
        EXPECT_TRUE(assetPixmap(QString::fromLatin1(name), QSize(16, 16)).isNull()) << name;
        EXPECT_TRUE(assetSize(QString::fromLatin1(name)).isEmpty()) << name;
    }
}

} // namespace
} // namespace orvane
