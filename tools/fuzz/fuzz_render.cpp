// Fuzz target: whatever bytes an instrument sends go through the renderer in
// memory (measuring, band rendering, the bottom-up bitmap), and now and then
// through RenderCaptureFile on a file and the finishing step (page splitting,
// rendering, report). Besides the sanitizers it checks what must hold for any
// input:
//  - the graphics stream of a capture measures and renders as the capture
//    does, and converts to itself (it holds no text);
//  - the page has the height that measuring found, and its bitmap holds,
//    bottom-up behind a header that gives its size, the rows of a plain model
//    that draws one dot at a time from the graphics stream, whatever the size
//    of the blocks it is written in;
//  - the words the drawing pass tells its text sink are those read without
//    drawing, lie on the page and make lines without control characters;
//  - a rendered page file is as long as its header says and no other file is
//    left; a failed one leaves no bitmap;
//  - the page files put together give back the recording, save the one byte
//    that may follow the last form feed.
//
// With libFuzzer:  zav_fuzz_render -max_len=8192 CORPUS_DIR SEED_DIR...
// Without it (zav_fuzz_render_smoke): runs the files named and a fixed number
// of mutations of them; see fuzz_driver.cpp.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "capture/capture_files.h"
#include "fuzz_files.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/renderer.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "zav_fuzz_render: %s\n", what);
        std::abort();
    }
}

// Larger pages cost more than they find: beyond the first size they are only
// drawn and counted, beyond the second only measured.
constexpr std::uint64_t kComparedPageBytes = 32u << 10;
constexpr std::uint64_t kDrawnPageBytes = 128u << 10;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Counts the rows of a page.
class RowCounter final : public zav::RowSink {
  public:
    bool Row(const std::uint8_t*) override {
        ++rows;
        return true;
    }
    bool BlankRows(std::uint64_t count) override {
        rows += count;
        return true;
    }
    std::uint64_t rows = 0;
};

// The band rendering of a graphics stream as plainly as it can be said: one
// dot at a time, the band moved by copying. Rows top first.
Bytes ModelRaster(const Bytes& stream, std::uint32_t rasterWidth) {
    const std::size_t rowBytes = rasterWidth / 8;
    Bytes band(8 * rowBytes, 0), raster;
    unsigned spacing = 36;
    auto advance = [&](int count) {
        raster.insert(raster.end(), band.begin(), band.begin() + count * rowBytes);
        band.erase(band.begin(), band.begin() + count * rowBytes);
        band.resize(8 * rowBytes, 0);
    };
    std::size_t pos = 0;
    while (pos < stream.size()) {
        const std::uint8_t b = stream[pos];
        if (b == 0x0A) {
            advance(spacing >= 20 ? 8 : spacing >= 4 ? 2 : 1);
            ++pos;
        } else if (b == 0x0C) {
            if (std::any_of(band.begin(), band.end(), [](std::uint8_t v) { return v != 0; }))
                advance(8);
            ++pos;
        } else if (b == 0x1B) {
            const std::size_t end =
                std::min(pos + zav::EscapeSequenceLength(stream, pos), stream.size());
            const std::size_t args = end - pos;
            const std::uint8_t x = args > 1 ? stream[pos + 1] : 0;
            if (x == '2' || x == '@')
                spacing = 36;
            else if (x == '3' && args > 2)
                spacing = stream[pos + 2];
            else if (x == 'J' && args > 2 && stream[pos + 2] != 0) {
                std::fill(band.begin(), band.begin() + rowBytes, 0);
                for (int i = 0; i < (stream[pos + 2] + 2) / 3; ++i)
                    raster.insert(raster.end(), band.begin(), band.begin() + rowBytes);
            } else if (x == 'K') {
                for (std::size_t col = 0; pos + 4 + col < end; ++col) {
                    const std::uint8_t d = stream[pos + 4 + col];
                    for (int row = 0; row < 8; ++row) {
                        if (d & (0x80u >> row))
                            band[row * rowBytes + col / 8] |=
                                static_cast<std::uint8_t>(0x80u >> (col % 8));
                    }
                }
            }
            pos = end;
        } else {
            ++pos;
        }
    }
    return raster;
}

// The bitmap file of a page: header, then the rows bottom-up.
void CheckBitmap(const Bytes& bitmap, const zav::PageGeometry& page, const Bytes& raster) {
    const std::size_t rowBytes = page.RowBytes();
    Check(raster.size() == page.rows * rowBytes, "page height differs from the measured one");
    Check(bitmap.size() == zav::kPageBitmapHeaderSize + raster.size(), "bitmap size");
    Check(bitmap[0] == 'B' && bitmap[1] == 'M' && Le32(bitmap, 2) == bitmap.size() &&
              Le32(bitmap, 18) == page.rasterWidth && Le32(bitmap, 22) == page.rows,
          "bitmap header");
    for (std::size_t row = 0; row < page.rows; ++row) {
        Check(std::equal(raster.begin() + row * rowBytes, raster.begin() + (row + 1) * rowBytes,
                         bitmap.end() - (row + 1) * rowBytes),
              "rows differ from the dot-by-dot model");
    }
}

// Returns the size of the page's raster.
std::uint64_t InMemory(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> capture{data, size};
    const zav::PageGeometry page = zav::MeasurePage(capture);
    Check(page.widest >= 0 && page.widest <= 0xFFFF && page.rasterWidth % 32 == 0,
          "widest line out of range");

    Bytes stream;
    const std::int32_t widest = zav::ConvertTextLines(capture, stream);
    Check(widest == page.widest && stream.size() == page.streamBytes,
          "measuring and text conversion disagree");
    Bytes again;
    Check(zav::ConvertTextLines(stream, again) == widest && again == stream,
          "a graphics stream does not convert to itself");
    const zav::PageGeometry streamPage = zav::MeasurePage(stream);
    Check(streamPage.widest == page.widest && streamPage.rows == page.rows &&
              streamPage.streamBytes == page.streamBytes,
          "a graphics stream measures differently from its capture");

    const int check = zav::CheckPage(page);
    if (check != zav::kRenderOk) {
        Check(check == (page.streamBytes == 0 ? zav::kRenderCannotRead : zav::kRenderPageTooLong),
              "page refused for the wrong reason");
        return 0;
    }
    const std::uint64_t pageBytes = page.rows * page.RowBytes();
    if (pageBytes > kDrawnPageBytes)
        return pageBytes;
    Bytes band(zav::BandBytesFor(page.rasterWidth), 0);
    if (pageBytes > kComparedPageBytes) {
        RowCounter rows;
        Check(zav::RenderBands(capture, page.rasterWidth, band, rows), "band rendering failed");
        Check(rows.rows == page.rows, "page height differs from the measured one");
        return pageBytes;
    }
    // Drawn with its words told to a text sink: the same words as read
    // without drawing, on the page, one line per line.
    zav::VectorBlockOutput whole;
    zav::PageText drawn, read;
    Check(zav::WritePageBitmap(capture, page, whole, &drawn) == zav::kRenderOk,
          "page bitmap failed");
    CheckBitmap(whole.bytes, page, ModelRaster(stream, page.rasterWidth));
    zav::ReadPageText(capture, read);
    const std::string text = drawn.PlainText();
    Check(text == read.PlainText(), "the words read differ from the words drawn");
    for (const zav::PageText::KeptRun& run : drawn.Runs())
        Check(run.row < page.rows, "words below the page");
    for (const char c : text)
        Check(static_cast<unsigned char>(c) >= 0x20 || c == '\n',
              "a control character in the words");

    // The same page written in small blocks: every block lands in its place.
    const auto height = static_cast<std::uint32_t>(page.rows);
    const std::size_t limit = (1 + data[0] % 5) * std::max<std::uint32_t>(1, page.RowBytes());
    Bytes buffer(zav::BottomUpBitmap::BufferBytesFor(page.RowBytes(), height, limit));
    zav::VectorBlockOutput blocks;
    zav::BottomUpBitmap bitmap(blocks, page.rasterWidth, height, buffer);
    Check(zav::RenderBands(capture, page.rasterWidth, band, bitmap) && bitmap.Finish(),
          "blockwise bitmap failed");
    Check(blocks.bytes == whole.bytes, "blockwise bitmap differs");
    return pageBytes;
}

Bytes ReadAll(const fs::path& path) {
    std::error_code error;
    Bytes bytes(fs::file_size(path, error));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Check(!error && in.gcount() == static_cast<std::streamsize>(bytes.size()),
          "cannot read a file");
    return bytes;
}

void WriteAll(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(static_cast<bool>(out), "cannot write the input file");
}

void RenderFile(const std::uint8_t* data, std::size_t size) {
    const fs::path dir = zavfuzz::WorkFolder();
    const fs::path capture = dir / "page.cpt";
    WriteAll(capture, data, size);
    const int result = zav::RenderCaptureFile(capture.string().c_str());
    const fs::path bmp = dir / "page.bmp";
    std::error_code error;
    const auto files = std::distance(fs::directory_iterator(dir, error), fs::directory_iterator());
    if (result == zav::kRenderOk) {
        Check(files == 2, "a file besides the capture and its bitmap");
        const Bytes bitmap = ReadAll(bmp);
        Check(bitmap.size() >= zav::kPageBitmapHeaderSize && bitmap[0] == 'B' && bitmap[1] == 'M',
              "page bitmap without header");
        const std::uint32_t width = Le32(bitmap, 18);
        const std::uint32_t height = Le32(bitmap, 22);
        Check(Le32(bitmap, 2) == bitmap.size() &&
                  bitmap.size() ==
                      zav::kPageBitmapHeaderSize + static_cast<std::uint64_t>(width / 8) * height &&
                  width % 32 == 0,
              "page bitmap size differs from its header");
    } else {
        Check(result == zav::kRenderCannotRead || result == zav::kRenderPageTooLong,
              "unexpected render result");
        Check(files == 1, "a file left after a failed page");
    }
}

void Finish(const std::uint8_t* data, std::size_t size) {
    const fs::path dir = zavfuzz::WorkFolder();
    const fs::path raw = dir / "raw.rec";
    WriteAll(raw, data, size);
    zav::FinishOptions options;
    options.keepRaw = true;
    options.singleFile = size > 0 && (data[0] & 1) != 0 && (data[size - 1] & 0x80) != 0;
    zav::FinishOutcome outcome;
    const std::string base = (dir / "run").string();
    const int result = zav::FinishCapture(raw.string().c_str(), base.c_str(), options, &outcome);
    Check(fs::exists(raw), "kept recording deleted");
    if (size == 0) {
        Check(result == zav::kFinishEmpty, "an empty recording was not told as such");
        return;
    }
    Check(result == zav::kFinishOk, "finishing failed");
    Check(outcome.reportWritten && fs::exists(outcome.reportPath), "no report");
    for (const zav::PageOutcome& page : outcome.pages)
        Check(page.renderResult == zav::kRenderOk || page.bitmap.empty(),
              "a page not drawn has a bitmap");

    Bytes joined;
    for (const std::string& file : outcome.captureFiles) {
        const Bytes page = ReadAll(file);
        Check(!page.empty(), "empty page file kept");
        joined.insert(joined.end(), page.begin(), page.end());
    }
    const bool whole = joined.size() == size && std::equal(joined.begin(), joined.end(), data);
    const bool lastDropped = !options.singleFile && size >= 2 && joined.size() == size - 1 &&
                             std::equal(joined.begin(), joined.end(), data) &&
                             data[size - 2] == 0x0C;
    Check(whole || lastDropped, "page files do not give back the recording");
}

void Clean() {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(zavfuzz::WorkFolder(), error))
        fs::remove(entry.path(), error);
}

// One input in 64, chosen by its content so that a finding replays, also
// goes through files when its page is small: those runs cost a hundred times
// the in-memory ones.
bool ThroughFiles(const std::uint8_t* data, std::size_t size, std::uint64_t pageBytes) {
    if (pageBytes > kComparedPageBytes)
        return false;
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash % 64 == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t pageBytes = InMemory(data, size);
    if (ThroughFiles(data, size, pageBytes)) {
        RenderFile(data, size);
        Finish(data, size);
        Clean();
    }
    return 0;
}
