// Capture files rendered by the printer model chosen for the capture.
//
// The basic model (the default) reads the small command set of the
// program's first instruments and writes one page bitmap per capture file,
// as long as its content (renderer.h). The Epson 9-pin model (epson9.h)
// reads the whole command set of the FX/LX series and writes one page bitmap
// per sheet of paper: FILE.bmp for the first sheet of FILE.cpt, FILE-2.bmp,
// FILE-3.bmp ... for the others (SheetBitmapName). A page bitmap tells which
// model made it by the resolution in its header (BitmapResolution).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/sys_error.h"
#include "render/page_bitmap.h"

namespace zav {

enum class PrinterModel { Basic, Epson9 };

// "basic" or "epson9" (any case); false for any other name.
bool ParsePrinterModel(std::string_view name, PrinterModel& model);
const char* PrinterModelName(PrinterModel model);
// The model whose bitmaps have this resolution; false for any other.
bool PrinterModelOfResolution(const BitmapResolution& resolution, PrinterModel& model);

class OutputFile;
class PageText;
class TextSink;

// Told of each page bitmap as it is written. `sheet` counts from 1 within
// one capture file.
class SheetObserver {
  public:
    virtual ~SheetObserver() = default;
    // The output file for the sheet's bitmap `bitmapPath`, when the observer
    // puts the bitmaps in place itself (with the other files of a capture);
    // null: the renderer puts the bitmaps of each capture file in place
    // together once the file is drawn whole.
    virtual OutputFile* SheetFile(unsigned sheet, const std::string& bitmapPath) {
        (void)sheet;
        (void)bitmapPath;
        return nullptr;
    }
    // A second output for the blocks of the sheet's bitmap (at the same
    // offsets), or null. Only a sheet that SheetWritten names is whole in it.
    virtual BlockOutput* CopyOfSheet(unsigned sheet) {
        (void)sheet;
        return nullptr;
    }
    // Where the words printed on the sheet go as it is drawn, or null.
    virtual TextSink* TextOfSheet(unsigned sheet) {
        (void)sheet;
        return nullptr;
    }
    virtual void SheetWritten(unsigned sheet, const char* bitmapPath) = 0;
};

// The words of the capture file at `path` as `model` prints them, without
// drawing: one PageText a page bitmap that rendering it would write (the
// basic model's page, the Epson 9-pin model's sheets), from the printer's
// power-on state. Returns kRenderOk, or kRenderCannotOpen, kRenderNoMemory,
// kRenderNoMemoryForStream or kRenderCannotRead; an empty file gives one
// page without words and kRenderCannotRead. `error` (may be null) receives
// the system's reason when it gave one.
RenderResult ReadCaptureWords(PrinterModel model, const char* path, std::vector<PageText>& pages,
                              SystemError* error = nullptr);

// Renders capture files, one after the other, with one printer model.
// Without `continuing` every file starts from the printer's power-on state.
// With it the files are the page files of one capture in page order, and
// each starts with the settings the one before left (line spacing, page
// length, character set...), as the printer had them on paper.
class CaptureRenderer {
  public:
    explicit CaptureRenderer(PrinterModel model, bool continuing = false);
    ~CaptureRenderer();
    CaptureRenderer(const CaptureRenderer&) = delete;
    CaptureRenderer& operator=(const CaptureRenderer&) = delete;

    PrinterModel Model() const { return model_; }
    // A file no bitmap may replace (the raw recording the capture files come
    // from): a sheet whose bitmap would be that file is refused as a name
    // clash. The path is kept as given.
    void Keep(std::string path);

    // Renders the capture file at `path` (its bytes read from `readFrom`
    // when given: a file not yet under its name) into its page bitmaps beside
    // it. Returns a RenderResult (renderer.h). The bitmaps written are
    // SheetBitmapName(path, 1 ... Sheets()). Without the observer's own
    // output files they take their names only when all are whole; on failure
    // none does and earlier files of those names stay. A capture file that
    // prints nothing gives one blank sheet in the Epson 9-pin model.
    RenderResult Render(const char* path, SheetObserver* observer = nullptr,
                        const char* readFrom = nullptr);
    // The number of page bitmaps the last Render (and Finish) wrote.
    unsigned Sheets() const { return sheets_; }
    // The system's reason for the last failure of Render or Finish, when it
    // gave one (a full disk, a file that cannot be opened).
    const SystemError& Error() const { return error_; }
    // With `continuing`, after the capture's last file: a sheet that is not
    // written yet (what a line printed across the last sheet's end put on
    // the next) goes to the last file's bitmaps, counted in Sheets().
    RenderResult Finish(SheetObserver* observer = nullptr);

  private:
    struct Epson9;
    PrinterModel model_;
    bool continuing_;
    unsigned sheets_ = 0;
    std::string keep_;
    SystemError error_;
    std::unique_ptr<Epson9> epson9_;
};

} // namespace zav
