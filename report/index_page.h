// The index page of a capture folder, FOLDER/index.html: one row per capture,
// newest first, with the time it ended, its page count, a thumbnail of its
// first page and a link to its report, and a search box that keeps the rows
// whose words hold what is typed. Plain HTML that opens from the folder.
//
// The words come from side scripts beside the page, index-text-0001.js,
// -0002.js, ... (a page opened from its folder may load scripts but read no
// other file): each line one statement, zavText("NAME", ["page 1", ...]);
// for one capture; the page loads them once it is up, so that its rows show
// at once. A capture's words go into the newest script, which is written
// whole again (it holds at most kTextScriptCaptures captures and
// about kTextScriptBytes), so no file grows without end; the page lists the
// scripts between two marker comments of their own.
//
// The rows sit one per line between two marker comments. Adding a capture
// reads the rows that are there and keeps every one of them as it is, rows
// this program did not write included, puts the new row on top and replaces
// the page in one step (a temporary file in the folder, then a rename), so
// that a reader never sees half a page. While it writes the page or a side
// script, it holds the claim index.html.claim, so that of several watches
// sharing the folder none loses another's row or words (kIndexBusy when
// another holds it too long).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

inline constexpr char kIndexFileName[] = "index.html";

struct IndexEntry {
    std::string name;       // the capture's base name; its report is name + ".html"
    std::string time;       // when the printout ended, "YYYY-MM-DD HH:MM:SS"
    unsigned pages = 0;     // pages in the report
    std::string thumbnail;  // file name of the first page bitmap; empty: none
    std::string textScript; // file name of the side script with its words; empty: none
};

inline constexpr std::size_t kTextScriptCaptures = 64;
inline constexpr std::size_t kTextScriptBytes = 512 * 1024;

enum IndexResult : int {
    kIndexOk = 0,
    kIndexCannotRead = -1,      // an index is there but cannot be read: left as it is
    kIndexCannotWrite = -2,     // the new page could not be written; the old one stays
    kIndexCannotMoveAside = -3, // a page that is not an index of ours could not be moved aside
    kIndexBusy = -4,            // another program held index.html.claim for too long
};

// Adds `entry` at the top of `folder`/index.html (empty folder: the current
// one); a row of the same capture name is replaced. A file of that name that
// holds no rows of ours is not overwritten: it is first renamed to
// index-previous.html (or -2, -3, ...), whose name goes to `movedAside`.
int AddToIndexPage(const std::string& folder, const IndexEntry& entry,
                   std::string* movedAside = nullptr);
// The same for several captures at once, `entries` in the order their rows
// go on top (the newest first).
int AddToIndexPage(const std::string& folder, const std::vector<IndexEntry>& entries,
                   std::string* movedAside = nullptr);

// Adds the words of capture `name` (`text` as its text file holds them) to
// the newest side script of `folder`, in place of a line of the same
// capture, or to a new one when that one is full; `script` receives the
// script's file name. Returns kIndexOk, kIndexCannotRead or kIndexCannotWrite
// (the scripts as they were).
int AddToIndexText(const std::string& folder, const std::string& name, std::string_view text,
                   std::string& script);

// A capture into the folder's index: its words into a side script
// (AddToIndexText), then its row into the page, which lists that script.
// The row goes in also when its words could not; the first failure is
// returned.
int AddCaptureToIndex(const std::string& folder, IndexEntry entry, std::string_view text,
                      std::string* movedAside = nullptr);

// The statement of a side script for one capture: one line.
std::string IndexTextLine(std::string_view name, std::string_view text);

// True for the names of the index page, of its side scripts of words
// (index-text-0001.js, ...) and of the pages moved aside for it
// (index-previous.html, index-previous-2.html, ...): files of the folder
// that belong to no capture.
bool IsIndexPageName(std::string_view fileName);

// The row of one capture: one line, no line break in it.
std::string IndexRow(const IndexEntry& entry);

// A file name as a relative address: every byte but letters, digits and
// "-._~" percent-encoded.
std::string RelativeAddress(std::string_view fileName);

} // namespace zav
