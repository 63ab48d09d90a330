// zavprint capture and zavprint view: the capture session on the print
// cable's serial port and the report viewer.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "base/utf8_names.h"
#include "capture/cable.h"
#include "capture/readloop.h"
#include "capture/serial.h"
#include "capture/session_control.h"
#include "cli/capture_settings.h"
#include "cli/cli.h"
#include "cli/cli_watch.h"
#include "cli/console.h"
#include "cli/stop_signals.h"
#include "record/crypto.h"
#include "report/viewer.h"

namespace zav::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The session's stop flag; the stop signals only set it.
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
    std::unique_ptr<CableLine> OpenPort(const std::string& device, SystemError& error) override {
        auto line = std::make_unique<SerialLine>();
        if (line->Port().Open(device.c_str(), kCableBaudRate) != kCommOk) {
            error = line->Port().Error();
            return nullptr;
        }
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
    std::string settingsPath; // empty: nothing is remembered
    std::string port;
    SerialRoots roots;
    bool hasFolder = false;
    CaptureSettings settings;
    double idleStop = 0; // seconds, 0: off
    bool overwrite = false;
    bool watch = false;
    int keepRaw = -1; // --keep-raw 1, --no-keep-raw 0, neither -1
};

bool ParseSeconds(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return end != text && *end == '\0' && seconds > 0 && seconds < 1e6;
}

// A word as the shell reads it: quoted when it holds anything but letters,
// digits and "/._-+,:=@%" (on Windows also "\"; there in double quotes,
// which no file name holds, as the command prompt and PowerShell read them).
std::string ShellWord(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789/._-+,:=@%" +
                               std::string(kHostPathStyle == PathStyle::Windows ? "\\" : "")) ==
            std::string::npos)
        return word;
    if (kHostPathStyle == PathStyle::Windows)
        return "\"" + word + "\"";
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The command that finishes a kept recording as the session would have: the
// whole of it, so that it works from any folder.
std::string RecoverCommand(const CaptureNames& names, const std::string& folder) {
    std::string whole = WholePath(folder.empty() ? "." : folder);
    // No separator at the end, but for a root ("/", "C:\").
    while (whole.size() > 1 && IsPathSeparator(whole.back()) &&
           !(whole.size() == 3 && whole[1] == ':'))
        whole.pop_back();
    const bool root = !whole.empty() && IsPathSeparator(whole.back());
    const std::string recording = whole + (root ? "" : std::string(1, kPreferredSeparator)) +
                                  std::string(names.Name()) + ".tmp";
    return "zavprint finish " + ShellWord(recording) + " --name " +
           ShellWord(std::string(names.Name())) + " --folder " + ShellWord(whole);
}

// A session replaces the files of an earlier capture of its name and the
// recording a failed one kept: only when asked to. Tells what is in the way.
bool InTheWay(const CaptureNames& names, const std::string& folder) {
    const std::vector<std::string> existing = names.Existing();
    if (existing.empty())
        return false;
    const std::string name(names.Name());
    if (names.RecordingExists()) {
        std::fprintf(stderr,
                     "zavprint capture: %s is a recording kept from an earlier session; "
                     "recover it with\n  %s\nor give --overwrite to record over it\n",
                     existing.front().c_str(), RecoverCommand(names, folder).c_str());
        return true;
    }
    std::fprintf(stderr,
                 "zavprint capture: %s is in the way (an earlier capture named %s); give "
                 "another --name, or --overwrite to replace it\n",
                 existing.front().c_str(), name.c_str());
    return true;
}

// Whether `text` is the running byte count of `format` (a status that
// changes with every read).
bool IsByteCount(const std::string& text, std::string_view format) {
    return text.rfind(format.substr(0, format.find('%')), 0) == 0;
}

// Shows the status: in place on a terminal, else one line per change (the
// byte count at most once a second).
class StatusPrinter {
  public:
    StatusPrinter() : tty_(StdoutIsTerminal()) {}
    void Show(const std::string& text, bool force = false) {
        const bool reading =
            IsByteCount(text, kStatusReading) || IsByteCount(text, kStatusStopping);
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

enum CaptureOption {
    kCapturePort,
    kCaptureFolder,
    kCaptureName,
    kCaptureSingleFile,
    kCapturePages,
    kCaptureIdleStop,
    kCaptureOverwrite,
    kCaptureWatch,
    kCapturePdf,
    kCaptureNoPdf,
    kCapturePaper,
    kCapturePrinter,
    kCaptureSysfs,
    kCaptureDev,
    kCaptureKeepRaw,
    kCaptureNoKeepRaw,
    kCaptureSignKey,
    kCaptureNoSignKey,
};
constexpr OptionInfo kCaptureOptions[] = {
    {kCapturePort, "port", "DEVICE",
     "the cable's device (default: /dev/zavprint, else the\n"
     "first \"ZAV Print\" cable)"},
    {kCaptureFolder, "folder", "DIR", "the folder for the files (remembered)"},
    {kCaptureName, "name", "NAME",
     "the name the files are made from (needed the first\ntime, then remembered; with --watch the "
     "names'\nprefix, default \"printout\")"},
    {kCaptureSingleFile, "single-file", nullptr, "one capture file DIR/NAME.cpt for all pages"},
    {kCapturePages, "pages", nullptr, "one capture file per page (default; remembered)"},
    {kCaptureIdleStop, "idle-stop", "SECONDS",
     "stop by itself once data has come and then none\nfor SECONDS"},
    {kCaptureOverwrite, "overwrite", nullptr,
     "replace an earlier capture NAME or a kept recording\nDIR/NAME.tmp"},
    {kCaptureWatch, "watch", nullptr,
     "record printout after printout unattended, each\n"
     "named NAME-YYYYMMDD-HHMMSS, listed in DIR/index.html"},
    {kCapturePdf, "pdf", nullptr,
     "also write DIR/NAME.pdf, the pages at their printed\nsize (remembered)"},
    {kCaptureNoPdf, "no-pdf", nullptr, "no PDF (remembered)"},
    {kCapturePaper, "paper", "SIZE", "the PDF's paper: a4 (default) or letter (remembered)"},
    {kCapturePrinter, "printer", "MODEL",
     "the printer model: basic (default) or epson9 (Epson\n"
     "9-pin: a page per sheet of paper; remembered)"},
    {kCaptureKeepRaw, "keep-raw", nullptr,
     "keep the bytes received whole as DIR/NAME.raw beside the\npages (remembered; always with "
     "--watch unless --no-keep-raw)"},
    {kCaptureNoKeepRaw, "no-keep-raw", nullptr, "no DIR/NAME.raw (remembered)"},
    {kCaptureSignKey, "sign-key", "FILE",
     "sign each record and audit line with the private key FILE\n(zavprint keygen; remembered)"},
    {kCaptureNoSignKey, "no-sign-key", nullptr, "records unsigned (remembered)"},
    {kCaptureSysfs, "sysfs", "DIR", "look for the cable in DIR instead of /sys"},
    {kCaptureDev, "dev", "DIR", "look for the cable's device in DIR instead of /dev"},
};

const CommandInfo kCaptureCommand{
    .name = "capture",
    .synopsis = "capture [OPTION]...",
    .summary = "Records a printout from the print cable into DIR/NAME.tmp until Enter,\n"
               "Ctrl+C or SIGTERM, then makes the capture files (one per page:\n"
               "DIR/NAME001.cpt, ...; or DIR/NAME.cpt with --single-file), their\n"
               "bitmaps, the report DIR/NAME.html and its words DIR/NAME.txt. A stop\n"
               "takes effect once the line falls quiet; a second Ctrl+C or SIGTERM\n"
               "stops at once. It does not start while files of an earlier capture NAME\n"
               "or a kept recording DIR/NAME.tmp exist, unless --overwrite: then\n"
               "exactly the new capture's files are left. Folder, name, mode, the PDF\n"
               "choice and the printer model are remembered in\n"
#ifdef _WIN32
               "%APPDATA%\\zavprint\\capture.conf.\n"
#else
               "$XDG_CONFIG_HOME/zavprint/capture.conf.\n"
#endif
               "Every capture gets DIR/NAME.sha256 (sha256sum -c checks it) and its\n"
               "record DIR/NAME.record.json, and DIR/audit.log a line for each event\n"
               "(zavprint verify checks them). Exit status 1 when the session failed\n"
               "or its record could not be written.\n\n"
               "With --watch it records printout after printout with nobody at the\n"
               "computer. A printout ends when the line has been quiet for --idle-stop\n"
               "seconds (default 5) and becomes DIR/NAME-YYYYMMDD-HHMMSS (pages, bitmaps,\n"
               "report, text; a suffix -2, -3 ... when the name is taken); DIR/index.html\n"
               "lists them all, newest first, and finds them by their words. A cable\n"
               "that goes away ends the printout in progress and is waited for. SIGTERM\n"
               "or Ctrl+C finishes the printout in progress and ends with status 0. Log\n"
               "lines go to standard error.",
    .options = kCaptureOptions,
};

namespace {

// Reads the remembered settings and the options over them. -1 when the
// capture may go on, else the exit status.
int ParseCaptureArgs(int argc, char** argv, CaptureArgs& args) {
    ParsedArgs parsed;
    if (!ParseArgs(kCaptureCommand, argc, argv, parsed))
        return parsed.exitStatus;
    args.settingsPath = CaptureSettingsPath();
    if (!args.settingsPath.empty())
        LoadCaptureSettings(args.settingsPath, args.settings);
    for (const ParsedOption& option : parsed.options) {
        switch (option.id) {
        case kCapturePort:
            args.port = option.value;
            break;
        case kCaptureFolder:
            args.settings.folder = option.value;
            args.hasFolder = true;
            break;
        case kCaptureName:
            args.settings.name = option.value;
            break;
        case kCaptureSingleFile:
            args.settings.singleFile = true;
            break;
        case kCapturePages:
            args.settings.singleFile = false;
            break;
        case kCaptureIdleStop:
            if (!ParseSeconds(option.value, args.idleStop))
                return UsageError(kCaptureCommand, "--idle-stop needs seconds above 0");
            break;
        case kCaptureOverwrite:
            args.overwrite = true;
            break;
        case kCaptureWatch:
            args.watch = true;
            break;
        case kCapturePdf:
            args.settings.pdf = true;
            break;
        case kCaptureNoPdf:
            args.settings.pdf = false;
            break;
        case kCapturePaper:
            if (!ParsePdfPaper(option.value, args.settings.paper))
                return UsageError(kCaptureCommand, "--paper is a4 or letter");
            break;
        case kCapturePrinter:
            if (!ParsePrinterModel(option.value, args.settings.printer))
                return UsageError(kCaptureCommand, "--printer is basic or epson9");
            break;
        case kCaptureKeepRaw:
        case kCaptureNoKeepRaw:
            args.keepRaw = option.id == kCaptureKeepRaw ? 1 : 0;
            args.settings.keepRaw = args.keepRaw == 1;
            break;
        case kCaptureSignKey:
            args.settings.signKey = option.value;
            if (!args.settings.signKey.empty()) {
                const std::string whole = WholePath(args.settings.signKey);
                if (!whole.empty())
                    args.settings.signKey = whole;
            }
            break;
        case kCaptureNoSignKey:
            args.settings.signKey.clear();
            break;
        case kCaptureSysfs:
            args.roots.sys = option.value;
            break;
        case kCaptureDev:
            args.roots.dev = option.value;
            break;
        }
    }
    if (args.hasFolder && !args.settings.folder.empty()) {
        // Remembered as a whole path, so that the next run finds it from anywhere.
        const std::string whole = WholePath(args.settings.folder);
        if (!whole.empty())
            args.settings.folder = whole;
    }
    return -1;
}

// Everything before recording: the names, what is in the way, the folder,
// the settings remembered and the cable's port. -1 when the session may
// start, else the exit status.
int PrepareCapture(CaptureArgs& args, CaptureNames& names) {
    if (args.settings.name.empty()) {
        std::fprintf(stderr, "zavprint capture: name the capture with --name NAME "
                             "(it is remembered for the next runs)\n");
        return 2;
    }
    const int formed = CaptureNames::Make(args.settings.folder, args.settings.name, names);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint capture: %s\n", FinishResultText(formed));
        return 2;
    }
    if (!args.overwrite && InTheWay(names, args.settings.folder))
        return 1;
    if (!args.settings.folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(PathOf(args.settings.folder), error);
    }
    if (!args.settingsPath.empty() && !SaveCaptureSettings(args.settingsPath, args.settings))
        std::fprintf(stderr, "zavprint capture: the settings could not be saved in %s\n",
                     args.settingsPath.c_str());
    if (args.port.empty()) {
        args.port = FindCableDevice(args.roots);
        if (args.port.empty()) {
            std::fprintf(stderr, "zavprint capture: ZAV Print cable not found; name the "
                                 "device with --port\n");
            return 1;
        }
    }
    return -1;
}

CaptureRequest RequestOf(const CaptureArgs& args, const RecordKeeping& records) {
    CaptureRequest request;
    request.folder = args.settings.folder;
    request.name = args.settings.name;
    request.port = args.port;
    request.singleFile = args.settings.singleFile;
    request.pdf = args.settings.pdf;
    request.paper = args.settings.paper;
    request.replace = args.overwrite;
    request.printer = args.settings.printer;
    request.keepRaw = args.settings.keepRaw;
    request.records = records;
    request.cableSerial = CableSerialOf(args.roots, args.port);
    return request;
}

// Runs the session to its end, showing its status, and stops it on Enter,
// a stop signal or the idle time. False when it could not be started.
bool RecordSession(const CaptureArgs& args, const CaptureRequest& request,
                   SessionOutcome& outcome) {
    g_stop.store(0);
    // A closed terminal (or console window) ends the session like Stop:
    // killed outright, the program would leave the recording unfinished and
    // the device's own line settings unrestored.
    const StopSignals signals(OnStopSignal);
    StatusPrinter printer;
    printer.Show(kStatusWaiting, true);

    auto owned = std::make_unique<TerminalSessionEnv>();
    TerminalSessionEnv& env = *owned;
    StdSessionThread thread;
    SteadySessionClock clock;
    SessionController session(thread, clock, g_stop);
    if (session.Start(request, std::move(owned)) != SessionController::kStarted) {
        std::fprintf(stderr, "zavprint capture: the session could not be started\n");
        return false;
    }

    bool watchInput = true; // until the input ends
    int stopAsked = 0;
    unsigned seen = 0;
    while (!session.WaitEnded(0)) {
        InputState input = InputState::Nothing;
        if (watchInput)
            input = WaitForInput(100);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (input == InputState::Ended)
            watchInput = false; // no more input: only signals stop it
        else if (input == InputState::Line)
            g_stop.store(std::max(g_stop.load(), 1));
        if (args.idleStop > 0 && env.Bytes() > 0 && !g_stop.load() &&
            NowMs() - env.LastDataMs() >= static_cast<long long>(args.idleStop * 1000)) {
            printer.ShowPending();
            printer.Show("No more data: stopping", true);
            g_stop.store(1);
        }
        // A stop asked by Enter or a signal: the status says what it waits for.
        if (const int how = g_stop.load(); how > stopAsked) {
            session.RequestStop(how);
            stopAsked = how;
        }
        std::string text;
        if (env.StatusSince(seen, text)) {
            printer.Remember(text);
            printer.Show(text);
        }
    }
    outcome = session.Outcome();
    std::string text;
    if (env.StatusSince(seen, text))
        printer.Remember(text);
    printer.Flush();
    return true;
}

// Says what the session made, and how to finish a recording it kept.
int TellOutcome(const CaptureArgs& args, const CaptureNames& names, const SessionOutcome& outcome) {
    std::printf("%lld bytes recorded\n", outcome.bytes);
    if (!outcome.finished || outcome.finishResult == kFinishEmpty)
        return outcome.result == kSessionStopped ? 0 : 1;
    const bool recorded =
        TellRecord("capture", names, outcome.recorded, outcome.recordResult, outcome.recordError);
    if (outcome.finishResult == kFinishOk) {
        TellFinished(outcome.finish);
        return outcome.result == kSessionStopped && outcome.finish.NotDrawn() == 0 && recorded ? 0
                                                                                               : 1;
    }
    TellNotFinished("capture", outcome.finishResult, outcome.finish);
    if (names.RecordingExists())
        std::fprintf(stderr,
                     "zavprint capture: the recording is kept; when the cause is "
                     "mended, finish it with\n  %s\n",
                     RecoverCommand(names, args.settings.folder).c_str());
    return 1;
}

} // namespace

int RunCapture(int argc, char** argv) {
    CaptureArgs args;
    if (const int status = ParseCaptureArgs(argc, argv, args); status >= 0)
        return status;
    CaptureNames names;
    if (CaptureNames::Make("", args.settings.name, names) == kBasePathNotAName) {
        std::fprintf(stderr, "zavprint capture: %s\n", kNotANameText);
        return 2;
    }
    record::SigningKey signKey;
    if (!args.settings.signKey.empty() && !LoadSignKey("capture", args.settings.signKey, signKey))
        return 2;
    if (!record::StartCrypto()) {
        std::fprintf(stderr, "zavprint capture: the cryptography library did not start\n");
        return 1;
    }
    const RecordKeeping records{ProgramIdentity(), signKey.Valid() ? &signKey : nullptr};
    if (args.watch)
        return RunWatch({args.port, args.roots, args.settings.folder, args.settings.name,
                         args.settings.singleFile, args.idleStop, args.settings.pdf,
                         args.settings.paper, args.settings.printer, args.keepRaw != 0, records});
    if (const int status = PrepareCapture(args, names); status >= 0)
        return status;
    std::printf("Recording %s into %s.* (%s). Stop with Enter or Ctrl+C.\n", args.port.c_str(),
                names.Base().c_str(),
                args.settings.singleFile ? "single file" : "one file per page");
    SessionOutcome outcome;
    if (!RecordSession(args, RequestOf(args, records), outcome))
        return 1;
    return TellOutcome(args, names, outcome);
}

enum ViewOption { kViewFolder, kViewName };
constexpr OptionInfo kViewOptions[] = {
    {kViewFolder, "folder", "DIR", "the report's folder (default: the last capture's)"},
    {kViewName, "name", "NAME", "the report's name (default: the last capture's)"},
};

const CommandInfo kViewCommand{
    .name = "view",
    .synopsis = "view [OPTION]...",
    .summary = "Opens the report DIR/NAME.html with $BROWSER, or xdg-open.",
    .options = kViewOptions,
};

int RunView(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kViewCommand, argc, argv, args))
        return args.exitStatus;
    CaptureSettings settings = RememberedCaptureSettings();
    for (const ParsedOption& option : args.options) {
        switch (option.id) {
        case kViewFolder:
            settings.folder = option.value;
            break;
        case kViewName:
            settings.name = option.value;
            break;
        }
    }
    CaptureNames names;
    const int formed = CaptureNames::Make(settings.folder, settings.name, names);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint view: %s\n", FinishResultText(formed));
        return 2;
    }
    const std::string report = names.Report();
    // A name the system refuses (too long, a folder we may not look into) is
    // no report either, not a reason to abort.
    std::error_code error;
    if (!std::filesystem::exists(PathOf(report), error)) {
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
