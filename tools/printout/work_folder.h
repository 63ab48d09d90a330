// The folder a benchmark or fuzzer works in: made new under a parent folder
// (the temporary folder unless told), with a name no other run has, and
// removed with what is in it when the tool is done. A tool never removes
// anything outside the folder it made, so a --folder that names a folder
// with other files in it loses none of them.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace zavtool {

class WorkFolder {
  public:
    explicit WorkFolder(const char* prefix, const std::filesystem::path& parent =
                                                std::filesystem::temp_directory_path()) {
        std::string name = (parent / (std::string(prefix) + ".XXXXXX")).string();
        if (!mkdtemp(name.data()))
            throw std::system_error(errno, std::generic_category(),
                                    "cannot make a work folder in " + parent.string());
        path_ = name;
    }
    ~WorkFolder() {
        std::error_code ignored;
        if (!keep_)
            std::filesystem::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Leaves the folder and its files when the tool ends.
    void Keep() { keep_ = true; }

  private:
    std::filesystem::path path_;
    bool keep_ = false;
};

} // namespace zavtool
