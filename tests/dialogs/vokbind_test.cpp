// How the engine reads descriptions: names, callbacks, buttons and table rows.
#include <gtest/gtest.h>

#include "host/vokbind.h"
#include "resources/descriptions.h"

using namespace zav;

namespace {

DescriptionItem Button(std::uint16_t id, NameKind kind, std::string name,
                       std::vector<DescriptionAttribute> attrs) {
    DescriptionItem item;
    item.controlId = id;
    item.itemType = kItemButton;
    item.nameKind = kind;
    item.name = std::move(name);
    item.attributes = std::move(attrs);
    return item;
}

} // namespace

TEST(VokBind, NamesAndCallbackTexts) {
    EXPECT_EQ(DialogResourceName("=VOVEzera"), "VOVEZERA");
    EXPECT_EQ(DialogResourceName("PortList"), "PORTLIST");
    EXPECT_EQ(DialogResourceName("="), "");

    const CallbackText bmp = SplitCallbackText("=BitmapFld vovezera.bmp");
    EXPECT_EQ(bmp.name, "BitmapFld");
    EXPECT_EQ(bmp.argument, "vovezera.bmp");
    const CallbackText plain = SplitCallbackText("CB_PortList");
    EXPECT_EQ(plain.name, "CB_PortList");
    EXPECT_EQ(plain.argument, "");
}

TEST(VokBind, CommandsAndActionWords) {
    EXPECT_EQ(ParseActionWord("stay"), ActionWord::Stay);
    EXPECT_EQ(ParseActionWord("Return"), ActionWord::Return);
    EXPECT_EQ(ParseActionWord("Start"), ActionWord::None);

    ButtonCommand call = ParseButtonCommand("Call =DP_Capture_Start");
    EXPECT_EQ(call.kind, CommandKind::Call);
    EXPECT_EQ(call.target, "DP_Capture_Start");
    ButtonCommand stack = ParseButtonCommand("Stack PortList");
    EXPECT_EQ(stack.kind, CommandKind::Stack);
    EXPECT_EQ(stack.target, "PortList");
    ButtonCommand msg = ParseButtonCommand("Message? Thank you. Goodbye.");
    EXPECT_EQ(msg.kind, CommandKind::Message);
    EXPECT_EQ(msg.target, "Thank you. Goodbye.");
    // Unknown or empty commands do nothing rather than something odd.
    EXPECT_EQ(ParseButtonCommand("Call =").kind, CommandKind::None);
    EXPECT_EQ(ParseButtonCommand("Launch x").kind, CommandKind::None);
}

TEST(VokBind, FieldListsOfKey13) {
    FieldList list = ParseFieldList("CaptureFolder CaptureFilename Port1 (*)");
    EXPECT_TRUE(list.all);
    EXPECT_EQ(list.names, (std::vector<std::string>{"CaptureFolder", "CaptureFilename", "Port1"}));
    FieldList only = ParseFieldList("CaptureFolder  Port1");
    EXPECT_FALSE(only.all);
    EXPECT_EQ(only.names, (std::vector<std::string>{"CaptureFolder", "Port1"}));
}

TEST(VokBind, ButtonsOfTheMainDialogs) {
    // "Close": a callback, a farewell, no action word: it ends the dialog.
    ButtonPlan close = PlanButton(Button(2, kNameCallback, "CB_Cancel",
                                         {{kKeyCommand, "Message? Have a nice day"}, {0, ""}}));
    EXPECT_EQ(close.callback, "CB_Cancel");
    EXPECT_EQ(close.command.kind, CommandKind::Message);
    EXPECT_TRUE(close.ends);
    EXPECT_FALSE(close.fields.all);

    // "Start": a field tag with a key-7 "Stay".
    ButtonPlan start =
        PlanButton(Button(1011, kNameField, "Start",
                          {{kKeyAction, "Stay"},
                           {kKeyWriteFields, "CaptureFolder CaptureFilename Port1 (*)"},
                           {kKeyCommand, "Call =DP_Capture_Start"}}));
    EXPECT_TRUE(start.callback.empty());
    EXPECT_TRUE(start.fields.all);
    EXPECT_EQ(start.command.target, "DP_Capture_Start");
    EXPECT_FALSE(start.ends);

    // "...": callback with an argument-free name, stays.
    ButtonPlan browse = PlanButton(Button(1, kNameCallback, "=CB_BrowseFolder",
                                          {{kKeyAction, "Stay"}, {kKeyWriteFields, "(*)"}}));
    EXPECT_EQ(browse.callback, "CB_BrowseFolder");
    EXPECT_FALSE(browse.ends);

    // Action words decide by themselves; "stay" in lower case too.
    EXPECT_FALSE(PlanButton(Button(1012, kNameAction, "stay", {})).ends);
    ButtonPlan ports =
        PlanButton(Button(1020, kNameAction, "Return", {{kKeyCommand, "Stack PortList"}}));
    EXPECT_TRUE(ports.ends);
    EXPECT_EQ(ports.command.kind, CommandKind::Stack);
}

TEST(VokBind, TableRowsKeepTheDescriptionReadable) {
    EXPECT_EQ(FormatTableRow("%-7.7s", {"Com5", "ZAV Print"}), "Com5     ZAV Print");
    EXPECT_EQ(FormatTableRow("%-7.7s", {"Com12", ""}), "Com12");
    EXPECT_EQ(FormatTableRow("%-7.7s", {"Com255", "Device In Use"}), "Com255   Device In Use");
    EXPECT_EQ(FormatTableRow("", {"a", "b"}), "a  b");

    EXPECT_EQ(FormatCell("%-7.7s", "ZAV Print"), "ZAV Pri");
    EXPECT_EQ(FormatCell("%5s|", "ab"), "   ab|");
    EXPECT_EQ(FormatCell("100%% %s", "x"), "100% x");
    // Conversions other than %s never read missing arguments.
    EXPECT_EQ(FormatCell("%d %n %s", "x"), "%d %n x");
}

TEST(VokBind, MultiLineControlsGetCarriageReturns) {
    EXPECT_EQ(ControlText("a\nb\r\nc", true), "a\r\nb\r\nc");
    EXPECT_EQ(ControlText("a\nb", false), "a\nb");
}

namespace {

// The binding of the item with this control id in one of the module's dialogs.
ItemBinding Bound(const char* dialog, std::uint16_t id) {
    const DialogDescription* desc = FindDialogDescription(dialog);
    if (desc) {
        for (const DescriptionItem& item : desc->items) {
            if (item.controlId == id)
                return BindItem(item);
        }
    }
    ADD_FAILURE() << dialog << " has no item " << id;
    return {};
}

} // namespace

TEST(VokBind, TheModulesDialogsWriteBackOnlyWhatTheUserEdits) {
    const ItemBinding folder = Bound("VOVEZERA", 1001);
    EXPECT_EQ(folder.field, "CaptureFolder");
    EXPECT_EQ(folder.labelId, 5000);
    EXPECT_TRUE(folder.editable);

    const ItemBinding single = Bound("VOVEZERA", 1007);
    EXPECT_TRUE(single.editable);
    EXPECT_EQ(single.checkedValue, "1");
    EXPECT_EQ(single.clearedValue, "0");

    // Displays: the status line, the version, the model, the system name.
    EXPECT_FALSE(Bound("VOVEZERA", 1003).editable);
    EXPECT_TRUE(Bound("VOVEZERA", 1003).keepsText);
    const ItemBinding version = Bound("ABOUT", 1004);
    EXPECT_EQ(version.callbackName, "CB_ZavRirazVersion");
    EXPECT_FALSE(version.editable);
    EXPECT_FALSE(Bound("ABOUT", 1025).editable);
    const ItemBinding winVer = Bound("ABOUT", 1022);
    EXPECT_TRUE(winVer.multiLine);
    EXPECT_FALSE(winVer.editable);

    // The port table is filled by its callback and never holds a text.
    const ItemBinding ports = Bound("PORTLIST", 1021);
    EXPECT_EQ(ports.callbackName, "CB_PortList");
    EXPECT_FALSE(ports.keepsText);

    // The picture field: a callback with its file name, no store field.
    const ItemBinding picture = Bound("CABLENOTFOUND", 1002);
    EXPECT_EQ(picture.callbackText, "=BitmapFld vovezera.bmp");
    EXPECT_EQ(picture.callbackName, "BitmapFld");
    EXPECT_TRUE(picture.field.empty());

    // The "Start" button carries a field name as its tag only.
    const ItemBinding start = Bound("VOVEZERA", 1011);
    EXPECT_FALSE(start.keepsText);
    EXPECT_FALSE(start.plan.ends);
}

TEST(VokBind, TheModulesButtonsEndOrStayAsTheirDialogsNeed) {
    struct Case {
        const char* dialog;
        std::uint16_t id;
        bool ends;
        CommandKind command;
    };
    const Case cases[] = {
        {"VOVEZERA", 2, true, CommandKind::Message},   // Close, with the farewell
        {"VOVEZERA", 1, false, CommandKind::None},     // "..." folder choice
        {"VOVEZERA", 1012, false, CommandKind::Call},  // Stop
        {"VOVEZERA", 1010, false, CommandKind::Stack}, // About, through the menu
        {"VOVEZERA", 1013, false, CommandKind::None},  // Help
        {"VOVEZERA", 1015, false, CommandKind::Call},  // View
        {"CABLENOTFOUND", 1, true, CommandKind::None}, // Close
        {"CABLENOTFOUND", 4, true, CommandKind::None}, // Retry
        {"CABLENOTFOUND", 1020, true, CommandKind::Stack},
        {"PORTLIST", 1, false, CommandKind::None}, // Refresh
        {"PORTLIST", 2, true, CommandKind::None},
        {"ABOUT", 2, true, CommandKind::None},
    };
    for (const Case& c : cases) {
        const ItemBinding b = Bound(c.dialog, c.id);
        EXPECT_EQ(b.plan.ends, c.ends) << c.dialog << " " << c.id;
        EXPECT_EQ(b.plan.command.kind, c.command) << c.dialog << " " << c.id;
    }
    EXPECT_TRUE(Bound("VOVEZERA", 1012).plan.fields.all);
    EXPECT_EQ(Bound("CABLENOTFOUND", 1020).plan.command.target, "PortList");
}
