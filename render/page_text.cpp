#include "render/page_text.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "base/utf8.h"

namespace zav {

namespace {

// A line wider than this many columns is cut there: no printer's page is.
constexpr std::size_t kMaxColumns = 1u << 16;

// Appends characters of a line in UTF-8, as ShownChar shows them.
void AppendLine(std::string& out, std::u32string_view chars) {
    std::size_t at = out.size();
    out.resize(at + chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const char32_t c = chars[i];
        if (c < 0x20 || c >= 0x7F) {
            out.resize(at); // beyond printable ASCII: one character at a time
            for (; i < chars.size(); ++i)
                AppendUtf8(out, ShownChar(chars[i]));
            return;
        }
        out[at++] = static_cast<char>(c);
    }
}

} // namespace

void PageText::Run(const TextRun& run) {
    if (run.chars.empty())
        return;
    runs_.push_back({run.row, run.x, run.pitch, run.height,
                     static_cast<std::uint32_t>(chars_.size()),
                     static_cast<std::uint32_t>(run.chars.size())});
    chars_.insert(chars_.end(), run.chars.begin(), run.chars.end());
}

void PageText::Clear() {
    runs_.clear();
    chars_.clear();
}

void PageText::AppendPlainText(std::string& out) const {
    if (runs_.empty())
        return;
    // A run's line, when it is alone on it: the columns before it blank.
    const auto appendRun = [&](const KeptRun& run, std::int32_t unit) {
        const std::size_t column = static_cast<std::size_t>(std::max(0, run.x) + unit / 2) /
                                   static_cast<std::size_t>(unit);
        const std::u32string_view chars(chars_.data() + run.first, run.count);
        const std::size_t used = chars.find_last_not_of(U' ');
        if (used == std::u32string_view::npos || column >= kMaxColumns)
            return;
        out.append(column, ' ');
        AppendLine(out, chars.substr(0, std::min(used + 1, kMaxColumns - column)));
        out += '\n';
    };
    // The way most pages are printed: one pitch, one run per line, top to
    // bottom.
    bool simple = true;
    for (std::size_t k = 1; simple && k < runs_.size(); ++k) {
        const KeptRun& before = runs_[k - 1];
        simple =
            runs_[k].pitch == before.pitch &&
            runs_[k].row >= before.row + static_cast<std::uint64_t>(std::max(1, before.height / 2));
    }
    if (simple) {
        for (const KeptRun& run : runs_)
            appendRun(run, std::max(1, run.pitch));
        return;
    }

    // The column: the pitch that most characters of the page have.
    std::map<std::int32_t, std::uint64_t> perPitch;
    for (const KeptRun& run : runs_)
        perPitch[run.pitch] += run.count;
    const std::int32_t unit =
        std::max(1, std::max_element(perPitch.begin(), perPitch.end(), [](auto& a, auto& b) {
                        return a.second < b.second;
                    })->first);

    const auto above = [this](std::uint32_t a, std::uint32_t b) {
        return runs_[a].row != runs_[b].row ? runs_[a].row < runs_[b].row : runs_[a].x < runs_[b].x;
    };
    std::vector<std::uint32_t> order(runs_.size());
    std::iota(order.begin(), order.end(), 0u);
    if (!std::is_sorted(order.begin(), order.end(), above))
        std::stable_sort(order.begin(), order.end(), above);

    std::u32string line;
    for (std::size_t i = 0; i < order.size();) {
        const KeptRun& head = runs_[order[i]];
        const std::uint64_t below =
            head.row + static_cast<std::uint64_t>(std::max(1, head.height / 2));
        std::size_t end = i;
        while (end < order.size() && runs_[order[end]].row < below)
            ++end;
        if (end == i + 1) {
            appendRun(runs_[order[i++]], unit);
            continue;
        }
        // Several runs make the line, left to right.
        std::stable_sort(
            order.begin() + static_cast<std::ptrdiff_t>(i),
            order.begin() + static_cast<std::ptrdiff_t>(end),
            [this](std::uint32_t a, std::uint32_t b) { return runs_[a].x < runs_[b].x; });
        line.clear();
        for (; i < end; ++i) {
            const KeptRun& run = runs_[order[i]];
            const std::size_t column = static_cast<std::size_t>(std::max(0, run.x) + unit / 2) /
                                       static_cast<std::size_t>(unit);
            const std::span<const char32_t> chars = Chars(run);
            for (std::size_t k = 0; k < chars.size() && column + k < kMaxColumns; ++k) {
                if (line.size() <= column + k)
                    line.resize(column + k + 1, U' ');
                if (line[column + k] == U' ')
                    line[column + k] = chars[k];
            }
        }
        const std::size_t used = line.find_last_not_of(U' ');
        if (used == std::u32string::npos)
            continue;
        AppendLine(out, std::u32string_view(line).substr(0, used + 1));
        out += '\n';
    }
}

} // namespace zav
