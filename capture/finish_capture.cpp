#include "capture/capture_files.h"

#include "capture/capture_names.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"
#include "render/stdio_file.h"
#include "report/html_report.h"
#include "report/pdf_printout.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zav {

namespace {

struct Collector {
    const FinishOptions* options;
    FinishOutcome* outcome;
};

void OnCaptureFile(const char* path, void* context) {
    auto* collect = static_cast<Collector*>(context);
    collect->outcome->captureFiles.emplace_back(path);
    if (collect->options->onCaptureFile)
        collect->options->onCaptureFile(path, collect->options->context);
    else
        RenderCaptureFile(path);
}

// Size of the recording; false when there is no recording file to read.
bool RecordingSize(const char* path, std::uintmax_t& size) {
    std::error_code error;
    size = std::filesystem::file_size(path, error);
    return !error;
}

// Single-file mode: the recording becomes base path + ".cpt".
int FinishSingleFile(const char* rawPath, const CaptureNames& names, const FinishOptions& options,
                     Collector& collect) {
    const std::string capture = names.SingleCapture();
    const bool rawIsCapture = IsSameFile(rawPath, capture.c_str());
    // A recording that is kept where it lies must not be under a name the
    // renderer writes (the bitmap is named after the stem).
    if (options.keepRaw && !rawIsCapture && CaptureNames::WouldBeWritten(rawPath, capture)) {
        collect.outcome->failedFile = rawPath;
        return kFinishRawIsOutput;
    }
    // Without a recording the capture file of an earlier session stays as it
    // is: a wrong or vanished path must not cost the user that file.
    std::uintmax_t size = 0;
    if (!RecordingSize(rawPath, size)) {
        collect.outcome->failedFile = rawPath;
        return kFinishCannotOpenRaw;
    }
    if (!rawIsCapture)
        std::remove(capture.c_str());
    if (size == 0) {
        if (!options.keepRaw)
            std::remove(rawPath);
        return kFinishOk;
    }
    if (!rawIsCapture) {
        bool stored = !options.keepRaw && std::rename(rawPath, capture.c_str()) == 0;
        if (!stored) {
            // Copy when the recording stays, or when it cannot be renamed
            // (another drive); it is deleted only once the copy is whole.
            std::error_code error;
            stored = std::filesystem::copy_file(rawPath, capture, error) && !error;
            if (!stored) {
                std::remove(capture.c_str());
                collect.outcome->failedFile = capture;
                return kFinishCannotStoreSingle;
            }
            if (!options.keepRaw)
                std::remove(rawPath);
        }
    }
    collect.outcome->pageCount = 1;
    OnCaptureFile(capture.c_str(), &collect);
    return kFinishOk;
}

// The PDF of the pages kept, from their bitmaps; the recording is never its victim.
void WritePdf(const char* rawPath, const FinishOptions& options, FinishOutcome& out) {
    std::vector<std::string> bitmaps;
    for (const std::string& capture : out.captureFiles) {
        char bitmap[kPathBufferSize];
        if (ReplaceExtension(capture, "bmp", bitmap))
            bitmaps.emplace_back(bitmap);
    }
    PrintoutPdfOptions pdf;
    pdf.paper = options.paper;
    pdf.keep = {rawPath};
    std::string failed;
    out.pdfResult = WritePrintoutPdf(out.pdfPath, bitmaps, pdf, &failed);
    out.pdfWritten = out.pdfResult == kPdfOk;
    if (!out.pdfWritten && out.failedFile.empty())
        out.failedFile = failed;
}

} // namespace

int FinishCapture(const char* rawPath, const char* basePath, const FinishOptions& options,
                  FinishOutcome* outcome) {
    FinishOutcome local;
    FinishOutcome& out = outcome ? *outcome : local;
    out = FinishOutcome{};
    if (std::strlen(basePath) > kMaxBasePathLength)
        return kFinishPathTooLong;
    const CaptureNames names{std::string(basePath)};
    out.reportPath = names.Report();
    if (options.pdf)
        out.pdfPath = names.Pdf();
    if (names.IsReportFile(rawPath)) {
        out.failedFile = rawPath;
        return kFinishRawIsOutput;
    }

    Collector collect{&options, &out};
    int result = kFinishOk;
    if (options.singleFile) {
        result = FinishSingleFile(rawPath, names, options, collect);
        if (result == kFinishRawIsOutput || result == kFinishCannotOpenRaw)
            return result; // no recording: no capture file and no report
    } else {
        unsigned kept = 0;
        result = SplitIntoPages(rawPath, basePath, OnCaptureFile, &collect, &kept, &out.failedFile);
        if (result == kFinishCannotOpenRaw) {
            out.failedFile = rawPath;
            return result; // no recording: no page and no report
        }
        out.pageCount = kept;
        // The recording goes only when every byte of it is in the pages.
        if (result == kFinishOk && !options.keepRaw)
            std::remove(rawPath);
    }

    out.reportResult = WriteHtmlReport(basePath, out.pageCount, options.singleFile);
    out.reportWritten = out.reportResult == kReportOk;
    if (result == kFinishOk && !out.reportWritten)
        result = kFinishReportFailed;
    if (options.pdf && out.pageCount == 0) {
        out.pdfResult = kPdfNoPages; // an empty recording: nothing to show
    } else if (options.pdf) {
        WritePdf(rawPath, options, out);
        if (result == kFinishOk && !out.pdfWritten)
            result = kFinishPdfFailed;
    }
    return result;
}

} // namespace zav
