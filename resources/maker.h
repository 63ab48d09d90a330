/* The maker of this build, as the About dialog and the version record name it.
   Plain #defines so that both C++ and the resource compiler can include this. */
#pragma once

#define ZAV_MAKER_NAME "The ZAV Print Utility authors"
/* Exactly 48 characters: the About dialog's line is laid out for that length. */
#define ZAV_COPYRIGHT_LINE "Copyright (C) 2026 The ZAV Print Utility authors"
