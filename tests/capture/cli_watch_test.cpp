// "zavprint capture --watch" on a pseudo-terminal with the instrument
// simulator at its far end: printout after printout becomes a named capture
// in the index, through a pulled cable, a stop signal and taken names.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/timed_name.h"
#include "capture_test_support.h"
#include "printout.h"
#include "process_test_support.h"

namespace {

using namespace std::chrono_literals;
namespace fs = zavtest::fs;
using zavtest::SameBytes;

std::string Example() {
    std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(zavtool::PrintoutOptions{});
    return std::string(bytes.begin(), bytes.end());
}

class CliWatch : public zavtest::CaptureFolderTest {
  protected:
    void SetUp() override {
        CaptureFolderTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN);
        fs::create_directories(Folder());
    }
    void TearDown() override {
        others_.push_back(watch_);
        others_.push_back(sim_);
        for (pid_t pid : others_) {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        CaptureFolderTest::TearDown();
    }

    std::string Folder() const { return Path("captures"); }

    void StartSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {ZAVSIM_PATH, "--pty",       Path("line"),
                                         "--trigger", Path("print"), "--example"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = zavtest::Spawn(args, -1, Path("sim.out"), Path("cfg"));
        for (int i = 0; i < 250 && !fs::exists(Path("line")); ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(fs::exists(Path("line"))) << "the simulator made no line";
    }

    // `extra` may name the device another way than --port.
    void StartWatch(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {ZAVPRINT_PATH, "capture",     "--watch",
                                         "--folder",    Folder(),      "--name",
                                         "lab",         "--idle-stop", "0.4"};
        if (std::find(extra.begin(), extra.end(), "--dev") == extra.end())
            extra.insert(extra.end(), {"--port", Path("line")});
        args.insert(args.end(), extra.begin(), extra.end());
        watch_ = zavtest::Spawn(args, -1, Path("watch.log"), Path("cfg"));
        ASSERT_TRUE(WaitForLog("cable found", 1)) << Log();
    }

    std::string Log() { return Read(Path("watch.log")); }
    static int Count(const std::string& text, const std::string& what) {
        int seen = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++seen;
        return seen;
    }

    // Waits until the log has `count` lines with `text`.
    bool WaitForLog(const std::string& text, int count, std::chrono::milliseconds limit = 20s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const std::string log = Log();
            int seen = 0;
            for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                ++seen;
            if (seen >= count)
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // The captures the log names as saved, in the order they were saved,
    // with the byte counts it gives.
    std::vector<std::pair<std::string, long long>> Saved() {
        std::vector<std::pair<std::string, long long>> saved;
        const std::string log = Log();
        const std::regex line("saved (\\S+): (\\d+) bytes, (\\d+) page");
        for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
            saved.emplace_back((*it)[1], std::stoll((*it)[2]));
        return saved;
    }

    void Print() { Write(Path("print"), ""); }

    int Stop() {
        kill(watch_, SIGTERM);
        return zavtest::WaitFor(watch_, 20s);
    }

    std::string FolderFile(const std::string& name) { return Read(Folder() + "/" + name); }

    // The page files of a capture, joined.
    std::string Pages(const std::string& name) {
        std::string all;
        for (int page = 1;; ++page) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%03d.cpt", page);
            const std::string file = Folder() + "/" + name + suffix;
            if (!fs::exists(file))
                break;
            all += Read(file);
        }
        return all;
    }

    // The capture names of the index rows, top to bottom, and the rows.
    std::vector<std::string> IndexRows(std::vector<std::string>* names = nullptr) {
        std::vector<std::string> rows;
        const std::string index = FolderFile("index.html");
        const std::regex row("<tr class=\"capture\"[^\\r\\n]*");
        const std::regex name("data-name=\"([^\"]*)\"");
        for (std::sregex_iterator it(index.begin(), index.end(), row), end; it != end; ++it) {
            rows.push_back(it->str());
            std::smatch match;
            if (names && std::regex_search(rows.back(), match, name))
                names->push_back(match[1]);
        }
        return rows;
    }

    // Distinct printouts of 1 to 3 pages, each in a file, listed in `playlist`.
    std::vector<std::string> Printouts(int count, std::uint32_t seed, const std::string& playlist) {
        std::vector<std::string> printouts;
        std::string list;
        for (int i = 0; i < count; ++i) {
            zavtool::PrintoutOptions options;
            options.pages = 1 + i % 3;
            options.seed = seed + static_cast<std::uint32_t>(i);
            const std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options);
            printouts.emplace_back(bytes.begin(), bytes.end());
            const std::string file = Path(playlist + std::to_string(i) + ".cpt");
            Write(file, printouts.back());
            list += file + "\n";
        }
        Write(Path(playlist), list);
        return printouts;
    }

    pid_t sim_ = -1, watch_ = -1;
    std::vector<pid_t> others_;
};

// Three printouts with pauses; the cable is pulled in the middle of the
// second and comes back (a new pseudo-terminal at the same place) for the
// third.
TEST_F(CliWatch, PrintoutsBecomeNamedCapturesThroughAPulledCable) {
    const std::string mode = Path("mode");
    Write(mode, "normal");
    StartSimulator({"--mode-file", mode, "--disconnect-after", "5000", "--rate", "46080"});
    StartWatch();
    Print();
    ASSERT_TRUE(WaitForLog("saved", 1)) << Log();
    Write(mode, "disconnect");
    Print();
    ASSERT_TRUE(WaitForLog("cable lost", 1)) << Log();
    ASSERT_EQ(zavtest::WaitFor(sim_, 10s), 0);
    ASSERT_TRUE(WaitForLog("saved", 2)) << Log();

    Write(mode, "normal");
    StartSimulator({"--mode-file", mode});
    ASSERT_TRUE(WaitForLog("cable found", 2)) << Log();
    Print();
    ASSERT_TRUE(WaitForLog("saved", 3)) << Log();
    EXPECT_EQ(Stop(), 0) << Log();

    const auto saved = Saved();
    ASSERT_EQ(saved.size(), 3u) << Log();
    const std::string example = Example();
    const std::string expected[] = {example, example.substr(0, 5000), example};
    const std::regex named("lab-\\d{8}-\\d{6}(-\\d+)?");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::regex_match(saved[i].first, named)) << saved[i].first;
        EXPECT_TRUE(SameBytes(Pages(saved[i].first), expected[i])) << saved[i].first;
        EXPECT_EQ(saved[i].second, static_cast<long long>(expected[i].size()));
        EXPECT_TRUE(fs::exists(Folder() + "/" + saved[i].first + ".html"));
        EXPECT_EQ(Read(Folder() + "/" + saved[i].first + ".raw"), expected[i]);
        EXPECT_EQ(std::system(("cd '" + Folder() + "' && sha256sum -c --quiet '" + saved[i].first +
                               ".sha256'")
                                  .c_str()),
                  0);
    }
    std::vector<std::string> names;
    IndexRows(&names);
    EXPECT_EQ(names, (std::vector<std::string>{saved[2].first, saved[1].first, saved[0].first}));
    // Each capture's words are in its text file and in the index's side script.
    std::ifstream script(Folder() + "/index-text-0001.js", std::ios::binary);
    const std::string words(std::istreambuf_iterator<char>(script), {});
    for (const auto& [name, bytes] : saved) {
        EXPECT_TRUE(fs::exists(Folder() + "/" + name + ".txt")) << name;
        EXPECT_NE(words.find("zavText(\"" + name + "\", [\"ZAV LAB ANALYZER"), std::string::npos)
            << words;
    }
    // Only captures and the index are left, each capture with its bytes kept
    // whole and its record: no recording, no temporary file.
    for (const auto& entry : fs::directory_iterator(Folder())) {
        const std::string file = entry.path().filename().string();
        EXPECT_TRUE(file == "index.html" || file == "index-text-0001.js" || file == "audit.log" ||
                    file.starts_with("lab-20"))
            << file;
        EXPECT_EQ(file.find("-recording.raw"), std::string::npos) << file;
        EXPECT_EQ(file.find(".tmp"), std::string::npos) << file;
    }
}

// SIGTERM in the middle of a printout finishes what came, and the watch ends
// with status 0. Without --port the cable is found as /dev/zavprint.
TEST_F(CliWatch, StopSignalFinishesThePrintoutInProgress) {
    StartSimulator({"--rate", "9216"});
    fs::create_directories(Path("dev"));
    fs::create_symlink(Path("line"), Path("dev/zavprint"));
    StartWatch({"--idle-stop", "3", "--dev", Path("dev"), "--sysfs", Path("nothing")});
    EXPECT_NE(Log().find("cable found: " + Path("dev") + "/zavprint"), std::string::npos) << Log();
    Print();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(Stop(), 0) << Log();
    const auto saved = Saved();
    ASSERT_EQ(saved.size(), 1u) << Log();
    const std::string pages = Pages(saved[0].first);
    EXPECT_EQ(static_cast<long long>(pages.size()), saved[0].second);
    EXPECT_GT(pages.size(), 2000u);
    EXPECT_LT(pages.size(), Example().size());
    EXPECT_TRUE(SameBytes(pages, Example().substr(0, pages.size())));
    EXPECT_EQ(IndexRows().size(), 1u);
}

// A name taken in the folder is never reused, and an index that lists a row
// this program did not write keeps it.
TEST_F(CliWatch, TakenNamesAndUnknownIndexRowsAreKept) {
    // Every name of the next half minute is taken by a single-file capture.
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now - 1; t < now + 30; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        Write(Folder() + "/lab-" + zav::CaptureTimeStamp(local) + ".cpt", "old");
    }
    const std::string unknown =
        "<tr class=\"capture\" data-name=\"by hand\"><td></td><td>kept</td></tr>";
    Write(Folder() + "/index.html", "<html><body><table>\n"
                                    "<!-- captures: one row per line, newest first -->\n" +
                                        unknown +
                                        "\n<!-- end of captures -->\n</table></body></html>\n");
    StartSimulator();
    StartWatch({"--single-file"});
    Print();
    ASSERT_TRUE(WaitForLog("saved", 1)) << Log();
    EXPECT_EQ(Stop(), 0) << Log();

    const auto saved = Saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(std::regex_match(saved[0].first, std::regex("lab-\\d{8}-\\d{6}-2")))
        << saved[0].first;
    EXPECT_TRUE(SameBytes(FolderFile(saved[0].first + ".cpt"), Example()));
    for (const auto& entry : fs::directory_iterator(Folder())) {
        const std::string file = entry.path().filename().string();
        if (file.ends_with(".cpt") && file != saved[0].first + ".cpt") {
            EXPECT_EQ(FolderFile(file), "old") << file;
        }
    }
    std::vector<std::string> names;
    const std::vector<std::string> rows = IndexRows(&names);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(names[0], saved[0].first);
    EXPECT_EQ(rows[1], unknown);
}

// Two watches (two computers at one shared folder, where a new file takes a
// while to be made) with the same prefix, their printouts ending in the same
// seconds: every capture holds one whole printout, none is lost, and the
// index lists them all.
TEST_F(CliWatch, SeveralWatchesShareAFolder) {
    constexpr int kEach = 6;
    std::vector<std::string> sent;
    setenv("ZAV_SLOW_FOLDER", Folder().c_str(), 1);
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    for (int w = 0; w < 2; ++w) {
        const std::string id = std::to_string(w);
        const auto printouts = Printouts(kEach, 100 + 50 * w, "list" + id);
        sent.insert(sent.end(), printouts.begin(), printouts.end());
        others_.push_back(
            zavtest::Spawn({ZAVSIM_PATH, "--pty", Path("line" + id), "--trigger",
                            Path("print" + id), "--playlist", Path("list" + id), "--gap", "900"},
                           -1, Path("sim" + id + ".out"), Path("cfg")));
        for (int i = 0; i < 250 && !fs::exists(Path("line" + id)); ++i)
            std::this_thread::sleep_for(20ms);
        setenv("LD_PRELOAD", SLOWFOLDER_PATH, 1);
        others_.push_back(
            zavtest::Spawn({ZAVPRINT_PATH, "capture", "--watch", "--folder", Folder(), "--name",
                            "lab", "--idle-stop", "0.4", "--port", Path("line" + id)},
                           -1, Path("watch" + id + ".log"), Path("cfg")));
        unsetenv("LD_PRELOAD");
    }
    unsetenv("ZAV_SLOW_FOLDER");
    unsetenv("ASAN_OPTIONS");
    const auto logs = [&] { return Read(Path("watch0.log")) + Read(Path("watch1.log")); };
    for (int i = 0; i < 250 && Count(logs(), "cable found") < 2; ++i)
        std::this_thread::sleep_for(20ms);
    Write(Path("print0"), "");
    Write(Path("print1"), "");
    for (int i = 0; i < 1000 && Count(logs(), "saved ") + Count(logs(), "not finished") < 2 * kEach;
         ++i)
        std::this_thread::sleep_for(50ms);
    for (pid_t& pid : others_) {
        if (pid > 0)
            kill(pid, SIGTERM);
    }
    for (pid_t& pid : others_) {
        if (pid > 0)
            zavtest::WaitFor(pid, 20s);
    }
    const std::string log = logs();
    const std::regex line("saved (\\S+): (\\d+) bytes");
    std::vector<std::string> names, kept;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
        names.push_back((*it)[1]);
        kept.push_back(Pages(names.back()));
    }
    ASSERT_EQ(names.size(), sent.size()) << log;
    std::sort(kept.begin(), kept.end());
    std::sort(sent.begin(), sent.end());
    EXPECT_TRUE(kept == sent) << "a capture does not hold one whole printout\n" << log;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end()) << log;
    EXPECT_EQ(IndexRows().size(), sent.size());
}

// A printout that comes while the one before it is being finished (a tall
// page and its PDF take a while) is recorded whole.
TEST_F(CliWatch, PrintoutDuringFinishingIsRecordedWhole) {
    std::string tall = "\x1b@" + std::string(300, 'W') + "\r\n";
    for (int i = 0; i < 1500; ++i)
        tall += "\x1bJ\xff";
    tall += "END\r\n\f";
    Write(Path("tall.cpt"), tall);
    const std::string next = Example();
    Write(Path("next.cpt"), next);
    Write(Path("list"), Path("tall.cpt") + "\n" + Path("next.cpt") + "\n");
    StartSimulator({"--playlist", Path("list"), "--gap", "500"});
    StartWatch({"--pdf"});
    Print();
    ASSERT_TRUE(WaitForLog("saved", 2, 60s)) << Log();
    EXPECT_EQ(Stop(), 0) << Log();
    const auto saved = Saved();
    ASSERT_EQ(saved.size(), 2u) << Log();
    EXPECT_TRUE(SameBytes(Pages(saved[0].first), tall));
    EXPECT_TRUE(SameBytes(Pages(saved[1].first), next));
}

// A recording that cannot be forced to the disk (a share that went away):
// said, the printout is still finished whole, and its recording is kept.
TEST_F(CliWatch, RecordingThatCannotBeForcedToTheDiskIsKept) {
    StartSimulator();
    setenv("LD_PRELOAD", SLOWFOLDER_PATH, 1);
    setenv("ZAV_SLOW_FOLDER", Folder().c_str(), 1);
    setenv("ZAV_SLOW_MS", "0", 1);
    setenv("ZAV_FAIL_SYNC", "1", 1);
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);
    StartWatch();
    for (const char* name :
         {"LD_PRELOAD", "ZAV_SLOW_FOLDER", "ZAV_SLOW_MS", "ZAV_FAIL_SYNC", "ASAN_OPTIONS"})
        unsetenv(name);
    Print();
    ASSERT_TRUE(WaitForLog("saved", 1)) << Log();
    EXPECT_EQ(Stop(), 0) << Log();
    const auto saved = Saved();
    ASSERT_EQ(saved.size(), 1u) << Log();
    EXPECT_TRUE(SameBytes(Pages(saved[0].first), Example()));
    const std::regex said("cannot force (\\S+-recording\\.raw) to the disk: Input/output error; "
                          "it is kept");
    std::smatch match;
    const std::string log = Log();
    ASSERT_TRUE(std::regex_search(log, match, said)) << log;
    EXPECT_NE(log.find("the recording stays in " + match[1].str()), std::string::npos) << log;
    EXPECT_TRUE(SameBytes(Read(match[1]), Example()));
}

// A folder the watch cannot write in: said once, and it does not start.
TEST_F(CliWatch, FolderThatCannotBeWrittenIsSaidOnce) {
    fs::permissions(Folder(), fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    StartSimulator();
    watch_ = zavtest::Spawn({ZAVPRINT_PATH, "capture", "--watch", "--folder", Folder(), "--name",
                             "lab", "--port", Path("line")},
                            -1, Path("watch.log"), Path("cfg"), true);
    EXPECT_EQ(zavtest::WaitFor(watch_, 10s), 1) << Log();
    EXPECT_EQ(Log(), "zavprint capture: cannot write in " + Folder() + ": Permission denied\n");
    fs::permissions(Folder(), fs::perms::owner_all);
}

} // namespace
