// The text file of a capture, NAME.txt beside its report: the words of the
// printout as the paper shows them, UTF-8, one line per printed line, the
// pages in order with a form feed between two pages (render/page_text.h
// makes each page's text).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zav {

class OutputFile;
class PageText;

inline constexpr char kTextPageBreak = '\f';

enum TextFileResult : int {
    kTextOk = 0,
    kTextWouldReplace = -1, // the text file's name is that of a file that must stay
    kTextCannotWrite = -2,  // it cannot be created, written or renamed into place
};

// Plain-words text of a TextFileResult, for messages to the user.
const char* TextFileResultText(int result);

// Appends the text of the next page to the text of a printout.
void AppendTextPage(std::string& printout, const PageText& page, bool firstPage);

// Writes `text` into `out` and closes it; the caller puts it in place.
// kTextOk or kTextCannotWrite.
int WriteTextFile(OutputFile& out, std::string_view text);
// Writes `text` as the file `path`, whole: an earlier file of that name
// stays as it was until the new one is complete. A path that names one of
// `keep` (files that must stay) is refused.
int WriteTextFile(const std::string& path, std::string_view text,
                  const std::vector<std::string>& keep);

} // namespace zav
