#include "render/printout.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/output_file.h"
#include "base/stdio_file.h"
#include "render/epson9.h"
#include "render/page_text.h"
#include "render/renderer.h"

namespace zav {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    }
    return true;
}

// Feeds the whole file `in` to the printer through `block` (kReadBlock
// bytes); `total` receives the bytes read. False on a read error.
bool FeedPrinter(epson9::Printer& printer, std::FILE* in, std::uint8_t* block,
                 std::uint64_t& total) {
    total = 0;
    for (;;) {
        const std::size_t got = std::fread(block, 1, kReadBlock, in);
        if (got == 0)
            break;
        total += got;
        for (std::size_t at = 0; at < got;) {
            at += printer.Read({block + at, got - at});
            printer.TakeEvents();
        }
    }
    return std::ferror(in) == 0;
}

} // namespace

bool ParsePrinterModel(std::string_view name, PrinterModel& model) {
    if (SameWord(name, "basic"))
        model = PrinterModel::Basic;
    else if (SameWord(name, "epson9"))
        model = PrinterModel::Epson9;
    else
        return false;
    return true;
}

const char* PrinterModelName(PrinterModel model) {
    return model == PrinterModel::Epson9 ? "epson9" : "basic";
}

bool PrinterModelOfResolution(const BitmapResolution& resolution, PrinterModel& model) {
    if (resolution == kBasicPageResolution)
        model = PrinterModel::Basic;
    else if (resolution == epson9::kSheetResolution)
        model = PrinterModel::Epson9;
    else
        return false;
    return true;
}

// The Epson 9-pin model: a printer that hands each finished sheet to the
// page bitmap of the capture file being read.
struct CaptureRenderer::Epson9 final : epson9::SheetSink {
    epson9::Printer printer{this, epson9::kKeepDots | epson9::kKeepWords};
    std::unique_ptr<std::uint8_t[]> buffer; // for BottomUpBitmap
    std::size_t bufferSize = 0;
    std::unique_ptr<std::uint8_t[]> block; // for reading the capture
    std::string path;                      // the capture file being read, or read last
    std::string keep;                      // a file no bitmap replaces
    SheetObserver* observer = nullptr;
    SystemError error;                // the reason of the failure, when the system gave one
    std::unique_ptr<OutputBatch> own; // the bitmaps, when the observer does not take them
    unsigned ownSheets = 0;
    unsigned written = 0;
    RenderResult failure = kRenderOk;

    bool Fail(RenderResult result) {
        if (failure == kRenderOk)
            failure = result;
        return false;
    }

    bool Sheet(const epson9::SheetImage& sheet) override {
        if (failure != kRenderOk)
            return false;
        const unsigned index = written + 1;
        char name[kPathBufferSize];
        if (!SheetBitmapName(path, index, name))
            return Fail(kRenderPathTooLong);
        if (IsSameFile(path.c_str(), name) || (!keep.empty() && IsSameFile(keep.c_str(), name)))
            return Fail(kRenderNameClash);
        OutputFile* target = observer ? observer->SheetFile(index, name) : nullptr;
        if (!target) {
            // Rendering a file again replaces its bitmaps, but never the
            // bitmap of another capture file: X-2.bmp beside X-2.cpt is its.
            char other[kPathBufferSize];
            if (index >= 2 && ReplaceExtension(name, "cpt", other) && IsRegularFile(other))
                return Fail(kRenderNameClash);
            if (IsRegularFile(name))
                own->Replace(name);
            target = &own->Add(name);
            ++ownSheets;
        }
        FileBlockOutput file(*target);
        BlockOutput* copy = observer ? observer->CopyOfSheet(index) : nullptr;
        CopyingBlockOutput copying(file, copy ? *copy : file);
        BlockOutput& out = copy ? static_cast<BlockOutput&>(copying) : file;
        BottomUpBitmap bitmap(out, epson9::kSheetWidth, sheet.height, {buffer.get(), bufferSize},
                              epson9::kSheetResolution);
        bool ok = true;
        std::uint64_t blank = 0;
        for (std::uint32_t r = 0; ok && r < sheet.height; ++r) {
            if (r >= sheet.endOfPrint || !sheet.rowHasDots[r]) {
                ++blank;
                continue;
            }
            ok = (blank == 0 || bitmap.BlankRows(blank)) &&
                 bitmap.Row(sheet.rows + static_cast<std::size_t>(r) * epson9::kRowStride);
            blank = 0;
        }
        ok = ok && (blank == 0 || bitmap.BlankRows(blank)) && bitmap.Finish();
        if (!target->Close() || !ok) {
            error = target->Error();
            target->Abandon(); // a cut-off bitmap would pass for a whole sheet
            return Fail(kRenderCannotCreate);
        }
        written = index;
        if (observer) {
            if (TextSink* words = observer->TextOfSheet(index)) {
                for (const TextRun& run : sheet.text)
                    words->Run(run);
            }
            observer->SheetWritten(index, name);
        }
        return true;
    }

    RenderResult Result() const {
        if (failure != kRenderOk)
            return failure;
        return printer.OutOfMemory() ? kRenderNoMemoryForStream : kRenderOk;
    }

    RenderResult Render(const char* capturePath, SheetObserver* sheetObserver, const char* readFrom,
                        bool last) {
        path = capturePath;
        observer = sheetObserver;
        written = 0;
        failure = kRenderOk;
        error = {};
        Begin();
        printer.Resume();
        char first[kPathBufferSize];
        if (!SheetBitmapName(path, 1, first))
            return kRenderPathTooLong;
        if (IsSameFile(capturePath, first))
            return kRenderNameClash;
        if (!buffer) {
            bufferSize = BottomUpBitmap::BufferBytesFor(epson9::kSheetWidth / 8, UINT32_MAX);
            buffer.reset(new (std::nothrow) std::uint8_t[bufferSize]);
            block.reset(new (std::nothrow) std::uint8_t[kReadBlock]);
            if (!buffer || !block) {
                buffer.reset();
                return kRenderNoMemoryForStream;
            }
        }
        UniqueFile in = OpenFile(readFrom ? readFrom : capturePath, "rb");
        if (!in) {
            error = LastErrnoError();
            return kRenderCannotOpen;
        }
        std::uint64_t total = 0;
        if (!FeedPrinter(printer, in.get(), block.get(), total) || total == 0) {
            if (total != 0)
                error = LastErrnoError();
            own.reset();
            written = ownSheets != 0 ? 0 : written;
            return kRenderCannotRead; // nothing of it is drawn
        }
        printer.EndOfFile();
        if (last)
            printer.Finish();
        return End();
    }

    // The bitmaps of one capture file (or of the capture's end) are put in
    // place together, unless the observer does.
    void Begin() {
        own = std::make_unique<OutputBatch>();
        ownSheets = 0;
        if (!keep.empty())
            own->Keep(keep);
        own->Keep(path);
    }
    RenderResult End() {
        RenderResult result = Result();
        if (result == kRenderOk && !own->Commit()) {
            error = own->Error();
            result = kRenderCannotCreate;
        }
        own.reset(); // a failure leaves no bitmap of it
        if (result != kRenderOk && ownSheets != 0)
            written = 0;
        return result;
    }

    // The end of the capture: what is left goes to the last file's bitmaps.
    RenderResult Finish(SheetObserver* sheetObserver) {
        observer = sheetObserver;
        failure = kRenderOk;
        error = {};
        Begin();
        printer.Resume();
        printer.Finish();
        return End();
    }
};

CaptureRenderer::CaptureRenderer(PrinterModel model, bool continuing)
    : model_(model), continuing_(continuing) {}

CaptureRenderer::~CaptureRenderer() = default;

namespace {

// The basic model's one bitmap, handed to the observer as sheet 1.
RenderResult RenderBasic(const char* path, SheetObserver* observer, const char* readFrom,
                         SystemError& error) {
    char bitmap[kPathBufferSize];
    if (!SheetBitmapName(path, 1, bitmap))
        return kRenderPathTooLong;
    OutputFile* given = observer ? observer->SheetFile(1, bitmap) : nullptr;
    BlockOutput* copy = observer ? observer->CopyOfSheet(1) : nullptr;
    TextSink* text = observer ? observer->TextOfSheet(1) : nullptr;
    RenderResult result = kRenderOk;
    if (given) {
        if (IsSameFile(path, bitmap))
            return kRenderNameClash;
        result = RenderCaptureFileTo(readFrom ? readFrom : path, *given, copy, nullptr, text);
        if (result != kRenderOk) {
            error = given->Error();
            given->Abandon();
        }
    } else {
        result = RenderCaptureFile(path, copy, text, &error);
    }
    if (result == kRenderOk && observer)
        observer->SheetWritten(1, bitmap);
    return result;
}

} // namespace

namespace {

// The words of each sheet, one page after the other.
struct SheetWords final : epson9::SheetSink {
    std::vector<PageText>& pages;
    explicit SheetWords(std::vector<PageText>& out) : pages(out) {}
    bool Sheet(const epson9::SheetImage& sheet) override {
        PageText& page = pages.emplace_back();
        for (const TextRun& run : sheet.text)
            page.Run(run);
        return true;
    }
};

} // namespace

RenderResult ReadCaptureWords(PrinterModel model, const char* path, std::vector<PageText>& pages,
                              SystemError* error) {
    pages.clear();
    try {
        if (model == PrinterModel::Basic) {
            pages.resize(1);
            return ReadCaptureText(path, pages[0]);
        }
        UniqueFile in = OpenFile(path, "rb");
        if (!in) {
            if (error)
                *error = LastErrnoError();
            return kRenderCannotOpen;
        }
        SheetWords words(pages);
        epson9::Printer printer(&words, epson9::kKeepWords);
        const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kReadBlock]);
        std::uint64_t total = 0;
        const bool read = FeedPrinter(printer, in.get(), block.get(), total);
        if (!read || total == 0) {
            if (!read && error)
                *error = LastErrnoError();
            pages.assign(1, PageText{});
            return kRenderCannotRead;
        }
        printer.EndOfFile();
        printer.Finish();
        return kRenderOk;
    } catch (const std::bad_alloc&) {
        pages.clear();
        return kRenderNoMemoryForStream;
    }
}

void CaptureRenderer::Keep(std::string path) {
    keep_ = std::move(path);
}

RenderResult CaptureRenderer::Render(const char* path, SheetObserver* observer,
                                     const char* readFrom) {
    sheets_ = 0;
    error_ = {};
    if (model_ == PrinterModel::Basic) {
        const RenderResult result = RenderBasic(path, observer, readFrom, error_);
        sheets_ = result == kRenderOk ? 1 : 0;
        return result;
    }
    try {
        if (!epson9_)
            epson9_ = std::make_unique<Epson9>();
        else if (!continuing_)
            epson9_->printer.Reset();
        epson9_->keep = keep_;
        if (epson9_->printer.OutOfMemory()) {
            epson9_.reset();
            return kRenderNoMemoryForStream;
        }
        const RenderResult result = epson9_->Render(path, observer, readFrom, !continuing_);
        sheets_ = epson9_->written;
        error_ = epson9_->error;
        return result;
    } catch (const std::bad_alloc&) {
        sheets_ = epson9_ ? epson9_->written : 0;
        epson9_.reset(); // its sheet may be half drawn: the next file starts afresh
        return kRenderNoMemoryForStream;
    }
}

RenderResult CaptureRenderer::Finish(SheetObserver* observer) {
    if (!epson9_ || !continuing_)
        return kRenderOk;
    const unsigned before = epson9_->written;
    try {
        const RenderResult result = epson9_->Finish(observer);
        sheets_ += epson9_->written - before;
        error_ = epson9_->error;
        return result;
    } catch (const std::bad_alloc&) {
        return kRenderNoMemoryForStream;
    }
}

} // namespace zav
