// Time from "recording complete" (the raw recording lies on disk) to "report
// written" for the 100-page example printout: page splitting, rendering each
// page as soon as it is complete, and the HTML report. The split alone and
// single-file mode are measured beside it, and what the PDF adds: finishing
// 1000 pages without and with it, the PDF alone from the bitmaps, and its size
// against theirs (counter bitmaps_per_pdf), and finishing without the text
// file. On a shared machine run with
// --benchmark_repetitions=5 and read the medians.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/capture_names.h"
#include "capture/capture_files.h"
#include "capture/capture_trail.h"
#include "printout.h"
#include "report/pdf_printout.h"
#include "work_folder.h"

namespace {

namespace fs = std::filesystem;

struct Workspace {
    zavtool::WorkFolder folder{"zav_finish_bench"};
    fs::path dir = folder.Path();
    std::string raw;
    std::string base;
    std::vector<std::uint8_t> recording;

    explicit Workspace(int pages) {
        raw = (dir / "run.tmp").string();
        base = (dir / "run").string();
        zavtool::PrintoutOptions options;
        options.pages = pages;
        recording = zavtool::GeneratePrintout(options);
    }

    // The capture thread's temporary file, as the read loop leaves it.
    void Record() const {
        std::ofstream out(raw, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(recording.data()),
                  static_cast<std::streamsize>(recording.size()));
    }
};

bool NoRender(const char*, const char*, void*) {
    return true;
}

void Finish(benchmark::State& state, bool singleFile, bool render, bool pdf = false,
            bool text = true) {
    Workspace work(static_cast<int>(state.range(0)));
    zav::FinishOptions options;
    options.singleFile = singleFile;
    options.pdf = pdf;
    options.text = text;
    options.replace = true; // the capture of the last round
    if (!render)
        options.onCaptureFile = NoRender;
    zav::FinishOutcome outcome;
    for (auto _ : state) {
        state.PauseTiming();
        work.Record();
        state.ResumeTiming();
        const int result =
            zav::FinishCapture(work.raw.c_str(), work.base.c_str(), options, &outcome);
        if (result != zav::kFinishOk) {
            state.SkipWithError(zav::FinishResultText(result));
            break;
        }
    }
    state.counters["pages"] = outcome.pageCount;
    state.counters["recording_MB"] = static_cast<double>(work.recording.size()) / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(work.recording.size()));
}

void BM_FinishPages(benchmark::State& state) {
    Finish(state, false, true);
}
// What the text file adds: the same without it.
void BM_FinishPagesWithoutText(benchmark::State& state) {
    Finish(state, false, true, false, false);
}
void BM_SplitOnly(benchmark::State& state) {
    Finish(state, false, false);
}
void BM_FinishSingleFile(benchmark::State& state) {
    Finish(state, true, true);
}

void BM_FinishPagesWithPdf(benchmark::State& state) {
    Finish(state, false, true, true);
}

// What records add: 1000 pages with a PDF into an empty folder, without and
// with the capture's record (the bytes received hashed as the recording is
// read and every file as written, NAME.sha256, NAME.record.json and two
// audit lines), as zavprint finish makes them.
void FinishRecorded(benchmark::State& state, bool record) {
    Workspace work(static_cast<int>(state.range(0)));
    zav::FinishOptions options;
    options.pdf = true;
    zav::FinishOutcome outcome;
    const zav::CaptureNames names(work.base);
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (const auto& entry : fs::directory_iterator(work.dir))
            fs::remove(entry.path());
        work.Record();
        state.ResumeTiming();
        const std::clock_t cpuBefore = std::clock();
        std::unique_ptr<zav::CaptureTrail> trail;
        if (record) {
            trail = std::make_unique<zav::CaptureTrail>(
                names, zav::RecordKeeping{"zav_finish_bench"}, zav::record::CaptureSource{});
            options.record = &trail->Record();
            options.recordReceived = true; // as zavprint finish does
            trail->BeforeFinish(work.raw, false, false);
        }
        const int result =
            zav::FinishCapture(work.raw.c_str(), work.base.c_str(), options, &outcome);
        if (result != zav::kFinishOk ||
            (trail && trail->AfterFinish(result, outcome, {}) != zav::record::kRecordOk)) {
            state.SkipWithError("finishing or its record failed");
            break;
        }
        trail.reset();
        cpu += static_cast<double>(std::clock() - cpuBefore);
    }
    state.counters["pages"] = outcome.pageCount;
    // The CPU time of every thread (the PDF's and the hashing one's too).
    state.counters["process_cpu_ms"] =
        benchmark::Counter(cpu * 1000.0 / CLOCKS_PER_SEC, benchmark::Counter::kAvgIterations);
}
void BM_FinishPdfNoRecord(benchmark::State& state) {
    FinishRecorded(state, false);
}
void BM_FinishPdfRecorded(benchmark::State& state) {
    FinishRecorded(state, true);
}

// The PDF alone, from the bitmaps that finishing left.
void BM_PdfOnly(benchmark::State& state) {
    Workspace work(static_cast<int>(state.range(0)));
    work.Record();
    zav::FinishOutcome outcome;
    zav::FinishCapture(work.raw.c_str(), work.base.c_str(), {}, &outcome);
    std::vector<std::string> bitmaps;
    for (const std::string& capture : outcome.captureFiles)
        bitmaps.push_back(fs::path(capture).replace_extension(".bmp").string());
    const std::string pdf = zav::CaptureNames(work.base).Pdf();
    for (auto _ : state) {
        const int result = zav::WritePrintoutPdf(pdf, bitmaps, zav::PrintoutPdfOptions{});
        if (result != zav::kPdfOk) {
            state.SkipWithError(zav::PdfResultText(result));
            return;
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

BENCHMARK(BM_FinishPages)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FinishPagesWithoutText)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FinishPagesWithPdf)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FinishPdfNoRecord)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FinishPdfRecorded)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PdfOnly)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SplitOnly)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FinishSingleFile)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
