// Guards a raw recording that is being finished against the files the
// finishing step and the renderer write.
#pragma once

#include <string_view>

namespace zav {

// True when the file at `rawPath` is one of the files made from the capture
// file stem + ".cpt" (the capture file, its ".tmp" and ".$$$" work files and
// its ".bmp" page bitmap), so that writing them would destroy the recording.
bool RawWouldBeOverwritten(const char* rawPath, std::string_view stem);

// True when `path` names an existing plain file (not a folder).
bool IsRegularFile(const char* path);

// True when both paths name one existing file.
bool IsSameFile(const char* a, const char* b);

} // namespace zav
