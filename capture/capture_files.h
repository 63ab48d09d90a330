// File side of a capture session: the base path every file of one capture
// derives from, and the finishing step that turns a raw recording into capture
// files (one file, or one file per page cut at form feeds), their page bitmaps
// and the HTML report.
#pragma once

#include "base/capture_names.h"
#include "base/paths.h"
#include "report/pdf_writer.h"

#include <cstddef>
#include <string>
#include <vector>

namespace zav {

// Results of FinishCapture (the first three as MakeBasePath gives them).
enum FinishResult : int {
    kFinishOk = kBasePathOk,
    kFinishPathTooLong = kBasePathTooLong, // the base path (or a page file name) does not fit
    kFinishNoName = kBasePathNoName,       // the capture file name is empty
    kFinishCannotOpenRaw = -3,             // the raw recording cannot be opened
    kFinishCannotReadRaw = -4,             // the raw recording could not be read to its end
    kFinishCannotCreatePage = -5,          // a page capture file cannot be created
    kFinishCannotWritePage = -6,           // a write to a page capture file failed
    kFinishCannotStoreSingle = -7,         // single-file mode: the capture file cannot be made
    kFinishRawIsOutput = -8,  // the raw recording would be overwritten by an output file
    kFinishReportFailed = -9, // everything but the report was made
    kFinishPdfFailed = -10,   // everything but the PDF asked for was made
    kFinishTextFailed = -11   // everything but the text file was made
};

// Called with the path of each capture file as soon as it is complete.
using PageCompleteFn = void (*)(const char* capturePath, void* context);
using PageRenderedFn = void (*)(const char* capturePath, int renderResult, void* context);

// Page mode without rendering and report: copies the raw recording into base
// path + "001.cpt", "002.cpt", ... cutting after every form feed (ESC and the
// byte after it are copied without looking at them; ESC "K" with its count and
// data is copied whole; a single byte left after a form feed is dropped). An
// empty last page is not kept. `onPage` (may be null) is called for each page
// kept, in order. `*pagesKept` receives the number of complete page files kept,
// also on failure; `*failedFile` (may be null) the file that failed. The raw
// recording is never changed or deleted here; a page file left incomplete by
// a failure is removed.
int SplitIntoPages(const char* rawPath, const char* basePath, PageCompleteFn onPage, void* context,
                   unsigned* pagesKept, std::string* failedFile = nullptr);

struct FinishOptions {
    bool singleFile = false; // one capture file (base path + ".cpt") instead of pages
    bool keepRaw = false;    // leave the raw recording in place (never deleted or renamed)
    // What to do with each complete capture file; null renders it
    // (RenderCaptureFile), which writes its page bitmap beside it.
    PageCompleteFn onCaptureFile = nullptr;
    // When the capture files are rendered here: told of each, with
    // RenderCaptureFile's result.
    PageRenderedFn onPageRendered = nullptr;
    void* context = nullptr;
    // Also write base path + ".pdf" from the page bitmaps, made beside the
    // rendering and finished after the report.
    bool pdf = false;
    PdfPaper paper = PdfPaper::A4;
    // Also write base path + ".txt", the printout's words, taken from the
    // rendering (so only when the capture files are rendered here).
    bool text = true;
};

struct FinishOutcome {
    std::vector<std::string> captureFiles; // capture files kept, in page order
    unsigned pageCount = 0;                // the page count given to the report
    bool reportWritten = false;
    int reportResult = 0;   // WriteHtmlReport's result, when it ran
    std::string reportPath; // base path + ".html"
    bool pdfWritten = false;
    int pdfResult = 0;   // a PdfResult, when a PDF was asked for
    std::string pdfPath; // base path + ".pdf", when one was asked for
    bool textWritten = false;
    int textResult = 0;     // a TextFileResult, when a text file was asked for
    std::string textPath;   // base path + ".txt", when one was asked for
    std::string failedFile; // the file that could not be made or read, on failure
};

// The finishing step of a capture session: turns the raw recording at
// `rawPath` into the capture files of `basePath`, has each rendered as soon as
// it is complete, then writes the report (also for an empty recording).
//
// Single-file mode: base path + ".cpt" is replaced by the recording (renamed,
// or copied when keepRaw); an empty recording gives no capture file.
// Page mode: as SplitIntoPages. In either mode, when the raw recording cannot
// be opened, nothing is made or removed (kFinishCannotOpenRaw).
//
// On a failure to create or write a capture file, the step stops, keeps the
// raw recording whatever keepRaw says, writes the report for the pages that
// were complete, and returns the failure. `outcome` may be null.
//
// With `text`, the words of each page are taken as it is drawn, and the text
// file is written after the report (for the pages that were complete; an
// empty file when there is none); one that cannot be written gives
// kFinishTextFailed when nothing else failed.
//
// With `pdf`, each page bitmap goes into the PDF as soon as it is rendered
// (on a thread of its own), with its words over it, and the PDF is finished
// after the report (for the pages that were complete; none when there is no
// page). A PDF that cannot be written leaves no PDF of that name behind and
// gives kFinishPdfFailed when nothing else failed.
int FinishCapture(const char* rawPath, const char* basePath, const FinishOptions& options,
                  FinishOutcome* outcome);

// Plain-words text of a FinishResult, for messages to the user.
const char* FinishResultText(int result);

} // namespace zav
