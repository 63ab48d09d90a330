// Messages with texts from the program's string table.
#pragma once

#include "host/exports.h"
#include "host/vok.h"

// Shows the message whose title and text (a format for the further arguments)
// are the strings titleId and textId of the string table, through
// vokDoMessageVFmt; returns the button pressed. A missing string gives an
// empty title or text.
ZAV_EXPORT int vokDoMessageFmtEx(VokWnd window, int type, int titleId, int textId, ...);

namespace zav {
inline constexpr int kStringBufferSize = 256;
}
