// What the PDF adds to finishing a capture: `zavprint finish` on a 1000-page
// printout without and with the PDF, the PDF alone from the page bitmaps,
// and the PDF's size against the bitmaps' (counter bitmaps_per_pdf).
// Run with --benchmark_repetitions=5 for medians on a shared machine.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capture/capture_files.h"
#include "printout.h"
#include "report/pdf_printout.h"

namespace {

namespace fs = std::filesystem;

struct Workspace {
    fs::path dir;
    std::string raw, base;
    std::vector<std::uint8_t> recording;

    explicit Workspace(int pages) {
        dir = fs::temp_directory_path() / ("zav_pdf_bench_" + std::to_string(pages));
        fs::remove_all(dir);
        fs::create_directories(dir);
        raw = (dir / "run.tmp").string();
        base = (dir / "run").string();
        zavtool::PrintoutOptions options;
        options.pages = pages;
        recording = zavtool::GeneratePrintout(options);
    }
    ~Workspace() { fs::remove_all(dir); }

    void Record() const {
        std::ofstream out(raw, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(recording.data()),
                  static_cast<std::streamsize>(recording.size()));
    }
    // Finishes the recording; the bitmaps in page order.
    std::vector<std::string> Finish(bool pdf, benchmark::State* state) const {
        zav::FinishOptions options;
        options.pdf = pdf;
        zav::FinishOutcome outcome;
        const int result = zav::FinishCapture(raw.c_str(), base.c_str(), options, &outcome);
        if (result != zav::kFinishOk && state)
            state->SkipWithError(zav::FinishResultText(result));
        std::vector<std::string> bitmaps;
        for (const std::string& capture : outcome.captureFiles)
            bitmaps.push_back(fs::path(capture).replace_extension(".bmp").string());
        return bitmaps;
    }
};

void FinishPrintout(benchmark::State& state, bool pdf) {
    Workspace work(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        work.Record();
        state.ResumeTiming();
        work.Finish(pdf, &state);
    }
}

void BM_Finish(benchmark::State& state) {
    FinishPrintout(state, false);
}
void BM_FinishWithPdf(benchmark::State& state) {
    FinishPrintout(state, true);
}

// The PDF alone, from the bitmaps a finished capture left.
void BM_PdfOnly(benchmark::State& state) {
    Workspace work(static_cast<int>(state.range(0)));
    work.Record();
    const std::vector<std::string> bitmaps = work.Finish(false, nullptr);
    const std::string pdf = zav::PrintoutPdfPath(work.base);
    for (auto _ : state) {
        const int result = zav::WritePrintoutPdf(pdf, bitmaps, zav::PrintoutPdfOptions{});
        if (result != zav::kPdfOk) {
            state.SkipWithError(zav::PdfResultText(result));
            break;
        }
    }
    double bitmapBytes = 0;
    for (const std::string& bitmap : bitmaps)
        bitmapBytes += static_cast<double>(fs::file_size(bitmap));
    const double pdfBytes = static_cast<double>(fs::file_size(pdf));
    state.counters["pages"] = static_cast<double>(bitmaps.size());
    state.counters["bitmaps_MB"] = bitmapBytes / 1e6;
    state.counters["pdf_MB"] = pdfBytes / 1e6;
    state.counters["bitmaps_per_pdf"] = bitmapBytes / pdfBytes;
}

BENCHMARK(BM_Finish)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_FinishWithPdf)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_PdfOnly)->Arg(1000)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
