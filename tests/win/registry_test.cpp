// Settings and dialog positions through the registry of the current user.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/settings.h"
#include "host/trel.h"

namespace {

using zav::kSettingsKey;

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        static int stores = 0;
        std::string name = "RegistryTest" + std::to_string(++stores) + ":Perm";
        store_ = quorOpen(name.c_str());
        ASSERT_NE(store_, nullptr);
    }
    void TearDown() override {
        quorClose(store_);
        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }

    // Number of values under the key, -1 when the key is missing.
    static int ValueCount() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS)
            return -1;
        DWORD values = 0;
        RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        return static_cast<int>(values);
    }

    static void Put(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKey, name, type, data, size),
                  ERROR_SUCCESS);
    }

    // The stored REG_SZ with its byte count, or "<missing>".
    static std::string Get(const char* name, DWORD* size = nullptr) {
        char buf[2048];
        DWORD n = sizeof buf;
        DWORD type = 0;
        if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type,
                         buf, &n) != ERROR_SUCCESS)
            return "<missing>";
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << name;
        if (size)
            *size = n;
        return std::string(buf);
    }

    std::string Field(const char* name) {
        char buf[2048];
        return quorGetString(store_, name, buf, sizeof buf) < 0 ? "<none>" : buf;
    }

    HQUOR store_ = nullptr;
};

TEST_F(Registry, FirstRunCreatesTheKeyEmptyAndSavesNothingWithoutFolder) {
    ASSERT_EQ(ValueCount(), -1);
    zav::LoadSettings(store_);
    EXPECT_EQ(ValueCount(), 0);
    EXPECT_EQ(quorGetType(store_, "CaptureFolder"), QUOR_NONE);

    quorSetString(store_, "CaptureFilename", "page");
    quorSetString(store_, "SingleFile", "1");
    EXPECT_TRUE(zav::SaveSettings(store_));
    EXPECT_EQ(ValueCount(), 0);
}

TEST_F(Registry, SavesWhatTheStoreHoldsAsTextsAndLoadsThemBack) {
    quorSetString(store_, "CaptureFolder", "C:\\Captures\\Lab 2");
    quorSetString(store_, "CaptureFilename", "spectrum");
    ASSERT_TRUE(zav::SaveSettings(store_));
    DWORD size = 0;
    EXPECT_EQ(Get("CaptureFolder", &size), "C:\\Captures\\Lab 2");
    EXPECT_EQ(size, sizeof "C:\\Captures\\Lab 2");
    EXPECT_EQ(Get("CaptureFilename"), "spectrum");
    EXPECT_EQ(Get("SingleFile"), "<missing>");

    quorSetNumeric(store_, "SingleFile", 1); // the check box may leave a number
    ASSERT_TRUE(zav::SaveSettings(store_));
    EXPECT_EQ(Get("SingleFile"), "1");

    HQUOR fresh = quorOpen("RegistryTestFresh:Perm");
    zav::LoadSettings(fresh);
    char buf[1024];
    quorGetString(fresh, "CaptureFolder", buf, sizeof buf);
    EXPECT_STREQ(buf, "C:\\Captures\\Lab 2");
    quorGetString(fresh, "CaptureFilename", buf, sizeof buf);
    EXPECT_STREQ(buf, "spectrum");
    EXPECT_EQ(quorGetNumeric(fresh, "SingleFile"), 1);
    quorClose(fresh);
}

TEST_F(Registry, ValueOverTheBufferIsNotLoaded) {
    const std::string fits(zav::kSettingBufferSize - 1, 'f'); // 1024 bytes with its NUL
    const std::string tooLong(zav::kSettingBufferSize, 't');  // 1025 bytes
    Put("CaptureFolder", REG_SZ, fits.c_str(), static_cast<DWORD>(fits.size() + 1));
    Put("CaptureFilename", REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() + 1));
    const DWORD single = 0;
    Put("SingleFile", REG_DWORD, &single, sizeof single);
    quorSetString(store_, "CaptureFilename", "kept");

    zav::LoadSettings(store_);
    EXPECT_EQ(Field("CaptureFolder"), fits);
    EXPECT_EQ(Field("CaptureFilename"), "kept");
    EXPECT_EQ(Field("SingleFile"), "0");
}

TEST_F(Registry, DialogPositionsSurviveTheRunAndOffScreenOnesAreDropped) {
    HQUOR before = quorOpen("RegistryTestPositions1:Trel");
    ASSERT_EQ(trelSetDialogPos(before, "=VOVEzera", 40, 30), 1);
    ASSERT_EQ(trelSetDialogPos(before, "=About", 90000, 90000), 1); // on no display
    EXPECT_EQ(trelSaveDialogXY(before), 2);

    HQUOR after = quorOpen("RegistryTestPositions2:Trel");
    EXPECT_EQ(trelGetDialogXY(after), 1);
    int x = 0;
    int y = 0;
    ASSERT_EQ(trelGetDialogPos(after, "VOVEZERA", &x, &y), 1);
    EXPECT_EQ(x, 40);
    EXPECT_EQ(y, 30);
    EXPECT_EQ(trelGetDialogPos(after, "ABOUT", &x, &y), 0);
    quorClose(before);
    quorClose(after);
}

} // namespace
