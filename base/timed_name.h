// Names of the captures that an unattended watch keeps: a prefix and the time
// the printout ended, PREFIX-YYYYMMDD-HHMMSS, with "-2", "-3", ... added when a
// file of the folder already belongs to that name. A name is picked only
// among names that no file of the folder uses, so an earlier capture is never
// replaced.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace zav {

// "YYYYMMDD-HHMMSS".
std::string CaptureTimeStamp(const std::tm& when);

// True when `file` (a name in the folder) is, or could be, one of the files of
// the capture `name`: the name itself, or the name followed by an extension
// (".cpt", ".html", ".tmp", ...) or by a page number ("001.cpt", "002.bmp").
bool BelongsToCapture(std::string_view file, std::string_view name);

// The first name PREFIX-YYYYMMDD-HHMMSS[-N] that no file of `folder` (empty:
// the current folder) belongs to and whose base path fits. Empty when the
// folder cannot be listed (then nothing is known to be free) or no such name
// fits.
std::string PickTimedCaptureName(const std::string& folder, const std::string& prefix,
                                 const std::tm& when);

} // namespace zav
