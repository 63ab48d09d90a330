// Dialog-description records: the module's four descriptions and the reader's
// refusal of damaged records.
#include "host/description.h"
#include "resources/descriptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

using zav::DialogDescription;
using zav::ParseDialogDescription;
using zav::SerializeDialogDescription;

std::vector<unsigned char> Bytes(const char* name) {
    const DialogDescription* d = zav::FindDialogDescription(name);
    EXPECT_NE(d, nullptr) << name;
    return d ? SerializeDialogDescription(*d) : std::vector<unsigned char>();
}

struct Expected {
    const char* name;
    std::size_t size;
    std::size_t items;
    std::uint16_t dialogWord;
};

TEST(DialogDescriptions, EachParsesToExactlyItsLength) {
    const Expected expected[] = {
        {"VOVEZERA", 524, 11, 1},
        {"CABLENOTFOUND", 178, 5, 1},
        {"PORTLIST", 116, 4, 1},
        {"ABOUT", 232, 7, 2},
    };
    ASSERT_EQ(zav::ModuleDialogDescriptions().size(), 4u);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        std::vector<unsigned char> bytes = Bytes(e.name);
        EXPECT_EQ(bytes.size(), e.size);
        DialogDescription parsed;
        ASSERT_TRUE(ParseDialogDescription(bytes.data(), bytes.size(), parsed));
        EXPECT_EQ(parsed.format, 11);
        EXPECT_EQ(parsed.dialogWord, e.dialogWord);
        EXPECT_EQ(parsed.items.size(), e.items);
        EXPECT_EQ(SerializeDialogDescription(parsed), bytes);
    }
}

TEST(DialogDescriptions, ItemsTheSystemReliesOn) {
    std::vector<unsigned char> bytes = Bytes("VOVEzera");
    DialogDescription main;
    ASSERT_TRUE(ParseDialogDescription(bytes.data(), bytes.size(), main));
    const std::uint16_t order[] = {2, 1001, 1003, 1002, 1, 1011, 1007, 1012, 1010, 1013, 1015};
    ASSERT_EQ(main.items.size(), std::size(order));
    for (std::size_t i = 0; i < main.items.size(); ++i)
        EXPECT_EQ(main.items[i].controlId, order[i]);
    const zav::DescriptionItem& start = main.items[5];
    EXPECT_EQ(start.nameKind, zav::kNameField);
    EXPECT_EQ(start.name, "Start");
    ASSERT_NE(start.Find(28), nullptr);
    EXPECT_EQ(*start.Find(28), "Call =DP_Capture_Start");
    EXPECT_EQ(start.Find(0), nullptr);
    EXPECT_EQ(main.items[6].itemType, zav::kItemCheckBox);

    // Key-0 entries at the end of items still take three bytes: the OK button
    // of ABOUT is 8 + "Return\0" + 2 + 1 bytes, right after the 6-byte header.
    bytes = Bytes("ABOUT");
    ASSERT_GE(bytes.size(), 6u + 18u + 4u);
    EXPECT_EQ(bytes[6 + 18], 0xE9); // next item's control id 1001, low byte
    EXPECT_EQ(bytes[6 + 18 + 1], 0x03);
    DialogDescription about;
    ASSERT_TRUE(ParseDialogDescription(bytes.data(), bytes.size(), about));
    EXPECT_EQ(about.items[2].name.size(), 48u);

    EXPECT_EQ(zav::FindDialogDescription("=VOVEzera"), nullptr);
    EXPECT_EQ(zav::FindDialogDescription("VOVEZER"), nullptr);
}

TEST(DialogDescriptionReader, RefusesDamagedRecords) {
    std::vector<unsigned char> good = Bytes("PORTLIST");
    DialogDescription out;
    out.dialogWord = 77;

    // Every truncation fails, and never reads past the end (sanitizer build).
    for (std::size_t n = 0; n < good.size(); ++n) {
        std::vector<unsigned char> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_FALSE(ParseDialogDescription(cut.data(), cut.size(), out)) << n;
    }
    EXPECT_EQ(out.dialogWord, 77); // left alone on failure

    std::vector<unsigned char> longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ParseDialogDescription(longer.data(), longer.size(), out));

    // The last text loses its NUL: unterminated, even with bytes to spare.
    std::vector<unsigned char> open(good.begin(), good.end() - 1);
    open.push_back('x');
    EXPECT_FALSE(ParseDialogDescription(open.data(), open.size(), out));

    // An item count one too high or too low.
    std::vector<unsigned char> count = good;
    count[4] = 5;
    EXPECT_FALSE(ParseDialogDescription(count.data(), count.size(), out));
    count[4] = 3;
    EXPECT_FALSE(ParseDialogDescription(count.data(), count.size(), out));

    // String count 0 leaves no room for the name.
    std::vector<unsigned char> noName = good;
    noName[6 + 4] = 0;
    EXPECT_FALSE(ParseDialogDescription(noName.data(), noName.size(), out));

    EXPECT_FALSE(ParseDialogDescription(nullptr, 4, out));
    const unsigned char empty[] = {11, 0, 1, 0, 0, 0};
    ASSERT_TRUE(ParseDialogDescription(empty, sizeof empty, out));
    EXPECT_TRUE(out.items.empty());
}

TEST(DialogDescriptionWriter, RefusesTextsItCannotWrite) {
    DialogDescription d;
    d.items.push_back({1, zav::kItemButton, zav::kNameAction, std::string("Re\0turn", 7), {}});
    EXPECT_TRUE(SerializeDialogDescription(d).empty());
    d.items[0].name = "Return";
    d.items[0].attributes.push_back({13, std::string("(*)\0", 4)});
    EXPECT_TRUE(SerializeDialogDescription(d).empty());
}

} // namespace
