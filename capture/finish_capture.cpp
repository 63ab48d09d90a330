#include "capture/capture_files.h"

#include "base/capture_names.h"
#include "base/stdio_file.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/renderer.h"
#include "report/html_report.h"
#include "report/pdf_printout.h"
#include "report/printout_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

namespace zav {

namespace {

struct Collector {
    const FinishOptions* options;
    FinishOutcome* outcome;
    PrintoutPdf* pdf;  // null without a PDF
    std::string* text; // the text file's words; null without one
    PageText page;     // the words of the page being rendered
};

// The bytes of a page bitmap as the renderer writes them, for the PDF, up to
// a size worth holding in memory; a larger page is read back from its file.
class PageCopy final : public BlockOutput {
  public:
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        if (tooLarge_ || offset + size > kMaxPageCopy) {
            Drop();
            return false;
        }
        try {
            return copy_.WriteAt(offset, data, size);
        } catch (const std::bad_alloc&) {
            Drop();
            return false;
        }
    }
    std::vector<std::uint8_t> Take() { return std::move(copy_.bytes); }

  private:
    static constexpr std::uint64_t kMaxPageCopy = 32u << 20;
    void Drop() {
        tooLarge_ = true;
        copy_.bytes = {};
    }
    VectorBlockOutput copy_;
    bool tooLarge_ = false;
};

void OnCaptureFile(const char* path, void* context) {
    auto* collect = static_cast<Collector*>(context);
    const FinishOptions& options = *collect->options;
    collect->outcome->captureFiles.emplace_back(path);
    PageCopy copy;
    PageText& text = collect->page; // its room is kept from page to page
    text.Clear();
    bool rendered = false;
    if (options.onCaptureFile) {
        options.onCaptureFile(path, options.context);
    } else {
        const bool words = collect->text || collect->pdf;
        const int result =
            RenderCaptureFile(path, collect->pdf ? &copy : nullptr, words ? &text : nullptr);
        rendered = result == kRenderOk;
        if (!rendered)
            text.Clear();
        if (options.onPageRendered)
            options.onPageRendered(path, result, options.context);
    }
    if (collect->text)
        AppendTextPage(*collect->text, text, collect->outcome->captureFiles.size() == 1);
    // The PDF takes the page while the next one is split and rendered.
    char bitmap[kPathBufferSize];
    if (collect->pdf && ReplaceExtension(path, "bmp", bitmap))
        collect->pdf->Add(bitmap, rendered ? copy.Take() : std::vector<std::uint8_t>{},
                          std::exchange(text, PageText{}));
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
    const bool text = options.text && !options.onCaptureFile;
    if (text)
        out.textPath = names.Text();
    if (names.IsReportFile(rawPath)) {
        out.failedFile = rawPath;
        return kFinishRawIsOutput;
    }

    // The PDF of the pages kept, from their bitmaps; the recording is never its victim.
    std::unique_ptr<PrintoutPdf> pdf;
    if (options.pdf) {
        PrintoutPdfOptions pdfOptions;
        pdfOptions.paper = options.paper;
        pdfOptions.keep = {rawPath};
        pdf = std::make_unique<PrintoutPdf>(out.pdfPath, std::move(pdfOptions));
    }
    std::string words;
    Collector collect{&options, &out, pdf.get(), text ? &words : nullptr, {}};
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
    if (text) {
        out.textResult = WriteTextFile(out.textPath, words, {rawPath});
        out.textWritten = out.textResult == kTextOk;
        if (!out.textWritten && out.failedFile.empty())
            out.failedFile = out.textPath;
        if (result == kFinishOk && !out.textWritten)
            result = kFinishTextFailed;
    }
    if (options.pdf && out.pageCount == 0) {
        out.pdfResult = kPdfNoPages; // an empty recording: nothing to show
    } else if (pdf) {
        std::string failed;
        out.pdfResult = pdf->Finish(&failed);
        out.pdfWritten = out.pdfResult == kPdfOk;
        if (!out.pdfWritten && out.failedFile.empty())
            out.failedFile = failed;
        if (result == kFinishOk && !out.pdfWritten)
            result = kFinishPdfFailed;
    }
    return result;
}

} // namespace zav
