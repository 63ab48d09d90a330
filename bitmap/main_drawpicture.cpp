// zav_drawpicture FILE: draws the picture that the cable-not-found dialog
// shows (how the instrument, the "ZAV Print" cable and the computer connect)
// and writes it as a 16-colour BMP. Runs on the build machine, also in the
// Windows cross build; the labels use the printer's own character set.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/bmp.h"
#include "render/font.h"

namespace {

constexpr int kWidth = 304;
constexpr int kHeight = 208;

struct Rgb {
    std::uint8_t r, g, b;
};

enum Colour : std::uint8_t {
    Black,
    White,
    Paper,
    Frame,
    Case,
    CaseDark,
    Display,
    DisplayText,
    Key,
    Cable,
    Plug,
    Adapter,
    AdapterLight,
    Screen,
    Page,
    Accent
};

constexpr Rgb kPalette[16] = {
    {0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF}, {0xEE, 0xF3, 0xF8}, {0x5A, 0x6B, 0x7D},
    {0xC8, 0xCD, 0xD2}, {0x80, 0x88, 0x90}, {0x1E, 0x50, 0x28}, {0x9C, 0xE6, 0x8C},
    {0x46, 0x4B, 0x50}, {0x23, 0x28, 0x2D}, {0x96, 0x9B, 0xA0}, {0x1E, 0x5A, 0xB4},
    {0x78, 0xAA, 0xE6}, {0x28, 0x46, 0x78}, {0xFA, 0xFA, 0xF0}, {0xDC, 0x6E, 0x1E},
};

std::vector<std::uint8_t> g_canvas(kWidth* kHeight, Paper);

void Dot(int x, int y, Colour c) {
    if (x >= 0 && x < kWidth && y >= 0 && y < kHeight)
        g_canvas[static_cast<std::size_t>(y) * kWidth + x] = c;
}

void Fill(int x, int y, int w, int h, Colour c) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i)
            Dot(i, j, c);
}

void Box(int x, int y, int w, int h, Colour fill, Colour edge) {
    Fill(x, y, w, h, edge);
    Fill(x + 1, y + 1, w - 2, h - 2, fill);
}

// Text in the printer's 5x7 font, `scale` screen pixels per dot.
void Text(int x, int y, const std::string& s, Colour c, int scale = 1) {
    for (char ch : s) {
        const std::uint8_t* glyph = zav::GlyphFor(static_cast<std::uint8_t>(ch));
        for (int col = 0; col < zav::kGlyphColumns; ++col)
            for (int row = 0; row < 8; ++row)
                if (glyph[col] & (0x80 >> row))
                    Fill(x + col * scale, y + row * scale, scale, scale, c);
        x += zav::kGlyphColumns * scale;
    }
}

int TextWidth(const std::string& s, int scale = 1) {
    return static_cast<int>(s.size()) * zav::kGlyphColumns * scale - scale;
}

void Centred(int cx, int y, const std::string& s, Colour c, int scale = 1) {
    Text(cx - TextWidth(s, scale) / 2, y, s, c, scale);
}

void Instrument() {
    Box(10, 54, 86, 70, Case, Frame);
    Fill(11, 118, 84, 5, CaseDark);
    Box(18, 62, 56, 30, Display, Black);
    Fill(22, 68, 30, 2, DisplayText);
    Fill(22, 74, 44, 2, DisplayText);
    Fill(22, 80, 38, 2, DisplayText);
    for (int i = 0; i < 4; ++i)
        Box(18 + i * 14, 98, 10, 8, Key, Black);
    Box(80, 64, 10, 10, Accent, Black); // power key
    // Printer port on the right side, with the cable's plug in it.
    Box(94, 92, 6, 18, Key, Black);
    Box(100, 94, 10, 14, Plug, Black);
    Centred(53, 130, "Instrument", Black);
    Centred(53, 140, "printer port", CaseDark);
}

void CableAndAdapter() {
    // From the instrument's plug to the adapter, then to the computer's USB.
    Fill(110, 99, 16, 4, Cable);
    Fill(178, 99, 22, 4, Cable);
    Box(126, 90, 52, 22, Adapter, Black);
    Fill(130, 94, 44, 3, AdapterLight);
    Box(200, 96, 10, 10, Plug, Black);
    Centred(152, 118, "ZAV Print", Adapter, 1);
    Centred(152, 128, "cable", Black);
}

void Computer() {
    Box(210, 46, 84, 62, Case, Frame); // monitor
    Box(216, 52, 72, 48, Screen, Black);
    Box(236, 56, 32, 40, Page, Black); // the printout on the screen
    for (int i = 0; i < 6; ++i)
        Fill(240, 61 + i * 5, i % 3 == 2 ? 16 : 24, 2, CaseDark);
    Fill(245, 108, 14, 8, CaseDark); // stand
    Box(228, 116, 48, 6, Case, Frame);
    Box(210, 128, 84, 14, Case, Frame); // keyboard
    for (int i = 0; i < 9; ++i)
        Fill(214 + i * 9, 132, 6, 2, Key);
    for (int i = 0; i < 8; ++i)
        Fill(218 + i * 9, 136, 6, 2, Key);
    Centred(252, 148, "Computer", Black);
    Centred(252, 158, "USB port", CaseDark);
}

void Border() {
    Fill(0, 0, kWidth, 1, Frame);
    Fill(0, kHeight - 1, kWidth, 1, Frame);
    Fill(0, 0, 1, kHeight, Frame);
    Fill(kWidth - 1, 0, 1, kHeight, Frame);
    Centred(kWidth / 2, 10, "Connect the cable", Adapter, 2);
    Centred(kWidth / 2, 172, "Plug the ZAV Print cable into the", Black);
    Centred(kWidth / 2, 182, "instrument's printer port and into", Black);
    Centred(kWidth / 2, 192, "a USB port, then press Retry.", Black);
}

// A 4-bit BMP with a 40-byte information header and 16 colours.
std::vector<std::uint8_t> Encode() {
    const std::uint32_t stride = ((kWidth * 4 + 31) / 32) * 4;
    std::vector<std::uint8_t> out(zav::kBmpHeaderSize);
    zav::WriteBmpHeader({.width = kWidth,
                         .height = kHeight,
                         .bitCount = 4,
                         .colours = 16,
                         .imageSize = stride * kHeight,
                         .clrUsed = 16},
                        out.data());
    for (const Rgb& c : kPalette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = kHeight - 1; y >= 0; --y) { // bottom row first
        std::vector<std::uint8_t> row(stride, 0);
        for (int x = 0; x < kWidth; ++x) {
            const std::uint8_t c = g_canvas[static_cast<std::size_t>(y) * kWidth + x];
            row[static_cast<std::size_t>(x / 2)] |= x % 2 ? c : static_cast<std::uint8_t>(c << 4);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zav_drawpicture FILE.bmp\n");
        return 2;
    }
    Border();
    Instrument();
    CableAndAdapter();
    Computer();
    const std::vector<std::uint8_t> bytes = Encode();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::fprintf(stderr, "zav_drawpicture: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "zav_drawpicture: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
