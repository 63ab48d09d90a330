#include "capture/capture_files.h"

#include "base/capture_names.h"
#include "base/output_file.h"
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
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

namespace zav {

namespace {

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

// One capture being made: its files, gathered until they take their names.
struct Making {
    Making(const FinishOptions& o, FinishOutcome& outcome) : options(o), out(outcome) {}
    const FinishOptions& options;
    FinishOutcome& out;
    OutputBatch files;
    std::unique_ptr<PrintoutPdf> pdf; // null without a PDF
    bool text = false;                // the text file is made
    std::string words;                // its words, page after page
    PageText page;                    // the words of the page being drawn
    int failure = kFinishOk;

    int Fail(int code, const std::string& file, const SystemError& error = {}) {
        failure = code;
        out.failedFile = file;
        out.error = error;
        return code;
    }
};

// Renders a complete capture file into its bitmap and takes its words from
// the same pass, and hands both on to the PDF. False when the bitmap could
// not be written.
bool OnCaptureFile(const char* path, const char* readFrom, void* context) {
    auto* making = static_cast<Making*>(context);
    const FinishOptions& options = making->options;
    making->out.captureFiles.emplace_back(path);
    PageOutcome page{path, CaptureNames::BitmapOf(path)};
    if (options.onCaptureFile) {
        making->out.pages.push_back(page);
        return options.onCaptureFile(path, readFrom, options.context);
    }
    OutputFile& bitmap = making->files.Add(page.bitmap);
    PageCopy copy;
    PageGeometry geometry;
    PageText& text = making->page; // its room is kept from page to page
    text.Clear();
    const bool words = making->text || making->pdf;
    page.renderResult = RenderCaptureFileTo(readFrom, bitmap, making->pdf ? &copy : nullptr,
                                            &geometry, words ? &text : nullptr);
    if (page.renderResult == kRenderCannotCreate) {
        making->out.pages.push_back(page);
        making->Fail(kFinishCannotWriteBitmap, page.bitmap, bitmap.Error());
        return false;
    }
    const bool drawn = page.renderResult == kRenderOk;
    if (!drawn) {
        // Not drawn: no picture under its name, none in the PDF, no words;
        // the text keeps its page break, so that later pages keep their numbers.
        bitmap.Abandon();
        page.bitmap.clear();
        text.Clear();
    }
    if (making->text)
        AppendTextPage(making->words, text, making->out.pages.empty());
    if (drawn) {
        page.empty = geometry.rows == 0 || geometry.rasterWidth == 0;
        // The PDF takes the page while the next one is split and rendered.
        if (making->pdf)
            making->pdf->Add(bitmap.WorkPath(), copy.Take(), std::exchange(text, PageText{}));
    }
    making->out.pages.push_back(page);
    return true;
}

// Size of the recording; false when there is no recording file to read.
bool RecordingSize(const char* path, std::uintmax_t& size) {
    std::error_code error;
    size = std::filesystem::file_size(path, error);
    return !error;
}

// A copy of the recording as the capture file `copy`.
bool CopyRecording(const char* rawPath, OutputFile& copy) {
    UniqueFile in = OpenFile(rawPath, "rb");
    if (!in)
        return false;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[64 * 1024]);
    if (!block)
        return false;
    std::size_t got = 0;
    while ((got = std::fread(block.get(), 1, 64 * 1024, in.get())) > 0) {
        if (!copy.Write(block.get(), got))
            return false;
    }
    return std::ferror(in.get()) == 0 && copy.Close();
}

// Single-file mode: the recording becomes base path + ".cpt".
int MakeSingleFile(const char* rawPath, const CaptureNames& names, Making& making) {
    const FinishOptions& options = making.options;
    const std::string capture = names.SingleCapture();
    const bool rawIsCapture = IsSameFile(rawPath, capture.c_str());
    // A recording that is kept where it lies must not be under a name the
    // renderer writes (the bitmap is named after the stem).
    if (options.keepRaw && !rawIsCapture && CaptureNames::WouldBeWritten(rawPath, capture))
        return making.Fail(kFinishRawIsOutput, rawPath);
    if (rawIsCapture) {
        // Used where it lies.
    } else if (options.keepRaw) {
        OutputFile& copy = making.files.Add(capture);
        if (!CopyRecording(rawPath, copy))
            return making.Fail(kFinishCannotStoreSingle, capture, copy.Error());
    } else {
        making.files.AddExisting(rawPath, capture);
    }
    making.out.pageCount = 1;
    OnCaptureFile(capture.c_str(), rawPath, &making);
    return making.failure;
}

int MakePages(const char* rawPath, const char* basePath, Making& making) {
    unsigned kept = 0;
    const int result = SplitIntoPages(rawPath, basePath, making.files, OnCaptureFile, &making,
                                      &kept, &making.out.failedFile, &making.out.error);
    making.out.pageCount = kept;
    if (result != kFinishOk && making.failure == kFinishOk)
        making.failure = result;
    return making.failure;
}

// What the report shows of each page.
std::vector<ReportPage> ReportPages(const FinishOutcome& out) {
    std::vector<ReportPage> pages(out.pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const PageOutcome& page = out.pages[i];
        if (page.renderResult != kRenderOk) {
            pages[i].shown = ReportPage::kNotDrawn;
            pages[i].reason = RenderResultText(page.renderResult);
        } else if (page.empty) {
            pages[i].shown = ReportPage::kEmpty;
        }
    }
    return pages;
}

int Finish(const char* rawPath, const char* basePath, const FinishOptions& options,
           FinishOutcome& out) {
    if (std::strlen(basePath) > kMaxBasePathLength)
        return kFinishPathTooLong;
    const CaptureNames names{std::string(basePath)};
    out.reportPath = names.Report();
    if (options.pdf)
        out.pdfPath = names.Pdf();
    // The words come from the rendering, so only when it is done here.
    const bool text = options.text && !options.onCaptureFile;
    if (text)
        out.textPath = names.Text();
    out.failedFile = rawPath;
    if (names.IsReportFile(rawPath))
        return kFinishRawIsOutput;
    // Without a recording, or with an empty one, nothing changes: a wrong or
    // vanished path must not cost the user an earlier capture.
    std::uintmax_t size = 0;
    if (!RecordingSize(rawPath, size))
        return kFinishCannotOpenRaw;
    if (size == 0) {
        if (!options.keepRaw)
            RemoveFile(rawPath, out.error);
        return kFinishEmpty;
    }
    out.failedFile.clear();

    // The name is held from here until everything is in place.
    NameClaim ownClaim;
    if (!options.claim || !options.claim->Held()) {
        SystemError error;
        switch (ownClaim.Take(names.Claim(), &error)) {
        case NameClaim::kClaimed:
            break;
        case NameClaim::kTaken:
            out.failedFile = names.Claim();
            return kFinishNameInUse;
        case NameClaim::kFailed:
            out.failedFile = names.Claim();
            out.error = error;
            return kFinishCannotClaim;
        }
    }
    Making making(options, out);
    making.text = text;
    making.files.Keep(rawPath);
    const FileIdentity raw = IdentityOf(rawPath);
    if (!options.replace) {
        // The recording itself may lie there, under that name or another.
        for (const std::string& earlier : names.Existing()) {
            if (!(IdentityOf(earlier.c_str()) == raw))
                return making.Fail(kFinishInTheWay, earlier);
        }
    }
    for (const CaptureNames::File& earlier : names.Files()) {
        if (earlier.kind == CaptureFileKind::kOutput && !(IdentityOf(earlier.path.c_str()) == raw))
            making.files.Replace(earlier.path);
    }

    if (options.pdf) {
        PrintoutPdfOptions pdfOptions;
        pdfOptions.paper = options.paper;
        pdfOptions.keep = {rawPath};
        making.pdf = std::make_unique<PrintoutPdf>(making.files.Add(out.pdfPath), pdfOptions);
    }
    const int made = options.singleFile ? MakeSingleFile(rawPath, names, making)
                                        : MakePages(rawPath, basePath, making);
    if (made != kFinishOk)
        return made;

    OutputFile& report = making.files.Add(out.reportPath);
    out.reportResult = WriteHtmlReport(report, basePath, ReportPages(out), options.singleFile);
    if (out.reportResult != kReportOk)
        return making.Fail(kFinishReportFailed, out.reportPath, report.Error());
    if (text) {
        OutputFile& textFile = making.files.Add(out.textPath);
        out.textResult = WriteTextFile(textFile, making.words);
        if (out.textResult != kTextOk)
            return making.Fail(kFinishTextFailed, out.textPath, textFile.Error());
    }
    if (making.pdf) {
        std::string failed;
        SystemError error;
        out.pdfResult = making.pdf->Finish(&failed, &error);
        // No page with a bitmap gives no PDF (and an earlier one goes).
        if (out.pdfResult != kPdfOk && out.pdfResult != kPdfNoPages)
            return making.Fail(kFinishPdfFailed, failed, error);
    }
    if (!making.files.Commit())
        return making.Fail(kFinishCannotPutInPlace, making.files.FailedFile(),
                           making.files.Error());
    out.reportWritten = true;
    out.textWritten = text;
    out.text = std::move(making.words);
    out.pdfWritten = making.pdf && out.pdfResult == kPdfOk;
    // The recording goes only when every byte of it is in the pages.
    if (!options.keepRaw && !options.singleFile)
        RemoveFile(rawPath, out.error);
    return kFinishOk;
}

} // namespace

unsigned FinishOutcome::NotDrawn() const {
    unsigned count = 0;
    for (const PageOutcome& page : pages)
        count += page.renderResult != kRenderOk ? 1 : 0;
    return count;
}

int FinishCapture(const char* rawPath, const char* basePath, const FinishOptions& options,
                  FinishOutcome* outcome) {
    FinishOutcome local;
    FinishOutcome& out = outcome ? *outcome : local;
    out = FinishOutcome{};
    try {
        return Finish(rawPath, basePath, options, out);
    } catch (const std::exception& failure) {
        // Out of memory on the way, or an observer of the files that failed:
        // everything made so far went with the stack.
        out.error = {-1, failure.what()};
    } catch (...) {
        out.error = {-1, "unknown failure"};
    }
    return kFinishNoMemory;
}

} // namespace zav
