// Loading a bitmap file into a drawable (device-dependent) bitmap and a
// logical palette from its colour table. Dialog thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

namespace zav {

// The palette of a bitmap block (header first), or nullptr when the block is
// not a bitmap this program reads or has no colour table.
HPALETTE CreateDibPalette(std::span<const std::uint8_t> block);

// Reads the bitmap file `name` (a name without a folder is looked for in the
// program's folder first, then in the current folder). Returns the bitmap, or
// nullptr for no bitmap; `palette` receives the palette (or nullptr) once the
// bitmap creation was tried, and is left alone before that. The caller
// deletes both.
HBITMAP LoadBitmapFile(const char* name, HPALETTE* palette);

// LoadBitmapFile for names whose extension after the last dot is bmp, bpt or
// tmp (any case); nullptr for every other name.
HBITMAP LoadBitmapByExtension(const char* name, HPALETTE* palette);

} // namespace zav
