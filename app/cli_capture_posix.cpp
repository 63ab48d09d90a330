// zavprint capture and zavprint view: the capture session and the report
// viewer on a Linux serial device.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "app/capture_settings.h"
#include "app/cli.h"
#include "capture/cable.h"
#include "capture/readloop.h"
#include "capture/serial.h"
#include "capture/session.h"
#include "render/page_bitmap.h"
#include "report/viewer.h"

namespace zav::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The session's stop flag; the signal handlers only set it.
std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// The first signal stops once the line falls quiet; a second one stops at
// once, even while the instrument is still printing.
extern "C" void OnStopSignal(int) {
    g_stop.store(g_stop.load() != 0 ? zav::kStopNow : 1);
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// The session's view of the terminal: the port is a device path; the status
// text and the time of the last data are kept for the main thread to show.
class TerminalSessionEnv : public CaptureSessionEnv {
  public:
    std::unique_ptr<CableLine> OpenPort(const char* device) override {
        auto line = std::make_unique<SerialLine>();
        if (line->Port().Open(device, kCableBaudRate) != kCommOk)
            return nullptr;
        return line;
    }
    void SetStatus(const char* text) override {
        std::lock_guard<std::mutex> guard(lock_);
        status_ = text;
        ++changes_;
    }
    void OnProgress(long long bytes) override {
        // The time first: the idle stop reads the count and then the time, and
        // a count without its time would look like data from long ago.
        lastDataMs_.store(NowMs());
        bytes_.store(bytes);
        CaptureSessionEnv::OnProgress(bytes);
    }
    // The status text when it changed since `seen`.
    bool StatusSince(unsigned& seen, std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        if (changes_ == seen)
            return false;
        seen = changes_;
        text = status_;
        return true;
    }
    long long Bytes() const { return bytes_.load(); }
    long long LastDataMs() const { return lastDataMs_.load(); }

  private:
    std::mutex lock_;
    std::string status_;
    unsigned changes_ = 0;
    std::atomic<long long> bytes_{0};
    std::atomic<long long> lastDataMs_{0};
};

struct CaptureArgs {
    std::string port;
    SerialRoots roots;
    bool hasFolder = false;
    CaptureSettings settings;
    double idleStop = 0; // seconds, 0: off
};

bool ParseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && seconds > 0 && seconds < 1e6;
}

// The print cable's device: the first port that the cable search marks.
std::string FindCableDevice(const SerialRoots& roots) {
    for (const SerialPortInfo& port : ListSerialPorts(roots)) {
        if (port.cable)
            return roots.dev + "/" + port.name;
    }
    return {};
}

// Shows the status: in place on a terminal, else one line per change (the
// byte count at most once a second).
class StatusPrinter {
  public:
    StatusPrinter() : tty_(isatty(STDOUT_FILENO) != 0) {}
    void Show(const std::string& text, bool force = false) {
        const bool reading = text.rfind("Reading (", 0) == 0;
        const long long now = NowMs();
        if (!tty_ && reading && !force && now - lastLineMs_ < 1000)
            return;
        lastLineMs_ = now;
        if (tty_)
            std::printf("\r%-60s", text.c_str());
        else
            std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        pending_ = false;
        shown_ = text;
    }
    void Remember(const std::string& text) {
        pending_ = true;
        last_ = text;
    }
    // The last status, when it was held back.
    void ShowPending() {
        if (pending_ && last_ != shown_)
            Show(last_, true);
    }
    void Flush() {
        ShowPending();
        if (tty_)
            std::printf("\n");
    }
    bool tty() const { return tty_; }

  private:
    bool tty_;
    bool pending_ = false;
    std::string last_, shown_;
    long long lastLineMs_ = 0;
};

} // namespace

void PrintCaptureHelp() {
    std::printf("  zavprint capture [--port DEVICE] [--folder DIR] [--name NAME]\n"
                "                   [--single-file | --pages] [--idle-stop SECONDS]\n"
                "                   [--pdf [--paper a4|letter] | --no-pdf]\n"
                "      Records a printout from the print cable (the first \"ZAV Print\"\n"
                "      cable, or DEVICE) into DIR/NAME.tmp until Enter, Ctrl+C or SIGTERM,\n"
                "      then makes the capture files (one per page: DIR/NAME001.cpt, ...;\n"
                "      or DIR/NAME.cpt with --single-file), their bitmaps and the report\n"
                "      DIR/NAME.html. --idle-stop stops by itself once data has come and\n"
                "      then none for SECONDS. --pdf also writes DIR/NAME.pdf. A stop\n"
                "      takes effect once the line falls quiet; a second Ctrl+C or\n"
                "      SIGTERM stops at once. Folder, name, mode and the PDF choice\n"
                "      are remembered in\n"
                "      $XDG_CONFIG_HOME/zavprint/capture.conf. Exit status 1 when the\n"
                "      session failed.\n");
}

int RunCapture(int argc, char** argv) {
    CaptureArgs args;
    const std::string settingsPath = CaptureSettingsPath();
    if (!settingsPath.empty())
        LoadCaptureSettings(settingsPath, args.settings);
    for (int i = 0; i < argc; ++i) {
        const char* word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(word, "--port") == 0 && hasValue) {
            args.port = argv[++i];
        } else if (std::strcmp(word, "--folder") == 0 && hasValue) {
            args.settings.folder = argv[++i];
            args.hasFolder = true;
        } else if (std::strcmp(word, "--name") == 0 && hasValue) {
            args.settings.name = argv[++i];
        } else if (std::strcmp(word, "--single-file") == 0) {
            args.settings.singleFile = true;
        } else if (std::strcmp(word, "--pages") == 0) {
            args.settings.singleFile = false;
        } else if (std::strcmp(word, "--pdf") == 0) {
            args.settings.pdf = true;
        } else if (std::strcmp(word, "--no-pdf") == 0) {
            args.settings.pdf = false;
        } else if (std::strcmp(word, "--paper") == 0 && hasValue) {
            if (!ParsePdfPaper(argv[++i], args.settings.paper)) {
                std::fprintf(stderr, "zavprint capture: --paper is a4 or letter\n");
                return 2;
            }
        } else if (std::strcmp(word, "--idle-stop") == 0 && hasValue) {
            if (!ParseSeconds(argv[++i], args.idleStop)) {
                std::fprintf(stderr, "zavprint capture: --idle-stop needs seconds above 0\n");
                return 2;
            }
        } else if (std::strcmp(word, "--sysfs") == 0 && hasValue) {
            args.roots.sys = argv[++i];
        } else if (std::strcmp(word, "--dev") == 0 && hasValue) {
            args.roots.dev = argv[++i];
        } else {
            std::fprintf(stderr, "zavprint capture: unexpected %s (see zavprint --help)\n", word);
            return 2;
        }
    }
    if (args.hasFolder && !args.settings.folder.empty()) {
        // Remembered as a whole path, so that the next run finds it from anywhere.
        std::error_code error;
        std::filesystem::path whole = std::filesystem::absolute(args.settings.folder, error);
        if (!error)
            args.settings.folder = whole.lexically_normal().string();
    }
    if (args.settings.name.empty()) {
        std::fprintf(stderr, "zavprint capture: name the capture with --name NAME "
                             "(it is remembered for the next runs)\n");
        return 2;
    }
    char base[kPathBufferSize];
    const int formed =
        MakeBasePath(args.settings.folder.c_str(), args.settings.name.c_str(), base, sizeof base);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint capture: %s\n", FinishResultText(formed));
        return 2;
    }
    if (!args.settings.folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(args.settings.folder, error);
    }
    if (!settingsPath.empty() && !SaveCaptureSettings(settingsPath, args.settings))
        std::fprintf(stderr, "zavprint capture: the settings could not be saved in %s\n",
                     settingsPath.c_str());
    if (args.port.empty()) {
        args.port = FindCableDevice(args.roots);
        if (args.port.empty()) {
            std::fprintf(stderr, "zavprint capture: ZAV Print cable not found; name the "
                                 "device with --port\n");
            return 1;
        }
    }

    HQUOR store = quorOpen("zavprint:capture");
    quorSetString(store, "CaptureFolder", args.settings.folder.c_str());
    quorSetString(store, "CaptureFilename", args.settings.name.c_str());
    quorSetString(store, "Port1", args.port.c_str());
    quorSetNumeric(store, "SingleFile", args.settings.singleFile ? 1 : 0);
    quorSetNumeric(store, "Pdf", args.settings.pdf ? 1 : 0);
    quorSetNumeric(store, "PdfPaper", args.settings.paper == PdfPaper::Letter ? 1 : 0);

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction oldInt {
    }, oldTerm{}, oldHup{}, oldPipe{};
    sigaction(SIGINT, &action, &oldInt);
    sigaction(SIGTERM, &action, &oldTerm);
    // A closed terminal ends the session like Stop: killed outright, the
    // program would leave the recording unfinished and the device's own
    // line settings unrestored.
    sigaction(SIGHUP, &action, &oldHup);
    // Output piped into a reader that went away must not end the recording.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &oldPipe);

    std::printf("Recording %s into %s.* (%s). Stop with Enter or Ctrl+C.\n", args.port.c_str(),
                base, args.settings.singleFile ? "single file" : "one file per page");
    StatusPrinter printer;
    printer.Show(kStatusWaiting, true);

    TerminalSessionEnv env;
    SessionOutcome outcome;
    std::atomic<bool> done{false};
    g_stop.store(0);
    std::thread session([&] {
        RunCaptureSession(store, env, g_stop, &outcome);
        done.store(true);
    });

    bool watchInput = true; // until the input ends
    bool stopAnnounced = false;
    unsigned seen = 0;
    while (!done.load()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (watchInput && poll(&input, 1, 100) > 0) {
            char buf[256];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0)
                watchInput = false; // no more input: only signals stop it
            else if (std::memchr(buf, '\n', static_cast<std::size_t>(n)))
                g_stop.store(1);
        } else if (!watchInput) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (args.idleStop > 0 && env.Bytes() > 0 && !g_stop.load() &&
            NowMs() - env.LastDataMs() >= static_cast<long long>(args.idleStop * 1000)) {
            printer.ShowPending();
            printer.Show("No more data: stopping", true);
            g_stop.store(1);
            stopAnnounced = true;
        }
        std::string text;
        if (env.StatusSince(seen, text)) {
            printer.Remember(text);
            printer.Show(text);
        }
        if (g_stop.load() && !stopAnnounced && !done.load()) {
            printer.ShowPending();
            printer.Show("Stopping; making the pages...", true);
            stopAnnounced = true;
        }
    }
    session.join();
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    std::string text;
    if (env.StatusSince(seen, text))
        printer.Remember(text);
    printer.Flush();

    std::printf("%lld bytes recorded\n", outcome.bytes);
    for (const std::string& capture : outcome.finish.captureFiles) {
        char bitmap[kPathBufferSize];
        ReplaceExtension(capture.c_str(), "bmp", bitmap);
        std::error_code error;
        if (std::filesystem::exists(bitmap, error))
            std::printf("page: %s -> %s\n", capture.c_str(), bitmap);
        else
            std::printf("page: %s (not rendered)\n", capture.c_str());
    }
    if (outcome.finish.reportWritten)
        std::printf("report: %s\n", outcome.finish.reportPath.c_str());
    TellPdf(outcome.finish);
    if (outcome.finished && outcome.finishResult != kFinishOk)
        std::fprintf(stderr, "zavprint capture: %s%s%s\n", FinishResultText(outcome.finishResult),
                     outcome.finish.failedFile.empty() ? "" : ": ",
                     outcome.finish.failedFile.c_str());
    return outcome.result == kSessionStopped && outcome.finishResult == kFinishOk ? 0 : 1;
}

void PrintViewHelp() {
    std::printf("  zavprint view [--folder DIR] [--name NAME]\n"
                "      Opens the report DIR/NAME.html (by default the last capture's)\n"
                "      with $BROWSER, or xdg-open.\n");
}

int RunView(int argc, char** argv) {
    CaptureSettings settings;
    const std::string settingsPath = CaptureSettingsPath();
    if (!settingsPath.empty())
        LoadCaptureSettings(settingsPath, settings);
    for (int i = 0; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--folder") == 0 && hasValue) {
            settings.folder = argv[++i];
        } else if (std::strcmp(argv[i], "--name") == 0 && hasValue) {
            settings.name = argv[++i];
        } else {
            std::fprintf(stderr, "zavprint view: unexpected %s (see zavprint --help)\n", argv[i]);
            return 2;
        }
    }
    char base[kPathBufferSize];
    const int formed =
        MakeBasePath(settings.folder.c_str(), settings.name.c_str(), base, sizeof base);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint view: %s\n", FinishResultText(formed));
        return 2;
    }
    const std::string report = std::string(base) + ".html";
    // A name the system refuses (too long, a folder we may not look into) is
    // no report either, not a reason to abort.
    std::error_code error;
    if (!std::filesystem::exists(report, error)) {
        std::fprintf(stderr, "zavprint view: no report %s\n", report.c_str());
        return 1;
    }
    if (!OpenInBrowser(report.c_str())) {
        std::fprintf(stderr, "zavprint view: the browser could not be started\n");
        return 1;
    }
    std::printf("Opened %s\n", report.c_str());
    return 0;
}

} // namespace zav::cli
