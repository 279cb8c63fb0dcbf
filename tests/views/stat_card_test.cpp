#include "views/kit/stat_card.h"

#include "views/kit/palette.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(StatCard, ValueColourPrecedence) {
    const QColor given(1, 2, 3);
    struct Row {
        bool useAccentValue;
        std::optional<QColor> valueForeground;
        QColor expected;
    } const table[] = {
        {false, std::nullopt, Palette::textPrimary()},
        {true, std::nullopt, Palette::indigo()},
        {false, given, given},
        {true, given, given},
    };
    for (const Row& row : table) {
        EXPECT_EQ(statCardValueColor(row.useAccentValue, row.valueForeground), row.expected);
        const StatCard card("t", "v", "s", AccentStyle::Amber, row.useAccentValue,
                            row.valueForeground);
        EXPECT_EQ(card.valueColor(), row.expected);
    }
}

TEST(StatCard, TitleInUpperCaseValueAndSubtitleAsGiven) {
    StatCard card("dauer heute", "1:02 h", "gerundet");
    EXPECT_EQ(card.shownTitle(), "DAUER HEUTE");
    EXPECT_EQ(statCardTitleText("Größe"), "GRÖSSE");
    card.setTitle("betrag");
    EXPECT_EQ(card.shownTitle(), "BETRAG");
    EXPECT_EQ(card.value(), "1:02 h");
    EXPECT_EQ(card.subtitle(), "gerundet");
}

TEST(StatCard, TallEnoughForItsThreeLinesAndAsWideAsItsLongestPlusPadding) {
    StatCard card("Dauer", "18:48:08", "x");
    const QSize hint = card.sizeHint();
    EXPECT_GT(hint.width(), 2 * StatCard::kPadding + 60);
    EXPECT_GE(hint.height(), 2 * StatCard::kPadding + 2 * StatCard::kSpacing + 10 + 22 + 11);
    EXPECT_EQ(card.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
}

} // namespace
} // namespace orvane
