// The About dialog's fields, the help file and the folder choice of the main
// dialog: the callbacks CB_ZavRirazVersion, CB_HelpEn and CB_BrowseFolder
// (app/about_win32.cpp) and what they share with the portable core.
#pragma once

#include <cstddef>

namespace zav {

// The compiled help file, looked for beside the program only.
inline constexpr const char* kHelpFileName = "VOVEzeraEn.chm";

// The title of the folder dialog; a carriage return parts the two sentences.
inline constexpr const char* kBrowseFolderTitle =
    "Select a folder to store printout.\rPress cancel to terminate this function";

// The path of the file `name` in the folder of `modulePath` (a Windows path
// with backslashes): the text after the last backslash is replaced. False when
// the path holds no backslash or the result does not fit into `size` bytes;
// `out` is then empty (when size allows).
bool SiblingFilePath(const char* modulePath, const char* name, char* out, std::size_t size);

} // namespace zav
