// Dialog engine of the host environment (the VOK32 interface).
//
// Dialogs are pairs of module resources with one name: a dialog template
// (type 5) for the layout and a dialog description (type 1023, host/description.h)
// that binds each control to a value-store field, a callback or an action.
// Window handles travel as void* so that this header needs no platform header.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "host/quor.h"

struct VokDialog;
using HVOKDLG = VokDialog*; // dialog instance, handed to every callback
using VokWnd = void*;       // a window handle (HWND on Windows)

// Messages a field or button callback receives.
enum VokMessage : int {
    VOK_SETUP = 1,     // set the field up
    VOK_RELEASE = 2,   // release the field
    VOK_ATTACH = 3,    // the field's window exists
    VOK_REDRAW1 = 5,   // redraw after the default processing: a store value reached the field
    VOK_REDRAW2 = 6,   // redraw: the dialog became active
    VOK_SETVALUE = 22, // a value is handed to the field (second value: text)
    VOK_GETVALUE = 23, // the value is asked for (first: buffer size, second: buffer)
    VOK_ACTIVATE = 31, // the user activated the button
};

// vokGetInfo codes.
enum : int {
    VOK_INFO_STORE = 1,       // the dialog's value store (HQUOR)
    VOK_INFO_TABLE_STORE = 2, // the store that receives tables such as "ports" (HQUOR)
    VOK_INFO_WINDOW = 3,      // the dialog window
};

// vokSetAccess values.
enum : int {
    VOK_ACCESS_DISABLED = 3,
    VOK_ACCESS_ENABLED = 15,
};

// The fixed index that stands for the field whose callback is running.
inline constexpr int VOK_CURRENT_INDEX = 0x1234;

// Exported callback form: (dialog instance, message, first value, second value).
using VokCallback = std::intptr_t (*)(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2);
// Exported procedure form of "Call =": (dialog window, three unused values, value store);
// returns 1.
using VokProcedure = int (*)(VokWnd window, std::intptr_t, std::intptr_t, std::intptr_t,
                             HQUOR store);

VokWnd vokCreateBaseWnd(int reserved1, int reserved2, HQUOR presentation);
void vokDestroyBaseWnd(VokWnd window);

// Runs the dialog "=NAME" modally over parent; returns the id of the button
// that ended it, -1 on failure. Callbacks get 1 for each item, 3 once the
// dialog shows, 2 when it ends. A button writes its key-13 fields, calls its
// callback with 31, runs its command ("Call =", "Stack ", "Message? ") and
// then ends the dialog unless its action word is "Stay". However the dialog
// ends, what the user entered in its editable fields is written to the store.
// Close box and Esc act like button 2 (without one they end the dialog with 2).
int vokDoDialog(VokWnd parent, const char* name, HQUOR presentation, HQUOR store);

// Message boxes with the Win32 type values (0 OK, 4 Yes/No, 16 error icon);
// return the button pressed (1 OK, 6 Yes, 7 No).
int vokDoMessage(VokWnd owner, int type, const char* title, const char* text);
int vokDoMessageFmt(VokWnd owner, int type, const char* title, const char* format, ...);
int vokDoMessageVFmt(VokWnd owner, int type, const char* title, const char* format, va_list args);

// The dialog instance of a dialog window (kept in the window's DWLP_USER slot),
// nullptr when the window is not an engine dialog.
HVOKDLG vokDialogFromWindow(VokWnd window);

std::intptr_t vokCtlDefProc(HVOKDLG dlg, int message, std::intptr_t v1, std::intptr_t v2);
void* vokGetInfo(HVOKDLG dlg, int code);
int vokGetIndexFromTag(HVOKDLG dlg, const char* tag);
int vokGetIndexFromId(HVOKDLG dlg, int controlId);
int vokGetIndexFromHandle(HVOKDLG dlg);
// what: 1 item type, 2 control id.
int vokGetItemInfo(HVOKDLG dlg, int index, int what);
// what: 2 the field's callback text.
int vokGetProperty(HVOKDLG dlg, int index, int what, char* buf, int size);
// Both may be called from any thread: off the dialog's thread they only post
// to it or write the store, never wait for it, and fail once the dialog ended.
// vokSetAccess also greys the menu entry with the control's id.
int vokSetAccess(HVOKDLG dlg, int index, int access);
// Writes a field's or check box's value to the store and shows it (message 22).
int vokSetItem(HVOKDLG dlg, int index, const char* text, int length);
void* vokCtlMemAlloc(HVOKDLG dlg, int size);
void* vokCtlMemRetrieve(HVOKDLG dlg);
int vokTableGetSelection(HVOKDLG dlg, int index);
int vokTableGetField(HVOKDLG dlg, int index, int row, int column, char* buf, int size);
