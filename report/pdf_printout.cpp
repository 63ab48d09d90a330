#include "report/pdf_printout.h"

#include "base/bmp.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/stdio_file.h"
#include "render/page_text.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#ifndef ZAV_VERSION_TEXT
#define ZAV_VERSION_TEXT "unknown"
#endif

namespace zav {

namespace {

namespace fs = std::filesystem;

// The workers are woken a few pages at a time: a wake-up for every small page
// costs the rendering thread more than the page itself.
constexpr std::size_t kPagesPerWake = 8;
constexpr std::size_t kBytesPerWake = 1u << 20;
// Bitmap bytes waiting in memory at most; beyond, pages are read back.
constexpr std::size_t kMaxQueuedBytes = 64u << 20;

// Page bitmaps as the renderer writes them: any length a BMP can hold, a
// page with nothing on it, and the rows exactly where the header says.
// A page of the renderer is at most 65536 dots wide.
constexpr BmpLimits kPageBitmapLimits{
    .maxWidth = 65536, .emptyAllowed = true, .bitsInsideTableAllowed = false};

bool IsAnyOf(const std::string& path, const std::vector<std::string>& files) {
    for (const std::string& file : files) {
        if (IsSameFile(path.c_str(), file.c_str()))
            return true;
    }
    return false;
}

} // namespace

const char* PdfResultText(int result) {
    switch (result) {
    case kPdfOk:
        return "written";
    case kPdfNoPages:
        return "no pages to put in a PDF";
    case kPdfBadBitmap:
        return "a page bitmap cannot be read";
    case kPdfWouldReplace:
        return "the PDF would replace a file that must stay";
    case kPdfCannotCreate:
        return "the PDF cannot be created";
    case kPdfCannotWrite:
        return "the PDF cannot be written";
    default:
        return "unknown failure";
    }
}

bool ReadPageBitmap(const char* path, PageBitmapPixels& out) {
    FileBytes file;
    {
        UniqueFile in = OpenFile(path, "rb");
        if (!in || ReadWholeFile(in.get(), file) != ReadWholeResult::Ok) {
            out = PageBitmapPixels{};
            return false;
        }
    }
    return ParsePageBitmap({file.data.get(), file.size}, out);
}

bool ViewPageBitmap(std::span<const std::uint8_t> file, PdfImage& view) {
    view = PdfImage{};
    const std::optional<DibLayout> layout = ParseBitmapFile(file, kPageBitmapLimits);
    if (!layout || layout->bitCount != 1 || layout->core || layout->colorCount != 2)
        return false;
    const std::span<const std::uint8_t> block = file.subspan(kBitmapFileHeaderSize);
    // The darker palette entry is the ink.
    const auto luma = [](DibRgb c) { return 114u * c.blue + 587u * c.green + 299u * c.red; };
    view.setBitIsBlack = luma(DibColor(block, *layout, 1)) <= luma(DibColor(block, *layout, 0));
    view.width = static_cast<std::uint32_t>(layout->width);
    view.height = layout->Rows();
    view.stride = layout->stride;
    view.rows = block.data() + layout->bitsOffset;
    view.bottomUp = layout->height > 0;
    // The dot pitch on paper, from the information header's resolution.
    if (layout->headerSize >= kInfoHeaderSize) {
        const auto le32 = [&](std::size_t at) {
            return block[at] | block[at + 1] << 8 | block[at + 2] << 16 |
                   static_cast<std::uint32_t>(block[at + 3]) << 24;
        };
        const PrintedPitch pitch = PrintedPitchOf({le32(24), le32(28)}); // biX/YPelsPerMeter
        view.dotsPerInch = pitch.dotsPerInch;
        view.rowsPerInch = pitch.rowsPerInch;
    }
    return true;
}

bool ParsePageBitmap(std::span<const std::uint8_t> file, PageBitmapPixels& out) {
    out.width = out.height = 0;
    out.stride = 0;
    out.rows.clear();
    PdfImage view;
    if (!ViewPageBitmap(file, view))
        return false;
    out.setBitIsBlack = view.setBitIsBlack;
    out.pitch = {view.dotsPerInch, view.rowsPerInch};
    out.width = view.width;
    out.height = view.height;
    out.stride = (static_cast<std::size_t>(view.width) + 7) / 8;
    if (out.width == 0 || out.height == 0)
        return true;
    out.rows.resize(out.stride * out.height);
    for (std::uint32_t r = 0; r < out.height; ++r) {
        const std::uint32_t stored = view.bottomUp ? out.height - 1 - r : r;
        std::copy_n(view.rows + static_cast<std::size_t>(stored) * view.stride, out.stride,
                    out.rows.begin() + static_cast<std::ptrdiff_t>(r * out.stride));
    }
    return true;
}

// What one thread needs to turn page bitmaps into PDF images.
struct PageMaker {
    PdfCompressor compressor;
    PageBitmapPixels pixels;
};

// A page as it goes into the PDF.
struct MadePage {
    PdfPageImage image;
    PdfPageText text;
};

struct PrintoutPdf::Work {
    std::string pdfPath;
    PrintoutPdfOptions options;
    std::unique_ptr<OutputFile> own; // the PDF, when this object puts it in place
    OutputFile* out = nullptr;
    std::unique_ptr<PdfWriter> writer;      // made with the first page
    std::vector<std::string> bitmaps;       // every page added, in order
    std::unique_ptr<PageMaker> inlineMaker; // for pages made without a worker
    bool finished = false;

    std::mutex mutex; // guards what follows
    std::condition_variable wake;
    struct Page {
        std::size_t index;
        std::string bitmap;
        SharedBytes bytes; // the bitmap file's, when given
        PageText text;
    };
    std::deque<Page> queue;               // pages to make
    std::size_t queuedBytes = 0;          // their bitmap bytes
    std::map<std::size_t, MadePage> made; // pages made, waiting for their turn
    std::size_t nextToWrite = 0;
    bool writing = false; // a thread is writing pages out
    bool closing = false;
    PdfResult result = kPdfOk;
    std::string failed;
    std::vector<std::thread> workers;

    void Fail(PdfResult code, const std::string& file) {
        std::lock_guard<std::mutex> lock(mutex);
        if (result == kPdfOk) {
            result = code;
            failed = file;
        }
    }
    int Result() {
        std::lock_guard<std::mutex> lock(mutex);
        return result;
    }

    // Creates the work file and starts the workers; false on failure.
    bool Begin() {
        if (IsAnyOf(pdfPath, options.keep)) {
            Fail(kPdfWouldReplace, pdfPath);
            return false;
        }
        if (!out->Create()) {
            Fail(kPdfCannotCreate, pdfPath);
            return false;
        }
        writer = std::make_unique<PdfWriter>(*out, options.paper);
        // The pages are rendered on one processor; the others make the PDF.
        const unsigned processors = std::thread::hardware_concurrency();
        const unsigned count = options.workers == PrintoutPdfOptions::kNoWorkers ? 0
                               : options.workers
                                   ? options.workers
                                   : std::clamp(processors > 1 ? processors - 1 : 1u, 1u, 3u);
        try {
            while (workers.size() < count)
                workers.emplace_back([this] { Run(); });
        } catch (const std::system_error&) {
            // Fewer threads, or none: then the pages are made as they come.
        }
        return true;
    }

    // Reads and compresses page `index`, then writes out what is due.
    void MakePage(const Page& page, PageMaker& maker) {
        if (Result() != kPdfOk)
            return;
        MadePage made;
        try {
            // The bitmap's bytes are compressed where they lie; a bitmap
            // read back from its file is read whole first.
            PdfImage pixels;
            bool read = false;
            if (page.bytes && !page.bytes->empty()) {
                read = ViewPageBitmap(*page.bytes, pixels);
            } else if ((read = ReadPageBitmap(page.bitmap.c_str(), maker.pixels))) {
                const PageBitmapPixels& bitmap = maker.pixels;
                pixels.width = bitmap.width;
                pixels.height = bitmap.height;
                pixels.stride = bitmap.stride;
                pixels.rows = bitmap.rows.data();
                pixels.setBitIsBlack = bitmap.setBitIsBlack;
                pixels.dotsPerInch = bitmap.pitch.dotsPerInch;
                pixels.rowsPerInch = bitmap.pitch.rowsPerInch;
            }
            if (!read) {
                Fail(kPdfBadBitmap, page.bitmap);
                return;
            }
            if (!maker.compressor.Compress(pixels, made.image) ||
                !maker.compressor.CompressText(page.text, pixels.width, pixels.height,
                                               options.paper, made.text, pixels.dotsPerInch,
                                               pixels.rowsPerInch)) {
                Fail(kPdfCannotWrite, pdfPath);
                return;
            }
        } catch (...) {
            // Out of memory on a huge page: no exception leaves a worker.
            Fail(kPdfCannotWrite, pdfPath);
            return;
        }
        WriteDue(page.index, std::move(made));
    }

    // Pages go into the file in page order, written by whichever thread
    // finds the next one made.
    void WriteDue(std::size_t index, MadePage&& page) {
        std::unique_lock<std::mutex> lock(mutex);
        made.emplace(index, std::move(page));
        if (writing)
            return; // the writing thread finds it
        writing = true;
        while (result == kPdfOk) {
            const auto next = made.find(nextToWrite);
            if (next == made.end())
                break;
            const MadePage page = std::move(next->second);
            made.erase(next);
            ++nextToWrite;
            lock.unlock();
            const bool ok = writer->AddPage(page.image, &page.text);
            lock.lock();
            if (!ok && result == kPdfOk) {
                result = kPdfCannotWrite;
                failed = pdfPath;
            }
        }
        writing = false;
    }

    void Run() {
        try {
            PageMaker maker;
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                wake.wait(lock, [this] { return closing || !queue.empty(); });
                if (queue.empty())
                    return;
                const Page page = std::move(queue.front());
                queue.pop_front();
                queuedBytes -= page.bytes ? page.bytes->size() : 0;
                lock.unlock();
                MakePage(page, maker);
                lock.lock();
            }
        } catch (...) {
            Fail(kPdfCannotWrite, pdfPath);
        }
    }

    // Lets the workers make what they were given and end.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closing = true;
        }
        wake.notify_all();
        for (std::thread& worker : workers)
            worker.join();
        workers.clear();
    }
};

PrintoutPdf::PrintoutPdf(std::string pdfPath, PrintoutPdfOptions options)
    : work_(std::make_unique<Work>()) {
    work_->own = std::make_unique<OutputFile>(pdfPath);
    work_->out = work_->own.get();
    work_->pdfPath = std::move(pdfPath);
    work_->options = std::move(options);
}

PrintoutPdf::PrintoutPdf(OutputFile& out, PrintoutPdfOptions options)
    : work_(std::make_unique<Work>()) {
    work_->out = &out;
    work_->pdfPath = out.Target();
    work_->options = std::move(options);
}

PrintoutPdf::~PrintoutPdf() {
    Work& w = *work_;
    if (w.finished)
        return;
    w.Fail(kPdfCannotWrite, w.pdfPath); // the pages still queued are not written
    w.Stop();
    w.writer.reset();
    if (w.own)
        w.own->Abandon();
}

void PrintoutPdf::Add(const std::string& bitmap, std::vector<std::uint8_t> bytes, PageText text) {
    SharedBytes shared;
    try {
        if (!bytes.empty())
            shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    } catch (const std::bad_alloc&) {
        // read back from its file
    }
    Add(bitmap, std::move(shared), std::move(text));
}

void PrintoutPdf::Add(const std::string& bitmap, SharedBytes bytes, PageText text) {
    Work& w = *work_;
    if (w.finished || w.Result() != kPdfOk)
        return;
    try {
        if (!w.writer && !w.Begin())
            return;
        w.bitmaps.push_back(bitmap);
        const std::size_t index = w.bitmaps.size() - 1;
        if (w.workers.empty()) {
            if (!w.inlineMaker)
                w.inlineMaker = std::make_unique<PageMaker>();
            w.MakePage({index, bitmap, std::move(bytes), std::move(text)}, *w.inlineMaker);
            return;
        }
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(w.mutex);
            if (bytes && w.queuedBytes + bytes->size() > kMaxQueuedBytes)
                bytes = {};
            w.queuedBytes += bytes ? bytes->size() : 0;
            w.queue.push_back({index, bitmap, std::move(bytes), std::move(text)});
            wake = w.queue.size() >= kPagesPerWake || w.queuedBytes >= kBytesPerWake;
        }
        if (wake)
            w.wake.notify_one();
    } catch (...) {
        // Out of memory, or a file's observer that failed: the PDF fails,
        // and the caller carries on.
        w.Fail(kPdfCannotWrite, w.pdfPath);
    }
}

PdfResult PrintoutPdf::Finish(std::string* failedFile, SystemError* error) {
    Work& w = *work_;
    std::string unused;
    std::string& failed = failedFile ? *failedFile : unused;
    if (w.finished)
        return kPdfCannotWrite; // finished before
    PdfResult result = kPdfOk;
    try {
        w.Stop();
        w.finished = true;
        {
            std::lock_guard<std::mutex> lock(w.mutex);
            result = w.result;
            failed = w.failed;
        }
        if (result == kPdfOk && w.bitmaps.empty())
            return kPdfNoPages; // nothing was created
        if (result == kPdfOk) {
            const std::string_view name =
                std::string_view(w.pdfPath).substr(FileNameOffset(w.pdfPath));
            PdfDocumentInfo info;
            info.title = "ZAV Print - ";
            info.title += name.substr(0, name.rfind('.'));
            info.producer = "ZAV Print Utility " ZAV_VERSION_TEXT;
            info.created = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
            if (!w.writer->Finish(info))
                result = kPdfCannotWrite;
        }
        w.writer.reset();
        w.inlineMaker.reset();
        if (!w.out->Close() && result == kPdfOk)
            result = kPdfCannotWrite;
        // Checked just before the PDF takes its name: it must never take the
        // place of a file that has to stay.
        if (result == kPdfOk && w.own &&
            (IsAnyOf(w.pdfPath, w.options.keep) || IsAnyOf(w.pdfPath, w.bitmaps)))
            result = kPdfWouldReplace;
        if (result == kPdfOk && w.own && !w.own->Commit())
            result = kPdfCannotWrite;
    } catch (...) {
        w.finished = true;
        result = kPdfCannotWrite;
    }
    if (result != kPdfOk) {
        if (w.own)
            w.own->Abandon();
        if (failed.empty())
            failed = w.pdfPath;
        if (error && w.out->Failed())
            *error = w.out->Error();
    }
    return result;
}

PdfResult WritePrintoutPdf(const std::string& pdfPath, const std::vector<std::string>& bitmaps,
                           const PrintoutPdfOptions& options, std::string* failedFile,
                           const std::vector<PageText>& texts) {
    if (failedFile)
        failedFile->clear();
    if (bitmaps.empty())
        return kPdfNoPages;
    PrintoutPdf pdf(pdfPath, options);
    for (std::size_t i = 0; i < bitmaps.size(); ++i)
        pdf.Add(bitmaps[i], SharedBytes{}, i < texts.size() ? texts[i] : PageText{});
    return pdf.Finish(failedFile);
}

} // namespace zav
