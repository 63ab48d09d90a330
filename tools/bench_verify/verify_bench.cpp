// What records cost, with figures to print:
//  - verify: an untouched archive of 1,000 captures (3 pages each: page
//    captures, bitmaps written from their end, report), checked whole;
//  - making records: for finishing the 1000-page printout with its PDF, the
//    time to finish against the time to hash every byte it wrote (through
//    the records' hashing observer, in the blocks and order the writers
//    use) plus writing the record, its checksums and the audit line.
// Each figure is the median of RUNS alternating runs (default 11).
//
//   zav_verify_bench [--dir DIR] [--captures N] [--runs RUNS]
// DIR (default /dev/shm) gets a folder of its own, removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture/capture_files.h"
#include "printout.h"
#include "record/capture_record.h"
#include "record/verify.h"
#include "work_folder.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Feeds a file's bytes to the record in 256 KiB blocks, bitmaps last block
// first, as the renderer writes them.
void Feed(zav::record::RecordedFile& file, const std::string& bytes, bool fromEnd) {
    constexpr std::size_t kBlock = 256 * 1024;
    const std::size_t blocks = std::max<std::size_t>(1, (bytes.size() + kBlock - 1) / kBlock);
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t at = (fromEnd ? blocks - 1 - i : i) * kBlock;
        file.Written(at, bytes.data() + at, std::min(kBlock, bytes.size() - at));
    }
    file.Closed(true);
}

bool IsBitmap(const fs::path& path) {
    return path.extension() == ".bmp";
}

// Finishes `recording` into dir/run with the PDF; the files it wrote.
bool Finish(const fs::path& dir, const std::vector<std::uint8_t>& recording,
            std::vector<fs::path>& written, double& ms) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string raw = (dir / "run.tmp").string();
    std::ofstream(raw, std::ios::binary)
        .write(reinterpret_cast<const char*>(recording.data()),
               static_cast<std::streamsize>(recording.size()));
    zav::FinishOptions options;
    options.pdf = true;
    const auto start = Clock::now();
    const int result =
        zav::FinishCapture(raw.c_str(), (dir / "run").string().c_str(), options, nullptr);
    ms = Ms(Clock::now() - start);
    written.clear();
    for (const auto& entry : fs::directory_iterator(dir))
        written.push_back(entry.path());
    return result == zav::kFinishOk;
}

} // namespace

int main(int argc, char** argv) {
    fs::path root = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    int captures = 1000;
    int runs = 11;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--dir") == 0)
            root = argv[i + 1];
        else if (std::strcmp(argv[i], "--captures") == 0)
            captures = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::atoi(argv[i + 1]);
    }
    const zavtool::WorkFolder workFolder("zav_verify_bench", root);
    const fs::path& work = workFolder.Path();
    const zav::record::Identity who = zav::record::LocalIdentity("zav_verify_bench");

    // One real 3-page capture, its files copied into every capture of the
    // archive through the records as a writer makes them.
    zavtool::PrintoutOptions printout;
    printout.pages = 3;
    std::vector<fs::path> files;
    double ignored = 0;
    if (!Finish(work / "template", zavtool::GeneratePrintout(printout), files, ignored)) {
        std::fprintf(stderr, "cannot finish the template capture\n");
        return 1;
    }
    std::vector<std::pair<std::string, std::string>> templateFiles; // suffix, bytes
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        if (name.starts_with("run") && name != "run.tmp")
            templateFiles.emplace_back(name.substr(3), ReadAll(file));
    }
    const fs::path archive = work / "archive";
    fs::create_directories(archive);
    std::uint64_t archiveBytes = 0;
    const auto makeStart = Clock::now();
    for (int c = 0; c < captures; ++c) {
        const std::string base = (archive / ("printout-" + std::to_string(100000 + c))).string();
        zav::record::CaptureRecord record(base, who, {"MODEL 7", "/dev/ttyUSB0", "FT12AB"});
        for (const auto& [suffix, bytes] : templateFiles) {
            const std::string path = base + suffix;
            WriteAll(path, bytes);
            Feed(record.Track(path), bytes, IsBitmap(path));
            archiveBytes += bytes.size();
        }
        record.SetPages(3);
        if (record.Write(nullptr) != zav::record::kRecordOk) {
            std::fprintf(stderr, "cannot write the record of capture %d\n", c);
            return 1;
        }
    }
    const double makeMs = Ms(Clock::now() - makeStart);
    std::printf("archive: %d captures, %zu files each, %.1f MB, made with records in %.0f ms\n",
                captures, templateFiles.size(), static_cast<double>(archiveBytes) / 1e6, makeMs);

    std::vector<double> verifyMs;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        const zav::record::VerifyReport report =
            zav::record::VerifyFolder(archive.string(), zav::record::VerifyOptions{});
        verifyMs.push_back(Ms(Clock::now() - start));
        if (!report.Holds() || report.captures != static_cast<std::size_t>(captures)) {
            std::fprintf(stderr, "the untouched archive did not hold\n");
            return 1;
        }
    }
    std::printf("verify of the whole archive: median %.0f ms (min %.0f, max %.0f) over %d runs\n",
                Median(verifyMs), *std::min_element(verifyMs.begin(), verifyMs.end()),
                *std::max_element(verifyMs.begin(), verifyMs.end()), runs);

    // Finishing 1000 pages with the PDF, alternating with what the records
    // add to it: hashing every byte written (from memory, as the writers
    // hand it over) and writing the record.
    printout.pages = 1000;
    const std::vector<std::uint8_t> recording = zavtool::GeneratePrintout(printout);
    std::vector<double> finishMs, recordMs, writeMs;
    std::uint64_t writtenBytes = 0;
    std::size_t writtenFiles = 0;
    for (int r = 0; r < runs; ++r) {
        double ms = 0;
        if (!Finish(work / "finish", recording, files, ms)) {
            std::fprintf(stderr, "cannot finish the 1000-page printout\n");
            return 1;
        }
        finishMs.push_back(ms);
        std::vector<std::pair<std::string, std::string>> contents;
        for (const fs::path& file : files) {
            if (file.filename() != "run.tmp")
                contents.emplace_back(file.string(), ReadAll(file));
        }
        const auto start = Clock::now();
        zav::record::CaptureRecord record((work / "finish" / "run").string(), who, {});
        record.Received(recording.data(), recording.size());
        writtenBytes = 0;
        for (const auto& [path, bytes] : contents) {
            Feed(record.Track(path), bytes, IsBitmap(path));
            writtenBytes += bytes.size();
        }
        record.SetPages(1000);
        const auto writeStart = Clock::now();
        const int written = record.Write(nullptr);
        writeMs.push_back(Ms(Clock::now() - writeStart));
        recordMs.push_back(Ms(Clock::now() - start));
        writtenFiles = contents.size();
        if (written != zav::record::kRecordOk) {
            std::fprintf(stderr, "cannot write the record of the 1000 pages\n");
            return 1;
        }
    }
    // libgcrypt's SHA-256 alone, on 64 MB in memory.
    const std::string block(64 << 20, 'x');
    std::vector<double> hashMs;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        zav::record::Sha256 hash;
        hash.Update(block);
        const auto digest = hash.Finish();
        hashMs.push_back(Ms(Clock::now() - start) + digest[0] * 0.0);
    }
    std::printf("SHA-256 (libgcrypt): %.0f MB/s\n",
                static_cast<double>(block.size()) / 1e3 / Median(hashMs));
    const double finish = Median(finishMs);
    const double records = Median(recordMs);
    std::printf("finish 1000 pages with PDF: median %.1f ms; records of its %zu files "
                "(%.1f MB written, %.1f MB received): median %.1f ms = %.1f%% of finishing, "
                "of which Write (the hashing thread's last blocks, the record, checksums "
                "and audit line) %.1f ms\n",
                finish, writtenFiles, static_cast<double>(writtenBytes) / 1e6,
                static_cast<double>(recording.size()) / 1e6, records, 100.0 * records / finish,
                Median(writeMs));
    return 0;
}
