// The character set, checked against glyphs drawn by hand.
#include <gtest/gtest.h>

#include "render/font.h"

namespace {

using Glyph = std::array<std::uint8_t, 6>;

Glyph Of(std::uint8_t code) {
    Glyph g;
    std::copy(zav::GlyphFor(code), zav::GlyphFor(code) + 6, g.begin());
    return g;
}

TEST(Font, EveryCellKeepsItsTopRowAndLastColumnWhite) {
    for (int code = 0; code < 0x20; ++code)
        EXPECT_EQ(Of(static_cast<std::uint8_t>(code)), Glyph{}) << code;
    for (int code = 0x20; code < 0x80; ++code) {
        const Glyph g = Of(static_cast<std::uint8_t>(code));
        EXPECT_EQ(g[5], 0) << code;
        for (std::uint8_t column : g)
            EXPECT_EQ(column & 0x80, 0) << code;
        if (code != 0x20) {
            EXPECT_NE(g, Glyph{}) << code;
        }
    }
}

TEST(Font, GlyphsDrawnAsListed) {
    EXPECT_EQ(Of(' '), Glyph{});
    EXPECT_EQ(Of('_'), (Glyph{0x01, 0x01, 0x01, 0x01, 0x01, 0}));
    EXPECT_EQ(Of('!'), (Glyph{0x00, 0x00, 0x79, 0x00, 0x00, 0})); // 4 dots, gap of 2, 1 dot
    EXPECT_EQ(Of('0'), (Glyph{0x3E, 0x45, 0x49, 0x51, 0x3E, 0})); // slashed
    EXPECT_EQ(Of(0x7F), (Glyph{0x7F, 0x41, 0x41, 0x41, 0x7F, 0}));
    EXPECT_EQ(Of('A'), (Glyph{0x3F, 0x44, 0x44, 0x44, 0x3F, 0}));
    EXPECT_EQ(Of('~'), (Glyph{0x10, 0x20, 0x20, 0x20, 0x40, 0}));
    // The four glyphs that are not symmetric.
    EXPECT_EQ(Of('v'), (Glyph{0x1C, 0x02, 0x01, 0x02, 0x0C, 0}));
    EXPECT_EQ(Of('x'), (Glyph{0x11, 0x0A, 0x08, 0x0A, 0x11, 0}));
    EXPECT_EQ(Of('z'), (Glyph{0x11, 0x13, 0x15, 0x31, 0x11, 0}));
    EXPECT_EQ(Of('}'), (Glyph{0x00, 0x41, 0x41, 0x36, 0x41, 0}));
    // Codes without a glyph of their own show the box.
    EXPECT_EQ(Of(0x80), Of(0x7F));
    EXPECT_EQ(Of(0xFF), Of(0x7F));
}

} // namespace
