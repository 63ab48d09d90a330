#include "report/index_page.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <vector>

#include "report/html_report.h"

namespace zav {

namespace {

namespace fs = std::filesystem;

constexpr char kRowsBegin[] = "<!-- captures: one row per line, newest first -->";
constexpr char kRowsEnd[] = "<!-- end of captures -->";
constexpr char kLineEnd[] = "\r\n";

constexpr char kPageHead[] =
    "<!DOCTYPE html>\r\n"
    "<html>\r\n"
    "<head>\r\n"
    "<meta charset=\"utf-8\">\r\n"
    "<title>ZAV Print - captures</title>\r\n"
    "<style>\r\n"
    "body { font-family: sans-serif; margin: 1.5em; }\r\n"
    "table { border-collapse: collapse; }\r\n"
    "th, td { border-bottom: 1px solid #ccc; padding: 8px 16px; text-align: left; "
    "vertical-align: top; }\r\n"
    "td.thumb img { width: 220px; height: 160px; object-fit: cover; object-position: top left; "
    "border: 1px solid #888; }\r\n"
    "</style>\r\n"
    "</head>\r\n"
    "<body>\r\n"
    "<h1>Captures</h1>\r\n"
    "<table>\r\n"
    "<tr><th>First page</th><th>Printout</th><th>Date and time</th><th>Pages</th></tr>\r\n";

constexpr char kPageTail[] = "</table>\r\n"
                             "</body>\r\n"
                             "</html>\r\n";

// HTML text on one line: line breaks become character references.
std::string LineText(std::string_view text) {
    std::string out;
    for (char c : HtmlEscape(text)) {
        if (c == '\n')
            out += "&#10;";
        else if (c == '\r')
            out += "&#13;";
        else
            out += c;
    }
    return out;
}

std::string NameAttribute(std::string_view name) {
    return "data-name=\"" + LineText(name) + "\"";
}

enum class ReadIndex { None, Ours, Foreign, Failed };

// The rows of an existing index, as they stand.
ReadIndex ReadRows(const fs::path& path, std::vector<std::string>& rows) {
    std::error_code error;
    if (!fs::exists(path, error))
        return error ? ReadIndex::Failed : ReadIndex::None;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ReadIndex::Failed;
    std::string line;
    bool inRows = false, begun = false, ended = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!begun && line == kRowsBegin) {
            begun = inRows = true;
        } else if (inRows && line == kRowsEnd) {
            inRows = false;
            ended = true;
        } else if (inRows && !line.empty()) {
            rows.push_back(line);
        }
    }
    if (in.bad())
        return ReadIndex::Failed;
    return begun && ended ? ReadIndex::Ours : ReadIndex::Foreign;
}

// A name in the folder that nothing has: index-previous.html, -2, -3, ...
fs::path FreeAsideName(const fs::path& dir) {
    for (int n = 1; n < 10000; ++n) {
        fs::path candidate = dir / (n == 1 ? std::string("index-previous.html")
                                           : "index-previous-" + std::to_string(n) + ".html");
        std::error_code error;
        if (!fs::exists(candidate, error) && !error)
            return candidate;
    }
    return {};
}

// Writes `text` to a new file in `dir` and renames it to `target`.
bool ReplaceWhole(const fs::path& dir, const fs::path& target, const std::string& text) {
    std::random_device seed;
    fs::path temporary;
    std::error_code error;
    for (int attempt = 0; attempt < 100 && temporary.empty(); ++attempt) {
        fs::path candidate = dir / ("index.html." + std::to_string(seed()) + ".part");
        if (!fs::exists(candidate, error) && !error)
            temporary = candidate;
    }
    if (temporary.empty())
        return false;
    std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        fs::remove(temporary, error);
        return false;
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

} // namespace

std::string RelativeAddress(std::string_view fileName) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : fileName) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string IndexRow(const IndexEntry& entry) {
    const std::string report = RelativeAddress(entry.name + ".html");
    const std::string name = LineText(entry.name);
    std::string row =
        "<tr class=\"capture\" " + NameAttribute(entry.name) + "><td class=\"thumb\">";
    if (!entry.thumbnail.empty())
        row += "<a href=\"" + report + "\"><img src=\"" + RelativeAddress(entry.thumbnail) +
               "\" alt=\"first page of " + name + "\"></a>";
    row += "</td><td><a href=\"" + report + "\">" + name + "</a></td><td>" + LineText(entry.time) +
           "</td><td>" + std::to_string(entry.pages) + "</td></tr>";
    return row;
}

int AddToIndexPage(const std::string& folder, const IndexEntry& entry, std::string* movedAside) {
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    const fs::path index = dir / kIndexFileName;
    std::vector<std::string> rows;
    switch (ReadRows(index, rows)) {
    case ReadIndex::Failed:
        return kIndexCannotRead;
    case ReadIndex::Foreign: {
        // Somebody's own page under our name: kept, under another one.
        const fs::path aside = FreeAsideName(dir);
        std::error_code error;
        if (aside.empty())
            return kIndexCannotMoveAside;
        fs::rename(index, aside, error);
        if (error)
            return kIndexCannotMoveAside;
        if (movedAside)
            *movedAside = aside.string();
        rows.clear();
        break;
    }
    default:
        break;
    }

    const std::string same = NameAttribute(entry.name);
    std::string page = kPageHead;
    page.append(kRowsBegin).append(kLineEnd);
    page.append(IndexRow(entry)).append(kLineEnd);
    for (const std::string& row : rows) {
        if (row.find(same) == std::string::npos)
            page.append(row).append(kLineEnd);
    }
    page.append(kRowsEnd).append(kLineEnd);
    page.append(kPageTail);
    return ReplaceWhole(dir, index, page) ? kIndexOk : kIndexCannotWrite;
}

} // namespace zav
