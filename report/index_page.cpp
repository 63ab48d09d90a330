#include "report/index_page.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include "base/output_file.h"
#include "base/utf8_names.h"
#include "report/html_report.h"

namespace zav {

namespace {

namespace fs = std::filesystem;

constexpr char kRowsBegin[] = "<!-- captures: one row per line, newest first -->";
constexpr char kRowsEnd[] = "<!-- end of captures -->";
constexpr char kLineEnd[] = "\r\n";
// How long another holder of the index may keep it before this update gives up.
constexpr int kClaimWaitMs = 10000;
constexpr int kClaimPollMs = 20;

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

enum class IndexKind { None, Ours, Foreign, Failed };

// Calls `row` with each row of an existing index of ours, line by line, and
// tells what kind of file is there.
template <typename RowFn> IndexKind ForEachRow(const fs::path& path, RowFn row) {
    std::error_code error;
    if (!fs::exists(path, error))
        return error ? IndexKind::Failed : IndexKind::None;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return IndexKind::Failed;
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
            row(line);
        }
    }
    if (in.bad())
        return IndexKind::Failed;
    return begun && ended ? IndexKind::Ours : IndexKind::Foreign;
}

// A name in the folder that nothing has: index-previous.html, -2, -3, ...
constexpr std::string_view kAsidePrefix = "index-previous";

fs::path FreeAsideName(const fs::path& dir) {
    for (int n = 1; n < 10000; ++n) {
        std::string name(kAsidePrefix);
        if (n != 1) {
            name += '-';
            name += std::to_string(n);
        }
        name += ".html";
        fs::path candidate = dir / name;
        std::error_code error;
        if (!fs::exists(candidate, error) && !error)
            return candidate;
    }
    return {};
}

bool Put(OutputFile& file, std::string_view text) {
    return file.Write(text.data(), text.size()) && file.Write(kLineEnd, 2);
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

bool IsIndexPageName(std::string_view fileName) {
    if (fileName == kIndexFileName)
        return true;
    if (!fileName.starts_with(kAsidePrefix) || !fileName.ends_with(".html"))
        return false;
    std::string_view number = fileName.substr(kAsidePrefix.size());
    number.remove_suffix(5);
    if (number.empty())
        return true;
    return number.size() > 1 && number[0] == '-' &&
           number.find_first_not_of("0123456789", 1) == std::string_view::npos;
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
    const fs::path dir = folder.empty() ? fs::path(".") : PathOf(folder);
    const fs::path index = dir / kIndexFileName;
    NameClaim claim;
    for (int waited = 0; claim.Take(Utf8Of(dir / "index.html.claim")) != NameClaim::kClaimed;
         waited += kClaimPollMs) {
        if (waited >= kClaimWaitMs)
            return kIndexBusy;
        std::this_thread::sleep_for(std::chrono::milliseconds(kClaimPollMs));
    }
    IndexKind kind = ForEachRow(index, [](const std::string&) {});
    if (kind == IndexKind::Failed)
        return kIndexCannotRead;
    if (kind == IndexKind::Foreign) {
        // Somebody's own page under our name: kept, under another one.
        const fs::path aside = FreeAsideName(dir);
        std::error_code error;
        if (aside.empty())
            return kIndexCannotMoveAside;
        fs::rename(index, aside, error);
        if (error)
            return kIndexCannotMoveAside;
        if (movedAside)
            *movedAside = Utf8Of(aside);
        kind = IndexKind::None;
    }

    // The new page, row by row: however many rows there are, only one is in
    // memory at a time.
    OutputFile file(Utf8Of(index));
    if (!file.Create())
        return kIndexCannotWrite;
    bool written = file.Write(kPageHead, std::strlen(kPageHead)) && Put(file, kRowsBegin) &&
                   Put(file, IndexRow(entry));
    if (kind == IndexKind::Ours) {
        const std::string same = NameAttribute(entry.name);
        kind = ForEachRow(index, [&](const std::string& row) {
            if (row.find(same) == std::string::npos)
                written = written && Put(file, row);
        });
    }
    written = written && kind != IndexKind::Failed && Put(file, kRowsEnd) &&
              file.Write(kPageTail, std::strlen(kPageTail));
    if (!written || !file.Commit()) {
        file.Abandon();
        return kind == IndexKind::Failed ? kIndexCannotRead : kIndexCannotWrite;
    }
    return kIndexOk;
}

} // namespace zav
