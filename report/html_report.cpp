#include "report/html_report.h"

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

// One page of the report: the bitmap's address and, for a bitmap whose
// header states its pitch, its size on paper as a style.
struct ReportImage {
    std::string source;
    std::string size;
};

int EmitImages(const std::vector<ReportImage>& images, bool singleFile) {
    const auto image = [](const ReportImage& page, const char* alt, unsigned number) {
        char text[32];
        std::snprintf(text, sizeof text, alt, number);
        return HtmlImg(1, "border=1 src=\"%s\" alt=\"%s\"%s", page.source.c_str(), text,
                       page.size.c_str());
    };
    if (images.size() == 1)
        return image(images[0], singleFile ? "single page" : "page #%u", 1);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const auto page = static_cast<unsigned>(i + 1);
        if (image(images[i], "page %u", page) < 0)
            return -1;
        if (page != images.size() && HtmlP(1, "STYLE=page-break-before:always") < 0)
            return -1;
    }
    return 0;
}

int EmitImageLines(const std::string& source, unsigned pageCount, bool singleFile) {
    std::vector<ReportImage> images;
    if (pageCount == 1 && singleFile) {
        images.push_back({source + ".bmp", {}});
    } else {
        for (unsigned page = 1; page <= pageCount; ++page) {
            char number[16];
            std::snprintf(number, sizeof number, "%03u.bmp", page);
            images.push_back({source + number, {}});
        }
    }
    return EmitImages(images, singleFile);
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

namespace {

// Writes the report base path + ".html" around the images that `emit` adds.
template <class EmitBody>
int WriteReportFile(std::string_view base, const char* meta, EmitBody emit) {
    char reportPath[kPathBufferSize];
    std::snprintf(reportPath, sizeof reportPath, "%.*s.html", static_cast<int>(base.size()),
                  base.data());
    const std::string title = EscapeHtml(base.substr(FileNameOffset(base)));

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
    emit();
    HtmlBodyEnd(1);
    HtmlHtmlEnd(1);
    if (g_report.failed)
        return kReportNoMemory;

    UniqueFile file = OpenFile(reportPath, "wb");
    if (!file)
        return kReportCannotCreate;
    const std::size_t length = static_cast<std::size_t>(g_report.length);
    const bool written = std::fwrite(g_report.text.get(), 1, length, file.get()) == length;
    if (CloseFile(file) && written)
        return kReportOk;
    // A cut report (a full disk) shows a blank or broken page: none is better.
    std::remove(reportPath);
    return kReportCannotWrite;
}

} // namespace

int WriteHtmlReport(const char* basePath, unsigned pageCount, bool singleFile) {
    const std::string_view base = basePath ? basePath : "";
    if (base.size() + LongestSuffix(pageCount, singleFile) + 1 > kPathBufferSize)
        return kReportPathTooLong;
    const std::string source = ImageSource(base.substr(FileNameOffset(base)));
    return WriteReportFile(base, nullptr, [&] { EmitImageLines(source, pageCount, singleFile); });
}

int WriteHtmlReport(const char* basePath, const std::vector<std::string>& bitmaps,
                    bool singleFile) {
    const std::string_view base = basePath ? basePath : "";
    if (base.size() + std::strlen(".html") + 1 > kPathBufferSize)
        return kReportPathTooLong;
    std::vector<ReportImage> images;
    bool epson9 = false;
    for (const std::string& bitmap : bitmaps) {
        ReportImage image{ImageSource(std::string_view(bitmap).substr(FileNameOffset(bitmap))), {}};
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        BitmapResolution resolution;
        PrinterModel model = PrinterModel::Basic;
        if (ReadBitmapHeader(bitmap, width, height, resolution) &&
            !(resolution == kBasicPageResolution)) {
            // Shown, and printed, at its size on paper.
            const PrintedPitch pitch = PrintedPitchOf(resolution);
            char size[96];
            std::snprintf(size, sizeof size, " style=\"width:%.4fin;height:%.4fin\"",
                          width / pitch.dotsPerInch, height / pitch.rowsPerInch);
            image.size = size;
            epson9 = epson9 ||
                     (PrinterModelOfResolution(resolution, model) && model == PrinterModel::Epson9);
        }
        images.push_back(std::move(image));
    }
    const char* meta =
        epson9
            ? "<meta name=\"generator\" content=\"ZAV Print Utility, Epson 9-pin printer model\">"
            : nullptr;
    return WriteReportFile(base, meta, [&] { EmitImages(images, singleFile); });
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
