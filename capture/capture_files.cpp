#include "capture/capture_files.h"

#include "base/capture_names.h"
#include "base/output_file.h"
#include "base/stdio_file.h"
#include "record/capture_record.h"
#include "render/epson9.h"

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
    record::CaptureRecord* received = nullptr; // takes every byte read

    std::size_t Read(std::uint8_t* to, std::size_t size) {
        const std::size_t got = atEnd ? 0 : std::fread(to, 1, size, file);
        if (got == 0) {
            atEnd = true;
            failed = failed || std::ferror(file) != 0;
        } else if (received) {
            received->Received(to, got);
        }
        return got;
    }

    bool Refill() {
        pos = 0;
        end = Read(block.get(), kIoBlock);
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
        const std::size_t more = Read(block.get() + 1, kIoBlock - 1);
        if (more == 0)
            return !failed;
        end += more;
        return false;
    }
};

// One page capture file, made only when its first byte arrives, so that a
// page with no bytes never exists and a file that cannot be created matters
// only when there is something to put into it.
struct PageWriter {
    OutputFile* file = nullptr;
    std::unique_ptr<std::uint8_t[]> block;
    std::size_t used = 0;

    bool Flush() {
        const std::size_t size = used;
        used = 0;
        return size == 0 || file->Write(block.get(), size);
    }

    bool Put(std::uint8_t byte) {
        block[used++] = byte;
        return used < kIoBlock || Flush();
    }
};

struct Splitter {
    Splitter(const char* raw, std::string_view basePath, OutputBatch& files, PageCompleteFn fn,
             void* ctx)
        : rawPath(raw), base(basePath), batch(files), onPage(fn), context(ctx) {}
    const char* rawPath;
    std::string_view base;
    OutputBatch& batch;
    PageCompleteFn onPage;
    void* context;
    ByteReader in;
    PageWriter out;
    unsigned page = 1;
    unsigned kept = 0;
    FinishResult failure = kFinishOk;
    std::string failedFile;
    SystemError error;
    std::unique_ptr<std::uint8_t[]> sheetBlock = nullptr; // the Epson 9-pin model's read-ahead

    bool Fail(FinishResult code, const std::string& file, const SystemError& reason = {}) {
        failure = code;
        failedFile = file;
        error = reason;
        return false;
    }

    // Every byte of the recording passes here: the common case stays small.
    bool Put(std::uint8_t byte) {
        if (out.file && out.used + 1 < kIoBlock) {
            out.block[out.used++] = byte;
            return true;
        }
        return PutStartingOrFlushing(byte);
    }

    bool PutStartingOrFlushing(std::uint8_t byte) {
        if (!out.file) {
            const std::string name = CaptureNames(std::string(base)).PageCapture(page);
            if (name.size() >= kPathBufferSize)
                return Fail(kFinishPathTooLong, name);
            if (CaptureNames::WouldBeWritten(rawPath, name))
                return Fail(kFinishRawIsOutput, name);
            out.file = &batch.Add(name);
            if (!out.file->Create())
                return Fail(kFinishCannotCreatePage, name, out.file->Error());
        }
        if (!out.Put(byte))
            return Fail(kFinishCannotWritePage, out.file->Target(), out.file->Error());
        return true;
    }

    // The current page is complete: close it and pass it on.
    bool EndPage() {
        if (!out.file)
            return true;
        OutputFile& done = *out.file;
        const bool written = out.Flush() && done.Close();
        out.file = nullptr;
        if (!written)
            return Fail(kFinishCannotWritePage, done.Target(), done.Error());
        ++kept;
        if (onPage && !onPage(done.Target().c_str(), done.WorkPath().c_str(), context)) {
            failure = kFinishCannotWriteBitmap; // the caller tells which file and why
            return false;
        }
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

    // The Epson 9-pin model: pages end where its sheets end. The model reads
    // the recording ahead through its own handle; the bytes follow into the
    // page files as far as they are sure to belong to the page.
    bool CopySheets(std::FILE* ahead, bool& readFailed) {
        epson9::PageCuts cuts;
        std::uint64_t copied = 0;
        std::uint64_t end = 0;
        for (;;) {
            const std::size_t got = std::fread(sheetBlock.get(), 1, kIoBlock, ahead);
            if (got == 0)
                break;
            for (std::size_t at = 0; at < got;) {
                at += cuts.Read({sheetBlock.get() + at, got - at});
                while (cuts.TakeCut(end)) {
                    if (!CopyUpTo(end, copied) || !EndPage())
                        return false;
                    ++page;
                }
                if (!CopyUpTo(cuts.Settled(), copied))
                    return false;
            }
        }
        readFailed = std::ferror(ahead) != 0;
        return readFailed || CopyUpTo(UINT64_MAX, copied);
    }

    // Copies the recording on from byte `copied` up to byte `end`.
    bool CopyUpTo(std::uint64_t end, std::uint64_t& copied) {
        std::uint8_t byte = 0;
        while (copied < end && in.Get(byte)) {
            if (!Put(byte))
                return false;
            ++copied;
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

FinishResult SplitIntoPages(const char* rawPath, const char* basePath, OutputBatch& batch,
                            PageCompleteFn onPage, void* context, unsigned* pagesKept,
                            std::string* failedFile, SystemError* error, PrinterModel printer,
                            record::CaptureRecord* received) {
    if (pagesKept)
        *pagesKept = 0;
    if (std::strlen(basePath) > kMaxBasePathLength)
        return kFinishPathTooLong;
    UniqueFile raw = OpenFile(rawPath, "rb");
    if (!raw) {
        if (failedFile)
            *failedFile = rawPath;
        return kFinishCannotOpenRaw;
    }

    Splitter split(rawPath, basePath, batch, onPage, context);
    split.in.file = raw.get();
    split.in.received = received;
    split.in.block.reset(new (std::nothrow) std::uint8_t[kIoBlock]);
    split.out.block.reset(new (std::nothrow) std::uint8_t[kIoBlock]);
    if (!split.in.block || !split.out.block)
        return kFinishNoMemory;

    bool ok = true;
    if (printer == PrinterModel::Epson9) {
        UniqueFile ahead = OpenFile(rawPath, "rb");
        split.sheetBlock.reset(new (std::nothrow) std::uint8_t[kIoBlock]);
        bool readFailed = !ahead || !split.sheetBlock;
        try {
            ok = readFailed || split.CopySheets(ahead.get(), readFailed);
        } catch (const std::bad_alloc&) {
            readFailed = true; // the model's printer could not be had: as a block
        }
        split.in.failed = split.in.failed || readFailed;
    } else {
        ok = split.Copy();
    }
    // Every byte of the recording is read, also what no page keeps.
    while (ok && split.in.Refill()) {
    }
    if (ok && split.in.failed)
        ok = split.Fail(kFinishCannotReadRaw, rawPath);
    // The last page, unless it got no byte.
    if (ok)
        ok = split.EndPage();
    // A failure of the caller's own (onPage) is told by the caller.
    if (!ok && !split.failedFile.empty()) {
        if (failedFile)
            *failedFile = split.failedFile;
        if (error)
            *error = split.error;
    }
    if (pagesKept)
        *pagesKept = split.kept;
    return ok ? kFinishOk : split.failure;
}

const char* FinishResultText(int result) {
    switch (result) {
    case kFinishOk:
        return "capture finished";
    case kFinishPathTooLong:
        // The limit is said, so that nobody looks for a fault elsewhere.
        static_assert(kMaxBasePathLength == 1015, "the text names the limit");
        return "the capture's file name is too long: the folder and the name take at most 1015 "
               "bytes";
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
    case kFinishEmpty:
        return "the recording is empty";
    case kFinishInTheWay:
        return "an earlier capture of that name is in the way";
    case kFinishNameInUse:
        return "another program is making a capture of that name";
    case kFinishCannotClaim:
        return "no file can be made in the capture's folder";
    case kFinishCannotWriteBitmap:
        return "a page bitmap could not be written";
    case kFinishCannotPutInPlace:
        return "the new files could not take their names";
    case kFinishNoMemory:
        return "not enough memory";
    case kFinishCannotKeepRaw:
        return "the copy of the recording could not be kept";
    case kFinishNotAName:
        return "the capture's name holds a folder separator";
    case kFinishTextFailed:
        return "the text file could not be written";
    default:
        return "unknown capture result";
    }
}

} // namespace zav
