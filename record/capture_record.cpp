#include "record/capture_record.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <system_error>
#include <thread>

#include "base/capture_names.h"
#include "base/file_io.h"
#include "base/paths.h"
#include "base/stdio_file.h"
#include "base/sys_error.h"

namespace zav::record {

namespace {

constexpr char kRecordFormat[] = "zavprint-record-1";
constexpr std::string_view kSignatureHead = ",\n  \"signature\": {\"key\": \"";
constexpr std::string_view kSignatureMiddle = "\", \"ed25519\": \"";
constexpr std::string_view kSignatureTail = "\"}\n}\n";
constexpr std::size_t kSignatureBlock =
    kSignatureHead.size() + 16 + kSignatureMiddle.size() + 128 + kSignatureTail.size();

// Writes `text` whole to `path`: under a work name, forced to the disk, then
// renamed over `path`.
bool WriteWhole(const std::string& path, std::string_view text, std::string& error) {
    OutputFile file(path);
    if (file.Write(text.data(), text.size()) && file.Sync() && file.Commit())
        return true;
    error = WithReason("cannot write " + path, file.Error());
    return false;
}

// Hands what an output file is shown on to its record.
class RecordedTap final : public OutputTap {
  public:
    explicit RecordedTap(RecordedFile& file) : file_(file) {}
    void Written(std::uint64_t offset, const void* data, std::size_t size) override {
        file_.Written(offset, data, size);
    }
    void WrittenShared(std::uint64_t offset, const SharedBytes& bytes) override {
        file_.WrittenShared(offset, bytes);
    }
    void Complete(const std::string& workPath) override { file_.Complete(workPath); }
    void Placed() override { file_.Placed(); }
    void Closed(bool whole) override { file_.Closed(whole); }

  private:
    RecordedFile& file_;
};

std::string FileNameOf(std::string_view path) {
    return std::string(path.substr(FileNameOffset(path)));
}

} // namespace

std::string SumsLine(const Sha256Digest& digest, std::string_view name) {
    std::string line;
    AppendSumsLine(line, digest, name);
    return line;
}

void AppendSumsLine(std::string& out, const Sha256Digest& digest, std::string_view name) {
    if (name.find_first_of("\\\n\r") != std::string_view::npos)
        out += '\\';
    AppendHex(out, digest);
    out += "  ";
    for (const char c : name) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    out += '\n';
}

bool ParseSums(std::string_view text, std::vector<SumsEntry>& entries, std::size_t* badLine) {
    entries.clear();
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const bool escaped = line.starts_with('\\');
        if (escaped)
            line.remove_prefix(1);
        SumsEntry entry;
        // HASH, then "  " (text) or " *" (binary), then the name.
        if (line.size() < 67 || !ParseHex(line.substr(0, 64), entry.digest) || line[64] != ' ' ||
            (line[65] != ' ' && line[65] != '*')) {
            if (badLine)
                *badLine = number;
            return false;
        }
        for (std::size_t i = 66; i < line.size(); ++i) {
            if (!escaped || line[i] != '\\' || i + 1 == line.size()) {
                entry.name += line[i];
                continue;
            }
            const char e = line[++i];
            entry.name += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

// The record's hashing thread. Jobs run in the order they are given, so a
// file's blocks are hashed in file order and its end comes after them. When
// no thread can be had, or once it ended, a job runs on the caller's thread.
class HashWorker {
  public:
    struct Job {
        RecordedFile* file = nullptr;
        std::vector<RecordedFile::Block> blocks;
        std::size_t bytes = 0;
        bool last = false;          // then the file's hash is finished
        std::function<void()> task; // instead of a file's blocks
    };

    ~HashWorker() { End(); }

    void Run(Job job) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!tried_ && !ending_) {
                tried_ = true;
                try {
                    thread_ = std::thread([this] { Loop(); });
                } catch (const std::system_error&) {
                    // hashed here instead
                }
            }
            if (thread_.joinable() && !ending_) {
                // The writer waits while too much waits to be hashed.
                room_.wait(lock,
                           [&] { return queued_ + job.bytes <= kMaxQueued || jobs_.empty(); });
                queued_ += job.bytes;
                jobs_.push_back(std::move(job));
                // The thread is woken for some work at a time: a wake-up for
                // every small file costs the writer more than its hash.
                const bool wake =
                    waiting_ && (hurry_ || queued_ >= kWakeBytes || jobs_.size() >= kWakeJobs);
                lock.unlock();
                if (wake)
                    work_.notify_one();
                return;
            }
        }
        Do(job);
    }

    // Every job given from now on is started at once: the end is near.
    void Hurry() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hurry_ = true;
        }
        work_.notify_one();
    }

    // Waits until every job given is done, and ends the thread.
    void End() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ending_ = true;
        }
        work_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

  private:
    static constexpr std::size_t kMaxQueued = 64u << 20;
    static constexpr std::size_t kWakeBytes = 1u << 20;
    static constexpr std::size_t kWakeJobs = 256;

    // No exception leaves a job: a file whose hash was not finished counts
    // as missing.
    static void Do(const Job& job) noexcept {
        try {
            if (job.task)
                job.task();
            else
                job.file->Hash(job.blocks, job.last);
        } catch (...) {
        }
    }

    void Loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            waiting_ = true;
            work_.wait(lock, [this] {
                return ending_ || (hurry_ && !jobs_.empty()) || queued_ >= kWakeBytes ||
                       jobs_.size() >= kWakeJobs;
            });
            waiting_ = false;
            if (jobs_.empty())
                return;
            while (!jobs_.empty()) {
                Job job = std::move(jobs_.front());
                jobs_.pop_front();
                lock.unlock();
                Do(job);
                const std::size_t bytes = job.bytes;
                job = {};
                lock.lock();
                queued_ -= bytes;
                room_.notify_all();
            }
        }
    }

    std::mutex mutex_;             // guards what follows
    std::condition_variable work_; // a job came, or the end
    std::condition_variable room_; // a job was done
    std::deque<Job> jobs_;
    std::size_t queued_ = 0; // bytes in jobs_
    bool ending_ = false;
    bool waiting_ = false; // for work
    bool hurry_ = false;   // no work waits for more
    bool tried_ = false;   // to start the thread
    std::thread thread_;
};

void RecordedFile::Written(std::uint64_t offset, const void* data, std::size_t size) {
    Take(offset, static_cast<const char*>(data), size, nullptr);
}

void RecordedFile::WrittenShared(std::uint64_t offset, const SharedBytes& bytes) {
    if (bytes)
        Take(offset, reinterpret_cast<const char*>(bytes->data()), bytes->size(), &bytes);
}

void RecordedFile::Take(std::uint64_t offset, const char* bytes, std::size_t size,
                        const SharedBytes* shared) {
    if (size == 0 || completed_ || closed_)
        return;
    end_ = std::max(end_, offset + size);
    if (readBack_)
        return;
    const auto held = [&] {
        return shared ? Block{{}, *shared} : Block{std::string(bytes, size), {}};
    };
    if (offset < next_) {
        overlapped_ = true;
        return;
    }
    if (offset > next_) {
        // Held until the bytes before it are written; blocks written twice
        // cannot be hashed as the file holds them.
        auto after = ahead_.lower_bound(offset);
        if ((after != ahead_.end() && after->first < offset + size) ||
            (after != ahead_.begin() &&
             std::prev(after)->first + std::prev(after)->second.Bytes().size() > offset))
            overlapped_ = true;
        else if (held_ + size > kMaxHeldAhead) {
            // More than is worth holding: the work file is read instead.
            readBack_ = true;
            ahead_.clear();
            held_ = 0;
            pending_.clear();
            gathering_ = false;
            pendingBytes_ = 0;
        } else {
            ahead_.emplace(offset, held());
            held_ += size;
        }
        return;
    }
    // Small pieces gather into blocks of kGather bytes.
    constexpr std::size_t kSmall = 4096, kGather = 64 * 1024;
    if (shared || size >= kSmall) {
        pending_.push_back(held());
        gathering_ = false;
    } else if (!gathering_ || pending_.back().own.size() + size > kGather) {
        // A file of one small piece (a page capture) takes no more room.
        pending_.push_back(held());
        gathering_ = true;
    } else {
        std::string& block = pending_.back().own;
        if (block.capacity() < block.size() + size)
            block.reserve(kGather);
        block.append(bytes, size);
    }
    pendingBytes_ += size;
    next_ += size;
    while (!ahead_.empty() && ahead_.begin()->first == next_) {
        auto block = ahead_.extract(ahead_.begin());
        const std::size_t blockSize = block.mapped().Bytes().size();
        next_ += blockSize;
        held_ -= blockSize;
        pendingBytes_ += blockSize;
        pending_.push_back(std::move(block.mapped()));
        gathering_ = false;
    }
    if (pendingBytes_ >= kHandOver)
        HandOver(false);
}

void RecordedFile::Complete(const std::string& workPath) {
    if (completed_ || closed_)
        return;
    completed_ = true;
    gaps_ = !ahead_.empty();
    ahead_.clear();
    held_ = 0;
    if (overlapped_ || gaps_) {
        pending_.clear();
        gathering_ = false;
        pendingBytes_ = 0;
        return;
    }
    if (!readBack_) {
        HandOver(true);
        return;
    }
    std::uint64_t size = 0;
    readDone_ = Sha256OfFile(workPath, digest_, size) && size == end_;
    next_ = size;
}

void RecordedFile::Closed(bool whole) {
    if (closed_)
        return;
    if (!whole) {
        // Nothing more of it is hashed.
        ahead_.clear();
        pending_.clear();
        gathering_ = false;
        pendingBytes_ = 0;
    } else if (!completed_ && !readBack_) {
        Complete({}); // a writer without a work file ends here
    }
    whole_ = whole;
    closed_ = true;
}

void RecordedFile::Placed() {
    if (closed_)
        return;
    placed_ = true;
    HashWorker::Job job;
    job.task = [this] {
        if (!owner_.folder_)
            owner_.folder_.emplace(owner_.Folder());
        std::uint64_t size = 0;
        if (owner_.folder_->FileSize(name_, size))
            sizeOnDisk_ = size;
        looked_ = true;
    };
    owner_.hasher_->Run(std::move(job));
}

void RecordedFile::HandOver(bool last) {
    if (pending_.empty() && !last)
        return;
    HashWorker::Job job{this, std::move(pending_), pendingBytes_, last, {}};
    pending_.clear();
    gathering_ = false;
    pendingBytes_ = 0;
    owner_.hasher_->Run(std::move(job));
}

void RecordedFile::Hash(const std::vector<Block>& blocks, bool last) {
    if (!hash_)
        hash_.emplace();
    for (const Block& block : blocks)
        hash_->Update(block.Bytes());
    if (last) {
        hashed_ = hash_->Valid();
        digest_ = hash_->Finish();
        hash_.reset();
    }
}

std::string RecordedFile::WhyNotHashed() const {
    if (overlapped_)
        return "parts were written twice, so its hash is not known";
    if (gaps_)
        return "parts of it were never written";
    if (readBack_)
        return readDone_ ? "" : "it could not be read to be hashed";
    if (!hashed_)
        return "no hash could be made";
    return {};
}

const char* RecordResultText(int result) {
    switch (result) {
    case kRecordOk:
        return "done";
    case kRecordCannotWriteSums:
        return "the checksum file could not be written";
    case kRecordCannotWriteRecord:
        return "the record could not be written";
    case kRecordCannotSign:
        return "the record could not be signed";
    case kRecordCannotLog:
        return "the audit log could not be appended to";
    }
    return "unknown result";
}

CaptureRecord::CaptureRecord(std::string basePath, Identity who, CaptureSource source)
    : base_(std::move(basePath)), who_(std::move(who)), source_(std::move(source)),
      started_(std::chrono::system_clock::now()), hasher_(std::make_unique<HashWorker>()) {}

CaptureRecord::~CaptureRecord() {
    hasher_->End(); // before the files it hashes go
}

std::string CaptureRecord::Folder() const {
    return base_.substr(0, FileNameOffset(base_));
}

std::string CaptureRecord::Name() const {
    return FileNameOf(base_);
}

void CaptureRecord::Received(const void* data, std::size_t size) {
    if (receivedDone_)
        return;
    if (!received_)
        received_.reset(new RecordedFile(*this, {}));
    received_->Written(data, size);
}

void CaptureRecord::SetReceived(std::uint64_t bytes, const Sha256Digest& digest) {
    std::lock_guard<std::mutex> lock(mutex_);
    receivedBytes_ = bytes;
    receivedDigest_ = digest;
    receivedDone_ = true;
}

void CaptureRecord::AddReceivedFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    receivedFiles_.push_back(FileNameOf(path));
}

void CaptureRecord::SetInstrument(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    source_.instrument = std::move(text);
}

std::unique_ptr<OutputTap> CaptureRecord::Opened(const std::string& target) {
    return std::make_unique<RecordedTap>(Track(target));
}

RecordedFile& CaptureRecord::Track(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    tracked_.push_back(std::unique_ptr<RecordedFile>(new RecordedFile(*this, FileNameOf(path))));
    return *tracked_.back();
}

void CaptureRecord::List(const std::string& name, const Entry& entry) {
    if (!missing_.empty())
        missing_.erase(name);
    files_.insert_or_assign(name, entry);
}

void CaptureRecord::Miss(const std::string& name, std::string why) {
    files_.erase(name);
    missing_[name] = std::move(why);
}

void CaptureRecord::AddFile(const std::string& path, std::uint64_t size,
                            const Sha256Digest& digest) {
    std::lock_guard<std::mutex> lock(mutex_);
    List(FileNameOf(path), Entry{size, digest});
}

void CaptureRecord::AddMissing(const std::string& path, std::string why) {
    std::lock_guard<std::mutex> lock(mutex_);
    Miss(FileNameOf(path), std::move(why));
}

void CaptureRecord::SetPages(unsigned pages) {
    std::lock_guard<std::mutex> lock(mutex_);
    pages_ = pages;
}

void CaptureRecord::Failed(std::string why) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::move(why);
}

void CaptureRecord::SettleTracked(const std::vector<std::optional<std::uint64_t>>& onDisk) {
    auto disk = onDisk.begin();
    for (const auto& file : tracked_) {
        const std::optional<std::uint64_t> size = *disk++;
        if (!file->closed_) {
            if (!files_.count(file->name_))
                missing_.emplace(file->name_, "not finished");
        } else if (!file->whole_) {
            abandoned_.push_back(file->name_);
        } else {
            std::string whyNot = file->WhyNotHashed();
            if (whyNot.empty() && !size)
                whyNot = "gone before the record was written";
            else if (whyNot.empty() && *size != file->next_)
                whyNot = "its size changed before the record was written";
            if (whyNot.empty())
                List(file->name_, Entry{file->next_, file->digest_, true});
            else
                Miss(file->name_, std::move(whyNot));
        }
    }
}

void CaptureRecord::CheckSizesOnDisk() {
    const FolderLookup folder(Folder());
    for (auto it = files_.begin(); it != files_.end();) {
        if (it->second.checked) {
            ++it;
            continue;
        }
        std::uint64_t size = 0;
        const bool found = folder.FileSize(it->first, size);
        if (!found || size != it->second.size) {
            missing_[it->first] = !found ? "gone before the record was written"
                                         : "its size changed before the record was written";
            it = files_.erase(it);
        } else {
            ++it;
        }
    }
}

// The record as JSON, written here directly: a record lists thousands of
// files. One member a line, and in the lists one file a line.
std::string CaptureRecord::RecordText(bool complete) {
    std::string out;
    out.reserve(1024 + files_.size() * 140 + missing_.size() * 100);
    const auto member = [&out](std::string_view key) {
        out += out.empty() ? "{\n  " : ",\n  ";
        AppendJsonString(out, key);
        out += ": ";
    };
    const auto text = [&](std::string_view key, std::string_view value) {
        member(key);
        AppendJsonString(out, value);
    };
    const auto number = [&](std::string_view key, std::uint64_t value) {
        member(key);
        out += std::to_string(value);
    };
    const auto digest = [&out](const Sha256Digest& value) {
        out += '"';
        AppendHex(out, value);
        out += '"';
    };
    text("format", kRecordFormat);
    text("capture", Name());
    text("started", UtcTimeText(started_));
    text("ended", UtcTimeText(ended_));
    member("complete");
    out += complete ? "true" : "false";
    member("received");
    out += "{\"bytes\": " + std::to_string(receivedBytes_) + ", \"sha256\": ";
    digest(receivedDigest_);
    out += '}';
    text("instrument", source_.instrument);
    text("port", source_.port);
    text("cable_serial", source_.cableSerial);
    text("computer", who_.computer);
    text("user", who_.user);
    text("program", who_.program);
    text("printer", source_.printer);
    number("pages", pages_);
    member("files");
    out += '[';
    for (const auto& [name, entry] : files_) {
        out += out.back() == '[' ? "\n    " : ",\n    ";
        out += "{\"name\": ";
        AppendJsonString(out, name);
        out += ", \"bytes\": " + std::to_string(entry.size) + ", \"sha256\": ";
        digest(entry.digest);
        out += '}';
    }
    out += files_.empty() ? "]" : "\n  ]";
    member("missing");
    out += '[';
    for (const auto& [name, why] : missing_) {
        out += out.back() == '[' ? "\n    " : ",\n    ";
        out += "{\"name\": ";
        AppendJsonString(out, name);
        out += ", \"why\": ";
        AppendJsonString(out, why);
        out += '}';
    }
    out += missing_.empty() ? "]" : "\n  ]";
    if (!failure_.empty())
        text("failure", failure_);
    out += "\n}\n";
    return out;
}

RecordResult CaptureRecord::Write(const SigningKey* key, std::string* error) {
    std::string ignored;
    std::string& why = error ? *error : ignored;
    if (received_ && !receivedDone_)
        received_->Closed(true);
    hasher_->Hurry();
    std::lock_guard<std::mutex> lock(mutex_);
    // What lies on the disk: the hashing thread looked up each placed file as
    // it took its name and hands that on after its last blocks; the others
    // are looked up here meanwhile.
    std::vector<std::optional<std::uint64_t>> onDisk(tracked_.size());
    const auto whole = [](const RecordedFile& file) { return file.closed_ && file.whole_; };
    HashWorker::Job job;
    job.task = [this, &onDisk, &whole] {
        auto disk = onDisk.begin();
        for (const auto& file : tracked_) {
            if (file->placed_ && file->looked_ && whole(*file))
                *disk = file->sizeOnDisk_;
            ++disk;
        }
    };
    hasher_->Run(std::move(job));
    {
        const FolderLookup folder(Folder());
        auto disk = onDisk.begin();
        for (const auto& file : tracked_) {
            std::uint64_t size = 0;
            if (!file->placed_ && whole(*file) && folder.FileSize(file->name_, size))
                *disk = size;
            ++disk;
        }
    }
    hasher_->End(); // every file's hash and size is known from here
    if (ended_ == std::chrono::system_clock::time_point{})
        ended_ = std::chrono::system_clock::now();
    if (!receivedDone_) {
        receivedBytes_ = received_ ? received_->next_ : 0;
        receivedDigest_ = received_ ? received_->digest_ : Sha256().Finish();
        receivedDone_ = true;
    }
    SettleTracked(onDisk);
    for (const std::string& name : receivedFiles_) {
        files_[name] = Entry{receivedBytes_, receivedDigest_};
        missing_.erase(name);
    }
    // A failed capture names what it did not make whole; a finished one may
    // leave out a file on purpose (the bitmap of a page not drawn).
    for (const std::string& name : abandoned_) {
        if (!failure_.empty() && !files_.count(name))
            missing_.emplace(name, "not written whole");
    }
    CheckSizesOnDisk();

    RecordResult result = kRecordOk;
    auto fail = [&](RecordResult code, const std::string& text) {
        if (result == kRecordOk) {
            result = code;
            why = text;
        }
    };
    std::string sums;
    sums.reserve(files_.size() * 96);
    for (const auto& [name, entry] : files_)
        AppendSumsLine(sums, entry.digest, name);
    std::string sumsError;
    if (!WriteWhole(CaptureNames(base_).Checksums(), sums, sumsError)) {
        missing_[FileNameOf(CaptureNames(base_).Checksums())] = sumsError;
        fail(kRecordCannotWriteSums, sumsError);
    }

    const bool complete = missing_.empty() && failure_.empty();
    std::string text = RecordText(complete);
    if (key) {
        text = SignedRecordText(text, *key);
        if (text.empty())
            fail(kRecordCannotSign, "the key did not sign");
    }
    std::string recordError;
    const bool recordWritten =
        !text.empty() && WriteWhole(CaptureNames(base_).Record(), text, recordError);
    if (recordWritten)
        recordDigest_ = Sha256Of(text);
    else if (!text.empty())
        fail(kRecordCannotWriteRecord, recordError);

    AuditEvent event{complete && recordWritten ? "finished" : "failed", Name()};
    if (recordWritten)
        event.details.Add("record", Json::String(ToHex(recordDigest_)));
    event.details.Add("pages", Json::Number(pages_));
    event.details.Add("received", Json::Number(receivedBytes_));
    if (!failure_.empty())
        event.details.Add("why", Json::String(failure_));
    else if (!recordWritten)
        event.details.Add("why", Json::String("no record: " + recordError));
    else if (!complete)
        event.details.Add("why", Json::String("files are missing"));
    std::string logError;
    const int logged = AppendAuditEvent(Folder(), event, who_, key, &logError);
    if (logged != kAuditOk)
        fail(kRecordCannotLog, std::string(AuditResultText(logged)) + ": " + logError);
    return result;
}

std::string SignedRecordText(const std::string& text, const SigningKey& key) {
    Signature signature{};
    if (!text.ends_with("\n}\n") || !key.Sign(text, signature))
        return {};
    std::string signedText = text.substr(0, text.size() - 3);
    signedText += kSignatureHead;
    signedText += KeyId(key.Public());
    signedText += kSignatureMiddle;
    signedText += ToHex(signature);
    signedText += kSignatureTail;
    return signedText;
}

bool SplitRecordSignature(std::string_view text, std::string& unsignedText, std::string& keyId,
                          Signature& signature) {
    if (text.size() < kSignatureBlock + 1)
        return false;
    const std::string_view block = text.substr(text.size() - kSignatureBlock);
    const std::string_view id = block.substr(kSignatureHead.size(), 16);
    const std::string_view middle =
        block.substr(kSignatureHead.size() + 16, kSignatureMiddle.size());
    const std::string_view value =
        block.substr(kSignatureHead.size() + 16 + kSignatureMiddle.size(), 128);
    std::array<std::uint8_t, 8> idBytes{};
    if (!block.starts_with(kSignatureHead) || !block.ends_with(kSignatureTail) ||
        middle != kSignatureMiddle || !ParseHex(id, idBytes) || !ParseHex(value, signature))
        return false;
    keyId = std::string(id);
    unsignedText = std::string(text.substr(0, text.size() - kSignatureBlock)) + "\n}\n";
    return true;
}

} // namespace zav::record
