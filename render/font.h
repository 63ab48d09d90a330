// The printer's one built-in character set: 5x7 dots in a 6x8 cell.
#pragma once

#include <cstdint>

namespace zav {

inline constexpr int kGlyphColumns = 6;

// One entry of 6 column bytes per code 00..7F, left column first. Each byte is
// a bit-image column: bit 7 the top dot, bit 0 the bottom dot. Codes 00..1F are
// blank (control codes never reach the table).
extern const std::uint8_t FontGlyphs[128][kGlyphColumns];

// The glyph drawn for a character code. Codes 80..FF have no glyph of their
// own: they show the hollow box of 7F, so a character the instrument sent is
// never silently turned into white paper.
inline const std::uint8_t* GlyphFor(std::uint8_t code) {
    return FontGlyphs[code < 0x80 ? code : 0x7F];
}

} // namespace zav
