// UTF-8, the encoding of every text file the program writes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zav {

// Appends the UTF-8 bytes of `cp`; a surrogate or a value beyond U+10FFFF
// becomes U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// Decodes the sequence at text[i] and moves `i` past it. A byte that starts
// no valid sequence (cut short, overlong, a surrogate) gives U+FFFD and
// counts one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i);

} // namespace zav
