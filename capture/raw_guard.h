// Guards a raw recording that is being finished against the files the
// finishing step and the renderer write.
#pragma once

#include <string_view>

#include "render/stdio_file.h" // IsSameFile, IsRegularFile

namespace zav {

// True when the file at `rawPath` is one of the files made from the capture
// file stem + ".cpt" (the capture file, its ".tmp" and ".$$$" work files and
// its ".bmp" page bitmap), so that writing them would destroy the recording.
bool RawWouldBeOverwritten(const char* rawPath, std::string_view stem);

} // namespace zav
