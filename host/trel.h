// Host presentation and Monitor calls (the TREL32 interface).
//
// This program runs without a Monitor: the mon... calls announce nothing and
// report no shared store, and the menu registrations hand out no handle. What
// the presentation keeps is the dialogs' screen positions: the dialog engine
// reads and writes them by dialog name in the presentation store, and
// trelGetDialogXY / trelSaveDialogXY load them from and save them to the
// registry under HKEY_CURRENT_USER "Software\Tellimar\VOVEzera\Settings\Positions"
// (one REG_SZ value "x,y" per dialog, named by the dialog's upper-case name).
#pragma once

#include <cstdint>

#include "host/quor.h"

// Monitor number and application number, passed by value.
struct MonApplHandle {
    std::int32_t monitor = 0;
    std::uint16_t application = 0;
};

// Size of the buffer monGetQuorName fills.
inline constexpr int kMonQuorNameSize = 128;

// Announces the module to the Monitor. Returns 0 (nothing to announce to).
int monStartAppl(MonApplHandle appl, unsigned long threadId, void* instance, int reserved);
// Name of the value store the Monitor shares with the module, empty when none.
int monGetQuorName(MonApplHandle appl, char* name /* kMonQuorNameSize bytes */);
// Takes the module out of the Monitor; the module's last host call.
void monQuitAppl(MonApplHandle appl);

// Host menu registrations; 0 means no registration was made.
std::intptr_t trelRegisterSwitchToMenu();
std::intptr_t trelRegisterHideMenu();
void trelUnregisterSwitchToMenu(std::intptr_t handle);
void trelUnregisterHideMenu(std::intptr_t handle);

// Loads the saved dialog positions into the presentation store; returns how
// many were loaded. A position that no display shows any more is dropped.
int trelGetDialogXY(HQUOR presentation);
// Saves the presentation store's dialog positions; returns how many were saved.
int trelSaveDialogXY(HQUOR presentation);

// A dialog's position (screen coordinates of its top-left corner) in the
// presentation store. The name is the dialog's name with or without the
// leading "=", in any letter case. Get returns 1 and sets x and y when a
// position is known, else 0 and leaves them alone.
int trelGetDialogPos(HQUOR presentation, const char* dialog, int* x, int* y);
int trelSetDialogPos(HQUOR presentation, const char* dialog, int x, int y);

namespace zav {

// The store field that holds the positions: a table of (name, x, y) rows.
inline constexpr char kDialogPosField[] = "DialogXY";
inline constexpr int kDialogNameSize = 64;

// The name under which a dialog's position is kept: without the leading "=",
// upper case, at most kDialogNameSize - 1 characters. False for an empty or
// over-long name.
bool DialogPosKey(const char* dialog, char* key /* kDialogNameSize bytes */);

// "x,y" as it stands in the registry; false unless the text is exactly two
// decimal integers within +-100000 separated by a comma.
bool ParseDialogPos(const char* text, int* x, int* y);

} // namespace zav
