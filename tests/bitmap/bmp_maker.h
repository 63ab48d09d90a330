// Builds small bitmap files for the tests, field by field, so that each test
// can bend one field.
#pragma once

#include <cstdint>
#include <vector>

namespace zavtest {

struct BmpShape {
    std::uint32_t headerSize = 40; // 12: core header
    std::int32_t width = 4;
    std::int32_t height = 2;
    std::uint16_t bitCount = 8;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0; // written as given (information headers)
    std::uint32_t colours = 0; // colour-table entries actually written
    std::uint32_t gap = 0;     // bytes between colour table and rows
    bool offBitsAtRows = true; // bfOffBits points at the rows, else 0
    std::uint8_t fill = 0;     // every pixel byte
    std::uint8_t gapFill = 0xEE;
};

inline void Put(std::vector<std::uint8_t>& b, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline std::uint32_t StrideOf(const BmpShape& s) {
    const std::uint32_t width = static_cast<std::uint32_t>(s.width < 0 ? -s.width : s.width);
    return ((width * s.bitCount + 31) / 32) * 4;
}

// Colour i of the table is (red i, green 2i, blue 3i), all modulo 256.
inline std::vector<std::uint8_t> MakeBmp(const BmpShape& s) {
    const bool core = s.headerSize == 12;
    const std::uint32_t entry = core ? 3 : 4;
    const std::uint32_t rows = static_cast<std::uint32_t>(s.height < 0 ? -s.height : s.height);
    const std::uint32_t offBits = 14 + s.headerSize + entry * s.colours + s.gap;
    std::vector<std::uint8_t> b{'B', 'M'};
    Put(b, offBits + StrideOf(s) * rows, 4);
    Put(b, 0, 4);
    Put(b, s.offBitsAtRows ? offBits : 0, 4);
    Put(b, s.headerSize, 4);
    if (core) {
        Put(b, static_cast<std::uint32_t>(s.width), 2);
        Put(b, static_cast<std::uint32_t>(s.height), 2);
        Put(b, 1, 2);
        Put(b, s.bitCount, 2);
    } else {
        Put(b, static_cast<std::uint32_t>(s.width), 4);
        Put(b, static_cast<std::uint32_t>(s.height), 4);
        Put(b, 1, 2);
        Put(b, s.bitCount, 2);
        Put(b, s.compression, 4);
        Put(b, 0, 4);
        Put(b, 2835, 4);
        Put(b, 2835, 4);
        Put(b, s.clrUsed, 4);
        Put(b, 0, 4);
        b.resize(14 + s.headerSize, 0); // the later header versions' fields
    }
    for (std::uint32_t i = 0; i < s.colours; ++i) {
        b.push_back(static_cast<std::uint8_t>(3 * i));
        b.push_back(static_cast<std::uint8_t>(2 * i));
        b.push_back(static_cast<std::uint8_t>(i));
        if (!core)
            b.push_back(0);
    }
    b.insert(b.end(), s.gap, s.gapFill);
    b.insert(b.end(), StrideOf(s) * rows, s.fill);
    return b;
}

} // namespace zavtest
