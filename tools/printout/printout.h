// Writes realistic instrument printouts as capture streams: the bytes a
// measuring instrument sends to its 9-pin printer. Deterministic for a seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zavtool {

struct PrintoutOptions {
    int pages = 3;
    std::uint32_t seed = 1;
    int tableRows = 12;    // measured values per page
    int plotColumns = 360; // width of the plotted curve in dots
    int plotBands = 8;     // height of the plot in 8-dot bands
};

// Each page: ESC "@", a header of text lines, a table of measured values, a
// curve drawn as ESC "K" lines at ESC "3" 24 (bands join), ESC "2", a result
// line, ESC "J" advances, and a form feed at its end. `text` (may be null)
// receives the words it printed as the printout's text file shows them: one
// line per text line, a form feed between pages.
std::vector<std::uint8_t> GeneratePrintout(const PrintoutOptions& options,
                                           std::string* text = nullptr);

} // namespace zavtool
