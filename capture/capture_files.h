// File side of a capture session: the base path every file of one capture
// derives from, and the finishing step that turns a raw recording into capture
// files (one file, or one file per page cut at form feeds), their page bitmaps
// and the HTML report.
//
// The finishing step is the one owner of a capture's files. It holds the
// capture's name by its claim while it works, writes every file under a work
// name, and puts them all in place together once all are whole: then, and
// only when replacing was asked for, the files of an earlier capture of the
// name (by kOwnFiles: never a recording, never another capture's) go.
// Anything that cannot be written whole (a full disk, a file-size limit)
// changes nothing, and the recording stays.
#pragma once

#include "base/capture_names.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/sys_error.h"
#include "record/capture_record.h"
#include "render/printout.h"
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
    kFinishReportFailed = -9, // the report could not be written: nothing was changed
    kFinishPdfFailed = -10,   // the PDF asked for could not be written: nothing was changed
    kFinishEmpty = -11,       // the recording is empty: nothing was changed
    kFinishInTheWay = -12,  // files of an earlier capture of the name, and no leave to replace them
    kFinishNameInUse = -13, // another process holds the name (its claim file) while it makes it
    kFinishCannotClaim = -14,           // no file can be made in the capture's folder
    kFinishCannotWriteBitmap = -15,     // a page bitmap could not be written
    kFinishCannotPutInPlace = -16,      // the files could not take their names: nothing was changed
    kFinishNoMemory = -17,              // not enough memory, or another failure on the way
    kFinishTextFailed = -18,            // the text file could not be written: nothing was changed
    kFinishCannotKeepRaw = -19,         // the copy base path + ".raw" could not be written
    kFinishNotAName = kBasePathNotAName // the capture's name holds a folder separator
};

// Called with each capture file as soon as it is complete: its name, and
// where its bytes are until it takes that name. Returning false stops.
using PageCompleteFn = bool (*)(const char* capturePath, const char* readFrom, void* context);

// Page mode without rendering and report: copies the raw recording into new
// files of `batch` named base path + "001.cpt", "002.cpt", ... cutting after
// every form feed (ESC and the byte after it are copied without looking at
// them; ESC "K" with its count and data is copied whole; a single byte left
// after a form feed is dropped). An empty last page is not kept. `onPage`
// (may be null) is called for each page kept, in order. `*pagesKept`
// receives the number of complete page files kept, also on failure;
// `*failedFile` and `*error` (may be null) the file that failed and why. The
// raw recording is never changed or deleted here; the caller puts the pages
// in place (OutputBatch::Commit) or lets them go.
// The Epson 9-pin model cuts where its sheets end instead (epson9::PageCuts):
// each page file holds one printed sheet (more only when one command ends
// several), no byte is dropped, and no command is cut, whatever its data holds.
// `received` (may be null) is given every byte of the recording as it is read
// (CaptureRecord::Received), all of them when the split succeeds.
FinishResult SplitIntoPages(const char* rawPath, const char* basePath, OutputBatch& batch,
                            PageCompleteFn onPage, void* context, unsigned* pagesKept,
                            std::string* failedFile = nullptr, SystemError* error = nullptr,
                            PrinterModel printer = PrinterModel::Basic,
                            record::CaptureRecord* received = nullptr);

struct FinishOptions {
    bool singleFile = false; // one capture file (base path + ".cpt") instead of pages
    bool keepRaw = false;    // leave the raw recording in place (never deleted or renamed)
    // What to do with each complete capture file; null renders it into its
    // page bitmap beside it.
    PageCompleteFn onCaptureFile = nullptr;
    void* context = nullptr;
    // Also write base path + ".pdf" from the page bitmaps, made beside the
    // rendering and finished after the report.
    bool pdf = false;
    PdfPaper paper = PdfPaper::A4;
    // Also write base path + ".txt", the printout's words, taken from the
    // rendering (so only when the capture files are rendered here).
    bool text = true;
    // The files of an earlier capture of the name may be replaced; without
    // this they are in the way.
    bool replace = false;
    // The name's claim, when the caller holds it already (a session does
    // from its start); else the step claims the name for itself.
    NameClaim* claim = nullptr;
    // The printer model that renders the capture files; with the Epson 9-pin
    // model the page files continue the printer's settings from one to the
    // next, as they did on paper.
    PrinterModel printer = PrinterModel::Basic;
    // Also keep the bytes of the recording whole as base path + ".raw" (a
    // copy, put in place with the other files; never over a file of that
    // name, which is a recording too).
    bool storeRaw = false;
    // The capture's record: every file the step writes is hashed as it is
    // written, the files put in place whole are listed in it and the others
    // named as missing. The caller feeds it the bytes received (or leaves
    // that to the step: recordReceived) and writes it once the step is over.
    // Null: no record.
    record::CaptureRecord* record = nullptr;
    // The recording holds the bytes received, which the record did not take
    // as they came: the step gives it every byte as it reads them.
    bool recordReceived = false;
};

// What became of one page.
struct PageOutcome {
    std::string capture;  // its capture file
    std::string bitmap;   // its page bitmap; empty when none was made
    int renderResult = 0; // a RenderResult: kRenderOk, or why it is not drawn
    bool empty = false;   // drawn, but nothing was printed on it
};

struct FinishOutcome {
    std::vector<std::string> captureFiles; // capture files kept, in page order
    std::vector<PageOutcome> pages;        // the same pages, with what became of each
    unsigned pageCount = 0;                // the page count given to the report
    // The Epson 9-pin model's page bitmaps, in order (one or more a capture
    // file), under the names they take; the report shows these.
    std::vector<std::string> sheetBitmaps;
    bool reportWritten = false;
    int reportResult = 0;   // WriteHtmlReport's result, when it ran
    std::string reportPath; // base path + ".html"
    bool pdfWritten = false;
    int pdfResult = 0;   // a PdfResult, when a PDF was asked for
    std::string pdfPath; // base path + ".pdf", when one was asked for
    bool textWritten = false;
    int textResult = 0;     // a TextFileResult, when a text file was asked for
    std::string textPath;   // base path + ".txt", when one was asked for
    std::string text;       // the words it holds, once written
    std::string failedFile; // the file that could not be made or read, or is in the way
    SystemError error;      // the system's reason, when it gave one

    // The pages that could not be drawn.
    unsigned NotDrawn() const;
};

// The finishing step of a capture session: turns the raw recording at
// `rawPath` into the capture files of `basePath`, has each rendered as soon as
// it is complete, then writes the report, and puts them all in place.
//
// Single-file mode: the recording becomes base path + ".cpt" (moved, or
// copied when keepRaw). Page mode: as SplitIntoPages. A recording that
// cannot be opened, or an empty one, changes nothing (kFinishCannotOpenRaw,
// kFinishEmpty); an empty recording that is not kept is removed.
//
// A page that cannot be drawn has no bitmap (an earlier bitmap of its name
// goes with the earlier capture), the report says so in its place and the
// PDF leaves it out; the step still succeeds, and the outcome tells. Any
// file that cannot be written whole makes the step stop: nothing is put in
// place, the recording stays whatever keepRaw says, and the result tells
// which file failed and why. No exception leaves it. `outcome` may be null.
//
// With `text`, the words of each page are taken as it is drawn and the text
// file is made after the report, one of the capture's files; a page that
// could not be drawn has no words (its page break stays, so that the pages
// keep their numbers). A text file that cannot be written gives
// kFinishTextFailed.
//
// With `pdf`, each page bitmap goes into the PDF as soon as it is rendered
// (on a thread of its own), with its words over it, and the PDF is finished
// after the report; there is none when no page has a bitmap.
FinishResult FinishCapture(const char* rawPath, const char* basePath, const FinishOptions& options,
                           FinishOutcome* outcome);

// Plain-words text of a FinishResult, for messages to the user.
const char* FinishResultText(int result);

} // namespace zav
