// zavprint --version on Windows: the version and the Windows it runs on, as
// the About dialog of the Windows program names it.
#include <cstdio>
#include <string>

#include "app/osname.h"
#include "cli/cli.h"
#include "zav_version.h"

namespace zav::cli {

int RunVersion() {
    char name[256] = "Windows";
    GetOsName(name, sizeof name);
    std::printf("zavprint %s\n%s\n", ZAV_VERSION_TEXT, name);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace zav::cli
