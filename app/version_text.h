// What "zavprint --version" prints: the program's version and the name of the
// system it runs on, in the spirit of the About dialog of the Windows program.
#pragma once

#include <string>
#include <string_view>

namespace zav {

// The distribution's name from the text of an os-release file: PRETTY_NAME,
// else NAME, with shell quoting removed; empty when neither is there.
std::string OsReleaseName(std::string_view osRelease);

// "zavprint 1.0.0.5\nDebian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64 x86_64\n":
// the distribution (left out when unknown), then the kernel's name, release
// and machine as uname reports them.
std::string VersionText(std::string_view version, std::string_view osRelease,
                        std::string_view kernelName, std::string_view kernelRelease,
                        std::string_view machine);

} // namespace zav
