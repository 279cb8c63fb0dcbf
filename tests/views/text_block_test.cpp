#include "views/kit/text_block.h"

#include "views/kit/fonts.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace orvane;

TEST(TextBlock, OneLineIsCutAndLinesBreakEvenInsideLongWords) {
    const QFont font = systemFont(12);
    const int line = int(std::ceil(QFontMetricsF(font).lineSpacing()));
    TextBlock one(QString(500, u'W'), font, Qt::white);
    one.resize(100, one.sizeHint().height());
    EXPECT_TRUE(one.shownText().endsWith(u'…'));
    EXPECT_LE(one.minimumSizeHint().width(), 40);

    TextBlock lines(QString(500, u'W'), font, Qt::white, TextBlock::Wrap::Lines);
    EXPECT_GT(lines.heightForWidth(100), 10 * line);
    EXPECT_LE(lines.sizeHint().width(), 340);
    // Given less height than it asks for, whole lines, the last one cut.
    lines.resize(100, 2 * line + line / 2);
    EXPECT_EQ(lines.shownText().count(u'\n'), 1);
    EXPECT_TRUE(lines.shownText().endsWith(u'…'));
    lines.setMaximumLines(2);
    EXPECT_LE(lines.heightForWidth(100), 2 * line + 1);

    TextBlock words(QStringLiteral("Neue Session startet nicht; der bisherige läuft weiter."), font,
                    Qt::white, TextBlock::Wrap::Lines);
    EXPECT_EQ(words.heightForWidth(10000), int(std::ceil(QFontMetricsF(font).lineSpacing())));
    EXPECT_GE(words.heightForWidth(150), 2 * line);

    // Nested in layouts, the height follows the width it is given.
    QWidget box;
    auto* row = new QHBoxLayout(&box);
    row->setContentsMargins(0, 0, 0, 0);
    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(new TextBlock(words.text(), font, Qt::white, TextBlock::Wrap::Lines));
    row->addLayout(column, 1);
    EXPECT_TRUE(box.hasHeightForWidth());
    EXPECT_EQ(box.heightForWidth(150), words.heightForWidth(150));
}
