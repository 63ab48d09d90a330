// zavarchive: fills a folder as the watch would after COUNT printouts.
//   zavarchive --folder DIR --captures COUNT [--first-seed S]
// Printout i (from 0) is the generated printout of seed S + i with 1 + i % 3
// pages, finished as printout-YYYYMMDD-HHMMSS (one minute after the one
// before) with its text file, its words in the index's side scripts and its
// row on DIR/index.html. The rows go onto the page a thousand at a time: the
// watch adds one per printout, which for tens of thousands would rewrite the
// page tens of thousands of times.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stdio_file.h"
#include "capture/capture_files.h"
#include "printout.h"
#include "report/index_page.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kRowsPerPageWrite = 1000;

int Usage() {
    std::fprintf(stderr, "usage: zavarchive --folder DIR --captures COUNT [--first-seed S]\n");
    return 2;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    zav::UniqueFile out = zav::OpenFile(path.c_str(), "wb");
    return out && std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size() &&
           zav::CloseFile(out);
}

std::string ReadText(const std::string& path) {
    zav::FileBytes bytes;
    zav::UniqueFile in = zav::OpenFile(path.c_str(), "rb");
    if (!in || zav::ReadWholeFile(in.get(), bytes) != zav::ReadWholeResult::Ok)
        return {};
    return std::string(reinterpret_cast<const char*>(bytes.data.get()), bytes.size);
}

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    long count = 0, firstSeed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--folder")
            folder = argv[i + 1];
        else if (option == "--captures")
            count = std::strtol(argv[i + 1], nullptr, 10);
        else if (option == "--first-seed")
            firstSeed = std::strtol(argv[i + 1], nullptr, 10);
        else
            return Usage();
    }
    if (folder.empty() || count <= 0 || argc % 2 == 0)
        return Usage();
    fs::create_directories(folder);

    std::vector<zav::IndexEntry> rows; // newest first, not on the page yet
    const auto writeRows = [&] {
        const int result = zav::AddToIndexPage(folder, rows);
        rows.clear();
        return result == zav::kIndexOk;
    };
    std::time_t when = 1796630400; // 2026-12-07 08:00 UTC
    for (long i = 0; i < count; ++i, when += 60) {
        std::tm utc{};
        gmtime_r(&when, &utc);
        char stamp[32], shown[32];
        std::strftime(stamp, sizeof stamp, "printout-%Y%m%d-%H%M%S", &utc);
        std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M:%S", &utc);
        zavtool::PrintoutOptions options;
        options.seed = static_cast<std::uint32_t>(firstSeed + i);
        options.pages = 1 + static_cast<int>(i % 3);
        const std::string raw = (fs::path(folder) / "recording.raw").string();
        const std::string base = (fs::path(folder) / stamp).string();
        zav::FinishOutcome outcome;
        if (!WriteFile(raw, zavtool::GeneratePrintout(options)) ||
            zav::FinishCapture(raw.c_str(), base.c_str(), {}, &outcome) != zav::kFinishOk) {
            std::fprintf(stderr, "zavarchive: %s not made\n", stamp);
            return 1;
        }
        zav::IndexEntry entry{stamp, shown, outcome.pageCount,
                              fs::path(outcome.captureFiles.front()).stem().string() + ".bmp", ""};
        if (zav::AddToIndexText(folder, stamp, ReadText(outcome.textPath), entry.textScript) !=
            zav::kIndexOk) {
            std::fprintf(stderr, "zavarchive: the words of %s not indexed\n", stamp);
            return 1;
        }
        rows.insert(rows.begin(), std::move(entry));
        if (rows.size() == kRowsPerPageWrite && !writeRows())
            return 1;
    }
    if (!rows.empty() && !writeRows())
        return 1;
    std::printf("%s: %ld captures\n", folder.c_str(), count);
    return 0;
}
