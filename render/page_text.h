// The text of one page, kept as the renderer reports it (where each
// character's cell lies), and made into plain text: one line per printed
// line, top to bottom, the columns kept with spaces so that a table stays a
// table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "render/text_sink.h"

namespace zav {

class PageText final : public TextSink {
  public:
    // A run as kept: its characters are chars()[first, first + count).
    struct KeptRun {
        std::uint64_t row;
        std::int32_t x;
        std::int32_t pitch;
        std::int32_t height;
        std::uint32_t first;
        std::uint32_t count;
    };

    void Run(const TextRun& run) override;

    const std::vector<KeptRun>& Runs() const { return runs_; }
    std::span<const char32_t> Chars(const KeptRun& run) const {
        return {chars_.data() + run.first, run.count};
    }
    bool Empty() const { return runs_.empty(); }
    void Clear();

    // The page as plain UTF-8 text, every line ended by '\n'. Runs whose rows
    // lie less than half a cell apart form one line; a run starts at the
    // column its dot falls in, counted in the pitch most characters of the
    // page have, and a character never covers one printed before it in the
    // same cell (a blank cell gives way). Trailing spaces are trimmed and
    // lines with no character are left out; a page without any gives "". A
    // control character shows as U+FFFD.
    std::string PlainText() const {
        std::string text;
        AppendPlainText(text);
        return text;
    }
    // The same, appended to `out`.
    void AppendPlainText(std::string& out) const;

  private:
    std::vector<KeptRun> runs_;
    std::vector<char32_t> chars_;
};

} // namespace zav
