// zavprint --version: the version and the name of the system it runs on.
#include <sys/utsname.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/version_text.h"
#include "cli/cli.h"
#include "zav_version.h"

namespace zav::cli {

namespace {

// The os-release text: /etc/os-release, else /usr/lib/os-release, else empty.
std::string ReadOsRelease() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path, std::ios::binary);
        if (in)
            return std::string(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
    }
    return {};
}

} // namespace

int RunVersion() {
    struct utsname system {};
    if (uname(&system) != 0) {
        std::perror("zavprint: uname");
        return 1;
    }
    const std::string text = VersionText(ZAV_VERSION_TEXT, ReadOsRelease(), system.sysname,
                                         system.release, system.machine);
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace zav::cli
