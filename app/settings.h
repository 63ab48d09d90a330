// The user's capture settings between runs: registry values under
// HKEY_CURRENT_USER kSettingsKey, each moved to and from the value-store field
// of the same name through a buffer of kSettingBufferSize bytes.
#pragma once

#include <cstddef>

#include "host/quor.h"
#include "host/registry_keys.h"

namespace zav {

inline constexpr std::size_t kSettingBufferSize = 1024;

// Loaded and saved in this order. "CaptureFolder" comes first: without it in
// the store nothing is saved. "Printer" ("basic" or "epson9") is the printer
// model of the captures and of the conversion of a capture file
// (PrinterSetting); "Pdf" (1 or 0) and "PdfPaper" ("a4" or "letter") ask
// for a PDF beside each capture's report (PdfSettings). The program reads
// these and writes them back as it found them. "Text" (0: no NAME.txt
// beside the report) is only ever set by hand; "KeepRaw" (a number, 1: keep
// the recording of a capture whole as NAME.raw) and "SignKey" (the path of
// a private key that signs each capture's record and audit lines) alike.
inline constexpr const char* kSettingNames[] = {
    "CaptureFolder", "CaptureFilename", "SingleFile", "Printer", "Pdf", "PdfPaper",
    "Text",          "KeepRaw",         "SignKey"};

// Registry value types, as the registry numbers them.
enum RegistryType : unsigned long {
    kRegNone = 0,
    kRegText = 1,       // REG_SZ
    kRegExpandText = 2, // REG_EXPAND_SZ
    kRegBinary = 3,
    kRegDword = 4,
    kRegMultiText = 7,
    kRegQword = 11,
};

// Turns a value read into `buf` (kSettingBufferSize bytes, `size` of them
// filled) into the NUL-terminated text the store receives, in place. A number
// (DWORD, QWORD) becomes its decimal text; any other type is taken as text up
// to its first NUL (a list of texts gives its first). False when a text fills
// the whole buffer without a terminator: it did not fit.
bool SettingTextFromValue(unsigned long type, char* buf, std::size_t size);

// Registry to store (platform code). A value that cannot be read, or is longer
// than the buffer, leaves its field as it was. Creates the key when missing.
void LoadSettings(HQUOR store);
// Store to registry (platform code), as REG_SZ texts; writes nothing unless the
// store holds "CaptureFolder", and skips the other settings the store lacks.
// False when the key could not be opened for writing.
bool SaveSettings(HQUOR store);

} // namespace zav
