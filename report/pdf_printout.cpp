#include "report/pdf_printout.h"

#include "render/paths.h"
#include "render/stdio_file.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#ifndef ZAV_VERSION_TEXT
#define ZAV_VERSION_TEXT "unknown"
#endif

namespace zav {

namespace {

namespace fs = std::filesystem;

std::uint32_t U16(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t U32(const std::uint8_t* p) {
    return U16(p) | U16(p + 2) << 16;
}

// A name beside the PDF that nothing uses yet, for writing it whole first.
bool PickWorkName(const std::string& pdfPath, std::string& work) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        work = pdfPath;
        work += ".part";
        if (attempt)
            work += std::to_string(attempt);
        std::error_code error;
        const fs::file_status status = fs::symlink_status(work, error);
        if (status.type() == fs::file_type::not_found)
            return true;
    }
    return false;
}

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
    out.width = out.height = 0;
    out.stride = 0;
    out.rows.clear();
    FileBytes file;
    {
        UniqueFile in = OpenFile(path, "rb");
        if (!in || ReadWholeFile(in.get(), file) != ReadWholeResult::Ok)
            return false;
    }
    const std::uint8_t* b = file.data.get();
    const std::uint64_t size = file.size;
    if (size < 54 || b[0] != 'B' || b[1] != 'M')
        return false;
    const std::uint64_t pixelsAt = U32(b + 10);
    const std::uint64_t infoSize = U32(b + 14);
    if (infoSize < 40 || 14 + infoSize > size)
        return false;
    const auto width = static_cast<std::int32_t>(U32(b + 18));
    const auto height = static_cast<std::int32_t>(U32(b + 22));
    if (U16(b + 26) != 1 || U16(b + 28) != 1 || U32(b + 30) != 0)
        return false; // one plane, 1 bit per dot, not compressed
    // A page of the renderer is at most 65536 dots wide; rows are bounded by
    // the file's size below.
    if (width < 0 || width > 65536 || height == INT32_MIN)
        return false;
    const std::uint64_t colours = U32(b + 46) ? U32(b + 46) : 2;
    const std::uint64_t paletteAt = 14 + infoSize;
    if (colours != 2 || paletteAt + 4 * colours > pixelsAt)
        return false;
    const std::uint32_t rows =
        height < 0 ? static_cast<std::uint32_t>(-height) : static_cast<std::uint32_t>(height);
    const std::uint64_t fileStride = (static_cast<std::uint64_t>(width) + 31) / 32 * 4;
    if (pixelsAt > size || fileStride * rows > size - pixelsAt)
        return false;

    // Palette entries are blue, green, red: the darker one is the ink.
    const auto luma = [&](const std::uint8_t* q) {
        return 114u * q[0] + 587u * q[1] + 299u * q[2];
    };
    out.setBitIsBlack = luma(b + paletteAt + 4) <= luma(b + paletteAt);
    out.width = static_cast<std::uint32_t>(width);
    out.height = rows;
    out.stride = (static_cast<std::size_t>(width) + 7) / 8;
    if (out.width == 0 || rows == 0)
        return true;
    out.rows.resize(out.stride * rows);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint32_t fileRow = height > 0 ? rows - 1 - r : r;
        std::copy_n(b + pixelsAt + fileRow * fileStride, out.stride,
                    out.rows.begin() + static_cast<std::ptrdiff_t>(r * out.stride));
    }
    return true;
}

int WritePrintoutPdf(const std::string& pdfPath, const std::vector<std::string>& bitmaps,
                     const PrintoutPdfOptions& options, std::string* failedFile) {
    std::string unused;
    std::string& failed = failedFile ? *failedFile : unused;
    failed.clear();
    if (bitmaps.empty())
        return kPdfNoPages;
    if (IsAnyOf(pdfPath, options.keep) || IsAnyOf(pdfPath, bitmaps)) {
        failed = pdfPath;
        return kPdfWouldReplace;
    }
    std::string work;
    UniqueFile out;
    if (!PickWorkName(pdfPath, work) || !(out = OpenFile(work.c_str(), "wb"))) {
        failed = pdfPath;
        return kPdfCannotCreate;
    }

    int result = kPdfOk;
    {
        PdfWriter writer(out.get(), options.paper);
        PageBitmapPixels page;
        for (const std::string& bitmap : bitmaps) {
            if (!ReadPageBitmap(bitmap.c_str(), page)) {
                failed = bitmap;
                result = kPdfBadBitmap;
                break;
            }
            PdfImage image;
            image.width = page.width;
            image.height = page.height;
            image.stride = page.stride;
            image.rows = page.rows.data();
            image.setBitIsBlack = page.setBitIsBlack;
            if (!writer.AddPage(image)) {
                result = kPdfCannotWrite;
                break;
            }
        }
        if (result == kPdfOk) {
            const std::string_view name = std::string_view(pdfPath).substr(FileNameOffset(pdfPath));
            PdfDocumentInfo info;
            info.title = "ZAV Print - ";
            info.title += name.substr(0, name.rfind('.'));
            info.producer = "ZAV Print Utility " ZAV_VERSION_TEXT;
            info.created = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
            if (!writer.Finish(info))
                result = kPdfCannotWrite;
        }
    }
    if (!CloseFile(out) && result == kPdfOk)
        result = kPdfCannotWrite;
    // Checked again just before the PDF takes its name: the work file must
    // never take the place of a file that has to stay.
    if (result == kPdfOk && (IsAnyOf(pdfPath, options.keep) || IsAnyOf(pdfPath, bitmaps)))
        result = kPdfWouldReplace;
    if (result == kPdfOk) {
        std::error_code error;
        fs::rename(work, pdfPath, error);
        if (error)
            result = kPdfCannotWrite;
    }
    if (result != kPdfOk) {
        std::remove(work.c_str());
        if (failed.empty())
            failed = pdfPath;
    }
    return result;
}

} // namespace zav
