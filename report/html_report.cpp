#include "report/html_report.h"

#include "base/capture_names.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/stdio_file.h"
#include "render/page_bitmap.h"
#include "render/printout.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

namespace {

constexpr int kInitialCapacity = 4096;
constexpr int kGrowthStep = 4096;
constexpr int kHeadroom = 1024;
constexpr char kNoteStyle[] = "STYLE=\"border:1px dashed gray;padding:1em;width:30em\"";

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// The report text buffer: one per module, holding the last report until the
// next one starts.
struct ReportBuffer {
    std::unique_ptr<char, FreeDeleter> text;
    int length = 0;
    int capacity = 0;
    bool failed = false; // an append did not fit since the report started
};

ReportBuffer g_report;
std::mutex g_reportMutex; // one report assembled at a time

void ReleaseReportText() {
    g_report.text.reset();
    g_report.length = 0;
    g_report.capacity = 0;
    g_report.failed = false;
}

// Grows the block to at least `needed` bytes in whole growth steps.
bool GrowTo(long long needed) {
    long long capacity = g_report.capacity;
    while (capacity < needed)
        capacity += kGrowthStep;
    if (capacity > INT_MAX)
        return false;
    char* grown = static_cast<char*>(std::realloc(g_report.text.get(), capacity));
    if (!grown)
        return false;
    (void)g_report.text.release();
    g_report.text.reset(grown);
    g_report.capacity = static_cast<int>(capacity);
    return true;
}

struct Substitute {
    char from;
    const char* to;
};

std::string Replace(std::string_view in, std::initializer_list<Substitute> table) {
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        const Substitute* hit = nullptr;
        for (const Substitute& s : table) {
            if (s.from == c)
                hit = &s;
        }
        if (hit)
            out += hit->to;
        else
            out += c;
    }
    return out;
}

// Text and attribute values: the characters that HTML gives a meaning.
std::string EscapeHtml(std::string_view in) {
    return Replace(in, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}});
}

// An image source is a relative address: '%', '#' and '?' would change what
// it points at, so they are percent-encoded before the HTML escaping.
std::string ImageSource(std::string_view name) {
    return EscapeHtml(Replace(name, {{'%', "%25"}, {'#', "%23"}, {'?', "%3F"}}));
}

std::size_t DecimalDigits(unsigned value) {
    std::size_t digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

// Longest suffix that the writer appends to the base path for this report.
std::size_t LongestSuffix(unsigned pageCount, bool singleFile) {
    std::size_t longest = std::strlen(".html");
    std::size_t page = 0;
    if (pageCount == 1 && singleFile)
        page = std::strlen(".bmp");
    else if (pageCount >= 1)
        page = std::max<std::size_t>(3, DecimalDigits(pageCount)) + std::strlen(".bmp");
    return std::max(longest, page);
}

// The header of a page bitmap: its size and resolution.
bool ReadBitmapHeader(const std::string& path, std::uint32_t& width, std::uint32_t& height,
                      BitmapResolution& resolution) {
    std::uint8_t header[54];
    UniqueFile file = OpenFile(path.c_str(), "rb");
    if (!file || std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
        header[0] != 'B' || header[1] != 'M')
        return false;
    const auto u32 = [&](int at) {
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 |
               static_cast<std::uint32_t>(header[at + 3]) << 24;
    };
    width = u32(18);
    const auto rows = static_cast<std::int32_t>(u32(22));
    height = static_cast<std::uint32_t>(rows < 0 ? -static_cast<std::int64_t>(rows) : rows);
    resolution = {u32(38), u32(42)};
    return true;
}

// A picture whose header states its pitch is shown, and printed, at its
// size on paper; the basic model's pages as they always were.
std::string PrintedSizeStyle(const ReportPage& page, bool* epson9) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    BitmapResolution resolution;
    if (!ReadBitmapHeader(page.readFrom.empty() ? page.bitmap : page.readFrom, width, height,
                          resolution) ||
        resolution == kBasicPageResolution)
        return {};
    PrinterModel model = PrinterModel::Basic;
    if (epson9 && PrinterModelOfResolution(resolution, model) && model == PrinterModel::Epson9)
        *epson9 = true;
    const PrintedPitch pitch = PrintedPitchOf(resolution);
    char size[96];
    std::snprintf(size, sizeof size, " style=\"width:%.4fin;height:%.4fin\"",
                  width / pitch.dotsPerInch, height / pitch.rowsPerInch);
    return size;
}

// One page: its picture, or a note in its place.
// `names` are the capture's names without a folder: a page's picture is the
// bitmap of its capture file, beside the report.
int EmitPage(const CaptureNames& names, const ReportPage& page, unsigned number, unsigned count,
             bool singleFile) {
    char label[32];
    if (count == 1)
        std::snprintf(label, sizeof label, singleFile ? "single page" : "page #1");
    else
        std::snprintf(label, sizeof label, "page %u", number);
    if (page.shown == ReportPage::kEmpty)
        return HtmlP(1, "%s", kNoteStyle) < 0 ? -1
                                              : ReportAppend("%s: empty sheet, nothing printed "
                                                             "on it</P>\r\n",
                                                             label);
    if (page.shown == ReportPage::kNotDrawn)
        return HtmlP(1, "%s", kNoteStyle) < 0 ? -1
                                              : ReportAppend("%s: not drawn: %s</P>\r\n", label,
                                                             EscapeHtml(page.reason).c_str());
    if (!page.bitmap.empty())
        return HtmlImg(
            1, "border=1 src=\"%s\" alt=\"%s\"%s",
            ImageSource(std::string_view(page.bitmap).substr(FileNameOffset(page.bitmap))).c_str(),
            label, PrintedSizeStyle(page, nullptr).c_str());
    const std::string bitmap = CaptureNames::BitmapOf(
        count == 1 && singleFile ? names.SingleCapture() : names.PageCapture(number));
    return HtmlImg(1, "border=1 src=\"%s\" alt=\"%s\"", ImageSource(bitmap).c_str(), label);
}

int EmitPages(const CaptureNames& names, const std::vector<ReportPage>& pages, bool singleFile) {
    const auto count = static_cast<unsigned>(pages.size());
    for (unsigned page = 1; page <= count; ++page) {
        if (EmitPage(names, pages[page - 1], page, count, singleFile) < 0)
            return -1;
        if (page != count && HtmlP(1, "STYLE=page-break-before:always") < 0)
            return -1;
    }
    return 0;
}

} // namespace

std::string HtmlEscape(std::string_view text) {
    return EscapeHtml(text);
}

int ReportReserve() {
    if (!g_report.text) {
        g_report.text.reset(static_cast<char*>(std::malloc(kInitialCapacity)));
        if (!g_report.text)
            return kReportNoMemory;
        g_report.capacity = kInitialCapacity;
        g_report.length = 0;
        g_report.text.get()[0] = '\0';
    }
    if (g_report.capacity - g_report.length < kHeadroom &&
        !GrowTo(static_cast<long long>(g_report.capacity) + kGrowthStep))
        return kReportNoMemory;
    return kReportOk;
}

int ReportAppendV(const char* format, std::va_list args) {
    if (ReportReserve() != kReportOk) {
        g_report.failed = true;
        return -1;
    }
    std::va_list first;
    va_copy(first, args);
    const std::size_t room = static_cast<std::size_t>(g_report.capacity - g_report.length);
    const int n = std::vsnprintf(g_report.text.get() + g_report.length, room, format, first);
    va_end(first);
    if (n >= 0 && static_cast<std::size_t>(n) >= room) {
        // A piece longer than the headroom: grow as far as it needs, then
        // format it again. Never cut short.
        if (!GrowTo(static_cast<long long>(g_report.length) + n + 1 + kHeadroom)) {
            g_report.text.get()[g_report.length] = '\0';
            g_report.failed = true;
            return -1;
        }
        std::vsnprintf(g_report.text.get() + g_report.length,
                       static_cast<std::size_t>(g_report.capacity - g_report.length), format, args);
    }
    if (n < 0) {
        g_report.text.get()[g_report.length] = '\0';
        g_report.failed = true;
        return -1;
    }
    g_report.length += n;
    return n;
}

int ReportAppend(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int n = ReportAppendV(format, args);
    va_end(args);
    return n;
}

const char* ReportText() {
    return g_report.text ? g_report.text.get() : "";
}

int ReportLength() {
    return g_report.length;
}

int EmitTag(int lineBreak, const char* tag, const char* attrFormat, std::va_list args) {
    const char* end = lineBreak == 1 ? ">\r\n" : ">";
    if (!attrFormat || !*attrFormat)
        return ReportAppend("<%s%s", tag, end);
    const int open = ReportAppend("<%s ", tag);
    if (open < 0)
        return -1;
    const int attributes = ReportAppendV(attrFormat, args);
    if (attributes < 0)
        return -1;
    const int close = ReportAppend("%s", end);
    if (close < 0)
        return -1;
    return open + attributes + close;
}

#define ZAV_TAG_EMITTER(name, tag)                                                                 \
    int name(int lineBreak, const char* attrFormat, ...) {                                         \
        std::va_list args;                                                                         \
        va_start(args, attrFormat);                                                                \
        const int n = EmitTag(lineBreak, tag, attrFormat, args);                                   \
        va_end(args);                                                                              \
        return n;                                                                                  \
    }

ZAV_TAG_EMITTER(HtmlHtml, "html")
ZAV_TAG_EMITTER(HtmlHtmlEnd, "/html")
ZAV_TAG_EMITTER(HtmlHead, "head")
ZAV_TAG_EMITTER(HtmlHeadEnd, "/head")
ZAV_TAG_EMITTER(HtmlBody, "body")
ZAV_TAG_EMITTER(HtmlBodyEnd, "/body")
ZAV_TAG_EMITTER(HtmlTitle, "title")
ZAV_TAG_EMITTER(HtmlTitleEnd, "/title")
ZAV_TAG_EMITTER(HtmlImg, "img")
ZAV_TAG_EMITTER(HtmlP, "P")

#undef ZAV_TAG_EMITTER

ReportResult WriteHtmlReport(OutputFile& out, const char* basePath,
                             const std::vector<ReportPage>& pages, bool singleFile) {
    const std::string_view base = basePath ? basePath : "";
    const auto pageCount = static_cast<unsigned>(pages.size());
    if (base.size() + LongestSuffix(pageCount, singleFile) + 1 > kPathBufferSize)
        return kReportPathTooLong;
    const std::string_view baseName = base.substr(FileNameOffset(base));
    const std::string title = EscapeHtml(baseName);
    const CaptureNames names{std::string(baseName)};
    bool epson9 = false;
    for (const ReportPage& page : pages) {
        if (!page.bitmap.empty() && !epson9)
            PrintedSizeStyle(page, &epson9);
    }
    const char* meta =
        epson9
            ? "<meta name=\"generator\" content=\"ZAV Print Utility, Epson 9-pin printer model\">"
            : nullptr;

    std::lock_guard<std::mutex> lock(g_reportMutex);
    ReleaseReportText();
    HtmlHtml(1);
    HtmlHead(1);
    HtmlTitle(0);
    ReportAppend("ZAV Print - %s", title.c_str());
    HtmlTitleEnd(1);
    if (meta)
        ReportAppend("%s\r\n", meta);
    HtmlHeadEnd(1);
    HtmlBody(1);
    EmitPages(names, pages, singleFile);
    HtmlBodyEnd(1);
    HtmlHtmlEnd(1);
    if (g_report.failed)
        return kReportNoMemory;
    if (!out.Create())
        return kReportCannotCreate;
    const bool written = out.Write(g_report.text.get(), static_cast<std::size_t>(g_report.length));
    return out.Close() && written ? kReportOk : kReportCannotWrite;
}

ReportResult WriteHtmlReport(const char* basePath, unsigned pageCount, bool singleFile) {
    OutputFile out(std::string(basePath ? basePath : "") + ".html");
    const ReportResult result =
        WriteHtmlReport(out, basePath, std::vector<ReportPage>(pageCount), singleFile);
    if (result != kReportOk)
        return result;
    return out.Commit() ? kReportOk : kReportCannotWrite;
}

ReportResult WriteHtmlReport(const char* basePath, const std::vector<std::string>& bitmaps,
                             bool singleFile) {
    std::vector<ReportPage> pages(bitmaps.size());
    for (std::size_t i = 0; i < bitmaps.size(); ++i)
        pages[i].bitmap = bitmaps[i];
    OutputFile out(std::string(basePath ? basePath : "") + ".html");
    const ReportResult result = WriteHtmlReport(out, basePath, pages, singleFile);
    if (result != kReportOk)
        return result;
    return out.Commit() ? kReportOk : kReportCannotWrite;
}

const char* ReportResultText(int result) {
    switch (result) {
    case kReportOk:
        return "report written";
    case kReportPathTooLong:
        return "the report's file name is too long";
    case kReportNoMemory:
        return "not enough memory for the report";
    case kReportCannotCreate:
        return "the report file cannot be created";
    case kReportCannotWrite:
        return "the report file could not be written completely";
    default:
        return "unknown report result";
    }
}

} // namespace zav
