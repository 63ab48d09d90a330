// zavprint capture --watch: records printout after printout with nobody at
// the computer.
//
// The cable's port stays open between printouts. Nothing is written while the
// line is quiet; the first byte of a printout opens a raw recording of its own
// (PREFIX-YYYYMMDD-HHMMSS-recording.raw, created only where no file is), which
// takes every byte as it arrives and goes to the disk at least once a second.
// When the line has been quiet for the idle time, the recording is handed to
// the finisher and the port is watched for the next printout at once: the
// finisher, one thread that alone renders and writes reports, claims the
// capture's name after the time its last byte came (base/timed_name.h: of
// several watches sharing the folder, each gets a name of its own), makes its
// page files, bitmaps and report, and adds it to the folder's index page.
//
// A recording that cannot be written or forced to the disk ends its printout
// (what it holds is finished and kept). A folder that cannot be written is
// said once: at the start the watch does not start; later, printouts that
// come while it cannot be written are counted and said when it can again.
//
// A line that goes away ends the printout in progress like the quiet does;
// then the cable is looked for again until it is back. SIGTERM, SIGINT and
// SIGHUP end the printout in progress with what has come so far, let the
// finisher make everything that was recorded, and end the program with 0;
// on Windows so do Ctrl+C, Ctrl+Break, a closed console, log-off and
// shutdown (cli/stop_signals.h).
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "base/file_io.h"
#include "base/output_file.h"
#include "base/sys_error.h"
#include "base/timed_name.h"
#include "base/utf8_names.h"
#include "capture/capture_files.h"
#include "capture/readloop.h"
#include "capture/serial.h"
#include "cli/cli.h"
#include "cli/cli_watch.h"
#include "cli/stop_signals.h"
#include "record/crypto.h"
#include "render/page_bitmap.h"
#include "render/renderer.h"
#include "report/index_page.h"

namespace zav::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Set by the signals that end the watch.
std::atomic<int> g_quit{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void OnQuitSignal(int) {
    g_quit.store(1);
}

constexpr int kCablePollMs = 500;        // how often a missing cable is looked for
constexpr long long kSyncEveryMs = 1000; // the recording reaches the disk this often
constexpr int kDrainReads = 64;          // reads of what came before a stop, at most
constexpr char kSeparator[] = {kPreferredSeparator, '\0'};

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

// One line on standard error (the journal, under systemd).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Log(const char* format, ...) {
    char text[3 * kPathBufferSize];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "%s\n", text);
}

std::string LocalTimeText(std::time_t when, const char* format) {
    const std::tm local = LocalTime(when);
    char text[64];
    return std::strftime(text, sizeof text, format, &local) ? text : "";
}

// A printout recorded and waiting to be finished.
struct Printout {
    std::string raw;
    long long bytes = 0;
    std::time_t ended = 0; // when its last byte came
    bool cut = false;      // its recording failed: it stays, whatever comes of it
    // For its record: where it came from, when, and the hash of its bytes.
    std::string port;
    std::string cableSerial;
    std::chrono::system_clock::time_point firstByte, lastByte;
    record::Sha256Digest received{};
};

// The raw recording of the printout in progress.
struct Recording {
    std::string path;
    std::FILE* file = nullptr;
    long long lastDataMs = 0;
    std::time_t lastDataTime = 0;
    long long syncedMs = 0;
    bool unsynced = false;
    bool failed = false;     // a write or a flush failed: the printout ends here
    bool syncFailed = false; // what was written may not be on the disk: it is kept
    SystemError error;

    // Creates the file where nothing is: PREFIX-<now>[-N]-recording.raw.
    bool Create(const WatchOptions& options) {
        const std::tm local = LocalTime(std::time(nullptr));
        const std::string stamped = options.prefix + "-" + CaptureTimeStamp(local);
        for (int n = 1; n < 1000; ++n) {
            const std::string name =
                (n == 1 ? stamped : stamped + "-" + std::to_string(n)) + "-recording.raw";
            char at[kPathBufferSize];
            if (MakeBasePath(options.folder.c_str(), name.c_str(), at, sizeof at) != kBasePathOk)
                return false;
            const NativeFile made = CreateNewFile(at, error);
            if (made == kNoNativeFile && FileExists(error))
                continue;
            if (made == kNoNativeFile || !(file = StreamOfFile(made))) {
                if (made != kNoNativeFile)
                    RemoveFile(at, error); // empty, and made here a moment ago
                return false;
            }
            path = at;
            return true;
        }
        return false;
    }
    void Data() {
        lastDataMs = NowMs();
        lastDataTime = std::time(nullptr);
        unsynced = true;
        SyncIfDue();
    }
    // Forces what came to the disk once a second; false once a flush failed.
    bool SyncIfDue() {
        if (unsynced && !failed && NowMs() - syncedMs >= kSyncEveryMs)
            Sync();
        return !failed;
    }
    void Sync() {
        syncedMs = NowMs();
        unsynced = false;
        if (std::fflush(file) != 0) {
            failed = true;
            error = LastErrnoError();
        } else if (SystemError reason; !SyncStream(file, reason) && !syncFailed) {
            syncFailed = true;
            Log("cannot force %s to the disk: %s; it is kept", path.c_str(), reason.text.c_str());
        }
    }
    // False when the close lost data.
    bool Close() {
        Sync();
        const bool closed = std::fclose(file) == 0;
        file = nullptr;
        return closed && !failed;
    }
};

// The line as the read loop sees it during one printout: every pause of the
// loop also looks at the clock (quiet long enough: the printout is over) and
// at the signals (stop at once).
class WatchedLine : public CableLine {
  public:
    WatchedLine(CableLine& line, Recording& recording, std::atomic<int>& stop, long long idleMs)
        : line_(line), recording_(recording), stop_(stop), idleMs_(idleMs) {}
    bool Write(const void* data, std::size_t size) override { return line_.Write(data, size); }
    std::size_t BytesWaiting() override { return line_.BytesWaiting(); }
    long Read(void* buffer, std::size_t size) override { return line_.Read(buffer, size); }
    void SleepMs(int milliseconds) override {
        line_.SleepMs(milliseconds);
        if (g_quit.load() != 0 || !recording_.SyncIfDue())
            stop_.store(kStopNow);
        else if (stop_.load() == 0 && NowMs() - recording_.lastDataMs >= idleMs_)
            stop_.store(1);
    }

  private:
    CableLine& line_;
    Recording& recording_;
    std::atomic<int>& stop_;
    long long idleMs_;
};

// Names, finishes and indexes the recorded printouts in the order they came,
// on a thread of its own, so that the port is read on while pages are made.
class Finisher {
  public:
    explicit Finisher(const WatchOptions& options) : options_(options) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Finisher() { Close(); }
    Finisher(const Finisher&) = delete;
    Finisher& operator=(const Finisher&) = delete;

    void Add(Printout printout) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            queue_.push_back(std::move(printout));
        }
        wake_.notify_one();
    }
    // Finishes everything added so far, then ends the thread.
    void Close() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            closing_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    void Run() {
        for (;;) {
            Printout next;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [this] { return closing_ || !queue_.empty(); });
                if (queue_.empty())
                    return;
                next = std::move(queue_.front());
                queue_.pop_front();
            }
            Finish(next);
        }
    }

    void Finish(const Printout& printout) const {
        const std::tm local = LocalTime(printout.ended);
        NameClaim claim;
        SystemError error;
        const std::string name =
            ClaimTimedCaptureName(options_.folder, options_.prefix, local, claim, error);
        if (name.empty()) {
            Log("printout of %lld bytes not finished: %s; its recording stays in %s",
                printout.bytes, WithReason("no name can be claimed in the folder", error).c_str(),
                printout.raw.c_str());
            return;
        }
        char base[kPathBufferSize];
        MakeBasePath(options_.folder.c_str(), name.c_str(), base, sizeof base);
        const CaptureNames names{std::string(base)};
        CaptureTrail trail(
            names, options_.records,
            {"", printout.port, printout.cableSerial, PrinterModelName(options_.printer)});
        record::CaptureRecord& record = trail.Record();
        record.Started(printout.firstByte);
        record.Ended(printout.lastByte);
        record.SetReceived(static_cast<std::uint64_t>(printout.bytes), printout.received);
        trail.BeforeFinish(printout.raw, false, false);
        FinishOptions finish;
        finish.record = &record;
        finish.storeRaw = options_.keepRaw;
        finish.singleFile = options_.singleFile;
        finish.pdf = options_.pdf;
        finish.paper = options_.paper;
        finish.keepRaw = printout.cut;
        finish.claim = &claim;
        finish.printer = options_.printer;
        FinishOutcome outcome;
        const int result = FinishCapture(printout.raw.c_str(), base, finish, &outcome);
        std::string recordError;
        const int recorded = trail.AfterFinish(
            result, outcome,
            printout.cut
                ? "the recording was cut short: " + std::to_string(printout.bytes) + " bytes kept"
                : std::string(),
            &recordError);
        claim.Release();
        if (recorded != record::kRecordOk)
            Log("%s: %s: %s", name.c_str(), record::RecordResultText(recorded),
                recordError.c_str());
        if (result == kFinishOk) {
            std::string notDrawn;
            for (std::size_t i = 0; i < outcome.pages.size(); ++i) {
                if (outcome.pages[i].renderResult != kRenderOk)
                    notDrawn += (notDrawn.empty() ? "; not drawn: page " : ", ") +
                                std::to_string(i + 1) + " (" +
                                RenderResultText(outcome.pages[i].renderResult) + ")";
            }
            Log("saved %s: %lld bytes, %u page%s%s%s%s", name.c_str(), printout.bytes,
                outcome.pageCount, outcome.pageCount == 1 ? "" : "s", notDrawn.c_str(),
                printout.cut ? "; the recording stays in " : "",
                printout.cut ? printout.raw.c_str() : "");
        } else {
            std::error_code exists;
            const bool rawKept = fs::exists(PathOf(printout.raw), exists);
            std::string why = FinishResultText(result);
            if (!outcome.failedFile.empty())
                why += ": " + outcome.failedFile;
            Log("%s not finished: %s: %lld bytes%s%s", name.c_str(),
                WithReason(why, outcome.error).c_str(), printout.bytes,
                rawKept ? "; the recording stays in " : "", rawKept ? printout.raw.c_str() : "");
        }
        if (outcome.reportWritten)
            AddToIndex(name, printout, outcome);
    }

    void AddToIndex(const std::string& name, const Printout& printout,
                    const FinishOutcome& outcome) const {
        IndexEntry entry;
        entry.name = name;
        entry.time = LocalTimeText(printout.ended, "%Y-%m-%d %H:%M:%S");
        entry.pages = outcome.pageCount;
        // The first page with something on it.
        for (const PageOutcome& page : outcome.pages) {
            if (!page.bitmap.empty() && !page.empty) {
                entry.thumbnail = Utf8Of(PathOf(page.bitmap).filename());
                break;
            }
        }
        std::string aside;
        // Its words, for the page's search box, as its text file holds them.
        const int indexed = AddCaptureToIndex(options_.folder, entry, outcome.text, &aside);
        if (!aside.empty())
            Log("the page that was %s is kept as %s", kIndexFileName, aside.c_str());
        if (indexed != kIndexOk)
            Log("the index page could not be updated (%s)",
                indexed == kIndexCannotRead ? "it cannot be read"
                : indexed == kIndexBusy     ? "another program held index.html.claim too long"
                                            : "it cannot be written");
    }

    const WatchOptions& options_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Printout> queue_;
    bool closing_ = false;
    std::thread thread_;
};

// Appends what is waiting, after a stop that did not wait for the quiet.
void Drain(CableLine& line, Recording& recording, ReadLoopState& state) {
    unsigned char buffer[kInputQueueSize];
    for (int i = 0; i < kDrainReads; ++i) {
        const std::size_t waiting = line.BytesWaiting();
        if (waiting == 0)
            return;
        const long got = line.Read(buffer, waiting < sizeof buffer ? waiting : sizeof buffer);
        if (got <= 0)
            return;
        const std::size_t size = static_cast<std::size_t>(got);
        const std::size_t written = std::fwrite(buffer, 1, size, recording.file);
        if (state.received)
            state.received->Update(buffer, written);
        state.bytes += static_cast<long long>(written);
        if (written != size) {
            recording.failed = true;
            recording.error = LastErrnoError();
            return;
        }
        recording.Data();
    }
}

// Reads and drops what comes until the line has been quiet for `idleMs`:
// a printout that cannot be kept. Its byte count.
long long Discard(CableLine& line, long long idleMs) {
    unsigned char buffer[kInputQueueSize];
    long long bytes = 0;
    for (long long quietMs = 0; quietMs < idleMs && g_quit.load() == 0;) {
        const std::size_t waiting = line.BytesWaiting();
        const long got =
            waiting == 0 ? 0 : line.Read(buffer, waiting < sizeof buffer ? waiting : sizeof buffer);
        if (got < 0)
            break;
        bytes += got;
        quietMs = got > 0 ? 0 : quietMs + kQuietPollMs;
        line.SleepMs(got > 0 ? kBurstPollMs : kQuietPollMs);
    }
    return bytes;
}

// Printouts that came while the folder could not be written: said when it
// first happens and when it can be written again, not once per printout.
struct Unwritable {
    bool now = false;
    int printouts = 0;
    long long bytes = 0;
};

enum class LineEnd { Quit, Lost };

// Records the printouts that come on one open line until it goes away or the
// watch is to end.
LineEnd RecordOnLine(CableLine& line, const std::string& device, const WatchOptions& options,
                     long long idleMs, Finisher& finisher, Unwritable& unwritable) {
    const std::string cableSerial = CableSerialOf(options.roots, device);
    const char* folder = options.folder.empty() ? "." : options.folder.c_str();
    for (;;) {
        // Between printouts nothing is on disk: wait for the first byte.
        std::size_t waiting = line.BytesWaiting();
        if (waiting == 0) {
            if (g_quit.load() != 0)
                return LineEnd::Quit;
            line.SleepMs(kQuietPollMs);
            continue;
        }
        unsigned char first[kInputQueueSize];
        const long got = line.Read(first, waiting < sizeof first ? waiting : sizeof first);
        if (got < 0)
            return LineEnd::Lost;
        if (got == 0) {
            line.SleepMs(kBurstPollMs);
            continue;
        }
        Recording recording;
        if (!recording.Create(options)) {
            if (!unwritable.now)
                Log("cannot record in %s: %s; printouts that come are not kept until it can be "
                    "written",
                    folder, recording.error.text.c_str());
            unwritable.now = true;
            ++unwritable.printouts;
            unwritable.bytes += got + Discard(line, idleMs);
            continue;
        }
        if (unwritable.now) {
            Log("%s can be written again; %d printout%s (%lld bytes) that came meanwhile %s lost",
                folder, unwritable.printouts, unwritable.printouts == 1 ? "" : "s",
                unwritable.bytes, unwritable.printouts == 1 ? "is" : "are");
            unwritable = {};
        }
        const auto firstByte = std::chrono::system_clock::now();
        record::Sha256 received;
        ReadLoopState state;
        state.received = &received;
        int result = kReadLoopStopped;
        const std::size_t size = static_cast<std::size_t>(got);
        const std::size_t written = std::fwrite(first, 1, size, recording.file);
        received.Update(first, written);
        state.bytes = static_cast<long long>(written);
        if (written != size || std::fflush(recording.file) != 0) {
            recording.error = LastErrnoError();
            result = kReadLoopWriteFailed;
        } else {
            recording.Data();
            std::atomic<int> stop{g_quit.load() != 0 ? kStopNow : 0};
            WatchedLine watched(line, recording, stop, idleMs);
            result = RunReadLoop(
                watched, recording.file, stop, [&recording](long long) { recording.Data(); },
                state);
            if (result == kReadLoopStopped && g_quit.load() != 0 && !recording.failed)
                Drain(line, recording, state);
            if (result == kReadLoopWriteFailed && !recording.error)
                recording.error = LastErrnoError();
        }
        if ((!recording.Close() || recording.failed) && result == kReadLoopStopped)
            result = kReadLoopWriteFailed;
        if (result == kReadLoopWriteFailed) {
            std::error_code error;
            const std::uintmax_t kept = fs::file_size(PathOf(recording.path), error);
            state.bytes = error ? 0 : static_cast<long long>(kept);
            Log("cannot write %s: %s; printout cut short, %lld bytes kept", recording.path.c_str(),
                recording.error.text.empty() ? "write failed" : recording.error.text.c_str(),
                state.bytes);
        }
        Printout printout;
        printout.raw = recording.path;
        printout.bytes = state.bytes;
        printout.ended = recording.lastDataTime;
        printout.cut = result == kReadLoopWriteFailed || recording.syncFailed;
        printout.port = device;
        printout.cableSerial = cableSerial;
        printout.firstByte = firstByte;
        printout.lastByte = std::chrono::system_clock::from_time_t(recording.lastDataTime);
        printout.received = received.Finish();
        finisher.Add(std::move(printout));
        if (result == kReadLoopReadFailed)
            return LineEnd::Lost;
        if (g_quit.load() != 0)
            return LineEnd::Quit;
    }
}

void SleepUnlessQuit(int milliseconds) {
    for (int slept = 0; slept < milliseconds && g_quit.load() == 0; slept += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

} // namespace

int RunWatch(const WatchOptions& given) {
    WatchOptions options = given;
    if (options.prefix.empty())
        options.prefix = kDefaultWatchPrefix;
    if (options.idleStop <= 0)
        options.idleStop = kDefaultWatchIdleStop;
    // The longest name a capture of this prefix gets.
    char longest[kPathBufferSize];
    const std::string sample = options.prefix + "-YYYYMMDD-HHMMSS-9999-recording.raw";
    const int formed =
        MakeBasePath(options.folder.c_str(), sample.c_str(), longest, sizeof longest);
    if (formed != kFinishOk) {
        std::fprintf(stderr, "zavprint capture: %s\n", FinishResultText(formed));
        return 2;
    }
    if (!options.folder.empty()) {
        std::error_code error;
        fs::create_directories(PathOf(options.folder), error);
        if (!fs::is_directory(PathOf(options.folder), error)) {
            std::fprintf(stderr, "zavprint capture: the folder %s cannot be made\n",
                         options.folder.c_str());
            return 1;
        }
    }
    // A watch that could keep no printout does not start.
    {
        std::string probe;
        SystemError error;
        const NativeFile made =
            CreateWorkFile(Utf8Of(PathOf(options.folder.empty() ? "." : options.folder) /
                                  PathOf(options.prefix + "-watch")),
                           probe, error);
        if (made == kNoNativeFile) {
            std::fprintf(stderr, "zavprint capture: cannot write in %s: %s\n",
                         options.folder.empty() ? "." : options.folder.c_str(), error.text.c_str());
            return 1;
        }
        CloseFile(made, error);
        RemoveFile(probe.c_str(), error);
    }

    g_quit.store(0);
    StopSignals signals(OnQuitSignal);

    const long long idleMs = std::llround(options.idleStop * 1000);
    Log("watching for printouts: they go to %s%s%s-YYYYMMDD-HHMMSS (%s); a printout ends "
        "after %g s of quiet",
        options.folder.c_str(), options.folder.empty() ? "" : kSeparator, options.prefix.c_str(),
        options.singleFile ? "single file" : "one file per page", options.idleStop);
    {
        Finisher finisher(options);
        Unwritable unwritable;
        bool waitLogged = false;
        while (g_quit.load() == 0) {
            const std::string device =
                options.port.empty() ? FindCableDevice(options.roots) : options.port;
            SerialLine line;
            if (device.empty() || line.Port().Open(device.c_str(), kCableBaudRate) != kCommOk) {
                if (!waitLogged)
                    Log("waiting for the cable%s%s", device.empty() ? "" : " at ", device.c_str());
                waitLogged = true;
                SleepUnlessQuit(kCablePollMs);
                continue;
            }
            waitLogged = false;
            Log("cable found: %s", device.c_str());
            if (RecordOnLine(line, device, options, idleMs, finisher, unwritable) ==
                LineEnd::Lost) {
                Log("cable lost: %s", device.c_str());
                SleepUnlessQuit(kCablePollMs);
            }
        }
        Log("stopping: finishing what was recorded");
        finisher.Close();
    }
    Log("stopped");
    return 0;
}

} // namespace zav::cli
