#include "report/index_page.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "base/output_file.h"
#include "base/utf8_names.h"
#include "report/html_report.h"

namespace zav {

namespace {

namespace fs = std::filesystem;

constexpr char kRowsBegin[] = "<!-- captures: one row per line, newest first -->";
constexpr char kRowsEnd[] = "<!-- end of captures -->";
constexpr char kTextsBegin[] = "<!-- the captures' words: one script per line -->";
constexpr char kTextsEnd[] = "<!-- end of the captures' words -->";
constexpr char kLineEnd[] = "\r\n";
constexpr char kTextScriptPrefix[] = "index-text-";
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
    "table, tbody { display: block; }\r\n"
    "tr { display: flex; align-items: flex-start; border-bottom: 1px solid #ccc; }\r\n"
    "tr[hidden] { display: none; }\r\n"
    "tr.capture { content-visibility: auto; contain-intrinsic-size: auto 180px; }\r\n"
    "th, td { display: block; flex: none; padding: 8px 16px; text-align: left; }\r\n"
    "th:nth-child(1), td:nth-child(1) { width: 222px; }\r\n"
    "th:nth-child(2), td:nth-child(2) { flex: 1 1 20em; min-width: 0; }\r\n"
    "th:nth-child(3), td:nth-child(3) { width: 11em; }\r\n"
    "th:nth-child(4), td:nth-child(4) { width: 4em; }\r\n"
    "td.thumb img { width: 220px; height: 160px; object-fit: cover; object-position: top left; "
    "border: 1px solid #888; }\r\n"
    "#search { font-size: 1.1em; padding: 4px 8px; width: 24em; }\r\n"
    "#found { margin-left: 1em; color: #555; }\r\n"
    "div.line { margin-top: 0.6em; font-family: monospace; white-space: pre; overflow: hidden; "
    "text-overflow: ellipsis; }\r\n"
    "</style>\r\n"
    "</head>\r\n"
    "<body>\r\n"
    "<h1>Captures</h1>\r\n"
    "<p><input type=\"search\" id=\"search\" placeholder=\"Find printouts by their words\" "
    "autocomplete=\"off\"><span id=\"found\"></span></p>\r\n"
    "<table>\r\n"
    "<tr><th>First page</th><th>Printout</th><th>Date and time</th><th>Pages</th></tr>\r\n";

// Between the rows and the scripts of words: what those scripts call.
constexpr char kPageMiddle[] = "</table>\r\n"
                               "<script>\r\n"
                               "var zavTexts = {};\r\n"
                               "function zavText(name, pages) { zavTexts[name] = pages; }\r\n"
                               "</script>\r\n";

// The search box: a row stays when its capture's words hold every word
// typed (in any case) and shows the line where the longest one (the last of
// equal ones) stands, one that holds them all when there is one.
constexpr char kPageTail[] =
    "<script>\r\n"
    "(function () {\r\n"
    "  var box = document.getElementById('search'), found = document.getElementById('found');\r\n"
    "  var rows = Array.prototype.slice.call(document.querySelectorAll('tr.capture'));\r\n"
    "  var texts = null, notes = [];\r\n"
    "  function prepare() {\r\n"
    "    texts = rows.map(function (row) {\r\n"
    "      var pages = zavTexts[row.getAttribute('data-name')];\r\n"
    "      if (!pages) return null;\r\n"
    "      var text = pages.join('\\f');\r\n"
    "      return { text: text, small: text.toLowerCase() };\r\n"
    "    });\r\n"
    "  }\r\n"
    "  // The line where offset `at` lies, its page, and the word found there marked.\r\n"
    "  function note(entry, at, word, into) {\r\n"
    "    var s = entry.small, start = Math.max(s.lastIndexOf('\\n', at), "
    "s.lastIndexOf('\\f', at)) + 1;\r\n"
    "    var end = at;\r\n"
    "    while (end < s.length && s[end] !== '\\n' && s[end] !== '\\f') end++;\r\n"
    "    var page = 1;\r\n"
    "    for (var f = s.indexOf('\\f'); f >= 0 && f < at; f = s.indexOf('\\f', f + 1)) page++;\r\n"
    "    var t = s.length === entry.text.length ? entry.text : s, mark = "
    "document.createElement('mark');\r\n"
    "    mark.textContent = t.slice(at, at + word.length);\r\n"
    "    into.textContent = 'page ' + page + ': ' + t.slice(start, at);\r\n"
    "    into.appendChild(mark);\r\n"
    "    into.appendChild(document.createTextNode(t.slice(at + word.length, end)));\r\n"
    "  }\r\n"
    "  // Where the longest word stands on a line that holds every word, if one does.\r\n"
    "  function lineWithAll(s, words, longest, first) {\r\n"
    "    for (var at = first, n = 0; at >= 0 && n < 50; at = s.indexOf(words[longest], at + 1), "
    "n++) {\r\n"
    "      var start = Math.max(s.lastIndexOf('\\n', at), s.lastIndexOf('\\f', at)) + 1, end = "
    "at;\r\n"
    "      while (end < s.length && s[end] !== '\\n' && s[end] !== '\\f') end++;\r\n"
    "      var line = s.slice(start, end), all = true;\r\n"
    "      for (var w = 0; all && w < words.length; w++) all = line.indexOf(words[w]) >= 0;\r\n"
    "      if (all) return at;\r\n"
    "    }\r\n"
    "    return first;\r\n"
    "  }\r\n"
    "  function showLine(i, line) {\r\n"
    "    var at = line.at;\r\n"
    "    if (line.words.length > 1) at = lineWithAll(line.entry.small, line.words, line.longest, "
    "at);\r\n"
    "    notes[i] = document.createElement('div');\r\n"
    "    notes[i].className = 'line';\r\n"
    "    rows[i].cells[Math.min(1, rows[i].cells.length - 1)].appendChild(notes[i]);\r\n"
    "    note(line.entry, at, line.words[line.longest], notes[i]);\r\n"
    "  }\r\n"
    "  var waiting = {}, index = new Map(rows.map(function (row, i) { return [row, i]; }));\r\n"
    "  var watcher = window.IntersectionObserver ? new IntersectionObserver(function (seen) {\r\n"
    "    seen.forEach(function (e) {\r\n"
    "      var i = index.get(e.target);\r\n"
    "      if (!e.isIntersecting || !waiting[i]) return;\r\n"
    "      showLine(i, waiting[i]);\r\n"
    "      delete waiting[i];\r\n"
    "      watcher.unobserve(e.target);\r\n"
    "    });\r\n"
    "  }) : null;\r\n"
    "  var ready = false;\r\n"
    "  function show(query) {\r\n"
    "    if (!ready) {\r\n"
    "      found.textContent = query ? 'the words of the printouts are still loading' : '';\r\n"
    "      return;\r\n"
    "    }\r\n"
    "    if (!texts) prepare();\r\n"
    "    if (watcher) watcher.disconnect();\r\n"
    "    waiting = {};\r\n"
    "    var words = query.toLowerCase().split(/\\s+/).filter(function (w) { return w; });\r\n"
    "    var shown = 0, longest = 0;\r\n"
    "    for (var w = 1; w < words.length; w++) if (words[w].length >= words[longest].length) "
    "longest = w;\r\n"
    "    for (var i = 0; i < rows.length; i++) {\r\n"
    "      var entry = texts[i], ok = words.length === 0, at = -1;\r\n"
    "      if (!ok && entry) {\r\n"
    "        ok = true;\r\n"
    "        for (w = 0; ok && w < words.length; w++) {\r\n"
    "          var k = entry.small.indexOf(words[w]);\r\n"
    "          if (k < 0) ok = false; else if (w === longest) at = k;\r\n"
    "        }\r\n"
    "      }\r\n"
    "      if (rows[i].hidden === ok) rows[i].hidden = !ok;\r\n"
    "      if (notes[i]) {\r\n"
    "        notes[i].remove();\r\n"
    "        notes[i] = null;\r\n"
    "      }\r\n"
    "      // The line is shown at once for the first rows found, for the others when\r\n"
    "      // they come into view.\r\n"
    "      if (ok && at >= 0) {\r\n"
    "        var line = { entry: entry, at: at, words: words, longest: longest };\r\n"
    "        if (shown < 50 || !watcher) showLine(i, line); else { waiting[i] = line; "
    "watcher.observe(rows[i]); }\r\n"
    "      }\r\n"
    "      if (ok) shown++;\r\n"
    "    }\r\n"
    "    found.textContent = words.length ? shown + ' of ' + rows.length + ' printouts' : '';\r\n"
    "  }\r\n"
    "  box.addEventListener('input', function () { show(box.value); });\r\n"
    "  // The words are loaded once the page is up, so that the rows show at once;\r\n"
    "  // a search typed before waits for them.\r\n"
    "  window.addEventListener('load', function () {\r\n"
    "    var named = document.querySelectorAll('script[type=\"text/x-zav-words\"]');\r\n"
    "    var left = named.length;\r\n"
    "    function loaded() {\r\n"
    "      if (--left > 0) return;\r\n"
    "      texts = null;\r\n"
    "      prepare();\r\n"
    "      ready = true;\r\n"
    "      window.zavWordsReady = performance.now();\r\n"
    "      if (box.value) show(box.value);\r\n"
    "    }\r\n"
    "    left++;\r\n"
    "    for (var n = 0; n < named.length; n++) {\r\n"
    "      var script = document.createElement('script');\r\n"
    "      script.charset = 'utf-8';\r\n"
    "      script.onload = script.onerror = loaded;\r\n"
    "      script.src = named[n].getAttribute('data-src');\r\n"
    "      document.body.appendChild(script);\r\n"
    "    }\r\n"
    "    loaded();\r\n"
    "  });\r\n"
    "})();\r\n"
    "</script>\r\n"
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

// Calls `row` with each row of an existing index of ours and `script` with
// each line of its list of word scripts, line by line, and tells what kind
// of file is there.
template <typename RowFn, typename ScriptFn>
IndexKind ForEachLine(const fs::path& path, RowFn row, ScriptFn script) {
    std::error_code error;
    if (!fs::exists(path, error))
        return error ? IndexKind::Failed : IndexKind::None;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return IndexKind::Failed;
    std::string line;
    bool inRows = false, begun = false, ended = false, inTexts = false;
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
        } else if (ended && !inTexts && line == kTextsBegin) {
            inTexts = true;
        } else if (inTexts && line == kTextsEnd) {
            inTexts = false;
        } else if (inTexts && !line.empty()) {
            script(line);
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

// A side script as the page names it: not loaded with the page, but by the
// page once it is up (see kPageTail).
std::string ScriptLine(const std::string& script) {
    return "<script type=\"text/x-zav-words\" data-src=\"" + RelativeAddress(script) +
           "\"></script>";
}

// Text as a JavaScript string literal, on one line.
void AppendJsString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029"; // line ends to older engines
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// The statement a word script holds for a capture begins so.
std::string TextLinePrefix(std::string_view name) {
    std::string prefix = "zavText(";
    AppendJsString(prefix, name);
    return prefix + ",";
}

bool Put(OutputFile& file, std::string_view text) {
    return file.Write(text.data(), text.size()) && file.Write(kLineEnd, 2);
}

bool PutText(OutputFile& file, const char* text) {
    return file.Write(text, std::strlen(text));
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
    // The side scripts with the captures' words: index-text-NNNN.js.
    const std::string_view words = kTextScriptPrefix;
    if (fileName.starts_with(words) && fileName.ends_with(".js")) {
        const std::string_view number =
            fileName.substr(words.size(), fileName.size() - words.size() - 3);
        return number.size() >= 4 &&
               number.find_first_not_of("0123456789") == std::string_view::npos;
    }
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
               "\" loading=\"lazy\" alt=\"first page of " + name + "\"></a>";
    row += "</td><td><a href=\"" + report + "\">" + name + "</a></td><td>" + LineText(entry.time) +
           "</td><td>" + std::to_string(entry.pages) + "</td></tr>";
    return row;
}

namespace {

// Writes the file `path` whole: `write` puts the lines into its output
// file, which then takes the name. False when anything failed; no work file
// is left then, and an earlier file of the name stays as it was.
template <typename WriteFn> bool WriteWhole(const fs::path& path, WriteFn write) {
    OutputFile file(Utf8Of(path));
    if (!write(file) || !file.Commit()) {
        file.Abandon();
        return false;
    }
    return true;
}

// Holds the index's claim of `dir`, waiting a while for another holder:
// the page and its side scripts are read and written again whole, so of
// several watches sharing the folder only one may do it at a time.
int ClaimIndex(const fs::path& dir, NameClaim& claim) {
    for (int waited = 0; claim.Take(Utf8Of(dir / "index.html.claim")) != NameClaim::kClaimed;
         waited += kClaimPollMs) {
        if (waited >= kClaimWaitMs)
            return kIndexBusy;
        std::this_thread::sleep_for(std::chrono::milliseconds(kClaimPollMs));
    }
    return kIndexOk;
}

std::string TextScriptName(unsigned number) {
    char name[32];
    std::snprintf(name, sizeof name, "%s%04u.js", kTextScriptPrefix, number);
    return name;
}

} // namespace

std::string IndexTextLine(std::string_view name, std::string_view text) {
    std::string line = TextLinePrefix(name) + " [";
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\f', start);
        AppendJsString(line, text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            break;
        line += ", ";
        start = end + 1;
    }
    return line + "]);";
}

namespace {

int WriteIndexText(const fs::path& dir, const std::string& name, std::string_view text,
                   std::string& script) {
    // The newest script: the last of an unbroken series from 0001.
    unsigned newest = 0;
    std::error_code error;
    while (fs::exists(dir / TextScriptName(newest + 1), error) && !error)
        ++newest;
    if (error)
        return kIndexCannotRead;
    const std::string prefix = TextLinePrefix(name);
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    if (newest > 0) {
        std::ifstream in(dir / TextScriptName(newest), std::ios::binary);
        std::string line;
        while (in && std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || line.rfind(prefix, 0) == 0)
                continue; // the same capture's words are replaced
            bytes += line.size();
            lines.push_back(std::move(line));
        }
        if (in.bad())
            return kIndexCannotRead;
    }
    // A full script stays as it is; the words go into the next one.
    const std::size_t captures =
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.rfind("zavText(", 0) == 0; });
    if (newest == 0 || captures >= kTextScriptCaptures || bytes >= kTextScriptBytes) {
        ++newest;
        lines.clear();
    }
    if (lines.empty())
        lines.push_back(
            "// ZAV Print: the words of the captures on index.html, for its search box.");
    lines.push_back(IndexTextLine(name, text));
    script = TextScriptName(newest);
    const bool written = WriteWhole(dir / script, [&](OutputFile& file) {
        for (const std::string& line : lines) {
            if (!Put(file, line))
                return false;
        }
        return true;
    });
    return written ? kIndexOk : kIndexCannotWrite;
}

int WriteIndexPage(const fs::path& dir, const std::vector<IndexEntry>& entries,
                   std::string* movedAside) {
    const fs::path index = dir / kIndexFileName;
    std::vector<std::string> scripts;
    IndexKind kind = ForEachLine(
        index, [](const std::string&) {},
        [&](const std::string& script) { scripts.push_back(script); });
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
        scripts.clear();
    }
    std::unordered_set<std::string> names; // the rows replaced, by their name attribute
    for (const IndexEntry& entry : entries) {
        names.insert(NameAttribute(entry.name));
        const std::string line = ScriptLine(entry.textScript);
        if (!entry.textScript.empty() &&
            std::find(scripts.begin(), scripts.end(), line) == scripts.end())
            scripts.push_back(line);
    }

    // The new page, row by row: however many rows there are, only one is in
    // memory at a time.
    const bool written = WriteWhole(index, [&](OutputFile& file) {
        bool ok = PutText(file, kPageHead) && Put(file, kRowsBegin);
        for (const IndexEntry& entry : entries)
            ok = ok && Put(file, IndexRow(entry));
        if (kind == IndexKind::Ours) {
            kind = ForEachLine(
                index,
                [&](const std::string& row) {
                    const std::size_t at = row.find("data-name=\"");
                    const std::size_t end = row.find('"', at + 11);
                    if (at == std::string::npos || end == std::string::npos ||
                        !names.count(row.substr(at, end + 1 - at)))
                        ok = ok && Put(file, row);
                },
                [](const std::string&) {});
        }
        ok = ok && kind != IndexKind::Failed && Put(file, kRowsEnd) && PutText(file, kPageMiddle) &&
             Put(file, kTextsBegin);
        for (const std::string& script : scripts)
            ok = ok && Put(file, script);
        return ok && Put(file, kTextsEnd) && PutText(file, kPageTail);
    });
    if (!written)
        return kind == IndexKind::Failed ? kIndexCannotRead : kIndexCannotWrite;
    return kIndexOk;
}

} // namespace

int AddToIndexText(const std::string& folder, const std::string& name, std::string_view text,
                   std::string& script) {
    const fs::path dir = folder.empty() ? fs::path(".") : PathOf(folder);
    NameClaim claim;
    if (const int claimed = ClaimIndex(dir, claim); claimed != kIndexOk)
        return claimed;
    return WriteIndexText(dir, name, text, script);
}

int AddToIndexPage(const std::string& folder, const IndexEntry& entry, std::string* movedAside) {
    return AddToIndexPage(folder, std::vector<IndexEntry>{entry}, movedAside);
}

int AddToIndexPage(const std::string& folder, const std::vector<IndexEntry>& entries,
                   std::string* movedAside) {
    const fs::path dir = folder.empty() ? fs::path(".") : PathOf(folder);
    NameClaim claim;
    if (const int claimed = ClaimIndex(dir, claim); claimed != kIndexOk)
        return claimed;
    return WriteIndexPage(dir, entries, movedAside);
}

int AddCaptureToIndex(const std::string& folder, IndexEntry entry, std::string_view text,
                      std::string* movedAside) {
    const fs::path dir = folder.empty() ? fs::path(".") : PathOf(folder);
    NameClaim claim;
    if (const int claimed = ClaimIndex(dir, claim); claimed != kIndexOk)
        return claimed;
    const int words = WriteIndexText(dir, entry.name, text, entry.textScript);
    if (words != kIndexOk)
        entry.textScript.clear(); // the row goes in all the same
    const int page = WriteIndexPage(dir, {entry}, movedAside);
    return page != kIndexOk ? page : words;
}

} // namespace zav
