#include "report/printout_text.h"

#include "base/output_file.h"
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

int WriteTextFile(OutputFile& out, std::string_view text) {
    const bool written = out.Write(text.data(), text.size());
    return out.Close() && written ? kTextOk : kTextCannotWrite;
}

int WriteTextFile(const std::string& path, std::string_view text,
                  const std::vector<std::string>& keep) {
    const auto mustStay = [&] {
        for (const std::string& file : keep) {
            if (IsSameFile(path.c_str(), file.c_str()))
                return true;
        }
        return false;
    };
    if (mustStay())
        return kTextWouldReplace;
    OutputFile out(path);
    if (WriteTextFile(out, text) != kTextOk)
        return kTextCannotWrite;
    // Looked at again just before the file takes its name.
    if (!out.Commit(keep))
        return mustStay() ? kTextWouldReplace : kTextCannotWrite;
    return kTextOk;
}

} // namespace zav
