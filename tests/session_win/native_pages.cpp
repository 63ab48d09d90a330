// Build-machine helper of the Windows session test:
//   native_pages stream FILE [N]  writes the example printout (3 pages, or N)
//   native_pages render FILE...   renders each capture file with the native
//                                 renderer (its page bitmap goes beside it)
//   native_pages text FILE...     prints their words as a text file holds them
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "printout.h"
#include "render/page_text.h"
#include "render/renderer.h"

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "stream") == 0) {
        zavtool::PrintoutOptions options;
        if (argc == 4)
            options.pages = std::atoi(argv[3]);
        std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options);
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return out ? 0 : 1;
    }
    if (argc >= 3 && std::strcmp(argv[1], "render") == 0) {
        int failures = 0;
        for (int i = 2; i < argc; ++i) {
            const int result = zav::RenderCaptureFile(argv[i]);
            if (result != zav::kRenderOk) {
                std::fprintf(stderr, "%s: %s\n", argv[i], zav::RenderResultText(result));
                ++failures;
            }
        }
        return failures ? 1 : 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "text") == 0) {
        for (int i = 2; i < argc; ++i) {
            zav::PageText page;
            if (zav::ReadCaptureText(argv[i], page) != zav::kRenderOk)
                return 1;
            std::fputs((i > 2 ? "\f" : std::string()).append(page.PlainText()).c_str(), stdout);
        }
        return 0;
    }
    std::fprintf(stderr, "usage: native_pages stream FILE [N] | render FILE... | text FILE...\n");
    return 2;
}
