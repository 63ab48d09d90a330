#include <cstdio>

#include "app/cli.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"

namespace zav::cli {

void PrintRenderHelp() {
    std::printf("  zavprint [render] FILE.cpt...\n"
                "      Renders each capture file into its page bitmap beside it\n"
                "      (FILE.bmp). Exit status 1 when any file failed.\n");
}

int RunRender(int argc, char** argv) {
    if (argc < 1) {
        std::fprintf(stderr, "zavprint render: name at least one capture file\n");
        return 2;
    }
    int failed = 0;
    for (int i = 0; i < argc; ++i) {
        const char* path = argv[i];
        const int result = RenderCaptureFile(path);
        if (result == kRenderOk) {
            char bitmap[kPathBufferSize];
            ReplaceExtension(path, "bmp", bitmap);
            std::printf("%s: wrote %s\n", path, bitmap);
        } else {
            std::fprintf(stderr, "%s: not rendered: %s (code %d)\n", path, RenderResultText(result),
                         result);
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

} // namespace zav::cli
