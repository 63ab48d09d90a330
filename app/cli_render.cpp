#include <cstdio>

#include "app/cli.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"

namespace zav::cli {

const CommandSpec kRenderCommand{
    .name = "render",
    .synopsis = "[render] FILE.cpt...",
    .summary = "Renders each capture file into its page bitmap beside it (FILE.bmp).\n"
               "Exit status 1 when any file failed.",
    .options = {},
    .maxOperands = -1,
};

int RunRender(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kRenderCommand, argc, argv, args))
        return args.exitStatus;
    if (args.operands.empty())
        return UsageError(kRenderCommand, "name at least one capture file");
    int failed = 0;
    for (const char* path : args.operands) {
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
