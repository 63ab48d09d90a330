// The files of one capture. Every name is derived here from the base path
// (the capture folder and the capture file name, no extension):
//   base.tmp        the raw recording while a session runs (kept when finishing failed)
//   base.raw        the bytes received, kept whole beside the pages when asked
//   base.cpt        the capture file in single-file mode
//   baseNNN.cpt     the page capture files (001, 002, ...; more digits past 999)
//   X.bmp           the page bitmap of capture file X.cpt; X-2.bmp, X-3.bmp ...
//                   the further sheets of a page that needs more than one
//   base.html       the report; base.pdf its printable copy; base.txt its text
//   base.sha256     the checksums of the capture's files (record/)
//   base.record.json  the capture's record (record/)
//   base.claim      held while a process makes the capture (output_file.h)
// No other code composes these names. kOwnFiles below is the one list of
// what belongs to a capture: replacing it, the watch's choice of a free name
// and every "in the way" check go by it. The same-file checks that keep a raw
// recording from being replaced by one of them live here too.
#pragma once

#include "base/paths.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// Page files append up to 8 characters (a four-digit page number and ".cpt")
// to the base path inside a kPathBufferSize buffer.
inline constexpr std::size_t kMaxBasePathLength = kPathBufferSize - 1 - 8;

// Results of MakeBasePath and CaptureNames::Make.
enum BasePathResult : int {
    kBasePathOk = 0,
    kBasePathTooLong = -1,  // longer than kMaxBasePathLength, or than the buffer
    kBasePathNoName = -2,   // the capture file name is empty
    kBasePathNotAName = -20 // the name holds a folder separator: it is a path, not a name
};

// What a file of a capture is to it.
enum class CaptureFileKind {
    kOutput,    // made from the printout: replaced with the capture
    kRecording, // a raw recording: never removed by replacing
    kClaim      // the claim file of a process making the capture
};

// The files a capture may have, by what follows its name. A later output
// adds its line here.
struct OwnFile {
    const char* suffix;
    CaptureFileKind kind;
    bool perCaptureFile; // after each capture file's name (NAME or NAME + page number)
};
inline constexpr OwnFile kOwnFiles[] = {
    {".html", CaptureFileKind::kOutput, false},        // the report
    {".pdf", CaptureFileKind::kOutput, false},         // its printable copy
    {".txt", CaptureFileKind::kOutput, false},         // its text
    {".sha256", CaptureFileKind::kOutput, false},      // checksums of its files
    {".record.json", CaptureFileKind::kOutput, false}, // its record
    {".tmp", CaptureFileKind::kRecording, false},      // a session's recording
    {".raw", CaptureFileKind::kRecording, false},      // a recording kept beside it
    {".claim", CaptureFileKind::kClaim, false},        // held while it is made
    {".cpt", CaptureFileKind::kOutput, true},          // a capture file
    {".bmp", CaptureFileKind::kOutput, true},          // its page bitmap (sheets: -2.bmp ...)
};

// The message for kBasePathNotAName, the same everywhere.
inline constexpr char kNotANameText[] =
    "--name is a file name without '/'; give the folder with --folder";

// Forms the base path: `folder`, a separator unless the folder is empty or
// already ends with one, then `name`. An empty folder means the current folder
// (the base path is then just the name). Writes the terminated text to `out`.
// Returns kBasePathOk, kBasePathNoName, or kBasePathTooLong when the result is
// longer than kMaxBasePathLength or does not fit `outSize` (nothing is cut).
// A name that holds a separator is refused with kBasePathNotAName.
BasePathResult MakeBasePath(const char* folder, const char* name, char* out, std::size_t outSize);

// True when `file` (a name without folder) is one of the capture `name`'s
// own files by kOwnFiles, or a work file of one; `kind` (may be null)
// receives what it is, `sheetOf` (may be null) the capture file's name X when
// it is a further sheet X-K.bmp, else it is cleared.
bool IsCaptureFile(std::string_view file, std::string_view name, CaptureFileKind* kind = nullptr,
                   std::string* sheetOf = nullptr);

class CaptureNames {
  public:
    // Forms the base path from `folder` and `name` (MakeBasePath's rule).
    // Returns kBasePathOk, kBasePathNoName or kBasePathTooLong.
    static int Make(std::string_view folder, std::string_view name, CaptureNames& out);
    // Takes a base path formed before (no extension).
    explicit CaptureNames(std::string base = {}) : base_(std::move(base)) {}

    const std::string& Base() const { return base_; }
    // The file-name part of the base path.
    std::string_view Name() const;
    std::string Recording() const { return base_ + ".tmp"; }
    std::string KeptRaw() const { return base_ + ".raw"; }
    std::string SingleCapture() const { return base_ + ".cpt"; }
    std::string PageCapture(unsigned page) const;
    std::string Report() const { return base_ + ".html"; }
    std::string Pdf() const { return base_ + ".pdf"; }
    std::string Text() const { return base_ + ".txt"; }
    std::string Claim() const { return base_ + ".claim"; }
    // The capture's record and the checksums of its files (in kOwnFiles).
    static constexpr std::string_view kChecksumsExtension = ".sha256";
    static constexpr std::string_view kRecordExtension = ".record.json";
    std::string Checksums() const { return base_ + std::string(kChecksumsExtension); }
    std::string Record() const { return base_ + std::string(kRecordExtension); }
    // The report's file name without its folder.
    std::string ReportName() const { return std::string(Name()) + ".html"; }

    // What rendering one capture file writes: its page bitmap, or the bitmap
    // of its sheet `sheet` (SheetBitmapName, the renderer's own rule).
    static std::string BitmapOf(std::string_view capturePath, unsigned sheet = 1);

    // True when `path` names one of the files that making the capture file
    // `capturePath` writes: the capture file itself or its (first) bitmap.
    // The bitmaps of later sheets are checked as they are written
    // (CaptureRenderer::Keep).
    static bool WouldBeWritten(const char* path, std::string_view capturePath);
    // True when `path` names the report, its printable copy or its text.
    bool IsReportFile(const char* path) const;

    struct File {
        std::string path;
        CaptureFileKind kind;
    };
    // The files of the folder that belong to this capture by kOwnFiles, work
    // files left of them included (output_file.h), claims not. A further
    // sheet X-K.bmp counts only while no capture file X-K.cpt is there (then
    // it is that capture's bitmap), and a folder never counts; `mayBeOurs`
    // counts both anyway, for the checks that must know every name in the
    // way of what the capture writes.
    std::vector<File> Files(bool mayBeOurs = false) const;
    // The paths of Files(true): the recording first, then the report, then
    // the others in order. What is in the way of a new capture of this name.
    std::vector<std::string> Existing() const;
    bool AnyExists() const { return !Existing().empty(); }
    // True when a recording (base.tmp) lies there, kept from an earlier session.
    bool RecordingExists() const;

  private:
    std::string base_;
};

} // namespace zav
