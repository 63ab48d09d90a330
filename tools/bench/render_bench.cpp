// Render throughput (MB of capture per second) and memory.
//
// Heap use is counted by replacing the global operator new/delete: the peak
// of live heap bytes during one call is reported next to the process's
// ru_maxrss. Band rendering alone must hold the same heap whatever the page
// length; the whole call also holds the capture, the graphics stream and, in
// the bitmap output, the raster once.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "printout.h"
#include "render/renderer.h"

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

fs::path WorkDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("zav_bench_" + std::to_string(getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::string WriteCapture(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = (WorkDir() / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

double MaxRssMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

// Peak live heap during fn(), above what was live before it.
template <typename Fn> std::size_t PeakHeapOf(Fn&& fn) {
    const std::size_t before = gLive.load();
    gPeak = before;
    fn();
    return gPeak.load() - before;
}

void RenderFile(benchmark::State& state, const std::vector<std::uint8_t>& capture,
                const std::string& name) {
    const std::string path = WriteCapture(name, capture);
    std::size_t peak = 0;
    for (auto _ : state) {
        int result = 0;
        peak = std::max(peak, PeakHeapOf([&] { result = zav::RenderCaptureFile(path.c_str()); }));
        if (result != 0) {
            state.SkipWithError("render failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * capture.size()));
    state.counters["capture_KB"] = capture.size() / 1024.0;
    state.counters["MB_per_s"] =
        benchmark::Counter(capture.size() / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["peak_heap_KB"] = peak / 1024.0;
    state.counters["maxrss_MB"] = MaxRssMB();
}

void BM_RenderExample(benchmark::State& state) {
    zavtool::PrintoutOptions options; // the built-in example: 3 pages
    RenderFile(state, zavtool::GeneratePrintout(options), "example.cpt");
}
BENCHMARK(BM_RenderExample)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Render100Pages(benchmark::State& state) {
    zavtool::PrintoutOptions options;
    options.pages = 100;
    RenderFile(state, zavtool::GeneratePrintout(options), "pages100.cpt");
}
BENCHMARK(BM_Render100Pages)->Unit(benchmark::kMillisecond)->UseRealTime();

// One page of state.range(0) text lines of 80 characters: band rendering's
// heap must stay the same (two 8-row bands of the raster width) for any count.
void BM_BandRenderingLines(benchmark::State& state) {
    const auto lines = static_cast<std::size_t>(state.range(0));
    const std::string text =
        "  12  125.0   21.93     780.413   OK   decay run  sample BUFFER PH 7.0  "
        "end\r\n";
    std::vector<std::uint8_t> capture;
    for (std::size_t i = 0; i < lines; ++i)
        capture.insert(capture.end(), text.begin(), text.end());
    capture.push_back('\f');
    std::vector<std::uint8_t> stream;
    const std::uint32_t width = zav::RasterWidthFor(zav::ConvertTextLines(capture, stream));

    const std::string rowPath = (WorkDir() / "rows.$$$").string();
    std::size_t bandPeak = 0;
    std::uint32_t rows = 0;
    for (auto _ : state) {
        std::FILE* rowFile = std::fopen(rowPath.c_str(), "wb");
        bandPeak = std::max(
            bandPeak, PeakHeapOf([&] { zav::RenderGraphicsStream(stream, width, rowFile, rows); }));
        std::fclose(rowFile);
    }
    std::remove(rowPath.c_str());

    const std::string path = WriteCapture("lines.cpt", capture);
    const std::size_t callPeak = PeakHeapOf([&] { zav::RenderCaptureFile(path.c_str()); });

    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["rows"] = rows;
    state.counters["band_peak_heap_B"] = static_cast<double>(bandPeak);
    state.counters["call_peak_heap_KB"] = callPeak / 1024.0;
    state.counters["maxrss_MB"] = MaxRssMB();
}
BENCHMARK(BM_BandRenderingLines)
    ->Arg(60)
    ->Arg(600)
    ->Arg(6000)
    ->Arg(60000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(WorkDir(), ec);
    return 0;
}
