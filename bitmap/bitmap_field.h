// The rules of the bitmap field that need no window: where the picture is
// drawn, what a value handed to the field names, and how the field's value is
// copied out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zav {

// Item types as the dialog engine reports them.
inline constexpr int kBitmapOnButton = 1;
inline constexpr int kBitmapOnCheckBox = 4;
// Low 16 bits of an owner-drawn push button's window style.
inline constexpr std::uint32_t kOwnerDrawStyle = 11;
// Longest file name the field keeps (plus its terminator).
inline constexpr std::size_t kBitmapNameSize = 256;

// One copy from the picture to the field window's client area.
struct BitmapBlit {
    bool stretch = false; // the whole picture into the destination
    int x = 0, y = 0;     // destination
    int width = 0, height = 0;
    int srcX = 0, srcY = 0; // unscaled copies only
    bool Empty() const { return width <= 0 || height <= 0; }
};

// Where a picture of w x h pixels goes in a client area of W x H pixels.
// Buttons and check boxes stretch the whole picture beside their own parts;
// every other field shows it at its own size in the middle, or its middle
// part inside a 2-pixel margin when it is larger than the field.
BitmapBlit PlanBitmapPaint(int itemType, std::uint32_t style, int W, int H, int w, int h);

// A value handed to the field: a file name, or "_table?TAG" (any case), the
// table item TAG whose selected row's first column names the file.
struct BitmapFieldValue {
    bool table = false;
    std::string name; // the file name, or the table item's tag
};
BitmapFieldValue ParseBitmapFieldValue(std::string_view text);

// The field's value asked for: with size 0 the name's length; else the name
// copied as a bounded string copy (the rest of the buffer zeroed, no
// terminator when it does not fit) and the number of characters copied.
std::intptr_t CopyBitmapFieldValue(std::string_view name, char* buf, std::intptr_t size);

} // namespace zav
