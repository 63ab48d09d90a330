#include "capture/capture_files.h"

#include "base/capture_names.h"
#include "base/output_file.h"
#include "base/stdio_file.h"
#include "base/utf8_names.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "render/printout.h"
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

// A page bitmap is handed to the PDF in memory up to this size; a larger page
// is read back from its file.
constexpr std::size_t kMaxPageInMemory = 32u << 20;

// The bytes of a page bitmap as the renderer writes them, for the PDF.
class PageCopy final : public BlockOutput {
  public:
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
        if (tooLarge_ || offset + size > kMaxPageInMemory) {
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
    // The Epson 9-pin model's renderer, and what the report shows of its
    // sheets (one or more a capture file).
    std::unique_ptr<CaptureRenderer> sheets;
    std::vector<ReportPage> sheetPages;
    bool text = false;        // the text file is made
    std::string words;        // its words, page after page
    PageText page;            // the words of the page being drawn
    std::string receivedFile; // a file that is the recording, put in place whole
    FinishResult failure = kFinishOk;

    FinishResult Fail(FinishResult code, const std::string& file, const SystemError& error = {}) {
        failure = code;
        out.failedFile = file;
        out.error = error;
        return code;
    }
};

// The Epson 9-pin model's sheet bitmaps: files of the capture, taken by the
// report and the PDF as they are written.
class SheetCollector final : public SheetObserver {
  public:
    explicit SheetCollector(Making& making) : making_(making) {}
    OutputFile* SheetFile(unsigned, const std::string& bitmapPath) override {
        file_ = &making_.files.Add(bitmapPath);
        return file_;
    }
    BlockOutput* CopyOfSheet(unsigned) override {
        copy_ = making_.pdf ? std::make_unique<PageCopy>() : nullptr;
        return copy_.get();
    }
    TextSink* TextOfSheet(unsigned) override {
        making_.page.Clear();
        return making_.text || making_.pdf ? &making_.page : nullptr;
    }
    void SheetWritten(unsigned, const char* bitmapPath) override {
        making_.out.sheetBitmaps.emplace_back(bitmapPath);
        if (firstSheet_.empty())
            firstSheet_ = bitmapPath;
        ReportPage page;
        page.bitmap = bitmapPath;
        page.readFrom = file_->WorkPath();
        making_.sheetPages.push_back(std::move(page));
        // Each sheet is a page of the text too.
        if (making_.text)
            AppendTextPage(making_.words, making_.page, making_.sheetPages.size() == 1);
        if (making_.pdf)
            making_.pdf->Add(file_->WorkPath(), copy_ ? copy_->Take() : std::vector<std::uint8_t>{},
                             std::exchange(making_.page, PageText{}));
        making_.page.Clear();
    }
    // What failed, after a result of kRenderCannotCreate.
    const OutputFile* LastFile() const { return file_; }
    const std::string& FirstSheet() const { return firstSheet_; }

  private:
    Making& making_;
    OutputFile* file_ = nullptr;
    std::unique_ptr<PageCopy> copy_;
    std::string firstSheet_;
};

// What became of a capture file's sheets, or of the capture's last sheets.
bool TakeSheets(Making& making, PageOutcome& page, const SheetCollector& sheets) {
    if (page.renderResult == kRenderCannotCreate) {
        const OutputFile* file = sheets.LastFile();
        making.Fail(kFinishCannotWriteBitmap, file ? file->Target() : page.capture,
                    file ? file->Error() : SystemError{});
        return false;
    }
    if (page.renderResult != kRenderOk) {
        ReportPage note;
        note.shown = ReportPage::kNotDrawn;
        note.reason = RenderResultText(page.renderResult);
        making.sheetPages.push_back(std::move(note));
        if (making.text)
            AppendTextPage(making.words, PageText{}, making.sheetPages.size() == 1);
    }
    return true;
}

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
    if (making->sheets) {
        SheetCollector sheets(*making);
        page.renderResult = making->sheets->Render(path, &sheets, readFrom);
        page.bitmap = sheets.FirstSheet();
        making->out.pages.push_back(page);
        return TakeSheets(*making, making->out.pages.back(), sheets);
    }
    OutputFile& bitmap = making->files.Add(page.bitmap);
    SharedBytes bytes; // the bitmap's, for the PDF and the record alike
    PageGeometry geometry;
    PageText& text = making->page; // its room is kept from page to page
    text.Clear();
    TextSink* words = making->text || making->pdf ? &text : nullptr;
    page.renderResult =
        making->pdf
            ? RenderCaptureFileShared(readFrom, bitmap, bytes, kMaxPageInMemory, &geometry, words)
            : RenderCaptureFileTo(readFrom, bitmap, nullptr, &geometry, words);
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
            making->pdf->Add(bitmap.WorkPath(), std::move(bytes), std::exchange(text, PageText{}));
    }
    making->out.pages.push_back(page);
    return true;
}

// Size of the recording; false when there is no recording file to read.
bool RecordingSize(const char* path, std::uintmax_t& size) {
    std::error_code error;
    size = std::filesystem::file_size(PathOf(path), error);
    return !error;
}

// Reads the recording whole: into `copy` and `received` (either may be null).
bool ReadRecording(const char* rawPath, OutputFile* copy, record::CaptureRecord* received) {
    UniqueFile in = OpenFile(rawPath, "rb");
    if (!in)
        return false;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[64 * 1024]);
    if (!block)
        return false;
    std::size_t got = 0;
    while ((got = std::fread(block.get(), 1, 64 * 1024, in.get())) > 0) {
        if (received)
            received->Received(block.get(), got);
        if (copy && !copy->Write(block.get(), got))
            return false;
    }
    return std::ferror(in.get()) == 0 && (!copy || copy->Close());
}

// The record that is to take the bytes received from the recording, or null.
record::CaptureRecord* ReceivedFromRecording(const FinishOptions& options) {
    return options.recordReceived ? options.record : nullptr;
}

// Single-file mode: the recording becomes base path + ".cpt".
FinishResult MakeSingleFile(const char* rawPath, const CaptureNames& names, Making& making) {
    const FinishOptions& options = making.options;
    const std::string capture = names.SingleCapture();
    const bool rawIsCapture = IsSameFile(rawPath, capture.c_str());
    // A recording that is kept where it lies must not be under a name the
    // renderer writes (the bitmap is named after the stem).
    if (options.keepRaw && !rawIsCapture && CaptureNames::WouldBeWritten(rawPath, capture))
        return making.Fail(kFinishRawIsOutput, rawPath);
    // The recording itself, where it lies or moved: the bytes received.
    if (rawIsCapture || !options.keepRaw)
        making.receivedFile = capture;
    record::CaptureRecord* received = ReceivedFromRecording(options);
    if (!rawIsCapture && options.keepRaw) {
        OutputFile& copy = making.files.Add(capture);
        if (!ReadRecording(rawPath, &copy, received))
            return making.Fail(kFinishCannotStoreSingle, capture, copy.Error());
    } else {
        // Used where it lies, or moved there.
        if (received && !ReadRecording(rawPath, nullptr, received))
            return making.Fail(kFinishCannotReadRaw, rawPath);
        if (!rawIsCapture)
            making.files.AddExisting(rawPath, capture);
    }
    making.out.pageCount = 1;
    OnCaptureFile(capture.c_str(), rawPath, &making);
    return making.failure;
}

FinishResult MakePages(const char* rawPath, const char* basePath, Making& making) {
    unsigned kept = 0;
    const FinishResult result = SplitIntoPages(
        rawPath, basePath, making.files, OnCaptureFile, &making, &kept, &making.out.failedFile,
        &making.out.error, making.options.printer, ReceivedFromRecording(making.options));
    making.out.pageCount = kept;
    if (result == kFinishOk && making.sheets && !making.options.onCaptureFile &&
        !making.out.pages.empty()) {
        // What the last sheet left on the next one goes to the last page.
        SheetCollector sheets(making);
        PageOutcome& last = making.out.pages.back();
        const int finished = making.sheets->Finish(&sheets);
        if (finished != kRenderOk && last.renderResult == kRenderOk)
            last.renderResult = finished;
        if (!TakeSheets(making, last, sheets))
            return making.failure;
    }
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

FinishResult Finish(const char* rawPath, const char* basePath, const FinishOptions& options,
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
    making.files.Observe(options.record);
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

    // The kept copy of the recording: never over a recording of that name.
    if (options.storeRaw) {
        const std::string kept = names.KeptRaw();
        if (NameInUse(kept))
            return making.Fail(kFinishInTheWay, kept);
        OutputFile& copy = making.files.Add(kept);
        if (!ReadRecording(rawPath, &copy, nullptr))
            return making.Fail(kFinishCannotKeepRaw, kept, copy.Error());
    }
    if (options.pdf) {
        PrintoutPdfOptions pdfOptions;
        pdfOptions.paper = options.paper;
        pdfOptions.keep = {rawPath};
        making.pdf = std::make_unique<PrintoutPdf>(making.files.Add(out.pdfPath), pdfOptions);
    }
    // The Epson 9-pin model renders the page files one after the other on one
    // printer, which keeps its settings from page to page.
    if (options.printer == PrinterModel::Epson9) {
        making.sheets =
            std::make_unique<CaptureRenderer>(PrinterModel::Epson9, !options.singleFile);
        making.sheets->Keep(rawPath);
    }
    const FinishResult made = options.singleFile ? MakeSingleFile(rawPath, names, making)
                                                 : MakePages(rawPath, basePath, making);
    if (made != kFinishOk)
        return made;

    OutputFile& report = making.files.Add(out.reportPath);
    if (making.sheets && !options.onCaptureFile)
        out.pageCount = static_cast<unsigned>(making.sheetPages.size());
    out.reportResult = WriteHtmlReport(
        report, basePath, making.sheets ? making.sheetPages : ReportPages(out), options.singleFile);
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
    if (options.record) {
        options.record->SetPages(out.pageCount);
        if (!making.receivedFile.empty())
            options.record->AddReceivedFile(making.receivedFile);
    }
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

FinishResult FinishCapture(const char* rawPath, const char* basePath, const FinishOptions& options,
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
