// The dialog descriptions of the four dialogs. Each item binds a control of
// the dialog template of the same name to a value-store field, a callback or
// an action; items are listed in the order the record carries them, and an
// attribute {0, ""} is the empty entry that many items end with.
#include "resources/descriptions.h"

#include "host/ascii.h"
#include "resources/maker.h"

namespace zav {

static_assert(sizeof(ZAV_COPYRIGHT_LINE) - 1 == 48, "the About dialog lays out 48 characters");

namespace {

DialogDescription MainDialog() {
    return {
        kDescriptionFormat,
        1,
        {
            {2,
             kItemButton,
             kNameCallback,
             "CB_Cancel",
             {{28, "Message? Thank you for using ZAV Print Utility. Have a nice day and "
                   "goodbye."},
              {0, ""}}},
            {1001, kItemField, kNameField, "CaptureFolder", {{9, "5000"}, {10, "0"}, {0, ""}}},
            {1003, kItemField, kNameField, "_Status", {{9, "0"}, {10, "0"}, {22, "1"}}},
            {1002, kItemField, kNameField, "CaptureFilename", {{9, "5001"}, {10, "0"}, {0, ""}}},
            {1,
             kItemButton,
             kNameCallback,
             "=CB_BrowseFolder",
             {{7, "Stay"}, {13, "(*)"}, {16, "Browse folder"}}},
            {1011,
             kItemButton,
             kNameField,
             "Start",
             {{7, "Stay"},
              {13, "CaptureFolder CaptureFilename Port1 (*)"},
              {28, "Call =DP_Capture_Start"}}},
            {1007, kItemCheckBox, kNameField, "SingleFile", {{20, "1"}, {21, "0"}, {0, ""}}},
            {1012,
             kItemButton,
             kNameAction,
             "stay",
             {{13, "(*)"}, {28, "Call =DP_Capture_Stop"}, {0, ""}}},
            {1010, kItemButton, kNameAction, "Stay", {{11, "1"}, {28, "Stack About"}, {0, ""}}},
            {1013, kItemButton, kNameCallback, "=CB_HelpEn", {{7, "Stay"}}},
            {1015, kItemButton, kNameAction, "Stay", {{13, "(*)"}, {28, "Call =DP_View"}, {0, ""}}},
        }};
}

DialogDescription CableNotFoundDialog() {
    return {
        kDescriptionFormat,
        1,
        {
            {1, kItemButton, kNameAction, "Return", {{13, "(*)"}, {0, ""}}},
            {1002,
             kItemField,
             kNameCallback,
             "=BitmapFld vovezera.bmp",
             {{9, "0"}, {10, "0"}, {22, "1"}}},
            {1001, kItemField, kNameLiteral, "ZAV Print cable not found or in use", {{10, "2"}}},
            {1020, kItemButton, kNameAction, "Return", {{13, "(*)"}, {28, "Stack PortList"}}},
            {4, kItemButton, kNameAction, "Return", {{0, ""}}},
        }};
}

DialogDescription PortListDialog() {
    return {kDescriptionFormat,
            1,
            {
                {1, kItemButton, kNameAction, "Stay", {{0, ""}}},
                {2, kItemButton, kNameAction, "Return", {{0, ""}}},
                {1021,
                 kItemTable,
                 kNameField,
                 "ports",
                 {{2, "CB_PortList"}, {8, "%-7.7s"}, {19, "Index"}, {0, ""}}},
                {1001, kItemField, kNameField, "_Status", {{9, "0"}, {10, "0"}, {22, "1"}}},
            }};
}

DialogDescription AboutDialog() {
    return {kDescriptionFormat,
            2,
            {
                {2, kItemButton, kNameAction, "Return", {{0, ""}}},
                {1001, kItemField, kNameLiteral, "ZAV Print Utility", {{10, "2"}}},
                {1002, kItemField, kNameLiteral, ZAV_COPYRIGHT_LINE, {{10, "2"}, {0, ""}}},
                {1003, kItemField, kNameLiteral, "Version", {{10, "2"}}},
                {1004,
                 kItemField,
                 kNameField,
                 "ZavRirazVersion",
                 {{2, "=CB_ZavRirazVersion"}, {10, "2"}}},
                {1022, kItemField, kNameField, "WinVer", {{10, "1"}, {22, "1"}, {0, ""}}},
                {1025, kItemField, kNameField, "Model", {{10, "2"}}},
            }};
}

} // namespace

const std::vector<NamedDialogDescription>& ModuleDialogDescriptions() {
    static const std::vector<NamedDialogDescription> descriptions = {
        {"VOVEZERA", MainDialog()},
        {"CABLENOTFOUND", CableNotFoundDialog()},
        {"PORTLIST", PortListDialog()},
        {"ABOUT", AboutDialog()},
    };
    return descriptions;
}

const DialogDescription* FindDialogDescription(std::string_view name) {
    for (const NamedDialogDescription& d : ModuleDialogDescriptions()) {
        if (EqualIgnoringCase(d.name, name))
            return &d.description;
    }
    return nullptr;
}

} // namespace zav
