// The index page of a capture folder, FOLDER/index.html: one row per capture,
// newest first, with the time it ended, its page count, a thumbnail of its
// first page and a link to its report. Plain HTML that opens from the folder.
//
// The rows sit one per line between two marker comments. Adding a capture
// reads the rows that are there and keeps every one of them as it is, rows
// this program did not write included, puts the new row on top and replaces
// the page in one step (a temporary file in the folder, then a rename), so
// that a reader never sees half a page. While it does, it holds the claim
// index.html.claim, so that of several watches sharing the folder none loses
// another's row.
#pragma once

#include <string>
#include <string_view>

namespace zav {

inline constexpr char kIndexFileName[] = "index.html";

struct IndexEntry {
    std::string name;      // the capture's base name; its report is name + ".html"
    std::string time;      // when the printout ended, "YYYY-MM-DD HH:MM:SS"
    unsigned pages = 0;    // pages in the report
    std::string thumbnail; // file name of the first page bitmap; empty: none
};

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
IndexResult AddToIndexPage(const std::string& folder, const IndexEntry& entry,
                           std::string* movedAside = nullptr);

// True for the names of the index page and of the pages moved aside for it
// (index-previous.html, index-previous-2.html, ...): files of the folder
// that belong to no capture.
bool IsIndexPageName(std::string_view fileName);

// The row of one capture: one line, no line break in it.
std::string IndexRow(const IndexEntry& entry);

// A file name as a relative address: every byte but letters, digits and
// "-._~" percent-encoded.
std::string RelativeAddress(std::string_view fileName);

} // namespace zav
