// Registry values as the value store receives them.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using zav::kSettingBufferSize;
using zav::SettingTextFromValue;

struct Buffer {
    char bytes[kSettingBufferSize];
    explicit Buffer(const std::string& content) {
        std::memset(bytes, 'x', sizeof bytes);
        std::memcpy(bytes, content.data(), content.size());
    }
};

TEST(SettingText, TextsAreTerminatedWithinTheBuffer) {
    Buffer stored(std::string("C:\\Captures\0", 12));
    ASSERT_TRUE(SettingTextFromValue(zav::kRegText, stored.bytes, 12));
    EXPECT_STREQ(stored.bytes, "C:\\Captures");

    Buffer bare("page"); // stored without its terminator
    ASSERT_TRUE(SettingTextFromValue(zav::kRegText, bare.bytes, 4));
    EXPECT_STREQ(bare.bytes, "page");

    Buffer empty("");
    ASSERT_TRUE(SettingTextFromValue(zav::kRegText, empty.bytes, 0));
    EXPECT_STREQ(empty.bytes, "");

    Buffer list(std::string("first\0second\0\0", 14));
    ASSERT_TRUE(SettingTextFromValue(zav::kRegMultiText, list.bytes, 14));
    EXPECT_STREQ(list.bytes, "first");
}

TEST(SettingText, FullBufferFitsOnlyWithItsTerminator) {
    std::string longest(kSettingBufferSize - 1, 'a');
    Buffer fits(longest + '\0');
    ASSERT_TRUE(SettingTextFromValue(zav::kRegText, fits.bytes, kSettingBufferSize));
    EXPECT_EQ(std::strlen(fits.bytes), kSettingBufferSize - 1);

    Buffer unterminated(std::string(kSettingBufferSize, 'a'));
    EXPECT_FALSE(SettingTextFromValue(zav::kRegText, unterminated.bytes, kSettingBufferSize));
    EXPECT_FALSE(SettingTextFromValue(zav::kRegText, unterminated.bytes, kSettingBufferSize + 1));
}

TEST(SettingText, NumbersBecomeDecimalText) {
    Buffer dword(std::string("\x01\x00\x00\x00", 4));
    ASSERT_TRUE(SettingTextFromValue(zav::kRegDword, dword.bytes, 4));
    EXPECT_STREQ(dword.bytes, "1");

    Buffer qword(std::string("\x00\x00\x00\x00\x01\x00\x00\x00", 8));
    ASSERT_TRUE(SettingTextFromValue(zav::kRegQword, qword.bytes, 8));
    EXPECT_STREQ(qword.bytes, "4294967296");
}

} // namespace
