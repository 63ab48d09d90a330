// Printer stream renderer: one capture file (the raw ESC/P bytes of one printout
// or page) becomes one 1-bit page bitmap beside it, "name.cpt" -> "name.bmp".
#pragma once

namespace zav {

// Results of RenderCaptureFile.
enum RenderResult : int {
    kRenderOk = 0,
    kRenderCannotOpen = -1,        // capture file cannot be opened for reading
    kRenderNoMemory = -2,          // no memory for the capture file's content
    kRenderCannotRead = -3,        // capture file or graphics stream unreadable or empty
    kRenderCannotCreate = -4,      // a work file or the page bitmap cannot be created
    kRenderPathTooLong = -5,       // a derived file name does not fit the name buffer
    kRenderCannotReopen = -11,     // the graphics stream's work file cannot be reopened
    kRenderNoMemoryForStream = -12 // no memory for the graphics stream
};

// Renders the capture file at `path` into its page bitmap. Synchronous; every
// file it opens is closed before it returns. Safe to call from one thread at a
// time per output file.
int RenderCaptureFile(const char* path);

// Plain-words text of a RenderResult, for messages to the user.
const char* RenderResultText(int result);

} // namespace zav
