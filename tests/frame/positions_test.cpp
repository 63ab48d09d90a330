// Dialog positions in the presentation store, and the Monitor calls without a Monitor.
#include "host/trel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DialogPositions, NamesIgnoreTheEqualsSignAndLetterCase) {
    char key[zav::kDialogNameSize];
    ASSERT_TRUE(zav::DialogPosKey("=VOVEzera", key));
    EXPECT_STREQ(key, "VOVEZERA");
    EXPECT_FALSE(zav::DialogPosKey("=", key));
    EXPECT_FALSE(zav::DialogPosKey("", key));
    EXPECT_FALSE(zav::DialogPosKey(std::string(zav::kDialogNameSize, 'A').c_str(), key));
}

TEST(DialogPositions, SavedTextMustBeTwoNumbers) {
    int x = 1;
    int y = 2;
    ASSERT_TRUE(zav::ParseDialogPos("-40,300", &x, &y));
    EXPECT_EQ(x, -40);
    EXPECT_EQ(y, 300);
    for (const char* bad : {"", "10", "10,", ",10", "a,b", "10,20x", "10 ,20", "10;20", "200000,1",
                            "1,99999999999999999999"}) {
        x = 7;
        y = 8;
        EXPECT_FALSE(zav::ParseDialogPos(bad, &x, &y)) << bad;
        EXPECT_EQ(x, 7) << bad;
        EXPECT_EQ(y, 8) << bad;
    }
}

TEST(DialogPositions, SetReplacesAndGetFindsByAnySpelling) {
    HQUOR store = quorOpen("PositionsTest:Trel");
    ASSERT_NE(store, nullptr);
    int x = -1;
    int y = -1;
    EXPECT_EQ(trelGetDialogPos(store, "=About", &x, &y), 0);
    EXPECT_EQ(x, -1);

    ASSERT_EQ(trelSetDialogPos(store, "=VOVEzera", 100, 50), 1);
    ASSERT_EQ(trelSetDialogPos(store, "About", 10, 20), 1);
    ASSERT_EQ(trelSetDialogPos(store, "VOVEZERA", 120, 60), 1);
    EXPECT_EQ(quorTableRowCount(store, zav::kDialogPosField), 2);

    ASSERT_EQ(trelGetDialogPos(store, "vovezera", &x, &y), 1);
    EXPECT_EQ(x, 120);
    EXPECT_EQ(y, 60);
    ASSERT_EQ(trelGetDialogPos(store, "=ABOUT", &x, &y), 1);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
    EXPECT_EQ(trelGetDialogPos(store, "=Abou", &x, &y), 0);
    quorClose(store);
}

TEST(Monitor, NoMonitorSharesNoStore) {
    char name[kMonQuorNameSize];
    name[0] = 'x';
    MonApplHandle appl;
    appl.monitor = 12;
    appl.application = 3;
    monGetQuorName(appl, name);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(trelRegisterSwitchToMenu(), 0);
    EXPECT_EQ(trelRegisterHideMenu(), 0);
}

} // namespace
