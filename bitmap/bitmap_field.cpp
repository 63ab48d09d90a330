#include "bitmap/bitmap_field.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zav {

BitmapBlit PlanBitmapPaint(int itemType, std::uint32_t style, int W, int H, int w, int h) {
    BitmapBlit b;
    if (w <= 0 || h <= 0)
        return b;
    if (itemType == kBitmapOnButton || itemType == kBitmapOnCheckBox) {
        b.stretch = true;
        if (itemType == kBitmapOnCheckBox)
            b = BitmapBlit{true, 14, 2, W - 16, H - 2};
        else if ((style & 0xFFFF) == kOwnerDrawStyle)
            b = BitmapBlit{true, 25, 3, W - 28, H - 6};
        else
            b = BitmapBlit{true, 3, 3, W - 6, H - 6};
        return b;
    }
    b.x = std::max((W - w) / 2, 2);
    b.y = std::max((H - h) / 2, 2);
    b.srcX = W - w - 4 >= 0 ? 0 : (w - W + 4) / 2;
    b.srcY = H - h - 4 >= 0 ? 0 : (h - H + 4) / 2;
    // The block inside the margin, of which only the part inside the picture
    // is drawn.
    b.width = std::min(W - 4, w - b.srcX);
    b.height = std::min(H - 4, h - b.srcY);
    return b;
}

BitmapFieldValue ParseBitmapFieldValue(std::string_view text) {
    constexpr std::string_view kTable = "_table";
    BitmapFieldValue v;
    if (text.size() >= kTable.size()) {
        bool same = true;
        for (std::size_t i = 0; i < kTable.size(); ++i)
            same = same && std::tolower(static_cast<unsigned char>(text[i])) == kTable[i];
        if (same) {
            v.table = true;
            // One character of any kind separates the word from the tag.
            if (text.size() > kTable.size() + 1)
                v.name = std::string(text.substr(kTable.size() + 1));
            return v;
        }
    }
    v.name = std::string(text);
    return v;
}

std::intptr_t CopyBitmapFieldValue(std::string_view name, char* buf, std::intptr_t size) {
    const auto length = static_cast<std::intptr_t>(name.size());
    if (size <= 0)
        return size == 0 ? length : 0;
    if (buf) {
        const std::size_t n = static_cast<std::size_t>(std::min(length, size));
        std::memcpy(buf, name.data(), n);
        std::memset(buf + n, 0, static_cast<std::size_t>(size) - n);
    }
    return std::min(length, size);
}

} // namespace zav
