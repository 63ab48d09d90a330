// The words of a page: the second output of the pass that draws it. Whatever
// prints characters (the basic model's text lines, and any printer model that
// places characters at any dot, in any pitch or width) tells a TextSink where
// each character's cell lies on the page, in the page bitmap's own dots and
// rows, so that the plain text and the PDF's text layer both come from what
// was drawn and nothing reads the capture a second time.
#pragma once

#include <cstdint>
#include <span>

namespace zav {

// Characters printed side by side on one line: the first cell begins at dot
// `x` of the row `row` (the top of the cells), every next one `pitch` dots
// further right. A single character at any place is a run of one.
struct TextRun {
    std::uint64_t row = 0;
    std::int32_t x = 0;
    std::int32_t pitch = 0;  // dots from one cell to the next, the cell's width
    std::int32_t height = 0; // rows the cells are tall
    // Unicode code points, one per cell; U+0020 for a blank cell, U+FFFD for
    // a character that has no Unicode of its own.
    std::span<const char32_t> chars;
};

class TextSink {
  public:
    virtual ~TextSink() = default;
    virtual void Run(const TextRun& run) = 0;
};

// A code point as text shows it: a control character, which would end a line
// or a page, becomes U+FFFD.
constexpr char32_t ShownChar(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) ? char32_t{0xFFFD} : c;
}

// What the basic model's font shows for a character code: 20..7E are ASCII;
// 7F and 80..FF print the hollow box, which stands for no character at all.
constexpr char32_t BasicModelChar(std::uint8_t code) {
    return code >= 0x20 && code < 0x7F ? char32_t{code} : char32_t{0xFFFD};
}

} // namespace zav
