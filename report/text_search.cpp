#include "report/text_search.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <system_error>

#include "base/stdio_file.h"
#include "base/utf8.h"
#include "report/printout_text.h"

namespace zav {

namespace {

namespace fs = std::filesystem;

// The small letter of a capital one in the alphabets FoldCase knows; every
// pair lies in the two-byte range of UTF-8.
char32_t SmallLetter(char32_t c) {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    return c;
}

} // namespace

std::string FoldCase(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        const unsigned char b = static_cast<unsigned char>(out[i]);
        if (b < 0x80) {
            if (b >= 'A' && b <= 'Z')
                out[i] = static_cast<char>(b + ('a' - 'A'));
            ++i;
            continue;
        }
        std::size_t next = i;
        const char32_t c = NextCodePoint(text, next);
        const char32_t small = SmallLetter(c);
        if (small != c) {
            std::string two;
            AppendUtf8(two, small);
            out.replace(i, 2, two);
        }
        i = next;
    }
    return out;
}

bool FindWords(std::string_view text, const std::vector<std::string>& words,
               std::vector<TextMatch>& lines) {
    lines.clear();
    if (words.empty())
        return false;
    const std::string folded = FoldCase(text);
    std::vector<std::string> wanted;
    for (const std::string& word : words) {
        wanted.push_back(FoldCase(word));
        if (folded.find(wanted.back()) == std::string::npos)
            return false;
    }
    // Every line that holds one of the words, with its page.
    std::vector<std::size_t> hits;
    for (const std::string& word : wanted) {
        for (std::size_t at = folded.find(word); at != std::string::npos;
             at = folded.find(word, at + std::max<std::size_t>(1, word.size())))
            hits.push_back(at);
    }
    std::sort(hits.begin(), hits.end());
    unsigned page = 1;
    std::size_t counted = 0; // form feeds before here are counted in `page`
    std::size_t lineEnd = 0; // the line of the last hit ends here
    for (const std::size_t at : hits) {
        if (at < lineEnd)
            continue;                                                  // that line is taken already
        const std::size_t start = folded.find_last_of("\n\f", at) + 1; // npos + 1 is 0
        lineEnd = std::min(folded.find_first_of("\n\f", at), folded.size());
        page += static_cast<unsigned>(
            std::count(folded.begin() + static_cast<std::ptrdiff_t>(counted),
                       folded.begin() + static_cast<std::ptrdiff_t>(start), kTextPageBreak));
        counted = start;
        lines.push_back({page, std::string(text.substr(start, lineEnd - start))});
    }
    return true;
}

std::vector<CaptureText> ListCaptureTexts(const std::string& folder) {
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    std::set<std::string> reports;
    std::vector<std::string> texts;
    std::error_code error;
    for (fs::directory_iterator it(dir, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const fs::path& path = it->path();
        const std::string extension = path.extension().string();
        if (extension == ".html")
            reports.insert(path.stem().string());
        else if (extension == ".txt")
            texts.push_back(path.stem().string());
    }
    std::vector<CaptureText> captures;
    for (const std::string& name : texts) {
        if (!reports.count(name))
            continue;
        CaptureText capture;
        capture.name = name;
        capture.path = (dir / (name + ".txt")).string();
        const auto written = fs::last_write_time(capture.path, error);
        if (!error)
            capture.time = std::chrono::system_clock::to_time_t(
                std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                    std::chrono::file_clock::to_sys(written)));
        captures.push_back(std::move(capture));
    }
    std::sort(captures.begin(), captures.end(), [](const CaptureText& a, const CaptureText& b) {
        return a.time != b.time ? a.time > b.time : a.name > b.name;
    });
    return captures;
}

} // namespace zav
