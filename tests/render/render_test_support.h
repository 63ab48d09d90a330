// Helpers for renderer tests: a scratch folder per test and a reader for the
// page bitmaps the renderer writes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zavtest {

using Bytes = std::vector<std::uint8_t>;

// A fresh, empty folder that is removed again with everything in it.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    // Names of the files in the folder, sorted.
    std::vector<std::string> List() const;

  private:
    std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
Bytes Text(const std::string& s);
Bytes Concat(std::initializer_list<Bytes> parts);

// A decoded page bitmap, rows top-down as they were printed.
struct Page {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t fileSize = 0; // bfSize
    std::size_t bytesOnDisk = 0;
    std::vector<Bytes> rows; // rows[0] is the top of the page

    bool Dot(int x, int y) const { return (rows[y][x / 8] >> (7 - x % 8)) & 1; }
    int DotsInRow(int y) const;
    int DotCount() const;
};

Page ReadPage(const std::string& bmpPath);

// The real instrument captures (.esc, .esc_p, .cpt) of the sample folder:
// $ZAV_SAMPLES_DIR, else the one beside the source tree, which a clone made
// elsewhere lacks. `folder` receives where they were looked for.
std::vector<std::filesystem::path> SampleCaptures(std::filesystem::path& folder);

// Writes `capture` as name.cpt in `dir`, renders it and returns the result
// code; on success `page` holds the bitmap.
int RenderBytes(const ScratchDir& dir, const Bytes& capture, Page* page = nullptr,
                const std::string& name = "page.cpt");

} // namespace zavtest
