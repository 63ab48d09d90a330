// Finding captures by their words: the text files NAME.txt of a folder's
// captures searched without regard to letter case, as `zavprint search` and
// the index page's search box do.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// `text` with its capital letters made small: the Latin letters of ASCII
// and Latin-1, Greek and Cyrillic, each of which keeps its length in UTF-8,
// so that an offset into the result is the same offset into `text`.
std::string FoldCase(std::string_view text);

// A line of a capture's text that holds a word searched for.
struct TextMatch {
    unsigned page = 0; // from 1; form feeds separate the pages
    std::string line;
};

// The lines of `text` (a capture's text file) that hold any of `words`,
// when the whole text holds every one of them (in any case, anywhere);
// false, and no lines, when it does not. No words: no match.
bool FindWords(std::string_view text, const std::vector<std::string>& words,
               std::vector<TextMatch>& lines);

// A capture of a folder that has a text file: NAME.txt beside NAME.html.
struct CaptureText {
    std::string name;
    std::string path;     // of its text file
    std::time_t time = 0; // when its text file was written
};

// The captures of `folder` (empty: the current one) that have a text file,
// newest first.
std::vector<CaptureText> ListCaptureTexts(const std::string& folder);

} // namespace zav
