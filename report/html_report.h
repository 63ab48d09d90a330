// HTML report: a small page beside the capture files that shows the page
// bitmaps of one capture one below the other, with a print page break between
// pages. The page is assembled in the report text buffer by the tag emitters
// and written to disk in one piece, with CR LF line ends on every platform.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GNUC__)
#define ZAV_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define ZAV_PRINTF_FORMAT(fmt, first)
#endif

namespace zav {

class OutputFile;

// Results of WriteHtmlReport and of the report text buffer.
enum ReportResult : int {
    kReportOk = 0,
    kReportPathTooLong = -1,  // a name formed from the base path does not fit the name buffer
    kReportNoMemory = -2,     // the report text buffer cannot be had or grown
    kReportCannotCreate = -3, // the report file cannot be created; nothing was written
    kReportCannotWrite = -4   // the report file was created but the write failed
};

// How a page shows in the report: its bitmap; an empty sheet (a page with
// nothing printed on it, whose bitmap has no dots to show: a note, not a
// broken picture); or a note that it could not be drawn, and why.
struct ReportPage {
    enum Shown { kPicture, kEmpty, kNotDrawn } shown = kPicture;
    std::string reason; // kNotDrawn: why
};

// Writes the report of a capture with `pages` into `out` and closes it; the
// caller puts it in place. `singleFile` tells that the capture was stored as
// one file (base path + ".cpt", bitmap base path + ".bmp") rather than split
// into numbered pages. Returns kReportOk or a failure code. One report at a
// time: the report text buffer is shared by the whole module, and a second
// caller waits until the first report is written.
int WriteHtmlReport(OutputFile& out, const char* basePath, const std::vector<ReportPage>& pages,
                    bool singleFile);
// Writes base path + ".html" for `pageCount` pages that all have their
// bitmap; an earlier report stays whole until the new one is.
int WriteHtmlReport(const char* basePath, unsigned pageCount, bool singleFile);

// Plain-words text of a ReportResult, for messages to the user.
const char* ReportResultText(int result);

// Text or an attribute value with the characters that HTML gives a meaning
// (& < > ") written as entities.
std::string HtmlEscape(std::string_view text);

// The report text buffer. It holds the last report written until the next one
// starts. These calls are for the report writer and its emitters; they do not
// lock, so use them only inside one report's assembly.
//
// Makes sure the buffer exists and has at least 1024 free bytes.
// Returns kReportOk or kReportNoMemory.
int ReportReserve();
// printf-style append at the end of the text; returns the number of bytes
// appended, or -1 when the buffer cannot hold them (the buffer then stays as
// it was and remembers the failure until the next report starts).
int ReportAppend(const char* format, ...) ZAV_PRINTF_FORMAT(1, 2);
int ReportAppendV(const char* format, std::va_list args);
// The text assembled so far and its length in bytes (no terminator counted).
const char* ReportText();
int ReportLength();

// The common rule of all tag emitters: "<tag>" or "<tag attributes>", followed
// by CR LF only when `lineBreak` is exactly 1. An absent or empty attribute
// format means no attributes. Returns the bytes appended or -1.
int EmitTag(int lineBreak, const char* tag, const char* attrFormat, std::va_list args);

int HtmlHtml(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlHtmlEnd(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlHead(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlHeadEnd(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlBody(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlBodyEnd(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlTitle(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlTitleEnd(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlImg(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);
int HtmlP(int lineBreak, const char* attrFormat = nullptr, ...) ZAV_PRINTF_FORMAT(2, 3);

} // namespace zav
