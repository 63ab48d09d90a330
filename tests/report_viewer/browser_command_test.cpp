#include "report/browser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kProgram = "\"C:\\B\\browser.exe\"";
const std::string kReport = "C:\\Data\\run.html";
const std::string kQuotedReport = "\"" + kReport + "\"";

std::string Compose(std::optional<std::string> registered, const std::string& path = kReport) {
    auto command = zav::ComposeBrowserCommand(
        registered ? std::optional<std::string_view>(*registered) : std::nullopt, path);
    EXPECT_TRUE(command.has_value());
    return command.value_or("");
}

TEST(BrowserCommand, ReplacesPlaceholdersAndLastOption) {
    // Quoted placeholder: replaced from its opening quote, no second blank.
    EXPECT_EQ(Compose(kProgram + " -- \"%1\""), kProgram + " -- " + kQuotedReport);
    // Bare placeholder: what follows it is dropped.
    EXPECT_EQ(Compose(kProgram + " %1 -extra"), kProgram + " " + kQuotedReport);
    // No placeholder: the last option goes, from the blank before it.
    EXPECT_EQ(Compose(kProgram + " -nohome"), kProgram + " " + kQuotedReport);
    // Neither placeholder nor option: appended.
    EXPECT_EQ(Compose(kProgram), kProgram + " " + kQuotedReport);
    // The quoted placeholder wins over an earlier bare one and over options.
    EXPECT_EQ(Compose("b.exe -a %1x \"%1\" -z"), "b.exe -a %1x " + kQuotedReport);
}

// A "-" in the program's own path is no option: only what follows the path
// (quoted, or the first word) can be cut.
TEST(BrowserCommand, LastOptionRuleStartsAfterTheProgram) {
    const std::string program = "\"C:\\Program Files\\my-browser\\b.exe\"";
    EXPECT_EQ(Compose(program), program + " " + kQuotedReport);
    EXPECT_EQ(Compose(program + " -nohome"), program + " " + kQuotedReport);
    EXPECT_EQ(Compose("C:\\my-apps\\b.exe"), "C:\\my-apps\\b.exe " + kQuotedReport);
    EXPECT_EQ(Compose("C:\\my-apps\\b.exe -x"), "C:\\my-apps\\b.exe " + kQuotedReport);
}

TEST(BrowserCommand, FallsBackToExplorerWithoutRegisteredCommand) {
    EXPECT_EQ(Compose(std::nullopt), "explorer " + kQuotedReport);
}

TEST(BrowserCommand, EdgePositionsOfTheInsertionPoint) {
    // An empty registered value: insertion at the start counts as not after a blank.
    EXPECT_EQ(Compose(std::string()), " " + kQuotedReport);
    // A command whose only "-" is its first character is treated as having none.
    EXPECT_EQ(Compose("-x"), "-x " + kQuotedReport);
    // A placeholder at the very start.
    EXPECT_EQ(Compose("%1"), " " + kQuotedReport);
    // The last "-" after two blanks: the second blank is the insertion point
    // and, being preceded by a blank, gets no second one.
    EXPECT_EQ(Compose("b.exe  -x"), "b.exe " + kQuotedReport);
}

TEST(BrowserCommand, RefusesCommandsThatDoNotFit) {
    std::string longPath(1000, 'p');
    EXPECT_FALSE(zav::ComposeBrowserCommand(std::string_view("b.exe -x"), longPath + longPath));
    std::string fits(zav::kBrowserCommandMax - 3, 'p'); // blank and two quotes
    auto command = zav::ComposeBrowserCommand(std::string_view(), fits);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->size(), zav::kBrowserCommandMax);
    EXPECT_FALSE(zav::ComposeBrowserCommand(std::string_view(), fits + "p"));
}

// The desktop's open command run without a shell: the path is one argument
// whatever it holds, and only the command's own words can name the program.
TEST(BrowserArguments, PathStaysOneArgumentAndNeverBecomesTheProgram) {
    using Words = std::vector<std::string>;
    const std::string nasty = "/tmp/a b/\"$(rm -rf x)\" 'q';run.html";
    EXPECT_EQ(zav::BrowserArguments("firefox-esr", nasty), (Words{"firefox-esr", nasty}));
    EXPECT_EQ(zav::BrowserArguments("\"/opt/my browser/b\" --new-tab", nasty),
              (Words{"/opt/my browser/b", "--new-tab", nasty}));
    // Placeholders follow the composition rule: what follows them is dropped.
    EXPECT_EQ(zav::BrowserArguments("b --x \"%1\" --later", nasty), (Words{"b", "--x", nasty}));
    EXPECT_EQ(zav::BrowserArguments("b --url=%1", nasty), (Words{"b", "--url=", nasty}));
    // No program of its own: nothing is run.
    EXPECT_TRUE(zav::BrowserArguments("%1", nasty).empty());
    EXPECT_TRUE(zav::BrowserArguments("\"%1\" -x", nasty).empty());
    EXPECT_TRUE(zav::BrowserArguments("   ", nasty).empty());
}

// $BROWSER: "%s" stands for the path wherever it is, and the words after it
// stay; without it the path comes last.
TEST(BrowserArguments, BrowserVariableKeepsTheWordsAfterThePath) {
    using Words = std::vector<std::string>;
    const std::string nasty = "/tmp/a b/%s \"x\";run.html";
    EXPECT_EQ(zav::BrowserVariableArguments("b --new %s --after", nasty),
              (Words{"b", "--new", nasty, "--after"}));
    EXPECT_EQ(zav::BrowserVariableArguments("b --url=file://%s 100%%", nasty),
              (Words{"b", "--url=file://" + nasty, "100%"}));
    EXPECT_EQ(zav::BrowserVariableArguments("\"/opt/my browser/b\" -x", nasty),
              (Words{"/opt/my browser/b", "-x", nasty}));
    EXPECT_TRUE(zav::BrowserVariableArguments("%s --x", nasty).empty());
    EXPECT_TRUE(zav::BrowserVariableArguments(" ", nasty).empty());
}

} // namespace
