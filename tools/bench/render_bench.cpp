// Render speed against the speed of the disk, and the start-up floor.
//
//   zav_render_bench [--folder DIR] [--repeat N] [--pages N[,N...]]
//       For each page count (1, 100 and 1000 unless told) renders the
//       generated printout of that many pages (one capture file, one page
//       bitmap) and, in the same run, writes a file of the bitmap's size into
//       the same folder. The two alternate N times (15 unless told); the
//       medians of wall time and of process CPU time (user and kernel) and
//       their ratios are printed, with the largest heap the renderer held
//       during a call.
//   zav_render_bench --epson9 [--folder DIR] [--repeat N] [--sheets N[,N...]]
//       The same for the Epson 9-pin model: a text printout of that many
//       sheets (20 and 200 unless told; 60 lines of 80 characters each, then
//       a form feed) rendered into its sheet bitmaps, against writing as many
//       files of a sheet bitmap's size.
//   zav_render_bench --write-text-sheets N FILE
//       Writes that text printout of N sheets to FILE.
//   zav_render_bench --process ZAVPRINT CAPTURE [--printer MODEL] [--repeat N]
//       Median wall time of the whole process "ZAVPRINT [--printer=MODEL]
//       CAPTURE" against "ZAVPRINT --help", run alternately N times (51
//       unless told).
//
// Its files go into a work folder of its own made under DIR (the temporary
// folder unless told) and removed at the end; nothing else in DIR is touched.
// The machine may be shared: medians of alternating runs keep a burst of
// someone else's work from landing on one side only.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "printout.h"
#include "render/page_bitmap.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "work_folder.h"

extern char** environ;

namespace {

std::atomic<std::size_t> gLive{0};
std::atomic<std::size_t> gPeak{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* CountedAlloc(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block)
        return nullptr;
    *reinterpret_cast<std::size_t*>(block) = size;
    const std::size_t live = gLive += size;
    std::size_t peak = gPeak.load();
    while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
    }
    return block + kHeader;
}

void CountedFree(void* p) {
    if (!p)
        return;
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    gLive -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = CountedAlloc(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return CountedAlloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
    CountedFree(p);
}
void operator delete[](void* p) noexcept {
    CountedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    CountedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    CountedFree(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    CountedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    CountedFree(p);
}

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Times {
    double wall = 0; // ms
    double cpu = 0;  // ms of this process, in user mode and in the kernel
};

template <typename Fn> Times Measure(Fn&& fn) {
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    fn();
    Times t;
    t.cpu = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    t.wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return t;
}

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

// Medians of a render and a plain write run alternately, and the largest
// heap the render held.
struct Alternated {
    double render = 0, write = 0, renderCpu = 0, writeCpu = 0;
    std::size_t heap = 0;
};

// `render` and `write` return false on failure.
template <typename Render, typename Write>
bool Alternate(int repeat, Render&& render, Write&& write, Alternated& out) {
    std::vector<double> renders, writes, renderCpu, writeCpu;
    out.heap = 0;
    for (int i = 0; i < repeat; ++i) {
        gPeak = gLive.load();
        const std::size_t before = gLive.load();
        bool rendered = false;
        const Times r = Measure([&] { rendered = render(); });
        out.heap = std::max(out.heap, gPeak.load() - before);
        bool written = false;
        const Times w = Measure([&] { written = write(); });
        if (!rendered || !written) {
            std::fprintf(stderr, "zav_render_bench: a run failed\n");
            return false;
        }
        renders.push_back(r.wall);
        writes.push_back(w.wall);
        renderCpu.push_back(r.cpu);
        writeCpu.push_back(w.cpu);
    }
    out.render = Median(renders);
    out.write = Median(writes);
    out.renderCpu = Median(renderCpu);
    out.writeCpu = Median(writeCpu);
    return true;
}

void PrintAlternated(int count, double captureKB, double outputSize, const Alternated& a) {
    std::printf("%6d %10.0f %10.1f %10.2f %9.2f %6.2f %8.2f %8.2f %6.2f %8.0f\n", count, captureKB,
                outputSize, a.render, a.write, a.render / a.write, a.renderCpu, a.writeCpu,
                a.writeCpu > 0 ? a.renderCpu / a.writeCpu : 0.0, a.heap / 1024.0);
}

int RenderAgainstWrite(const fs::path& folder, const std::vector<int>& pageCounts, int repeat) {
    std::printf("%6s %10s %10s %10s %9s %6s %8s %8s %6s %8s\n", "pages", "capture_KB", "bitmap_KB",
                "render_ms", "write_ms", "ratio", "rend_cpu", "writ_cpu", "ratio", "heap_KB");
    for (const int pages : pageCounts) {
        zavtool::PrintoutOptions options;
        options.pages = pages;
        const std::vector<std::uint8_t> capture = zavtool::GeneratePrintout(options);
        const std::string base = (folder / ("printout" + std::to_string(pages))).string();
        const std::string capturePath = base + ".cpt";
        const std::string bitmapPath = base + ".bmp";
        const std::string plainPath = base + ".plain";
        if (!WriteFile(capturePath, capture.data(), capture.size()) ||
            zav::RenderCaptureFile(capturePath.c_str()) != zav::kRenderOk) {
            std::fprintf(stderr, "zav_render_bench: cannot render %s\n", capturePath.c_str());
            return 1;
        }
        const std::vector<std::uint8_t> same(fs::file_size(bitmapPath), 0x5A);
        Alternated a;
        if (!Alternate(
                repeat,
                [&] { return zav::RenderCaptureFile(capturePath.c_str()) == zav::kRenderOk; },
                [&] { return WriteFile(plainPath, same.data(), same.size()); }, a))
            return 1;
        PrintAlternated(pages, capture.size() / 1024.0, same.size() / 1024.0, a);
        std::remove(capturePath.c_str());
        std::remove(bitmapPath.c_str());
        std::remove(plainPath.c_str());
    }
    return 0;
}

// A text printout of `sheets` sheets, as an instrument prints a long table.
std::vector<std::uint8_t> TextSheets(int sheets) {
    std::vector<std::uint8_t> text;
    char line[96];
    int n = 0;
    for (int sheet = 0; sheet < sheets; ++sheet) {
        for (int row = 0; row < 60; ++row, ++n) {
            std::snprintf(line, sizeof line,
                          "%6d  Channel %-3d %12.4f V %12.5f mA %10.3f Ohm  %-13s\r\n", n, n % 16,
                          (n * 7919 % 100000) / 997.0, (n * 104729 % 100000) / 7.0,
                          (n * 1301 % 9973) / 3.1, n % 3 ? "within limits" : "CHECK");
            text.insert(text.end(), line, line + std::strlen(line));
        }
        text.push_back('\f');
    }
    return text;
}

int Epson9AgainstWrite(const fs::path& folder, const std::vector<int>& sheetCounts, int repeat) {
    std::printf("%6s %10s %10s %10s %9s %6s %8s %8s %6s %8s\n", "sheets", "capture_KB",
                "bitmaps_MB", "render_ms", "write_ms", "ratio", "rend_cpu", "writ_cpu", "ratio",
                "heap_KB");
    for (const int sheets : sheetCounts) {
        const std::vector<std::uint8_t> capture = TextSheets(sheets);
        const std::string capturePath = (folder / "text.cpt").string();
        zav::CaptureRenderer renderer(zav::PrinterModel::Epson9);
        if (!WriteFile(capturePath, capture.data(), capture.size()) ||
            renderer.Render(capturePath.c_str()) != zav::kRenderOk ||
            renderer.Sheets() != static_cast<unsigned>(sheets)) {
            std::fprintf(stderr, "zav_render_bench: cannot render %s\n", capturePath.c_str());
            return 1;
        }
        char first[zav::kPathBufferSize];
        zav::SheetBitmapName(capturePath, 1, first);
        const std::vector<std::uint8_t> same(fs::file_size(first), 0x5A);
        Alternated a;
        const auto render = [&] {
            zav::CaptureRenderer fresh(zav::PrinterModel::Epson9);
            return fresh.Render(capturePath.c_str()) == zav::kRenderOk;
        };
        const auto write = [&] {
            bool written = true;
            for (int s = 0; s < sheets; ++s) {
                const std::string plain = (folder / ("plain" + std::to_string(s))).string();
                written = WriteFile(plain, same.data(), same.size()) && written;
            }
            return written;
        };
        if (!Alternate(repeat, render, write, a))
            return 1;
        PrintAlternated(sheets, capture.size() / 1024.0, sheets * (same.size() / 1048576.0), a);
        std::printf("  (a sheet's bitmap: 1920 x 2376 dots, %zu bytes)\n", same.size());
        for (const auto& entry : fs::directory_iterator(folder)) // the work folder's own
            fs::remove(entry.path());
    }
    return 0;
}

// Wall time of one run of argv, its output thrown away; negative on failure.
double RunProcess(std::vector<char*> argv) {
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int status = 0;
    const auto start = Clock::now();
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    const bool ended = started && waitpid(pid, &status, 0) == pid;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

int ProcessFloor(char* program, char* capture, char* option, int repeat) {
    char help[] = "--help";
    std::vector<double> render, floor;
    for (int i = 0; i < repeat; ++i) {
        const double r =
            option ? RunProcess({program, option, capture}) : RunProcess({program, capture});
        const double h = RunProcess({program, help});
        if (r < 0 || h < 0) {
            std::fprintf(stderr, "zav_render_bench: %s failed\n", program);
            return 1;
        }
        render.push_back(r);
        floor.push_back(h);
    }
    std::printf("whole process, median of %d: %s %s%s%s: %.2f ms; %s --help: %.2f ms\n", repeat,
                program, option ? option : "", option ? " " : "", capture, Median(render), program,
                Median(floor));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    fs::path folder = fs::temp_directory_path();
    int repeat = 0;
    std::vector<int> pages{1, 100, 1000};
    char* program = nullptr;
    char* capture = nullptr;
    std::string printer;
    bool epson9 = false;
    std::vector<int> sheets{20, 200};
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--folder") && hasValue) {
            folder = argv[++i];
        } else if (!std::strcmp(argv[i], "--repeat") && hasValue) {
            repeat = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--pages") && hasValue) {
            pages.clear();
            for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ","))
                pages.push_back(std::atoi(p));
        } else if (!std::strcmp(argv[i], "--sheets") && hasValue) {
            sheets.clear();
            for (char* p = std::strtok(argv[++i], ","); p; p = std::strtok(nullptr, ","))
                sheets.push_back(std::atoi(p));
        } else if (!std::strcmp(argv[i], "--write-text-sheets") && i + 2 < argc) {
            const std::vector<std::uint8_t> text = TextSheets(std::atoi(argv[i + 1]));
            return WriteFile(argv[i + 2], text.data(), text.size()) ? 0 : 1;
        } else if (!std::strcmp(argv[i], "--epson9")) {
            epson9 = true;
        } else if (!std::strcmp(argv[i], "--printer") && hasValue) {
            printer = std::string("--printer=") + argv[++i];
        } else if (!std::strcmp(argv[i], "--process") && i + 2 < argc) {
            program = argv[++i];
            capture = argv[++i];
        } else {
            std::fprintf(stderr, "usage: zav_render_bench [--folder DIR] [--repeat N] "
                                 "[--pages N,...] | --epson9 [--folder DIR] [--repeat N] "
                                 "[--sheets N,...] | --process ZAVPRINT CAPTURE [--printer "
                                 "MODEL] [--repeat N]\n");
            return 2;
        }
    }
    if (program)
        return ProcessFloor(program, capture, printer.empty() ? nullptr : printer.data(),
                            repeat > 0 ? repeat : 51);
    try {
        const zavtool::WorkFolder work("zav_render_bench", folder);
        if (epson9)
            return Epson9AgainstWrite(work.Path(), sheets, repeat > 0 ? repeat : 15);
        return RenderAgainstWrite(work.Path(), pages, repeat > 0 ? repeat : 15);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zav_render_bench: %s\n", e.what());
        return 1;
    }
}
