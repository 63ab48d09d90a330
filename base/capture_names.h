// The files of one capture. Every name is derived here from the base path
// (the capture folder and the capture file name, no extension):
//   base.tmp        the raw recording while a session runs (kept when finishing failed)
//   base.cpt        the capture file in single-file mode
//   baseNNN.cpt     the page capture files (001, 002, ...; more digits past 999)
//   X.bmp           the page bitmap of capture file X.cpt
//   base.html       the report; base.pdf its printable copy; base.txt its text
//   base.sha256     the checksums of the capture's files (record/)
//   base.record.json  the capture's record (record/)
// No other code composes these names. The same-file checks that keep a raw
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
    kBasePathTooLong = -1, // longer than kMaxBasePathLength, or than the buffer
    kBasePathNoName = -2   // the capture file name is empty
};

// Forms the base path: `folder`, a separator unless the folder is empty or
// already ends with one, then `name`. An empty folder means the current folder
// (the base path is then just the name). Writes the terminated text to `out`.
// Returns kBasePathOk, kBasePathNoName, or kBasePathTooLong when the result is
// longer than kMaxBasePathLength or does not fit `outSize` (nothing is cut).
int MakeBasePath(const char* folder, const char* name, char* out, std::size_t outSize);

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
    std::string SingleCapture() const { return base_ + ".cpt"; }
    std::string PageCapture(unsigned page) const;
    std::string Report() const { return base_ + ".html"; }
    std::string Pdf() const { return base_ + ".pdf"; }
    std::string Text() const { return base_ + ".txt"; }
    // The capture's record and the checksums of its files.
    static constexpr std::string_view kChecksumsExtension = ".sha256";
    static constexpr std::string_view kRecordExtension = ".record.json";
    std::string Checksums() const { return base_ + std::string(kChecksumsExtension); }
    std::string Record() const { return base_ + std::string(kRecordExtension); }
    // The report's file name without its folder.
    std::string ReportName() const { return std::string(Name()) + ".html"; }

    // What rendering one capture file writes: its page bitmap.
    static std::string BitmapOf(std::string_view capturePath);
    static std::vector<std::string> RenderOutputsOf(std::string_view capturePath);

    // True when `path` names one of the files that making the capture file
    // `capturePath` writes: the capture file itself or its bitmap.
    static bool WouldBeWritten(const char* path, std::string_view capturePath);
    // True when `path` names the report, its printable copy or its text.
    bool IsReportFile(const char* path) const;

    // The existing files of this base: the recording, the single capture
    // file, page capture files of any number, their bitmaps, the report, its
    // printable copy and its text. The recording comes first when it exists.
    std::vector<std::string> Existing() const;
    bool AnyExists() const { return !Existing().empty(); }
    // True when a recording (base.tmp) lies there, kept from an earlier session.
    bool RecordingExists() const;

  private:
    std::string base_;
};

} // namespace zav
