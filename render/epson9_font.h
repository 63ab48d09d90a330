// Characters of the Epson 9-pin model: the 5x7 font of the basic model for
// 20 to 7E, and glyphs drawn in the same style by this project for what the
// Epson sets add: code page 437 for 80 to FF (accented letters, box drawing,
// Greek and mathematical signs) and the replacements of the international
// sets. Nothing here comes from a printer maker's character ROM.
#pragma once

#include <array>
#include <cstdint>

namespace zav::epson9 {

// A glyph as the print head draws it: 11 columns on the half-dot grid
// (1/120 inch at 10 characters per inch), each with the head's 9 pins,
// bit 8 the top pin and bit 0 the ninth. The 5x7 font's 6 columns lie on the
// even half-dot columns, 1/60 inch apart.
inline constexpr int kGlyphHalfColumns = 11;
using Glyph = std::array<std::uint16_t, kGlyphHalfColumns>;

// Which glyph: 00 to 7F the 5x7 font (00 to 1F and 7F blank here: they are
// never printed as characters), 80 to FF code page 437, and the signs of the
// international sets that code page 437 lacks from kGlyphSection on.
using GlyphId = std::uint16_t;
inline constexpr GlyphId kGlyphSection = 0x100;   // section sign
inline constexpr GlyphId kGlyphDiaeresis = 0x101; // diaeresis alone
inline constexpr GlyphId kGlyphOSlash = 0x102;    // capital O with stroke
inline constexpr GlyphId kGlyphOSlashSmall = 0x103;
inline constexpr GlyphId kGlyphCurrency = 0x104; // currency sign
inline constexpr GlyphId kGlyphCount = 0x105;

Glyph GlyphDots(GlyphId id);
// The character a glyph shows, as a Unicode code point; U+FFFD for one that
// is blank (00 to 1F, 7F).
char32_t GlyphChar(GlyphId id);

// The international character sets of ESC "R": 0 USA, 1 France, 2 Germany,
// 3 United Kingdom, 4 Denmark I, 5 Sweden, 6 Italy, 7 Spain I, 8 Japan,
// 9 Norway, 10 Denmark II, 11 Spain II, 12 Latin America.
inline constexpr int kNationalSets = 13;

// The glyph that code 20..7E prints in international set `set`; each set
// replaces up to 12 of the codes 23 24 40 5B 5C 5D 5E 60 7B 7C 7D 7E.
GlyphId NationalGlyph(int set, std::uint8_t code);

} // namespace zav::epson9
