// The page compressor: whatever the rows or bytes hold, zlib's own inflate
// gives them back (rows in order, top row first, from rows stored either
// way), also when one deflater has made many streams of other kinds before.
#include "report/page_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The rows deflated (stored bottom-up when asked) and inflated again.
Bytes RoundTrip(zav::PageDeflater& deflater, const Bytes& rows, std::size_t rowBytes, bool bottomUp,
                std::size_t* compressed = nullptr) {
    const std::uint32_t count = static_cast<std::uint32_t>(rows.size() / rowBytes);
    Bytes stored;
    for (std::uint32_t r = 0; r < count; ++r) {
        const std::size_t from = (bottomUp ? count - 1 - r : r) * rowBytes;
        stored.insert(stored.end(), rows.begin() + static_cast<std::ptrdiff_t>(from),
                      rows.begin() + static_cast<std::ptrdiff_t>(from + rowBytes));
        stored.push_back(0xA5); // fill between rows, never part of the image
    }
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(rowBytes + 1);
    const std::uint8_t* top = bottomUp ? stored.data() + (count - 1) * stride : stored.data();
    Bytes out = {0xEE}; // what was there stays
    EXPECT_TRUE(deflater.Deflate(top, bottomUp ? -stride : stride, rowBytes, count, out));
    EXPECT_EQ(out.front(), 0xEE);
    if (compressed)
        *compressed = out.size() - 1;
    Bytes back(rows.size() + 16);
    uLongf size = static_cast<uLongf>(back.size());
    const int result =
        uncompress(back.data(), &size, out.data() + 1, static_cast<uLong>(out.size() - 1));
    EXPECT_EQ(result, Z_OK);
    back.resize(result == Z_OK ? size : 0);
    return back;
}

TEST(PageDeflater, InflatesToTheRowsWhateverTheyHold) {
    std::mt19937 random(7);
    zav::PageDeflater deflater; // one for all: nothing of an image stays for the next
    struct Case {
        const char* what;
        std::size_t rowBytes, rows;
        int kind;
    } cases[] = {
        {"one byte", 1, 1, 0},
        {"blank page", 48, 400, 1},
        {"noise", 48, 300, 2},
        {"text-like rows", 48, 400, 3},
        {"one long run over rows", 7, 50000, 1}, // runs longer than 258 and blocks
        {"rows of 40000 bytes", 40000, 3, 3},    // beyond a match's reach
        {"noise in many blocks", 1000, 300, 2},
        {"all ink", 16, 64, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes rows(c.rowBytes * c.rows, 0);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::size_t row = i / c.rowBytes;
            switch (c.kind) {
            case 2:
                rows[i] = static_cast<std::uint8_t>(random());
                break;
            case 3: // bands of glyph-like bytes, repeated rows and short runs
                if (row % 12 < 7)
                    rows[i] = static_cast<std::uint8_t>(random() % 5 == 0 ? 0 : (i * 37) % 251);
                if (row % 12 == 3 && row > 0)
                    rows[i] = rows[i - c.rowBytes];
                break;
            case 4:
                rows[i] = 0xFF;
                break;
            }
        }
        for (bool bottomUp : {false, true}) {
            std::size_t size = 0;
            EXPECT_EQ(RoundTrip(deflater, rows, c.rowBytes, bottomUp, &size), rows) << bottomUp;
            if (c.kind == 1 || c.kind == 4) {
                EXPECT_LT(size, rows.size() / 50 + 64) << "a blank page takes almost nothing";
            }
        }
    }
    Bytes out;
    const std::uint8_t row[8] = {};
    EXPECT_FALSE(deflater.Deflate(row, 8, 0, 1, out));
    EXPECT_FALSE(deflater.Deflate(row, 8, 8, 0, out));
    EXPECT_FALSE(deflater.Deflate(nullptr, 8, 8, 1, out));
    EXPECT_TRUE(out.empty());
}

Bytes Inflate(const Bytes& stream, std::size_t size) {
    Bytes back(size + 16);
    uLongf length = static_cast<uLongf>(back.size());
    const int result =
        uncompress(back.data(), &length, stream.data(), static_cast<uLong>(stream.size()));
    EXPECT_EQ(result, Z_OK);
    back.resize(result == Z_OK ? length : 0);
    return back;
}

TEST(PageDeflater, BytesOfAnyKindInflateBackOneStreamAfterAnother) {
    std::mt19937 random(11);
    zav::PageDeflater deflater;
    std::string text;
    for (int line = 0; text.size() < 300000; ++line)
        text += "0 -12 Td (Serial no. " + std::to_string(10000 + random() % 90000) + "   Run " +
                std::to_string(line % 7) + ") Tj\n";
    Bytes noise(100000);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random() % 7 == 0 ? random() : 'a' + random() % 3);
    const Bytes kinds[] = {Bytes(text.begin(), text.end()), // many blocks of repeats
                           noise,                           // short and odd repeats
                           Bytes{'x'},                      // shorter than a match
                           Bytes(70000, 0x20),              // one byte again and again
                           Bytes(text.begin(), text.begin() + 999)};
    for (int round = 0; round < 3; ++round) { // the codes made before serve the next streams
        for (const Bytes& bytes : kinds) {
            Bytes out = {0x55};
            ASSERT_TRUE(deflater.DeflateBytes(bytes.data(), bytes.size(), out));
            EXPECT_EQ(out.front(), 0x55);
            EXPECT_EQ(Inflate(Bytes(out.begin() + 1, out.end()), bytes.size()), bytes)
                << bytes.size() << " bytes, round " << round;
            if (bytes.size() == text.size()) {
                EXPECT_LT(out.size(), bytes.size() / 3) << "repeats are found";
            }
        }
    }
    Bytes out;
    EXPECT_FALSE(deflater.DeflateBytes(nullptr, 4, out));
    EXPECT_FALSE(deflater.DeflateBytes(kinds[0].data(), 0, out));
    EXPECT_TRUE(out.empty());
}

} // namespace
