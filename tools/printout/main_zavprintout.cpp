// zavprintout: writes a generated instrument printout as a capture file.
//   zavprintout [--pages N] [--seed S] [--rows N] [--text TEXT.txt] OUTPUT.cpt
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "printout.h"

namespace {

void Usage() {
    std::fprintf(
        stderr,
        "usage: zavprintout [--pages N] [--seed S] [--rows N] [--text TEXT.txt] OUTPUT.cpt\n"
        "  Writes an instrument printout of N pages (default 3) as a capture\n"
        "  file; --rows sets the measured values per page (default 12); --text\n"
        "  also writes the words it printed, as the printout's text file shows them.\n");
}

bool Number(const char* text, long min, long max, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= min && value <= max;
}

bool WriteFile(const char* path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "zavprintout: cannot create %s\n", path);
        return false;
    }
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "zavprintout: cannot write %s\n", path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    zavtool::PrintoutOptions options;
    const char* output = nullptr;
    const char* textOutput = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        long value = 0;
        if ((arg == "--pages" || arg == "--seed" || arg == "--rows") && i + 1 < argc) {
            if (!Number(argv[++i], arg == "--seed" ? 0 : 1, arg == "--seed" ? 0x7FFFFFFF : 100000,
                        value)) {
                std::fprintf(stderr, "zavprintout: bad number for %s: %s\n", arg.c_str(), argv[i]);
                return 2;
            }
            if (arg == "--pages")
                options.pages = static_cast<int>(value);
            else if (arg == "--seed")
                options.seed = static_cast<std::uint32_t>(value);
            else
                options.tableRows = static_cast<int>(value);
        } else if (arg == "--text" && i + 1 < argc) {
            textOutput = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            Usage();
            return 0;
        } else if (arg[0] != '-' && !output) {
            output = argv[i];
        } else {
            Usage();
            return 2;
        }
    }
    if (!output) {
        Usage();
        return 2;
    }
    std::string text;
    const std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options, &text);
    if (!WriteFile(output, bytes.data(), bytes.size()) ||
        (textOutput && !WriteFile(textOutput, text.data(), text.size())))
        return 1;
    std::printf("%s: %d pages, %zu bytes\n", output, options.pages, bytes.size());
    return 0;
}
