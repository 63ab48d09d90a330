// libFuzzer target: whatever bytes an instrument sends go through text
// conversion and band rendering in memory, through RenderCaptureFile on a
// file, and through the finishing step (page splitting, rendering, report).
// Besides the sanitizers it checks what must hold for any input:
//  - a graphics stream converts to itself (it holds no text);
//  - a rendered page leaves no work file and its bitmap is as long as its
//    header says;
//  - the page files put together give back the recording, save the one byte
//    that may follow the last form feed.
//
//   zav_fuzz_render -max_len=8192 -timeout=20 CORPUS_DIR SEED_DIR...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "capture/capture_files.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"

namespace fs = std::filesystem;

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "zav_fuzz_render: %s\n", what);
        std::abort();
    }
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(static_cast<bool>(out), "cannot write the input file");
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

const fs::path& WorkFolder() {
    static const fs::path folder = [] {
        fs::path p = fs::temp_directory_path() /
                     ("zav_fuzz_" + std::to_string(static_cast<unsigned long>(std::rand())) + "_" +
                      std::to_string(reinterpret_cast<std::uintptr_t>(&p) & 0xFFFFF));
        fs::create_directories(p);
        return p;
    }();
    // The folder goes when the fuzzer exits.
    static const struct Remover {
        ~Remover() {
            std::error_code error;
            fs::remove_all(folder, error);
        }
    } remover;
    return folder;
}

void InMemory(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> stream;
    const std::int32_t widest = zav::ConvertTextLines({data, size}, stream);
    Check(widest >= 0 && widest <= 0xFFFF, "widest line out of range");

    std::vector<std::uint8_t> again;
    Check(zav::ConvertTextLines(stream, again) == widest && again == stream,
          "a graphics stream does not convert to itself");

    std::FILE* sink = std::fopen("/dev/null", "wb");
    Check(sink != nullptr, "cannot open /dev/null");
    std::uint32_t rows = 0;
    const bool ok = zav::RenderGraphicsStream(stream, zav::RasterWidthFor(widest), sink, rows);
    std::fclose(sink);
    Check(ok, "band rendering failed on a small stream");
}

void RenderFile(const std::uint8_t* data, std::size_t size) {
    const fs::path dir = WorkFolder();
    const fs::path capture = dir / "page.cpt";
    WriteAll(capture, data, size);
    const int result = zav::RenderCaptureFile(capture.string().c_str());
    const fs::path bmp = dir / "page.bmp";
    if (result == zav::kRenderOk) {
        Check(!fs::exists(dir / "page.tmp") && !fs::exists(dir / "page.$$$"),
              "work file left after a rendered page");
        const std::vector<std::uint8_t> bitmap = ReadAll(bmp);
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
        Check(result == zav::kRenderCannotRead, "unexpected render result");
        Check(!fs::exists(bmp), "bitmap written on failure");
    }
}

void Finish(const std::uint8_t* data, std::size_t size) {
    const fs::path dir = WorkFolder();
    const fs::path raw = dir / "raw.rec";
    WriteAll(raw, data, size);
    zav::FinishOptions options;
    options.keepRaw = true;
    options.singleFile = size > 0 && (data[0] & 1) != 0 && (data[size - 1] & 0x80) != 0;
    zav::FinishOutcome outcome;
    const std::string base = (dir / "run").string();
    const int result = zav::FinishCapture(raw.string().c_str(), base.c_str(), options, &outcome);
    Check(result == zav::kFinishOk, "finishing failed");
    Check(fs::exists(raw), "kept recording deleted");
    Check(outcome.reportWritten && fs::exists(outcome.reportPath), "no report");

    std::vector<std::uint8_t> joined;
    for (const std::string& file : outcome.captureFiles) {
        const std::vector<std::uint8_t> page = ReadAll(file);
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
    for (const fs::directory_entry& entry : fs::directory_iterator(WorkFolder(), error))
        fs::remove(entry.path(), error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InMemory(data, size);
    RenderFile(data, size);
    Finish(data, size);
    Clean();
    return 0;
}
