// zav_gendesc OUTPUT_DIR: writes the bytes of each dialog description to
// OUTPUT_DIR/<NAME>.bin, the files the resource script embeds as type 1023.
// Runs on the build machine, also in the Windows cross build.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "resources/descriptions.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return false;
    return std::fclose(file.release()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zav_gendesc OUTPUT_DIR\n");
        return 2;
    }
    for (const zav::NamedDialogDescription& d : zav::ModuleDialogDescriptions()) {
        std::vector<unsigned char> bytes = zav::SerializeDialogDescription(d.description);
        zav::DialogDescription check;
        if (bytes.empty() || !zav::ParseDialogDescription(bytes.data(), bytes.size(), check)) {
            std::fprintf(stderr, "zav_gendesc: description %s cannot be written\n", d.name);
            return 1;
        }
        std::string path = std::string(argv[1]) + "/" + d.name + ".bin";
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "zav_gendesc: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
