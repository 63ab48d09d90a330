#include "base/output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <random>
#include <set>
#include <system_error>

#include "base/utf8_names.h"

namespace zav {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kDirectWrite = 1024;
constexpr int kNameAttempts = 100;
constexpr char kWorkEnd[] = ".part";
constexpr std::size_t kWorkDigits = 8;

std::atomic<OutputObserver*> g_observer{nullptr};

// TARGET.<8 hex digits>.part: a name of its own for each call, in any process.
std::string WorkName(const std::string& target) {
    static const std::uint32_t seed = std::random_device{}();
    static std::atomic<std::uint32_t> counter{0};
    const std::uint32_t n = seed + 0x9E3779B9u * ++counter;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x%s", static_cast<unsigned>(n), kWorkEnd);
    return target + suffix;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(PathOf(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool SameFile(const std::string& a, const std::string& b) {
    return a == b || IdentityOf(a.c_str()) == IdentityOf(b.c_str());
}

// Files known by name, asked whether a name leads to one of them: by its
// name first, else by the file it leads to, with one look at the disk for
// each name asked and one for each file given (a capture of a thousand pages
// replacing another is two thousand names against two thousand).
class FileSet {
  public:
    explicit FileSet(const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            names_.insert(path);
            const FileIdentity id = IdentityOf(path.c_str());
            if (id.known)
                files_.emplace(std::make_pair(id.device, id.index), &path);
        }
    }
    // The name given for the file `path` leads to, or null.
    const std::string* Find(const std::string& path) const {
        if (const auto name = names_.find(path); name != names_.end())
            return &*name;
        if (files_.empty())
            return nullptr;
        const FileIdentity id = IdentityOf(path.c_str());
        const auto file = id.known ? files_.find({id.device, id.index}) : files_.end();
        return file == files_.end() ? nullptr : file->second;
    }

  private:
    std::set<std::string> names_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, const std::string*> files_;
};

SystemError MustStay(const std::string& path) {
    return {-1, "it is " + path + ", which must stay"};
}

// A new empty file under a work name beside `path`, made here, for a file to
// be moved to; empty when none can be made.
std::string ReserveWorkName(const std::string& path, SystemError& error) {
    std::string name;
    const NativeFile file = CreateWorkFile(path, name, error);
    if (file == kNoNativeFile)
        return {};
    CloseFile(file, error);
    return name;
}

} // namespace

bool NameInUse(const std::string& path) {
    std::error_code error;
    return fs::symlink_status(PathOf(path), error).type() != fs::file_type::not_found;
}

NativeFile CreateWorkFile(const std::string& target, std::string& workPath, SystemError& error) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = WorkName(target);
        const NativeFile file = CreateNewFile(name.c_str(), error);
        if (file != kNoNativeFile) {
            workPath = std::move(name);
            return file;
        }
        if (!FileExists(error))
            break;
    }
    return kNoNativeFile;
}

void SetOutputObserver(OutputObserver* observer) {
    g_observer.store(observer);
}

bool IsWorkFileName(std::string_view name) {
    const std::size_t end = std::strlen(kWorkEnd);
    if (name.size() < 1 + kWorkDigits + end || name.substr(name.size() - end) != kWorkEnd)
        return false;
    const std::string_view digits = name.substr(name.size() - end - kWorkDigits, kWorkDigits);
    return name[name.size() - end - kWorkDigits - 1] == '.' &&
           std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {}

OutputFile::~OutputFile() {
    if (!done_)
        Abandon();
}

bool OutputFile::Fail(const SystemError& error) {
    if (!failed_) {
        failed_ = true;
        error_ = error;
    }
    return false;
}

bool OutputFile::Create() {
    if (Created() || failed_)
        return !failed_;
    SystemError error;
    file_ = CreateWorkFile(target_, work_, error);
    if (file_ == kNoNativeFile)
        return Fail(error);
    identity_ = IdentityOf(file_);
    if (OutputObserver* observer = observer_ ? observer_ : g_observer.load())
        tap_ = observer->Opened(target_);
    return true;
}

bool OutputFile::Flush() {
    if (buffered_ == 0 || failed_)
        return !failed_;
    const std::size_t size = buffered_;
    buffered_ = 0;
    SystemError error;
    return WriteFileAt(file_, bufferAt_, buffer_.get(), size, error) || Fail(error);
}

bool OutputFile::Write(const void* data, std::size_t size) {
    if (!Create())
        return false;
    if (buffered_ == 0)
        bufferAt_ = end_;
    const std::uint64_t at = bufferAt_ + buffered_;
    if (tap_)
        tap_->Written(at, data, size);
    end_ = std::max(end_, at + size);
    // A block of some size goes straight on; small pieces gather first.
    if (buffered_ == 0 && size >= kDirectWrite) {
        SystemError error;
        return WriteFileAt(file_, at, data, size, error) || Fail(error);
    }
    if (!buffer_) {
        buffer_.reset(new (std::nothrow) unsigned char[kBufferSize]);
        if (!buffer_)
            return Fail(ErrnoError(ENOMEM));
    }
    if (buffer_ && buffered_ + size <= kBufferSize) {
        std::memcpy(buffer_.get() + buffered_, data, size);
        buffered_ += size;
        return buffered_ < kBufferSize || Flush();
    }
    SystemError error;
    return Flush() && (WriteFileAt(file_, at, data, size, error) || Fail(error));
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    return WriteBlockAt(offset, data, size, nullptr);
}

bool OutputFile::WriteAt(std::uint64_t offset, const SharedBytes& bytes) {
    return bytes ? WriteBlockAt(offset, bytes->data(), bytes->size(), &bytes) : Create();
}

bool OutputFile::WriteBlockAt(std::uint64_t offset, const void* data, std::size_t size,
                              const SharedBytes* shared) {
    if (!Create() || !Flush())
        return false;
    if (tap_ && shared)
        tap_->WrittenShared(offset, *shared);
    else if (tap_)
        tap_->Written(offset, data, size);
    end_ = std::max(end_, offset + size);
    SystemError error;
    return WriteFileAt(file_, offset, data, size, error) || Fail(error);
}

bool OutputFile::Sync() {
    if (!Create() || !Flush())
        return false;
    SystemError error;
    return SyncFile(file_, error) || Fail(error);
}

bool OutputFile::Close() {
    if (file_ == kNoNativeFile)
        return !failed_;
    Flush();
    SystemError error;
    if (!CloseFile(file_, error))
        Fail(error);
    file_ = kNoNativeFile;
    buffer_.reset();
    if (tap_ && !failed_)
        tap_->Complete(work_);
    return !failed_;
}

void OutputFile::Done(bool whole) {
    done_ = true;
    if (tap_) {
        std::unique_ptr<OutputTap> tap = std::move(tap_);
        tap->Closed(whole);
    }
}

bool OutputFile::Commit(const std::vector<std::string>& keep) {
    if (done_)
        return !failed_;
    if (!Create() || !Close()) {
        Abandon();
        return false;
    }
    for (const std::string& path : keep) {
        if (SameFile(target_, path)) {
            Fail(MustStay(path));
            Abandon();
            return false;
        }
    }
    SystemError error;
    if (!RenameFile(work_.c_str(), target_.c_str(), error)) {
        Fail(error);
        Abandon();
        return false;
    }
    Done(true);
    return true;
}

void OutputFile::Abandon() {
    if (done_)
        return;
    SystemError ignored;
    if (file_ != kNoNativeFile) {
        CloseFile(file_, ignored);
        file_ = kNoNativeFile;
    }
    if (Created() && IdentityOf(work_.c_str()) == identity_)
        RemoveFile(work_.c_str(), ignored);
    Done(false);
}

OutputBatch::~OutputBatch() {
    if (!committed_)
        Abandon();
}

OutputFile& OutputBatch::Add(std::string target) {
    OutputFile& file = outputs_.emplace_back(std::move(target));
    file.Observe(observer_);
    return file;
}

void OutputBatch::AddExisting(std::string path, std::string target) {
    existing_.emplace_back(std::move(path), std::move(target));
}

void OutputBatch::Replace(std::string earlier) {
    earlier_.push_back(std::move(earlier));
}

void OutputBatch::Keep(std::string path) {
    keep_.push_back(std::move(path));
}

bool OutputBatch::Fail(const std::string& file, const SystemError& error) {
    failedFile_ = file;
    error_ = error;
    Abandon();
    return false;
}

void OutputBatch::MoveBack(std::vector<Moved>& moved) {
    SystemError ignored;
    for (auto it = moved.rbegin(); it != moved.rend(); ++it)
        RenameFile(it->to.c_str(), it->from.c_str(), ignored);
    moved.clear();
}

bool OutputBatch::Commit() {
    if (committed_)
        return true;
    std::vector<std::string> targets;
    std::vector<OutputFile*> placing;
    for (OutputFile& out : outputs_) {
        if (out.done_ || (!out.Created() && !out.Failed()))
            continue; // abandoned, or nothing was ever written to it
        if (!out.Close())
            return Fail(out.Target(), out.Error());
        targets.push_back(out.Target());
        placing.push_back(&out);
    }
    for (const auto& [path, target] : existing_)
        targets.push_back(target);
    // Only a name in use can lead to a file that must stay or is in the way:
    // one that an earlier file given to Replace does not have.
    const FileSet earlier(earlier_);
    const FileSet keep(keep_);
    for (const std::string& target : targets) {
        if (!NameInUse(target))
            continue;
        if (const std::string* kept = keep.Find(target))
            return Fail(target, MustStay(*kept));
        if (!earlier.Find(target))
            return Fail(target, ErrnoError(EEXIST));
    }
    for (const std::string& path : earlier_) {
        if (const std::string* kept = keep.Find(path))
            return Fail(path, MustStay(*kept));
    }

    // The earlier files step aside, under names made here for them.
    std::vector<Moved> aside;
    std::vector<FileIdentity> asideIdentity;
    SystemError error;
    for (const std::string& earlier : earlier_) {
        if (!NameInUse(earlier))
            continue;
        const std::string to = ReserveWorkName(earlier, error);
        if (to.empty() || !RenameFile(earlier.c_str(), to.c_str(), error)) {
            SystemError ignored;
            if (!to.empty())
                RemoveFile(to.c_str(), ignored);
            MoveBack(aside);
            return Fail(earlier, error);
        }
        aside.push_back({earlier, to});
        asideIdentity.push_back(IdentityOf(to.c_str()));
    }
    // The new files take their names.
    std::vector<Moved> placed;
    const auto place = [&](const std::string& from, const std::string& target) {
        if (RenameFile(from.c_str(), target.c_str(), error)) {
            placed.push_back({from, target});
            return true;
        }
        MoveBack(placed);
        MoveBack(aside);
        Fail(target, error);
        return false;
    };
    for (OutputFile* out : placing) {
        if (!place(out->WorkPath(), out->Target()))
            return false;
        if (out->tap_)
            out->tap_->Placed();
    }
    for (const auto& [path, target] : existing_) {
        if (!place(path, target))
            return false;
    }
    // Only now do the earlier files go.
    for (std::size_t i = 0; i < aside.size(); ++i) {
        if (IdentityOf(aside[i].to.c_str()) == asideIdentity[i])
            RemoveFile(aside[i].to.c_str(), error);
    }
    committed_ = true;
    for (OutputFile* out : placing)
        out->Done(true);
    return true;
}

void OutputBatch::Abandon() {
    for (OutputFile& out : outputs_)
        out.Abandon();
}

NameClaim::Result NameClaim::Take(std::string path, SystemError* error) {
    Release();
    SystemError failure;
    const NativeFile file = CreateNewFile(path.c_str(), failure);
    if (file == kNoNativeFile) {
        if (error)
            *error = failure;
        return FileExists(failure) ? kTaken : kFailed;
    }
    path_ = std::move(path);
    identity_ = IdentityOf(file);
    if (!identity_.known)
        identity_ = IdentityOf(path_.c_str());
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const year_month_day day{floor<days>(now)};
    const hh_mm_ss<seconds> time{now - floor<days>(now)};
    char since[48];
    std::snprintf(since, sizeof since, "%04d-%02u-%02u %02d:%02d:%02d UTC",
                  static_cast<int>(day.year()), static_cast<unsigned>(day.month()),
                  static_cast<unsigned>(day.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    const std::string text = "held by " + ThisProcessText() + " since " + since + "\n";
    WriteFileAt(file, 0, text.data(), text.size(), failure);
    CloseFile(file, failure);
    text_ = ReadText(path_); // what got there (a full disk may have cut it)
    return kClaimed;
}

void NameClaim::Release() {
    if (!identity_.known)
        return;
    SystemError ignored;
    if (IdentityOf(path_.c_str()) == identity_ && ReadText(path_) == text_)
        RemoveFile(path_.c_str(), ignored);
    identity_ = {};
}

} // namespace zav
