// Names of the captures that an unattended watch keeps: a prefix and the time
// the printout ended, PREFIX-YYYYMMDD-HHMMSS, with "-2", "-3", ... added when
// the name is held or used. A name is taken by claiming it (output_file.h)
// and is kept only when no file of the folder belongs to it, so an earlier
// capture is never replaced, and of several watches that share the folder
// each gets a name of its own.
#pragma once

#include <ctime>
#include <string>

#include "base/output_file.h"
#include "base/sys_error.h"

namespace zav {

// The local time of `when` (localtime_r, localtime_s on Windows).
std::tm LocalTime(std::time_t when);

// "YYYYMMDD-HHMMSS".
std::string CaptureTimeStamp(const std::tm& when);

// Claims the first name PREFIX-YYYYMMDD-HHMMSS[-N] in `folder` (empty: the
// current folder) that no other process holds and no file of the folder
// belongs to (capture_names.h), and returns it; `claim` holds it then. Empty
// when no claim can be made in the folder (`error` says why) or no such name
// fits.
std::string ClaimTimedCaptureName(const std::string& folder, const std::string& prefix,
                                  const std::tm& when, NameClaim& claim, SystemError& error);

} // namespace zav
