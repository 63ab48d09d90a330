// The zavprint program as a user calls it: every command answers --help,
// takes --opt=value and --opt value, and bad usage is one line on stderr with
// exit status 2.
#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "printout.h"

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

struct Result {
    int status = -1;
    std::string out, err;
};

// A file's text; on Windows without the carriage returns of its line ends.
std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    if (kWindows)
        std::erase(text, '\r');
    return text;
}

#ifdef _WIN32
// A word of a Windows command line, as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& word) {
    std::wstring quoted = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        quoted += c;
    }
    return quoted.append(2 * slashes, L'\\') + L"\"";
}

// Runs zavprint.exe with the words (as UTF-16, as Windows hands them over);
// stdout and stderr into files. Its settings go to SCRATCH\config.
Result RunZavprint(const std::vector<std::string>& words, const fs::path& scratch) {
    std::wstring line = Quoted(fs::path(ZAVPRINT_PATH).make_preferred().wstring());
    for (const std::string& w : words)
        line += L" " + Quoted(fs::path(std::u8string(w.begin(), w.end())).wstring());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE files[3] = {
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr),
        CreateFileW((scratch / "stdout").c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0,
                    nullptr),
        CreateFileW((scratch / "stderr").c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, 0,
                    nullptr)};
    SetEnvironmentVariableW(L"APPDATA", (scratch / "config").c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = files[0];
    startup.hStdOutput = files[1];
    startup.hStdError = files[2];
    PROCESS_INFORMATION process{};
    Result result;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &code))
            result.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE file : files)
        CloseHandle(file);
    result.out = ReadText(scratch / "stdout");
    result.err = ReadText(scratch / "stderr");
    return result;
}
#else
// Runs zavprint with the words; stdout and stderr into files, so that
// neither pipe can fill while the other is read.
Result RunZavprint(const std::vector<std::string>& words, const fs::path& scratch) {
    const std::string outPath = (scratch / "stdout").string();
    const std::string errPath = (scratch / "stderr").string();
    pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(ZAVPRINT_PATH)};
        for (const std::string& w : words)
            argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Result result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    return result;
}
#endif

class ZavprintCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zav_cli_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    Result Zavprint(const std::vector<std::string>& words) { return RunZavprint(words, dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    fs::path dir_;
};

const std::vector<std::string> kCommands = {"render", "capture", "finish", "ports", "view",
                                            "text",   "search",  "verify", "keygen"};

TEST_F(ZavprintCli, EveryCommandAnswersHelp) {
    const Result all = Zavprint({"--help"});
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.err, "");
    for (const std::string& command : kCommands) {
        SCOPED_TRACE(command);
        const Result help = Zavprint({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.err, "");
        ASSERT_EQ(help.out.find("Usage: zavprint "), 0u) << help.out;
        const std::string usage = help.out.substr(0, help.out.find('\n'));
        EXPECT_NE(usage.find(command), std::string::npos) << usage;
        EXPECT_NE(help.out.find("--help"), std::string::npos);
        // zavprint --help carries every command's usage line.
        EXPECT_NE(all.out.find(usage.substr(7)), std::string::npos) << usage;
        EXPECT_EQ(Zavprint({command, "-h"}).out, help.out);
        EXPECT_EQ(Zavprint({"help", command}).out, help.out);
    }
    // The options of a command are listed in its help and in the whole one.
    const Result capture = Zavprint({"capture", "--help"});
    for (const char* option : {"--port=DEVICE", "--folder=DIR", "--name=NAME", "--single-file",
                               "--pages", "--idle-stop=SECONDS"}) {
        EXPECT_NE(capture.out.find(option), std::string::npos) << option;
        EXPECT_NE(all.out.find(option), std::string::npos) << option;
    }
}

TEST_F(ZavprintCli, VersionNamesTheProgramAndItsVersion) {
    const Result version = Zavprint({"--version"});
    EXPECT_EQ(version.status, 0);
    // The version on the first line (help2man reads it there), then the system.
    EXPECT_EQ(version.out.substr(0, version.out.find('\n') + 1), "zavprint " ZAV_VERSION "\n");
    EXPECT_NE(version.out.find(kWindows ? "Windows" : "Linux ", version.out.find('\n')),
              std::string::npos)
        << version.out;
}

TEST_F(ZavprintCli, ValuesAfterEqualsOrAsTheNextWord) {
    Write("raw.bin", "ONE\r\n\fTWO\r\n\f");
    fs::create_directory(Path("a"));
    fs::create_directory(Path("b"));
    // Options before and after the recording, in both spellings.
    Result r = Zavprint({"finish", "--folder=" + Path("a"), Path("raw.bin"), "--name", "x"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("a/x002.bmp")));
    EXPECT_TRUE(fs::exists(Path("a/x.html")));
    r = Zavprint({"finish", "--single-file", "--folder", Path("b"), "--name=y", Path("raw.bin")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("b/y.bmp")));

    const Result view = Zavprint({"view", "--folder=" + Path("b"), "--name", "none"});
    EXPECT_EQ(view.status, 1);
    EXPECT_NE(view.err.find((dir_ / "b" / "none.html").string()), std::string::npos) << view.err;
}

// Names in other scripts and with blanks reach every file as they were
// typed, and are said so (on Windows the words come in UTF-16).
TEST_F(ZavprintCli, NamesInAnyScriptArriveWhole) {
    const auto utf8 = [](const fs::path& path) {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    };
    const auto named = [](std::string_view text) {
        return fs::path(std::u8string(text.begin(), text.end()));
    };
    Write("raw.bin", "ONE\r\n\fTWO\r\n\f");
    const fs::path folder = dir_ / named("Μετρήσεις Prüfung");
    const Result r = Zavprint(
        {"finish", Path("raw.bin"), "--folder", utf8(folder), "--name", "Lauf ñ", "--pdf"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* file : {"Lauf ñ001.cpt", "Lauf ñ002.bmp", "Lauf ñ.html", "Lauf ñ.pdf"})
        EXPECT_TRUE(fs::exists(folder / named(file))) << file;
    EXPECT_NE(r.out.find(utf8(folder / named("Lauf ñ.html"))), std::string::npos) << r.out;
    const Result rendered = Zavprint({utf8(folder / named("Lauf ñ001.cpt"))});
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    EXPECT_EQ(rendered.out, utf8(folder / named("Lauf ñ001.cpt")) + ": wrote " +
                                utf8(folder / named("Lauf ñ001.bmp")) + "\n");
}

TEST_F(ZavprintCli, CaptureFilesAreRenderedWithOrWithoutTheCommandWord) {
    Write("a.cpt", "AB\r\n");
    Write("-b.cpt", "CD\r\n");
    EXPECT_EQ(Zavprint({Path("a.cpt")}).status, 0);
    EXPECT_TRUE(fs::exists(Path("a.bmp")));
    fs::remove(Path("a.bmp"));
    EXPECT_EQ(Zavprint({"render", Path("a.cpt")}).status, 0);
    EXPECT_TRUE(fs::exists(Path("a.bmp")));
    // A file whose name starts with a dash, after "--".
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    const Result dash = Zavprint({"--", "-b.cpt"});
    fs::current_path(cwd);
    EXPECT_EQ(dash.status, 0) << dash.err;
    EXPECT_TRUE(fs::exists(Path("-b.bmp")));
    // The Epson 9-pin model, chosen before or after the file: one line and
    // one bitmap per sheet.
    Write("c.cpt", "A\fB");
    const Result sheets = Zavprint({"--printer=epson9", Path("c.cpt")});
    EXPECT_EQ(sheets.status, 0) << sheets.err;
    EXPECT_EQ(sheets.out, Path("c.cpt") + ": wrote " + Path("c.bmp") + "\n" + Path("c.cpt") +
                              ": wrote " + Path("c-2.bmp") + "\n");
    EXPECT_EQ(Zavprint({"render", Path("a.cpt"), "--printer", "EPSON9"}).status, 0);
}

TEST_F(ZavprintCli, BadUsageIsOneLineNamingTheFault) {
    struct Case {
        std::vector<std::string> words;
        std::string named; // what the line must name
    };
    const std::vector<Case> cases = {
        {{"--bogus"}, "--bogus"},
        {{"-x", "a.cpt"}, "-x"},
        {{"-dash.cpt"}, "-- -dash.cpt"}, // perhaps a file: how to name one
        {{"render", "--bogus=1", "a.cpt"}, "--bogus"},
        {{"--printer=epson24", "a.cpt"}, "--printer"},
        {{"finish", "raw.bin", "--name", "x", "--printer", "laser"}, "--printer"},
        {{"capture", "--printer="}, "--printer"},
        {{"capture", "--bogus"}, "--bogus"},
        {{"capture", "--name"}, "--name"},
        {{"capture", "--pages=1"}, "--pages"},
        {{"capture", "--idle-stop=0", "--name", "x"}, "--idle-stop"},
        {{"finish", "raw.bin", "--name", "x", "--bogus"}, "--bogus"},
        {{"finish", "raw.bin", "other.bin", "--name", "x"}, "other.bin"},
        {{"ports", "--dev"}, "--dev"},
        {{"ports", "extra"}, "extra"},
        {{"view", "--nam=x", "--bogus"}, "--bogus"},
        {{"help", "bogus"}, "bogus"},
        {{"verify", "--key"}, "--key"},
        {{"verify", "--sign-key=k", "dir"}, "--sign-key"},
        {{"verify", "a", "b"}, "b"},
        {{"keygen", "k", "l"}, "l"},
    };
    for (const Case& c : cases) {
        const Result r = Zavprint(c.words);
        SCOPED_TRACE(c.words.front() + " ... " + c.named);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.err.find("zavprint"), 0u) << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
    // Nothing was started: no settings written, no file rendered.
    EXPECT_FALSE(fs::exists(Path("config")));
}

// Two printouts finished into one folder: their words on standard output,
// beside a rendered capture file, and found by them.
TEST_F(ZavprintCli, WordsOnStandardOutputAndCapturesFoundByThem) {
    std::string textA, textB;
    zavtool::PrintoutOptions options;
    options.seed = 11;
    const auto a = zavtool::GeneratePrintout(options, &textA);
    options.seed = 12;
    const auto b = zavtool::GeneratePrintout(options, &textB);
    Write("a.raw", std::string(a.begin(), a.end()));
    Write("b.raw", std::string(b.begin(), b.end()));
    ASSERT_EQ(Zavprint({"finish", Path("a.raw"), "--folder", Path(""), "--name", "a"}).status, 0);
    ASSERT_EQ(Zavprint({"finish", Path("b.raw"), "--folder", Path(""), "--name", "b"}).status, 0);

    const Result text = Zavprint({"text", Path("a001.cpt"), Path("a002.cpt"), Path("a003.cpt")});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, textA);
    const Result missing = Zavprint({"text", Path("a001.cpt"), Path("none.cpt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(Path("none.cpt")), std::string::npos) << missing.err;
    EXPECT_EQ(Zavprint({"--text", Path("b002.cpt")}).status, 0);
    std::ifstream page(Path("b002.txt"), std::ios::binary);
    const std::string second(std::istreambuf_iterator<char>(page), {});
    EXPECT_EQ("\f" + second + "\f", textB.substr(textB.find('\f'), second.size() + 2));

    // The serial number of one printout, in another case: its three pages.
    const std::string serial = textA.substr(textA.find("Serial no."), 16);
    std::string shouted = serial;
    for (char& c : shouted)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const Result one = Zavprint({"search", shouted, "--folder", Path("")});
    EXPECT_EQ(one.status, 0) << one.err;
    for (int p = 1; p <= 3; ++p)
        EXPECT_NE(one.out.find("\t" + std::to_string(p) + "\t" + serial), std::string::npos)
            << one.out;
    EXPECT_EQ(one.out.rfind("a\t", 0), 0u) << one.out;
    EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), 3) << one.out;
    EXPECT_EQ(one.out.find("\nb\t"), std::string::npos) << one.out;
    // Every word must be there; a word alone may stand in both.
    EXPECT_EQ(Zavprint({"search", serial, "no such words", "--folder", Path("")}).status, 1);
    const Result both = Zavprint({"search", "--folder=" + Path(""), "page 3 of 3"});
    EXPECT_NE(both.out.find("a\t"), std::string::npos) << both.out;
    EXPECT_NE(both.out.find("b\t"), std::string::npos) << both.out;
    EXPECT_EQ(Zavprint({"search", "--folder", Path("")}).status, 2);
}

// An Epson 9-pin printout: its words read with the model that made it, a
// page per sheet, as its text file holds them; and found by its German set's
// letters in any case.
TEST_F(ZavprintCli, Epson9WordsReadWithTheirModel) {
    Write("e.raw", "\x1bR\x02Gr[\\]e\fSeite {|}\r\n");
    ASSERT_EQ(Zavprint({"finish", Path("e.raw"), "--folder", Path(""), "--name", "e",
                        "--single-file", "--printer=epson9"})
                  .status,
              0);
    std::ifstream file(Path("e.txt"), std::ios::binary);
    const std::string saved(std::istreambuf_iterator<char>(file), {});
    EXPECT_EQ(saved, "Gr\xC3\x84\xC3\x96\xC3\x9C"
                     "e\n\fSeite \xC3\xA4\xC3\xB6\xC3\xBC\n");
    const Result text = Zavprint({"text", "--printer=epson9", Path("e.cpt")});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, saved);
    // The basic model knows no national sets.
    EXPECT_NE(Zavprint({"text", Path("e.cpt")}).out.find("Gr[\\]e"), std::string::npos);
    EXPECT_EQ(Zavprint({"text", "--printer=epson24", Path("e.cpt")}).status, 2);
    const Result found = Zavprint({"search", "--folder", Path(""), "\xC3\xA4\xC3\xB6\xC3\x9C"});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_NE(found.out.find("\t2\tSeite \xC3\xA4\xC3\xB6\xC3\xBC"), std::string::npos)
        << found.out;
}

} // namespace
