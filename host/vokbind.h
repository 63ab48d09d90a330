// How the dialog engine reads a dialog description: resource names, callback
// texts, button commands and actions, the field lists of key 13 and the row
// text of a table. No window code here; host/vokdialog_win32.cpp applies it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/description.h"

namespace zav {

// Attribute keys of a description item.
enum AttributeKey : std::uint16_t {
    kKeyCallback = 2,     // callback of a field or table
    kKeyAction = 7,       // action word of a button named by a field or callback
    kKeyFormat = 8,       // printf-like format of a table cell
    kKeyLabel = 9,        // control id of the field's label, "0" for none
    kKeyControlKind = 10, // 0 one-line edit, 1 multi-line edit, 2 static text
    kKeyHidden = 11,      // on a hidden button
    kKeyWriteFields = 13, // fields written to the store before the button acts
    kKeyTooltip = 16,     // descriptive text of a button
    kKeyRowKey = 19,
    kKeyCheckedValue = 20,
    kKeyClearedValue = 21,
    kKeyReadOnly = 22, // the field only shows what the system writes
    kKeyCommand = 28,  // "Call =Proc", "Stack Dialog", "Message? text"
};

// "=VOVEzera" -> "VOVEZERA": resource names are looked up without the "=" and
// without regard to case. Empty when nothing is left.
std::string DialogResourceName(std::string_view name);

// "=BitmapFld vovezera.bmp" -> name "BitmapFld", argument "vovezera.bmp".
struct CallbackText {
    std::string name;     // without the leading "="
    std::string argument; // the text after the first blank, may be empty
};
CallbackText SplitCallbackText(std::string_view text);

enum class ActionWord { None, Return, Stay };
// "Return", "Stay" and "stay" (any case); None for every other text.
ActionWord ParseActionWord(std::string_view text);

enum class CommandKind { None, Call, Stack, Message };
struct ButtonCommand {
    CommandKind kind = CommandKind::None;
    std::string target; // procedure name (no "="), dialog name, or message text
};
// "Call =DP_View", "Stack About", "Message? text". Unknown texts give None.
ButtonCommand ParseButtonCommand(std::string_view text);

// Key 13: blank-separated field names; "(*)" anywhere in the list means every
// field of the dialog.
struct FieldList {
    std::vector<std::string> names;
    bool all = false;
};
FieldList ParseFieldList(std::string_view text);

// What pressing a button does, in this order: write `fields` into the value
// store, call the callback with message 31, run the command, then end the
// dialog when `ends` is set.
struct ButtonPlan {
    std::string callback; // empty when the button has none
    std::string callbackArgument;
    FieldList fields;
    ButtonCommand command;
    bool ends = false;
};
// A button named by an action word follows that word. A button named by a
// field or a callback follows its key-7 action word; without one it ends the
// dialog (the main dialog's "Close" carries only a callback and a farewell).
ButtonPlan PlanButton(const DescriptionItem& item);

// The callback text of an item: the name of a callback item, else its key-2
// attribute; empty when it has neither.
std::string ItemCallbackText(const DescriptionItem& item);

// How one item of a description meets the value store.
struct ItemBinding {
    std::string field;        // value-store field of an item named by one, else empty
    std::string callbackText; // as the description gives it ("=BitmapFld vovezera.bmp")
    std::string callbackName; // the export to look for ("BitmapFld")
    int labelId = 0;          // key 9, 0 for none
    bool readOnly = false;    // key 22: shows what the system writes
    bool multiLine = false;   // key 10 "1"
    // The item's value is a text in the store (a field or a check box named by
    // a field); a table's value is its table, a button's tag names no value.
    bool keepsText = false;
    // The user's entry goes back to the store: a text-keeping item that is
    // neither read-only (key 22) nor a static text (key 10 "2").
    bool editable = false;
    std::string checkedValue = "1"; // key 20
    std::string clearedValue = "0"; // key 21
    ButtonPlan plan;                // buttons only
};
ItemBinding BindItem(const DescriptionItem& item);

// One cell formatted with a table's key-8 format. Only "%s" conversions with
// an optional "-", width and precision are honoured ("%-7.7s"); "%%" gives
// "%", anything else is copied as it stands, so a format can never read
// arguments that are not there.
std::string FormatCell(std::string_view format, std::string_view cell);

// The text a list box shows for one row. The format applies to every column
// but the last, which is shown in full, so that a long description such as
// "ZAV Print" stays readable next to its port; columns are separated by two
// blanks and empty trailing columns are dropped.
std::string FormatTableRow(std::string_view format, const std::vector<std::string>& cells);

// Text for an edit control: a multi-line control needs "\r\n" line breaks.
std::string ControlText(std::string_view text, bool multiLine);

} // namespace zav
