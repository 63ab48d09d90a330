#include "render_test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include <gtest/gtest.h>

#include "render/renderer.h"

namespace zavtest {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::random_device rd;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string base = std::string("zav_render_") + (info ? info->name() : "x") + "_";
    for (;;) {
        path_ = fs::temp_directory_path() / (base + std::to_string(rd()));
        if (fs::create_directory(path_))
            break;
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::List() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<fs::path> SampleCaptures(fs::path& folder) {
    const char* fromEnv = std::getenv("ZAV_SAMPLES_DIR");
    folder = fromEnv && *fromEnv ? fromEnv : ZAV_SAMPLES_DIR;
    std::vector<fs::path> captures;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string ext = it->path().extension().string();
        if (ext == ".esc" || ext == ".esc_p" || ext == ".cpt")
            captures.push_back(it->path());
    }
    std::sort(captures.begin(), captures.end());
    return captures;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

namespace {
std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
} // namespace

int Page::DotsInRow(int y) const {
    int n = 0;
    for (int x = 0; x < width; ++x)
        n += Dot(x, y);
    return n;
}

int Page::DotCount() const {
    int n = 0;
    for (int y = 0; y < height; ++y)
        n += DotsInRow(y);
    return n;
}

Page ReadPage(const std::string& bmpPath) {
    const Bytes file = ReadBytes(bmpPath);
    Page page;
    page.bytesOnDisk = file.size();
    if (file.size() < 62)
        return page;
    page.fileSize = Le32(file, 2);
    page.width = static_cast<std::int32_t>(Le32(file, 18));
    page.height = static_cast<std::int32_t>(Le32(file, 22));
    const std::size_t rowBytes = static_cast<std::size_t>(page.width) / 8;
    if (file.size() != 62 + rowBytes * page.height)
        return page; // caller sees the size mismatch
    for (int y = page.height - 1; y >= 0; --y) {
        const auto* row = file.data() + 62 + static_cast<std::size_t>(y) * rowBytes;
        page.rows.emplace_back(row, row + rowBytes);
    }
    return page;
}

int RenderBytes(const ScratchDir& dir, const Bytes& capture, Page* page, const std::string& name) {
    const std::string path = dir.File(name);
    WriteBytes(path, capture);
    const int result = zav::RenderCaptureFile(path.c_str());
    if (result == 0 && page) {
        const std::string stem = path.substr(0, path.rfind('.'));
        *page = ReadPage(stem + ".bmp");
    }
    return result;
}

} // namespace zavtest
