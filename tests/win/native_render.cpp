// Build-machine helper of the conversion test: writes capture files (a
// generated printout, and the instrument samples when their folder exists)
// twice, into OUT/native and OUT/win, and renders the native copies here.
//   zav_native_render SAMPLES_DIR OUT_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "printout.h"
#include "render/renderer.h"

namespace fs = std::filesystem;

namespace {

bool WriteFile(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zav_native_render SAMPLES_DIR OUT_DIR\n");
        return 2;
    }
    const fs::path samples = argv[1];
    const fs::path out = argv[2];
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out / "native");
    fs::create_directories(out / "win");

    std::vector<std::pair<std::string, std::vector<unsigned char>>> captures;
    zavtool::PrintoutOptions options;
    options.pages = 1;
    options.seed = 7;
    auto generated = zavtool::GeneratePrintout(options);
    captures.emplace_back("generated",
                          std::vector<unsigned char>(generated.begin(), generated.end()));

    if (!fs::is_directory(samples)) {
        std::printf("no sample folder at %s: the generated printout only\n",
                    samples.string().c_str());
    } else {
        for (const auto& entry : fs::directory_iterator(samples)) {
            const fs::path& p = entry.path();
            std::string ext = p.extension().string();
            if (!entry.is_regular_file() || ext == ".txt" || ext == ".md")
                continue;
            std::ifstream in(p, std::ios::binary);
            captures.emplace_back(p.stem().string(),
                                  std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                                             std::istreambuf_iterator<char>()));
        }
    }

    int failures = 0;
    for (const auto& [name, bytes] : captures) {
        fs::path native = out / "native" / (name + ".cpt");
        if (!WriteFile(native, bytes) || !WriteFile(out / "win" / (name + ".cpt"), bytes)) {
            std::fprintf(stderr, "%s: cannot write the capture copies\n", name.c_str());
            ++failures;
            continue;
        }
        int result = zav::RenderCaptureFile(native.string().c_str());
        std::printf("%s: %s\n", name.c_str(), zav::RenderResultText(result));
    }
    return failures ? 1 : 0;
}
