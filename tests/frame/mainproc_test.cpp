// The main procedure's order of work: settings, conversion or cable loop, save.
#include "app/mainproc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// What the fakes were asked, in order, and what they answer.
struct Script {
    std::string log;
    bool supported = true;
    const char* cableAnswers = "";    // '1' found, '-' not found, one per search
    const char* notFoundAnswers = ""; // 'R' Retry, 'C' Close, one per "=CableNotFound"
    int mainDialogResult = 2;
    int renderResult = 0;
};

Script* gScript = nullptr;

void Load(HQUOR) {
    gScript->log += "load;";
}
bool Save(HQUOR) {
    gScript->log += "save;";
    return true;
}
int Render(const char* path) {
    gScript->log += std::string("render ") + path + ";";
    return gScript->renderResult;
}
bool Supported() {
    gScript->log += "os;";
    return gScript->supported;
}
void Refuse(VokWnd) {
    gScript->log += "refuse;";
}
int Find(HQUOR) {
    char answer = *gScript->cableAnswers;
    if (answer)
        ++gScript->cableAnswers;
    gScript->log += "find;";
    return answer == '1' ? 1 : -1;
}
int Dialog(VokWnd, const char* name, HQUOR, HQUOR) {
    gScript->log += std::string(name) + ";";
    if (std::string(name) == "=VOVEzera")
        return gScript->mainDialogResult;
    char answer = *gScript->notFoundAnswers;
    if (answer)
        ++gScript->notFoundAnswers;
    return answer == 'R' ? zav::kRetryButton : 1;
}

constexpr zav::MainProcedureCalls kFakes{Load, Save, Render, Supported, Refuse, Find, Dialog};

int RunScript(Script& script, int argc, const char* const* argv) {
    gScript = &script;
    return zav::RunMainProcedure(kFakes, nullptr, argc, argv, nullptr, nullptr);
}

const char* const kNoFile[] = {"=MainProcedure", nullptr};

TEST(MainProcedure, ConversionRendersOnlyAndNeverSaves) {
    Script script;
    const char* const argv[] = {"=MainProcedure", "C:\\cap\\page.cpt", "extra", nullptr};
    EXPECT_EQ(RunScript(script, 3, argv), 1);
    EXPECT_EQ(script.log, "load;render C:\\cap\\page.cpt;");
    // A page that could not be rendered is a failure of its own, told
    // through the exit status only.
    Script failing;
    failing.renderResult = -1;
    EXPECT_EQ(RunScript(failing, 2, argv), zav::kConversionFailed);
    EXPECT_EQ(failing.log, "load;render C:\\cap\\page.cpt;");
}

TEST(MainProcedure, CableFoundRunsMainDialogAndSaves) {
    Script script;
    script.cableAnswers = "1";
    script.mainDialogResult = -1; // the dialog's result is passed on, failure included
    EXPECT_EQ(RunScript(script, 1, kNoFile), -1);
    EXPECT_EQ(script.log, "load;os;find;=VOVEzera;save;");
}

TEST(MainProcedure, RetryLooksAgainUntilFoundOrGivenUp) {
    Script found;
    found.cableAnswers = "--1";
    found.notFoundAnswers = "RR";
    found.mainDialogResult = 7;
    EXPECT_EQ(RunScript(found, 1, kNoFile), 7);
    EXPECT_EQ(found.log, "load;os;find;=CableNotFound;find;=CableNotFound;find;=VOVEzera;save;");

    Script givenUp;
    givenUp.cableAnswers = "--";
    givenUp.notFoundAnswers = "RC";
    EXPECT_EQ(RunScript(givenUp, 1, kNoFile), 1);
    EXPECT_EQ(givenUp.log, "load;os;find;=CableNotFound;find;=CableNotFound;save;");
}

TEST(MainProcedure, UnsupportedSystemIsToldAndStillSaves) {
    Script script;
    script.supported = false;
    EXPECT_EQ(RunScript(script, 1, kNoFile), 1);
    EXPECT_EQ(script.log, "load;os;refuse;save;");
}

} // namespace
