#include "report/printout_text.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/stdio_file.h"
#include "render/page_text.h"

namespace zav {

const char* TextFileResultText(int result) {
    switch (result) {
    case kTextOk:
        return "written";
    case kTextWouldReplace:
        return "the text file would replace a file that must stay";
    case kTextCannotWrite:
        return "the text file cannot be written";
    default:
        return "unknown failure";
    }
}

void AppendTextPage(std::string& printout, const PageText& page, bool firstPage) {
    if (!firstPage)
        printout += kTextPageBreak;
    page.AppendPlainText(printout);
}

int WriteTextFile(const std::string& path, std::string_view text,
                  const std::vector<std::string>& keep) {
    namespace fs = std::filesystem;
    const auto mustStay = [&] {
        for (const std::string& file : keep) {
            if (IsSameFile(path.c_str(), file.c_str()))
                return true;
        }
        return false;
    };
    if (mustStay())
        return kTextWouldReplace;
    // A work name that nothing has: NAME.txt.part, .part1, ...
    std::string work;
    std::error_code error;
    for (int attempt = 0; attempt < 100 && work.empty(); ++attempt) {
        std::string candidate = path + ".part" + (attempt ? std::to_string(attempt) : "");
        if (fs::symlink_status(candidate, error).type() == fs::file_type::not_found)
            work = std::move(candidate);
    }
    UniqueFile out = work.empty() ? nullptr : OpenFile(work.c_str(), "wb");
    if (!out)
        return kTextCannotWrite;
    const bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
    int result = CloseFile(out) && written ? kTextOk : kTextCannotWrite;
    // Checked again just before the file takes its name.
    if (result == kTextOk && mustStay())
        result = kTextWouldReplace;
    if (result == kTextOk) {
        fs::rename(work, path, error);
        if (error)
            result = kTextCannotWrite;
    }
    if (result != kTextOk)
        std::remove(work.c_str());
    return result;
}

} // namespace zav
