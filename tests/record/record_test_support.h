// Capture folders with records, made the way the writers will make them:
// every file's bytes go through the record as they are written.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "record/capture_record.h"

namespace zavtest {

namespace fs = std::filesystem;

// A fresh folder for one test, removed afterwards.
class RecordFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zav_record_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(dir_, error);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Base(const std::string& name) const { return Path(name); }
    fs::path dir_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Some bytes that differ from file to file.
inline std::string Bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// Writes the file and tells the record, in blocks of `block` bytes; with
// `fromEnd` the last block first, as a bottom-up bitmap is written.
inline void WriteRecorded(zav::record::CaptureRecord& record, const std::string& path,
                          const std::string& bytes, std::size_t block = 4096,
                          bool fromEnd = false) {
    zav::record::RecordedFile& file = record.Track(path);
    WriteFile(path, bytes);
    std::size_t blocks = (bytes.size() + block - 1) / block;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t at = (fromEnd ? blocks - 1 - i : i) * block;
        file.Written(at, bytes.data() + at, std::min(block, bytes.size() - at));
    }
    file.Closed(true);
}

// A finished capture of `pages` pages in page mode: NAME001.cpt, NAME001.bmp
// (written from its end), ..., NAME.html; the bytes received are the page
// captures one after the other.
inline int MakeCapture(const std::string& base, unsigned pages, unsigned seed,
                       const zav::record::SigningKey* key = nullptr) {
    zav::record::CaptureRecord record(base, {"labpc", "tech", "zavprint test"},
                                      {"MODEL 7", "/dev/ttyUSB0", "FT12AB", "basic"});
    for (unsigned page = 1; page <= pages; ++page) {
        char number[8];
        std::snprintf(number, sizeof number, "%03u", page);
        const std::string capture = Bytes(3000 + page, seed * 100 + page);
        record.Received(capture.data(), capture.size());
        WriteRecorded(record, base + number + ".cpt", capture);
        WriteRecorded(record, base + number + ".bmp", Bytes(17000, seed * 100 + 50 + page), 4096,
                      true);
    }
    WriteRecorded(record, base + ".html", "<html>" + std::to_string(seed) + "</html>");
    record.SetPages(pages);
    return record.Write(key);
}

} // namespace zavtest
