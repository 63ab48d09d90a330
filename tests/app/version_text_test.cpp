// What "zavprint --version" prints about the system.
#include <gtest/gtest.h>

#include "app/version_text.h"

namespace {

TEST(VersionText, DistributionNameFromOsRelease) {
    EXPECT_EQ(zav::OsReleaseName("NAME=\"Debian GNU/Linux\"\n"
                                 "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                 "VERSION_ID=\"12\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    // Shell quoting: single quotes literal, escapes inside double quotes, bare words.
    EXPECT_EQ(zav::OsReleaseName("PRETTY_NAME='It'\\''s \"Linux\"'\n"), "It's \"Linux\"");
    EXPECT_EQ(zav::OsReleaseName("PRETTY_NAME=\"Say \\\"hi\\\" \\$HOME\"\r\n"), "Say \"hi\" $HOME");
    EXPECT_EQ(zav::OsReleaseName("PRETTY_NAME=Alpine\n"), "Alpine");
    // A key that only ends in PRETTY_NAME is another key; NAME stands in.
    EXPECT_EQ(zav::OsReleaseName("X_PRETTY_NAME=\"no\"\nNAME=Arch\n"), "Arch");
    EXPECT_EQ(zav::OsReleaseName("PRETTY_NAME=\"\"\nNAME=Arch Linux"), "Arch Linux");
    EXPECT_EQ(zav::OsReleaseName(""), "");
}

TEST(VersionText, VersionThenSystem) {
    EXPECT_EQ(zav::VersionText("1.0.0.5", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
                               "Linux", "6.1.0-18-amd64", "x86_64"),
              "zavprint 1.0.0.5\nDebian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64 x86_64\n");
    EXPECT_EQ(zav::VersionText("2.1", "", "Linux", "5.10", "aarch64"),
              "zavprint 2.1\nLinux 5.10 aarch64\n");
}

} // namespace
