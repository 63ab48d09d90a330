// The PDF of a capture: NAME.pdf beside its page bitmaps, one PDF page per
// page bitmap in page order, with the title "ZAV Print - NAME". It is
// written as an output file (base/output_file.h), so a failure never leaves
// a cut-off NAME.pdf. No exception leaves it: any failure is its result.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/sys_error.h"
#include "render/page_bitmap.h"
#include "render/page_text.h"
#include "report/pdf_writer.h"

namespace zav {

class OutputFile;

enum PdfResult : int {
    kPdfOk = 0,
    kPdfNoPages = -1,      // no page bitmap to put in it; nothing was written
    kPdfBadBitmap = -2,    // a page bitmap cannot be read or is no 1-bit BMP
    kPdfWouldReplace = -3, // the PDF's name is that of a file that must stay
    kPdfCannotCreate = -4, // no work file can be created in the PDF's folder
    kPdfCannotWrite = -5,  // writing or renaming into place failed
};

// Plain-words text of a PdfResult, for messages to the user.
const char* PdfResultText(int result);

// The pixels of a page bitmap, top row first.
struct PageBitmapPixels {
    std::uint32_t width = 0;        // dots
    std::uint32_t height = 0;       // rows
    std::size_t stride = 0;         // (width + 7) / 8 bytes per row
    std::vector<std::uint8_t> rows; // height * stride bytes
    bool setBitIsBlack = true;      // from the palette: which bit value is the darker colour
    PrintedPitch pitch;             // from the header's resolution
};

// Reads a 1-bit uncompressed BMP (rows bottom-up as the renderer writes them,
// or top-down) with bounds checks on every field. False when the file cannot
// be read or is anything else.
bool ReadPageBitmap(const char* path, PageBitmapPixels& out);
// The same for the bytes of such a file.
bool ParsePageBitmap(std::span<const std::uint8_t> file, PageBitmapPixels& out);
// The same checks, the rows left where they lie in `file` (`view` points
// into it).
bool ViewPageBitmap(std::span<const std::uint8_t> file, PdfImage& view);

struct PrintoutPdfOptions {
    PdfPaper paper = PdfPaper::A4;
    // Files the PDF must never replace (the raw recording, the capture file):
    // when the PDF's name is one of them, nothing is written.
    std::vector<std::string> keep;
    // Threads that read and compress the pages; 0: one fewer than the
    // processors (the rendering has one), at least one. kNoWorkers makes
    // every page on the thread that adds it, as when no thread can start.
    unsigned workers = 0;
    static constexpr unsigned kNoWorkers = ~0u;
};

// A PDF made while its page bitmaps are still being rendered: a worker thread
// reads and compresses each bitmap handed to Add, in the order given, so the
// PDF costs little more time than the rendering it runs beside. Finish waits
// for the last page and puts the PDF in place. Nothing is created before the
// first page comes, and a PDF left unfinished (destroyed without Finish)
// leaves no work file behind.
class PrintoutPdf {
  public:
    PrintoutPdf(std::string pdfPath, PrintoutPdfOptions options);
    // Writes into `out`: Finish closes it, and the caller puts it in place.
    PrintoutPdf(OutputFile& out, PrintoutPdfOptions options);
    ~PrintoutPdf();
    PrintoutPdf(const PrintoutPdf&) = delete;
    PrintoutPdf& operator=(const PrintoutPdf&) = delete;

    // The next page: the bitmap must be whole on disk when this is called.
    // `bytes`, when not empty, are the bitmap file's bytes, used instead of
    // reading it back; `text` is the page's text, put over it. After a
    // failure further pages are ignored.
    void Add(const std::string& bitmap, std::vector<std::uint8_t> bytes = {}, PageText text = {});
    // The same with bytes that others read too (nothing here changes them).
    void Add(const std::string& bitmap, SharedBytes bytes, PageText text = {});
    // A PdfResult, as WritePrintoutPdf gives it; call once. `error` (may be
    // null) receives the system's reason of a failed write.
    PdfResult Finish(std::string* failedFile = nullptr, SystemError* error = nullptr);

  private:
    struct Work;
    std::unique_ptr<Work> work_;
};

// Writes `pdfPath` with one page per bitmap of `bitmaps`, in that order, the
// text of each from `texts` (by index, when there) over it; an existing PDF
// of that name is replaced only by a whole new one. The title names the
// PDF's file name without its extension. On failure `*failedFile` (may be
// null) receives the file at fault.
PdfResult WritePrintoutPdf(const std::string& pdfPath, const std::vector<std::string>& bitmaps,
                           const PrintoutPdfOptions& options, std::string* failedFile = nullptr,
                           const std::vector<PageText>& texts = {});

} // namespace zav
