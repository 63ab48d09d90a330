// "zavprint capture" on a pseudo-terminal with the instrument simulator at its
// far end: what the simulator prints arrives whole in the capture files, and
// every way of stopping leaves the pages and the report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "capture_test_support.h"
#include "printout.h"
#include "process_test_support.h"

namespace {

using zavtest::SameBytes;

using namespace std::chrono_literals;
namespace fs = zavtest::fs;

std::string Example(int pages = 3) {
    zavtool::PrintoutOptions options;
    options.pages = pages;
    std::vector<std::uint8_t> bytes = zavtool::GeneratePrintout(options);
    return std::string(bytes.begin(), bytes.end());
}

using zavtest::Spawn;
using zavtest::WaitFor;

class CliCapture : public zavtest::CaptureFolderTest {
  protected:
    void SetUp() override {
        CaptureFolderTest::SetUp();
        std::signal(SIGPIPE, SIG_IGN); // a capture that ended early fails the write instead
    }
    void TearDown() override {
        for (pid_t* pid : {&capture_, &sim_}) {
            if (*pid > 0) {
                kill(*pid, SIGKILL);
                waitpid(*pid, nullptr, 0);
            }
        }
        if (input_ >= 0)
            close(input_);
        CaptureFolderTest::TearDown();
    }

    void StartSimulator(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {ZAVSIM_PATH, "--pty",       Path("line"),
                                         "--trigger", Path("print"), "--example"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = Spawn(args, -1, Path("sim.out"), Path("cfg"));
        for (int i = 0; i < 250 && !fs::exists(Path("line")); ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(fs::exists(Path("line"))) << "the simulator made no line";
    }

    void StartCapture(std::vector<std::string> extra) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        std::vector<std::string> args = {ZAVPRINT_PATH, "capture"};
        args.insert(args.end(), extra.begin(), extra.end());
        // The output of the last capture must not pass for this one's, which
        // may not have set its signal handlers yet.
        fs::remove(Path("capture.out"));
        capture_ = Spawn(args, pipeFds[0], Path("capture.out"), Path("cfg"));
        close(pipeFds[0]);
        input_ = pipeFds[1];
        // The port is open once the session waits for the printout (or it
        // gave up).
        for (int i = 0; i < 250; ++i) {
            const std::string out = Output();
            if (out.find("Waiting for printout") != std::string::npos ||
                out.find("zavprint capture:") != std::string::npos)
                break;
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(200ms);
    }

    void Print() { Write(Path("print"), ""); }
    void PressEnter() { ASSERT_EQ(write(input_, "\n", 1), 1); }
    int Finish(std::chrono::milliseconds limit = 15s) { return WaitFor(capture_, limit); }
    std::string Output() { return Read(Path("capture.out")); }

    std::string Pages(const std::string& name, int* count) {
        std::string all;
        *count = 0;
        for (int page = 1;; ++page) {
            char file[64];
            std::snprintf(file, sizeof file, "%s%03d.cpt", name.c_str(), page);
            if (!fs::exists(Path(file)))
                break;
            all += Read(Path(file));
            ++*count;
        }
        return all;
    }
    int ReportImages(const std::string& name) {
        const std::string html = Read(Path(name + ".html"));
        int n = 0;
        for (auto at = html.find("<img"); at != std::string::npos; at = html.find("<img", at + 1))
            ++n;
        return n;
    }

    pid_t sim_ = -1, capture_ = -1;
    int input_ = -1;
};

TEST_F(CliCapture, PagesAndSingleFileWithSettingsRemembered) {
    StartSimulator();
    StartCapture({"--port", Path("line"), "--folder", dir_.string(), "--name", "run", "--pages",
                  "--pdf", "--paper", "letter"});
    Print();
    std::this_thread::sleep_for(1s);
    PressEnter();
    ASSERT_EQ(Finish(), 0) << Output();
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages("run", &pages), Example()));
    EXPECT_EQ(pages, 3);
    EXPECT_EQ(ReportImages("run"), 3);
    const std::string out = Output();
    for (const char* page : {"run001", "run002", "run003"}) {
        EXPECT_NE(
            out.find(Path(std::string(page) + ".cpt") + " -> " + Path(std::string(page) + ".bmp")),
            std::string::npos)
            << out;
    }
    EXPECT_NE(out.find("report: " + Path("run.html")), std::string::npos) << out;
    EXPECT_NE(out.find("pdf: " + Path("run.pdf")), std::string::npos) << out;
    EXPECT_EQ(Read(Path("run.pdf")).rfind("%PDF-", 0), 0u);
    EXPECT_FALSE(fs::exists(Path("run.tmp")));
    fs::remove(Path("run.pdf"));

    // The same name again: refused while the earlier capture is there.
    StartCapture({"--port", Path("line"), "--single-file"});
    EXPECT_EQ(Finish(), 1) << Output();
    EXPECT_NE(Output().find(Path("run.html") + " is in the way"), std::string::npos) << Output();
    EXPECT_TRUE(SameBytes(Pages("run", &pages), Example()));

    // Folder and name come back from the last run; the mode is remembered too.
    StartCapture({"--port", Path("line"), "--single-file", "--overwrite"});
    Print();
    std::this_thread::sleep_for(1s);
    PressEnter();
    ASSERT_EQ(Finish(), 0) << Output();
    EXPECT_TRUE(SameBytes(Read(Path("run.cpt")), Example()));
    EXPECT_TRUE(fs::exists(Path("run.bmp")));
    EXPECT_EQ(ReportImages("run"), 1);
    EXPECT_TRUE(fs::exists(Path("run.pdf")));
    const std::string settings = Read(Path("cfg/zavprint/capture.conf"));
    EXPECT_NE(settings.find("CaptureFolder=" + dir_.string() + "\n"), std::string::npos);
    EXPECT_NE(settings.find("CaptureFilename=run\n"), std::string::npos);
    EXPECT_NE(settings.find("SingleFile=1\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Pdf=1\nPdfPaper=letter\n"), std::string::npos) << settings;
}

// The Epson 9-pin model is remembered like the other settings and makes a
// bitmap per sheet, at the model's resolution, all shown in the report.
TEST_F(CliCapture, Epson9PrinterIsRememberedAndGivesSheets) {
    StartSimulator();
    StartCapture({"--port", Path("line"), "--folder", dir_.string(), "--name", "run",
                  "--single-file", "--printer", "epson9"});
    Print();
    std::this_thread::sleep_for(1s);
    PressEnter();
    ASSERT_EQ(Finish(), 0) << Output();
    EXPECT_TRUE(SameBytes(Read(Path("run.cpt")), Example()));
    const std::string bitmap = Read(Path("run.bmp"));
    ASSERT_GT(bitmap.size(), 62u);
    EXPECT_EQ(static_cast<unsigned char>(bitmap[38]) | static_cast<unsigned char>(bitmap[39]) << 8,
              9449); // 240 dots per inch
    int sheets = 0;
    for (std::size_t at = 0; (at = Output().find("sheet: ", at)) != std::string::npos; ++at)
        ++sheets;
    EXPECT_GE(sheets, 3) << Output(); // the example's three pages end with form feeds
    EXPECT_EQ(ReportImages("run"), sheets);
    EXPECT_NE(Read(Path("cfg/zavprint/capture.conf")).find("Printer=epson9\n"), std::string::npos);
}

// Pauses shorter than the idle time do not end the recording; the quiet after
// the printout does.
TEST_F(CliCapture, IdleStopWaitsForTheEndOfAPrintoutWithPauses) {
    StartSimulator({"--burst", "2048", "--pause", "400"});
    StartCapture(
        {"--port", Path("line"), "--folder", dir_.string(), "--name", "idle", "--idle-stop", "1"});
    std::this_thread::sleep_for(1500ms); // no data yet: no stop
    Print();
    ASSERT_EQ(Finish(), 0) << Output();
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages("idle", &pages), Example()));
    EXPECT_NE(Output().find("No more data"), std::string::npos) << Output();
}

TEST_F(CliCapture, TerminationSignalStopsLikeStop) {
    StartSimulator();
    StartCapture({"--port", Path("line"), "--folder", dir_.string(), "--name", "sig"});
    Print();
    std::this_thread::sleep_for(1s);
    kill(capture_, SIGTERM);
    ASSERT_EQ(Finish(), 0) << Output();
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages("sig", &pages), Example()));

    // Stopped with nothing received: nothing is written, and it is said.
    StartCapture({"--port", Path("line"), "--name", "none"});
    kill(capture_, SIGINT);
    ASSERT_EQ(Finish(), 0) << Output();
    EXPECT_NE(Output().find("No data received: nothing written"), std::string::npos) << Output();
    EXPECT_FALSE(fs::exists(Path("none.html")));
    EXPECT_FALSE(fs::exists(Path("none.tmp")));

    // The terminal closing stops it the same way.
    StartCapture({"--port", Path("line"), "--name", "hup"});
    kill(capture_, SIGHUP);
    ASSERT_EQ(Finish(), 0) << Output();
    EXPECT_NE(Output().find("No data received"), std::string::npos) << Output();
}

TEST_F(CliCapture, FailuresAreToldAndKeepWhatCame) {
    // The cable goes away in the middle of the printout.
    StartSimulator({"--mode", "disconnect", "--disconnect-after", "5000", "--rate", "20000"});
    StartCapture({"--port", Path("line"), "--folder", dir_.string(), "--name", "cut"});
    Print();
    EXPECT_EQ(Finish(), 1) << Output();
    EXPECT_NE(Output().find("Cannot read data from queue"), std::string::npos) << Output();
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages("cut", &pages), Example().substr(0, 5000)));
    EXPECT_EQ(ReportImages("cut"), pages);

    // A hang-up due after the end of the printout comes right after it.
    kill(sim_, SIGKILL);
    waitpid(sim_, nullptr, 0);
    sim_ = -1;
    fs::remove(Path("line"));
    StartSimulator(
        {"--mode", "disconnect", "--disconnect-after", std::to_string(Example().size() + 5000)});
    StartCapture({"--port", Path("line"), "--folder", dir_.string(), "--name", "whole"});
    Print();
    EXPECT_EQ(Finish(), 1) << Output();
    EXPECT_TRUE(SameBytes(Pages("whole", &pages), Example()));

    // No such device, after an earlier capture of that name: told, and the
    // earlier capture stays as it was.
    const std::string before = Read(Path("whole001.cpt")) + Read(Path("whole.html"));
    StartCapture({"--port", Path("nothing"), "--name", "whole", "--overwrite"});
    EXPECT_EQ(Finish(), 1) << Output();
    EXPECT_NE(
        Output().find("Cannot open com port: " + Path("nothing") + ": No such file or directory"),
        std::string::npos)
        << Output();
    EXPECT_EQ(Read(Path("whole001.cpt")) + Read(Path("whole.html")), before);
    EXPECT_FALSE(fs::exists(Path("whole.tmp")));
}

// A recording that a session kept is never recorded over unasked, and
// "zavprint finish" on it makes the capture the session could not.
TEST_F(CliCapture, KeptRecordingBlocksTheNameUntilRecovered) {
    const std::string kept = "KEPT\r\n\fPAGE TWO\r\n";
    Write(Path("run.tmp"), kept);
    StartCapture({"--port", Path("nothing"), "--folder", dir_.string(), "--name", "run"});
    EXPECT_EQ(Finish(), 1) << Output();
    EXPECT_NE(Output().find(Path("run.tmp") + " is a recording kept"), std::string::npos)
        << Output();
    EXPECT_NE(Output().find("zavprint finish " + Path("run.tmp") + " --name run --folder " +
                            dir_.string() + "\n"),
              std::string::npos)
        << Output();
    EXPECT_EQ(Read(Path("run.tmp")), kept);

    pid_t finish = Spawn({ZAVPRINT_PATH, "finish", Path("run.tmp"), "--folder", dir_.string(),
                          "--name", "run", "--single-file"},
                         -1, Path("finish.out"), Path("cfg"));
    EXPECT_EQ(WaitFor(finish, 10s), 0) << Read(Path("finish.out"));
    EXPECT_EQ(Read(Path("run.cpt")), kept);
    EXPECT_TRUE(fs::exists(Path("run.bmp")));
    EXPECT_EQ(ReportImages("run"), 1);
    EXPECT_FALSE(fs::exists(Path("run.tmp"))) << "the recording is now the capture file";
}

// --overwrite: a 5-page capture replaced by a 2-page printout leaves exactly
// the new capture's files.
TEST_F(CliCapture, OverwriteLeavesOnlyTheNewCapture) {
    Write(Path("five.cpt"), Example(5));
    Write(Path("two.cpt"), Example(2));
    Write(Path("playlist"), Path("five.cpt") + "\n" + Path("two.cpt") + "\n");
    fs::create_directories(Path("out"));
    StartSimulator({"--playlist", Path("playlist")});
    for (const char* extra : {"--pdf", "--overwrite"}) {
        StartCapture({"--port", Path("line"), "--folder", Path("out"), "--name", "run",
                      "--idle-stop", "0.5", extra});
        Print();
        ASSERT_EQ(Finish(), 0) << Output();
    }
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(Path("out")))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{
                         "audit.log", "run.html", "run.pdf", "run.record.json", "run.sha256",
                         "run.txt", "run001.bmp", "run001.cpt", "run002.bmp", "run002.cpt"}));
    // The record checks without this program.
    EXPECT_EQ(std::system(("cd '" + Path("out") + "' && sha256sum -c --quiet run.sha256").c_str()),
              0);
    EXPECT_TRUE(SameBytes(Read(Path("out/run001.cpt")) + Read(Path("out/run002.cpt")), Example(2)));
    EXPECT_EQ(ReportImages("out/run"), 2);
}

// A name is a file name: a path in it is refused before anything is
// opened, by capture and by the watch alike.
TEST_F(CliCapture, NameWithAPathIsRefused) {
    for (const char* watch : {"--pages", "--watch"}) {
        StartCapture({"--port", Path("nothing"), "--folder", Path("in"), "--name", "../x", watch});
        EXPECT_EQ(Finish(), 2) << Output();
        EXPECT_EQ(Output(), "zavprint capture: --name is a file name without '/'; give the "
                            "folder with --folder\n");
    }
    EXPECT_FALSE(fs::exists(Path("x.tmp")));
    EXPECT_FALSE(fs::exists(Path("in")));
}

// A file-size limit (ulimit -f) is a failed write like a full disk: the
// program is not killed, no cut file is left, the earlier capture stays whole.
TEST_F(CliCapture, FileSizeLimitIsAFailedWrite) {
    const std::string big = Example(40);
    Write(Path("small.raw"), Example(1));
    Write(Path("big.raw"), big);
    fs::create_directories(Path("out"));
    pid_t first = Spawn({ZAVPRINT_PATH, "finish", Path("small.raw"), "--folder", Path("out"),
                         "--name", "run", "--pdf"},
                        -1, Path("finish.out"), Path("cfg"));
    ASSERT_EQ(WaitFor(first, 10s), 0) << Read(Path("finish.out"));
    // The audit trail grows by what happened; every other file stays.
    std::vector<std::pair<std::string, std::string>> before;
    for (const auto& entry : fs::directory_iterator(Path("out")))
        if (entry.path().filename() != "audit.log")
            before.emplace_back(entry.path().filename().string(), Read(entry.path().string()));
    std::sort(before.begin(), before.end());

    pid_t limited = fork();
    if (limited == 0) {
        const rlimit limit{big.size() / 4, big.size() / 4};
        setrlimit(RLIMIT_FSIZE, &limit);
        int out = open(Path("limited.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        execl(ZAVPRINT_PATH, ZAVPRINT_PATH, "finish", Path("big.raw").c_str(), "--folder",
              Path("out").c_str(), "--name", "run", "--pdf", "--overwrite",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_EQ(WaitFor(limited, 20s), 1) << "killed by SIGXFSZ? " << Read(Path("limited.out"));
    EXPECT_NE(Read(Path("limited.out")).find("File too large"), std::string::npos)
        << Read(Path("limited.out"));
    std::vector<std::pair<std::string, std::string>> after;
    for (const auto& entry : fs::directory_iterator(Path("out")))
        if (entry.path().filename() != "audit.log")
            after.emplace_back(entry.path().filename().string(), Read(entry.path().string()));
    std::sort(after.begin(), after.end());
    EXPECT_TRUE(before == after) << "the earlier capture changed";
    EXPECT_EQ(Read(Path("big.raw")), big);

    // A folder it may not write in: the system's reason is named.
    fs::permissions(Path("out"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    pid_t denied = Spawn(
        {ZAVPRINT_PATH, "finish", Path("big.raw"), "--folder", Path("out"), "--name", "other"}, -1,
        Path("denied.out"), Path("cfg"), true);
    EXPECT_EQ(WaitFor(denied, 10s), 1) << Read(Path("denied.out"));
    EXPECT_NE(Read(Path("denied.out")).find("Permission denied"), std::string::npos)
        << Read(Path("denied.out"));
    fs::permissions(Path("out"), fs::perms::owner_write, fs::perm_options::add);
}

// What zavprint prints is part of its result.
TEST_F(CliCapture, FailedWriteToStandardOutputIsAFailure) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    pid_t help = fork();
    if (help == 0) {
        int full = open("/dev/full", O_WRONLY);
        dup2(full, 1);
        execl(ZAVPRINT_PATH, ZAVPRINT_PATH, "--help", static_cast<char*>(nullptr));
        _exit(127);
    }
    EXPECT_NE(WaitFor(help, 10s), 0);
}

// The report goes to $BROWSER as one argument, whatever its folder is called,
// with no shell in between.
TEST_F(CliCapture, ViewHandsTheReportToTheBrowserAsOneArgument) {
    const std::string folder = Path("a b $(touch x) 'q\" ;");
    fs::create_directories(folder);
    Write(folder + "/run.html", "<html></html>");
    const std::string browser = Path("browser.sh");
    Write(browser, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >" +
                       Path("args.new") + "\nmv " + Path("args.new") + " " + Path("args") + "\n");
    fs::permissions(browser, fs::perms::owner_all);
    setenv("BROWSER", (browser + " --new-window %s --after").c_str(), 1);
    pid_t view = Spawn({ZAVPRINT_PATH, "view", "--folder", folder, "--name", "run"}, -1,
                       Path("view.out"), Path("cfg"));
    EXPECT_EQ(WaitFor(view, 10s), 0) << Read(Path("view.out"));
    for (int i = 0; i < 250 && !fs::exists(Path("args")); ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Read(Path("args")), "--new-window\n" + folder + "/run.html\n--after\n");

    pid_t missing = Spawn({ZAVPRINT_PATH, "view", "--folder", folder, "--name", "none"}, -1,
                          Path("view.out"), Path("cfg"));
    EXPECT_EQ(WaitFor(missing, 10s), 1);
    // A name longer than the system takes is no report either.
    pid_t tooLong =
        Spawn({ZAVPRINT_PATH, "view", "--folder", folder, "--name", std::string(300, 'x')}, -1,
              Path("view.out"), Path("cfg"));
    EXPECT_EQ(WaitFor(tooLong, 10s), 1) << Read(Path("view.out"));
    unsetenv("BROWSER");
}

// Without --port the capture takes the print cable that the port search
// finds (here a fake sysfs whose ttyUSB1 is the "ZAV Print" cable).
TEST_F(CliCapture, WithoutAPortTheCableIsFound) {
    for (const auto& [name, product] :
         {std::pair{"ttyUSB0", "FT232R USB UART"}, std::pair{"ttyUSB1", "ZAV Print"}}) {
        const fs::path iface = dir_ / "sys/devices/usb" / name / "1-1:1.0" / name;
        fs::create_directories(iface);
        Write((dir_ / "sys/devices/usb" / name / "product").string(), std::string(product) + "\n");
        fs::create_directories(dir_ / "sys/class/tty" / name);
        fs::create_directory_symlink(iface, dir_ / "sys/class/tty" / name / "device");
    }
    fs::create_directories(dir_ / "dev");
    StartSimulator();
    fs::create_symlink(Path("line"), dir_ / "dev/ttyUSB1");
    StartCapture({"--sysfs", Path("sys"), "--dev", Path("dev"), "--folder", dir_.string(), "--name",
                  "found"});
    Print();
    std::this_thread::sleep_for(1s);
    PressEnter();
    ASSERT_EQ(Finish(), 0) << Output();
    EXPECT_NE(Output().find("Recording " + Path("dev") + "/ttyUSB1"), std::string::npos)
        << Output();
    int pages = 0;
    EXPECT_TRUE(SameBytes(Pages("found", &pages), Example()));

    // No cable at all: told, and nothing recorded.
    fs::remove_all(dir_ / "sys/class/tty/ttyUSB1");
    StartCapture({"--sysfs", Path("sys"), "--dev", Path("dev"), "--name", "none"});
    EXPECT_EQ(Finish(), 1);
    EXPECT_NE(Output().find("cable not found"), std::string::npos) << Output();
    EXPECT_FALSE(fs::exists(Path("none.html")));
}

} // namespace
