#include "capture/capture_files.h"

#include "base/capture_names.h"
#include "base/stdio_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace zav {

namespace {

constexpr std::uint8_t kFormFeed = 0x0C;
constexpr std::uint8_t kEscape = 0x1B;
constexpr std::uint8_t kBitImage = 0x4B; // 'K' after ESC: count nL nH, then the data
constexpr std::size_t kIoBlock = 64 * 1024;

// Reads a stream in blocks and hands it out byte by byte. The block lives on
// the heap: the capture thread has a small stack.
struct ByteReader {
    std::FILE* file = nullptr;
    std::unique_ptr<std::uint8_t[]> block;
    std::size_t pos = 0;
    std::size_t end = 0;
    bool atEnd = false;
    bool failed = false;

    bool Refill() {
        pos = 0;
        end = atEnd ? 0 : std::fread(block.get(), 1, kIoBlock, file);
        if (end == 0) {
            atEnd = true;
            failed = failed || std::ferror(file) != 0;
        }
        return end != 0;
    }

    bool Get(std::uint8_t& byte) {
        if (pos == end && !Refill())
            return false;
        byte = block[pos++];
        return true;
    }

    // True when exactly one byte is left unread.
    bool ExactlyOneLeft() {
        if (pos == end && !Refill())
            return false;
        if (end - pos >= 2)
            return false;
        block[0] = block[pos];
        pos = 0;
        end = 1;
        const std::size_t more = atEnd ? 0 : std::fread(block.get() + 1, 1, kIoBlock - 1, file);
        if (more == 0) {
            atEnd = true;
            failed = failed || std::ferror(file) != 0;
            return !failed;
        }
        end += more;
        return false;
    }
};

// One page capture file, opened only when its first byte arrives, so that a
// page with no bytes never exists and a file that cannot be created matters
// only when there is something to put into it.
struct PageWriter {
    char path[kPathBufferSize];
    UniqueFile file;
    std::unique_ptr<std::uint8_t[]> block;
    std::size_t used = 0;
    bool writeFailed = false;

    bool Flush() {
        if (used != 0 && std::fwrite(block.get(), 1, used, file.get()) != used)
            writeFailed = true;
        used = 0;
        return !writeFailed;
    }

    bool Put(std::uint8_t byte) {
        block[used++] = byte;
        return used < kIoBlock || Flush();
    }

    // Closes the file; false when any of its bytes may not have reached it.
    bool Close() {
        if (!file)
            return true;
        Flush();
        return CloseFile(file) && !writeFailed;
    }
};

struct Splitter {
    const char* rawPath;
    std::string_view base;
    PageCompleteFn onPage;
    void* context;
    ByteReader in;
    PageWriter out;
    unsigned page = 1;
    unsigned kept = 0;
    int failure = kFinishOk;

    bool NamePage() {
        const std::string name = CaptureNames(std::string(base)).PageCapture(page);
        if (name.size() >= sizeof out.path)
            return false;
        std::memcpy(out.path, name.c_str(), name.size() + 1);
        return true;
    }

    bool Put(std::uint8_t byte) {
        if (!out.file) {
            if (!NamePage()) {
                failure = kFinishPathTooLong;
                return false;
            }
            if (CaptureNames::WouldBeWritten(rawPath, out.path)) {
                failure = kFinishRawIsOutput;
                return false;
            }
            out.file = OpenFile(out.path, "wb");
            if (!out.file) {
                failure = kFinishCannotCreatePage;
                return false;
            }
        }
        if (!out.Put(byte)) {
            failure = kFinishCannotWritePage;
            return false;
        }
        return true;
    }

    // The current page is complete: close it and pass it on.
    bool EndPage() {
        if (!out.file)
            return true;
        if (!out.Close()) {
            // Most pages reach the disk only as they are closed: a page that
            // did not is incomplete and goes, as one that failed earlier does.
            std::remove(out.path);
            failure = kFinishCannotWritePage;
            return false;
        }
        ++kept;
        if (onPage)
            onPage(out.path, context);
        return true;
    }

    // Copies the whole recording; false on the first failure.
    bool Copy() {
        std::uint8_t byte = 0;
        while (in.Get(byte)) {
            if (!Put(byte))
                return false;
            if (byte == kFormFeed) {
                if (!EndPage())
                    return false;
                ++page;
                // A single byte after the last form feed is not kept.
                if (in.ExactlyOneLeft())
                    return true;
            } else if (byte == kEscape) {
                // The command byte is never looked at as a form feed.
                std::uint8_t command = 0;
                if (!in.Get(command))
                    return true;
                if (!Put(command))
                    return false;
                if (command == kBitImage && !CopyBitImage())
                    return false;
            }
        }
        return true;
    }

    // The two count bytes and the data they announce, copied unchanged.
    bool CopyBitImage() {
        std::uint8_t low = 0;
        std::uint8_t high = 0;
        if (!in.Get(low))
            return true;
        if (!Put(low))
            return false;
        if (!in.Get(high))
            return true;
        if (!Put(high))
            return false;
        std::uint8_t data = 0;
        for (unsigned count = low + 256u * high; count > 0 && in.Get(data); --count) {
            if (!Put(data))
                return false;
        }
        return true;
    }
};

} // namespace

int SplitIntoPages(const char* rawPath, const char* basePath, PageCompleteFn onPage, void* context,
                   unsigned* pagesKept, std::string* failedFile) {
    if (pagesKept)
        *pagesKept = 0;
    if (std::strlen(basePath) > kMaxBasePathLength)
        return kFinishPathTooLong;
    UniqueFile raw = OpenFile(rawPath, "rb");
    if (!raw)
        return kFinishCannotOpenRaw;

    Splitter split{rawPath, basePath, onPage, context, {}, {}};
    split.in.file = raw.get();
    split.in.block.reset(new (std::nothrow) std::uint8_t[kIoBlock]);
    split.out.block.reset(new (std::nothrow) std::uint8_t[kIoBlock]);
    if (!split.in.block || !split.out.block)
        return kFinishCannotReadRaw;

    bool ok = split.Copy();
    if (ok && split.in.failed) {
        split.failure = kFinishCannotReadRaw;
        ok = false;
    }
    if (ok) {
        // The last page, unless it got no byte: then a stale file of that
        // name from an earlier capture goes too, as an empty page would,
        // unless that file is the recording itself.
        if (split.out.file)
            ok = split.EndPage();
        else if (split.NamePage() && IsRegularFile(split.out.path) &&
                 !IsSameFile(rawPath, split.out.path))
            std::remove(split.out.path);
    }
    if (!ok && split.out.file) {
        // An incomplete page is not kept; the recording still holds its bytes.
        split.out.Close();
        std::remove(split.out.path);
    }
    if (!ok && failedFile)
        *failedFile = split.failure == kFinishCannotReadRaw ? rawPath : split.out.path;
    if (pagesKept)
        *pagesKept = split.kept;
    return ok ? kFinishOk : split.failure;
}

const char* FinishResultText(int result) {
    switch (result) {
    case kFinishOk:
        return "capture finished";
    case kFinishPathTooLong:
        return "the capture's file name is too long";
    case kFinishNoName:
        return "no capture file name given";
    case kFinishCannotOpenRaw:
        return "the raw recording cannot be opened";
    case kFinishCannotReadRaw:
        return "the raw recording could not be read to its end";
    case kFinishCannotCreatePage:
        return "a page capture file cannot be created";
    case kFinishCannotWritePage:
        return "a page capture file could not be written completely";
    case kFinishCannotStoreSingle:
        return "the capture file cannot be made";
    case kFinishRawIsOutput:
        return "the raw recording has the name of a file the capture writes";
    case kFinishReportFailed:
        return "the report could not be written";
    case kFinishPdfFailed:
        return "the PDF could not be written";
    case kFinishTextFailed:
        return "the text file could not be written";
    default:
        return "unknown capture result";
    }
}

} // namespace zav
