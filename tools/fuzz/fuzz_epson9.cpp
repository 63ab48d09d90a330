// Fuzz target of the Epson 9-pin model: whatever bytes an instrument sends go
// through the printer in memory, fed in pieces of any size, and now and then
// through CaptureRenderer on a file. Besides the sanitizers it checks what
// must hold for any input:
//  - every sheet is as tall as a page length can make it (1 row to 22
//    inches, or 127 lines of 255/216 inch) and 8 inches wide;
//  - page mode's cuts give pages that, rendered one after the other (fed in
//    other pieces than the whole stream), each give a sheet (more when one
//    command ends several) and together the sheets of the whole stream: the
//    printer that only follows the paper and the one that draws agree on
//    every sheet;
//  - for a stream of plain text, line feeds and graphics (the commands whose
//    dots a plain model can say one by one), the sheets equal those of that
//    model, which puts each dot on one long strip of paper cut into sheets;
//  - a rendered file's bitmaps are as long as their headers say and state
//    the model's resolution; no other file is left;
//  - a sheet's words lie on it, in cells of a pitch the model prints, and
//    hold no control code; the printer that keeps only words, and the page
//    files one after the other, give every sheet the same words.
//
// With libFuzzer:  zav_fuzz_epson9 -max_len=2048 CORPUS_DIR SEED_DIR...
// Without it (zav_fuzz_epson9_smoke): see fuzz_driver.cpp.
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

#include "fuzz_files.h"
#include "render/epson9.h"
#include "render/font.h"
#include "render/page_bitmap.h"
#include "render/printout.h"

namespace fs = std::filesystem;
namespace e9 = zav::epson9;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kRowBytes = e9::kSheetWidth / 8;
constexpr int kLongestPage = 127 * 255; // ESC "C" 127 at ESC "3" 255

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "zav_fuzz_epson9: %s\n", what);
        std::abort();
    }
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A sheet as its height and a digest of its rows (blank rows count 0), so
// that sheets compare without being copied.
struct Page {
    int height = 0;
    std::uint64_t digest = 0;
    bool operator==(const Page&) const = default;
};

std::uint64_t RowDigest(const std::uint8_t* row) {
    std::uint64_t any = 0;
    std::uint64_t hash = 14695981039346656037ull;
    for (int i = 0; i < kRowBytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + i, 8);
        any |= word;
        hash = (hash ^ word) * 1099511628211ull;
        hash ^= hash >> 29;
    }
    return any ? hash : 0;
}

// The digest of a sheet takes in the rows with dots, top first: a blank row
// adds nothing, so that only the rows with dots need looking at.
std::uint64_t NextDigest(std::uint64_t digest, std::uint32_t row, std::uint64_t rowDigest) {
    return rowDigest ? digest * 0x9E3779B97F4A7C15ull + rowDigest + row : digest;
}

// Whether the sinks also make sure the rows called blank are: a full look at
// every row of every sheet costs more than the rest, so one input in eight.
bool gCheckBlankRows = true;

// The digest of a sheet's words, cell by cell in the order printed (however
// the printer grouped them into runs).
std::uint64_t WordsDigest(const e9::SheetImage& image) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const zav::TextRun& run : image.text) {
        Check(!run.chars.empty(), "a run without characters");
        Check(run.row < image.height, "a run below its sheet");
        Check(run.pitch == 14 || run.pitch == 20 || run.pitch == 24 || run.pitch == 28 ||
                  run.pitch == 40 || run.pitch == 48,
              "a pitch the printer has not");
        Check(run.height == 24 || run.height == 48, "a cell height the printer has not");
        // A cell may reach past the paper's edge (a margin less than a
        // character wide), never begin there.
        Check(run.x >= 0 && run.x + static_cast<std::int64_t>(run.chars.size() - 1) * run.pitch <
                                e9::kSheetWidth,
              "a cell beyond the sheet's width");
        for (std::size_t i = 0; i < run.chars.size(); ++i) {
            Check(zav::ShownChar(run.chars[i]) == run.chars[i], "a control code as text");
            for (const std::uint64_t v :
                 {run.row, static_cast<std::uint64_t>(run.x + i * run.pitch),
                  static_cast<std::uint64_t>(run.pitch), static_cast<std::uint64_t>(run.height),
                  static_cast<std::uint64_t>(run.chars[i])})
                hash = (hash ^ v) * 1099511628211ull;
        }
    }
    return hash;
}

struct Collect final : e9::SheetSink {
    std::vector<Page> sheets;
    std::vector<std::uint64_t> words;
    bool Sheet(const e9::SheetImage& image) override {
        Check(image.height >= 1 && image.height <= kLongestPage, "sheet height out of range");
        words.push_back(WordsDigest(image));
        Page sheet;
        sheet.height = static_cast<int>(image.height);
        if (!image.rows) { // words only
            sheets.push_back(sheet);
            return true;
        }
        const std::uint32_t end = std::min(image.height, image.endOfPrint);
        for (const std::uint8_t* at = image.rowHasDots;
             (at = static_cast<const std::uint8_t*>(
                  std::memchr(at, 1, end - static_cast<std::uint32_t>(at - image.rowHasDots))));
             ++at) {
            const auto r = static_cast<std::uint32_t>(at - image.rowHasDots);
            sheet.digest = NextDigest(sheet.digest, r, RowDigest(image.rows + r * e9::kRowStride));
        }
        for (std::uint32_t r = 0; gCheckBlankRows && r < end; ++r) {
            if (!image.rowHasDots[r])
                Check(RowDigest(image.rows + r * e9::kRowStride) == 0,
                      "a row with dots is called blank");
        }
        sheets.push_back(sheet);
        return true;
    }
};

// The printers, made once: a printer's blocks are worth keeping between
// inputs.
struct Printers {
    Collect whole;
    Collect pages;
    Collect text;
    e9::Printer wholePrinter{&whole, e9::kKeepDots | e9::kKeepWords};
    e9::Printer pagePrinter{&pages, e9::kKeepDots | e9::kKeepWords};
    e9::Printer textPrinter{&text, e9::kKeepWords};
    e9::PageCuts cuts;
};

Printers& Shared() {
    static Printers* printers = new Printers;
    return *printers;
}

// Feeds `stream` to `printer` in pieces whose sizes come from `pattern`.
void Feed(e9::Printer& printer, const std::uint8_t* data, std::size_t size, std::uint32_t pattern) {
    for (std::size_t at = 0; at < size;) {
        const std::size_t piece = 1 + (pattern % 97);
        pattern = pattern * 1103515245u + 12345u;
        const std::size_t end = std::min(size, at + piece);
        while (at < end)
            at += printer.Read({data + at, end - at});
    }
}

std::vector<Page> Print(const std::uint8_t* data, std::size_t size, std::uint32_t pattern) {
    Printers& shared = Shared();
    shared.whole.sheets.clear();
    shared.whole.words.clear();
    shared.wholePrinter.Reset();
    Feed(shared.wholePrinter, data, size, pattern);
    shared.wholePrinter.EndOfFile();
    shared.wholePrinter.Finish();
    Check(shared.wholePrinter.Ok(), "the printer failed");
    // Words without dots: the same sheets, the same words.
    shared.text.sheets.clear();
    shared.text.words.clear();
    shared.textPrinter.Reset();
    Feed(shared.textPrinter, data, size, pattern / 3);
    shared.textPrinter.EndOfFile();
    shared.textPrinter.Finish();
    Check(shared.text.words == shared.whole.words, "the words differ without the dots");
    for (std::size_t i = 0; i < shared.text.sheets.size(); ++i)
        Check(shared.text.sheets[i].height == shared.whole.sheets[i].height,
              "a sheet's height differs without the dots");
    return shared.whole.sheets;
}

// Page mode: cuts, then the pages one after the other on one printer.
void CheckPageCuts(const std::uint8_t* data, std::size_t size, const std::vector<Page>& whole) {
    Printers& shared = Shared();
    e9::PageCuts& cuts = shared.cuts;
    cuts.Reset();
    std::vector<std::uint64_t> ends;
    std::uint64_t read = 0;
    std::uint64_t cut = 0;
    while (read < size) {
        read += cuts.Read({data + read, static_cast<std::size_t>(size - read)});
        while (cuts.TakeCut(cut)) {
            Check(cut <= read && (ends.empty() || cut > ends.back()), "cuts out of order");
            ends.push_back(cut);
        }
        Check(cuts.Settled() <= read && (ends.empty() || cuts.Settled() >= ends.back()),
              "settled bytes out of place");
    }
    ends.push_back(size);
    Collect& collect = shared.pages;
    e9::Printer& printer = shared.pagePrinter;
    collect.sheets.clear();
    collect.words.clear();
    printer.Reset();
    std::uint64_t start = 0;
    for (std::size_t page = 0; page < ends.size(); ++page) {
        const std::size_t before = collect.sheets.size();
        Feed(printer, data + start, static_cast<std::size_t>(ends[page] - start), 7);
        printer.EndOfFile();
        if (page + 1 < ends.size())
            Check(collect.sheets.size() > before, "a page file without a sheet");
        start = ends[page];
    }
    printer.Finish();
    Check(collect.sheets == whole, "the pages' sheets differ from the stream's");
    Check(collect.words == shared.whole.words, "the pages' words differ from the stream's");
}

// The plain model: text at pica in the 5x7 font, CR, LF, FF, ESC "J",
// ESC "3" and the bit images, on one strip of paper cut every 11 inches.
// Returns false when the stream holds anything else.
// Whether the stream holds only what the plain model knows.
bool IsPlain(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t b = data[at++];
        if (b >= 0x80 || b == 0x08 || b == 0x09 || b == 0x0B || b == 0x0E || b == 0x0F ||
            b == 0x12 || b == 0x14)
            return false;
        if (b != 0x1B || at >= size)
            continue;
        const std::uint8_t command = data[at++];
        if (command == 'J' || command == '3') {
            ++at;
        } else if (command == 'K' || command == 'L' || command == 'Y' || command == 'Z') {
            if (at + 2 > size)
                return true;
            at += 2 + (data[at] | data[at + 1] << 8);
        } else if (command == '*' || command == '^') {
            if (at < size && (command == '*' ? data[at] > 6 : data[at] > 1))
                return false;
            if (at + 3 > size)
                return true;
            at += 3 + (data[at + 1] | data[at + 2] << 8) * (command == '^' ? 2u : 1u);
        } else {
            return false;
        }
    }
    return true;
}

bool PlainModel(const std::uint8_t* data, std::size_t size, std::vector<Page>& sheets) {
    constexpr int kLength = e9::kDefaultPageLength;
    constexpr int kMostSheets = 6;
    if (!IsPlain(data, size))
        return false;
    static std::vector<std::uint8_t> paper(
        static_cast<std::size_t>(kLength) * kMostSheets * kRowBytes + 64 * kRowBytes, 0);
    static std::int64_t used = 0; // rows the last input drew on
    std::fill(paper.begin(), paper.begin() + used * kRowBytes, 0);
    used = 0;
    std::vector<bool> printed(kMostSheets + 1, false);
    std::int64_t x = 0;
    std::int64_t y = 0; // rows from the top of the first sheet
    int spacing = 36;
    bool fits = true;
    const auto dot = [&](std::int64_t left, std::int64_t top) {
        if (top + 3 > static_cast<std::int64_t>(kLength) * kMostSheets + 64) {
            fits = false;
            return;
        }
        used = std::max(used, top + 3);
        for (std::int64_t r = top; r < top + 3; ++r) {
            for (std::int64_t c = left; c < left + 4 && c < e9::kSheetWidth; ++c)
                paper[r * kRowBytes + c / 8] |= static_cast<std::uint8_t>(0x80 >> (c % 8));
            printed[static_cast<std::size_t>(r / kLength)] = true;
        }
    };
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t b = data[at++];
        if (b >= 0x20 && b < 0x7F) {
            if (x + 24 > e9::kSheetWidth)
                x = 0, y += spacing;
            for (int column = 0; column < 6; ++column) {
                for (int pin = 0; pin < 8; ++pin) {
                    if (zav::FontGlyphs[b][column] & (0x80 >> pin))
                        dot(x + 4 * column, y + 3 * pin);
                }
            }
            x += 24;
        } else if (b == 0x0A) {
            x = 0, y += spacing;
        } else if (b == 0x0D) {
            x = 0;
        } else if (b == 0x0C) {
            x = 0, y = (y / kLength + 1) * kLength;
        } else if (b == 0x1B) {
            if (at >= size)
                break;
            const std::uint8_t command = data[at++];
            if (command == 'J' || command == '3') {
                if (at >= size)
                    break;
                if (command == 'J')
                    y += data[at++];
                else
                    spacing = data[at++];
                continue;
            }
            int dpi = 0;
            bool adjacent = false;
            bool nine = false;
            std::size_t head = 2;
            std::uint8_t mode = 0;
            if (command == 'K' || command == 'L' || command == 'Y' || command == 'Z') {
                mode = static_cast<std::uint8_t>(command == 'K'   ? 0
                                                 : command == 'L' ? 1
                                                 : command == 'Y' ? 2
                                                                  : 3);
            } else if (command == '*' || command == '^') {
                if (at >= size)
                    break;
                mode = data[at];
                head = 3;
                nine = command == '^';
                if ((!nine && mode > 6) || (nine && mode > 1))
                    return false;
            } else {
                return false;
            }
            static constexpr int kDensity[7] = {60, 120, 120, 240, 80, 72, 90};
            dpi = nine ? (mode ? 120 : 60) : kDensity[mode];
            adjacent = !nine && (mode == 2 || mode == 3);
            if (at + head > size)
                break;
            const std::size_t columns = data[at + head - 2] | data[at + head - 1] << 8;
            at += head;
            const std::int64_t x0 = x;
            std::uint16_t last = 0;
            for (std::size_t column = 0; column < columns && at < size; ++column) {
                std::uint16_t pins = static_cast<std::uint16_t>(data[at++] << 1);
                if (nine) {
                    if (at >= size)
                        break;
                    pins = static_cast<std::uint16_t>(pins | data[at++] >> 7);
                } else if (adjacent) {
                    pins = static_cast<std::uint16_t>(pins & ~last);
                    last = pins;
                }
                const std::int64_t cx =
                    x0 + (static_cast<std::int64_t>(column) * 240 + dpi / 2) / dpi;
                for (int pin = 0; pin < 9 && cx < e9::kSheetWidth; ++pin) {
                    if (pins & (0x100 >> pin))
                        dot(cx, y + 3 * pin);
                }
            }
            x = x0 + (static_cast<std::int64_t>(columns) * 240 + dpi / 2) / dpi;
        } else if (b >= 0x80 || b == 0x08 || b == 0x09 || b == 0x0B || b == 0x0E || b == 0x0F ||
                   b == 0x12 || b == 0x14) {
            return false;
        }
        if (!fits || y >= static_cast<std::int64_t>(kLength) * kMostSheets)
            return false;
    }
    sheets.clear();
    for (int s = 0; s <= kMostSheets; ++s) {
        if (!printed[static_cast<std::size_t>(s)])
            continue;
        Page sheet;
        sheet.height = kLength;
        for (int r = 0; r < kLength; ++r) {
            const std::int64_t row = static_cast<std::int64_t>(s) * kLength + r;
            if (row >= used)
                break;
            sheet.digest = NextDigest(sheet.digest, static_cast<std::uint32_t>(r),
                                      RowDigest(paper.data() + row * kRowBytes));
        }
        sheets.push_back(sheet);
    }
    if (sheets.empty())
        sheets.push_back({kLength, 0});
    return true;
}

Bytes ReadAll(const fs::path& path) {
    std::error_code error;
    Bytes bytes(static_cast<std::size_t>(fs::file_size(path, error)));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Check(!error && in.gcount() == static_cast<std::streamsize>(bytes.size()),
          "cannot read a file");
    return bytes;
}

void RenderFile(const std::uint8_t* data, std::size_t size, const std::vector<Page>& whole) {
    const fs::path dir = zavfuzz::WorkFolder();
    const fs::path capture = dir / "page.cpt";
    {
        std::ofstream out(capture, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    zav::CaptureRenderer renderer(zav::PrinterModel::Epson9);
    const int result = renderer.Render(capture.string().c_str());
    std::error_code error;
    const auto files = std::distance(fs::directory_iterator(dir, error), fs::directory_iterator());
    if (size == 0) {
        Check(result != 0 && files == 1, "an empty capture rendered");
    } else {
        Check(result == 0, "rendering a file failed");
        Check(renderer.Sheets() == whole.size() &&
                  files == static_cast<long>(1 + renderer.Sheets()),
              "bitmap files and sheets differ");
        for (unsigned sheet = 1; sheet <= renderer.Sheets(); ++sheet) {
            char name[zav::kPathBufferSize];
            Check(zav::SheetBitmapName(capture.string(), sheet, name), "bitmap name");
            const Bytes bitmap = ReadAll(name);
            const Page& expected = whole[sheet - 1];
            Check(bitmap.size() == zav::kPageBitmapHeaderSize +
                                       static_cast<std::size_t>(expected.height) * kRowBytes &&
                      Le32(bitmap, 2) == bitmap.size() && Le32(bitmap, 18) == 1920 &&
                      Le32(bitmap, 22) == static_cast<std::uint32_t>(expected.height) &&
                      Le32(bitmap, 38) == e9::kSheetResolution.xPelsPerMeter &&
                      Le32(bitmap, 42) == e9::kSheetResolution.yPelsPerMeter,
                  "bitmap header");
            std::uint64_t digest = 0;
            for (int r = 0; r < expected.height; ++r)
                digest = NextDigest(digest, static_cast<std::uint32_t>(r),
                                    RowDigest(&*(bitmap.end() - (r + 1) * kRowBytes)));
            Check(digest == expected.digest, "bitmap rows differ from the sheet");
        }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error))
        fs::remove(entry.path(), error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    gCheckBlankRows = hash % 8 == 0;
    // The page files are fed in other pieces than the whole stream: the
    // sheets must not depend on where a piece ends either.
    const std::vector<Page> whole = Print(data, size, hash);
    Check(!whole.empty(), "no sheet");
    CheckPageCuts(data, size, whole);
    std::vector<Page> model;
    if (PlainModel(data, size, model))
        Check(model == whole, "sheets differ from the plain model");
    if (hash % 64 == 0)
        RenderFile(data, size, whole);
    return 0;
}
