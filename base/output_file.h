// The one way the program writes its files.
//
// An OutputFile is written under a work name beside its target
// (TARGET.<8 hex digits>.part, created only where no file is) and renamed
// over the target once whole, so that a reader never finds a cut file under
// the target's name and an earlier file of that name stays as it was until
// the new one is complete; abandoned (a failure, an exception, a return on
// any path) it removes its work file. A failed write keeps the system's
// reason (a full disk, a file-size limit).
//
// An OutputBatch puts several files in place together: every one takes its
// name, and the earlier files it was told to replace go, or none does and
// everything stays as it was.
//
// A NameClaim holds a name in a folder by creating its claim file
// exclusively; of any number of processes, on one computer or on several
// that share the folder, only one holds it at a time.
//
// An OutputObserver sees every byte written to every output file, as it is
// written, and whether the file then took its name whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "base/sys_error.h"

namespace zav {

// Bytes that several readers share and nobody changes (a page bitmap that is
// a file and a page of the PDF).
using SharedBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

// What an observer keeps of one output file.
class OutputTap {
  public:
    virtual ~OutputTap() = default;
    // Bytes handed to the file at `offset`, in the order they are written
    // (a bitmap is written from its end).
    virtual void Written(std::uint64_t offset, const void* data, std::size_t size) = 0;
    // The same for bytes the tap may keep as they are, without a copy.
    virtual void WrittenShared(std::uint64_t offset, const SharedBytes& bytes) {
        Written(offset, bytes->data(), bytes->size());
    }
    // Every byte is in the closed work file `workPath`, which has not taken
    // its name yet: a tap that did not keep what it was shown may read it
    // there once.
    virtual void Complete(const std::string& workPath) { (void)workPath; }
    // The file took its target name in a batch that may still move it back
    // (Closed says whether it stays): a tap may look at it there.
    virtual void Placed() {}
    // The file is done: `whole` when it now lies complete under its target
    // name, false when it was abandoned.
    virtual void Closed(bool whole) = 0;
};

class OutputObserver {
  public:
    virtual ~OutputObserver() = default;
    // An output file to be written under the name `target`; null: not watched.
    virtual std::unique_ptr<OutputTap> Opened(const std::string& target) = 0;
};

// Every output file created from now on is shown to `observer` (null: to
// none), unless the file has an observer of its own (OutputFile::Observe).
// The observer is called from the threads that write the files.
void SetOutputObserver(OutputObserver* observer);

// True when a file, folder or link has the name `path`.
bool NameInUse(const std::string& path);
// True when `fileName` ends like a work file: ".<8 hex digits>.part".
bool IsWorkFileName(std::string_view fileName);
// Creates a new file under a work name beside `target`, for writing;
// kNoNativeFile with `error` set when none can be made.
NativeFile CreateWorkFile(const std::string& target, std::string& workPath, SystemError& error);

class OutputFile {
  public:
    explicit OutputFile(std::string target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& Target() const { return target_; }
    // Where the bytes are until the file takes its name; empty before Create.
    const std::string& WorkPath() const { return work_; }
    bool Created() const { return !work_.empty(); }
    // Shows this file to `observer` instead of the program's one; before Create.
    void Observe(OutputObserver* observer) { observer_ = observer; }

    // Creates the work file (Write and WriteAt do it when needed).
    bool Create();
    // Appends, through a buffer.
    bool Write(const void* data, std::size_t size);
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    // Writes `bytes` at `offset`; the observer may keep them without a copy.
    bool WriteAt(std::uint64_t offset, const SharedBytes& bytes);
    // Forces what was written so far to the disk.
    bool Sync();
    // Writes what is buffered and closes the work file, which stays. False
    // when anything written since Create failed.
    bool Close();
    // Closes and renames the work file over the target, unless the target is
    // one of `keep` (then nothing is replaced). False when it did not take
    // its name; the work file is removed then.
    bool Commit(const std::vector<std::string>& keep = {});
    // Closes and removes the work file, when it still is the one made here.
    void Abandon();

    bool Failed() const { return failed_; }
    // Why it failed: the system's reason, or the file that had to stay.
    const SystemError& Error() const { return error_; }

  private:
    friend class OutputBatch;
    bool Fail(const SystemError& error);
    bool Flush();
    // `shared`, when given, holds the block's bytes for the observer.
    bool WriteBlockAt(std::uint64_t offset, const void* data, std::size_t size,
                      const SharedBytes* shared);
    void Done(bool whole);

    std::string target_;
    std::string work_;
    NativeFile file_ = kNoNativeFile;
    FileIdentity identity_;
    OutputObserver* observer_ = nullptr;
    std::unique_ptr<OutputTap> tap_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t buffered_ = 0;
    std::uint64_t bufferAt_ = 0; // where the buffered bytes go
    std::uint64_t end_ = 0;      // the end of everything written
    bool failed_ = false;
    bool done_ = false;
    SystemError error_;
};

class OutputBatch {
  public:
    OutputBatch() = default;
    ~OutputBatch();
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

    // A new file that takes the name `target` at Commit, unless it was
    // abandoned or never made. The reference stays valid as long as the batch.
    OutputFile& Add(std::string target);
    // Shows the files added from now on to `observer` (OutputFile::Observe).
    void Observe(OutputObserver* observer) { observer_ = observer; }
    // A whole file elsewhere in the same folder that is moved to `target`
    // at Commit (and moved back when the batch cannot be put in place).
    void AddExisting(std::string path, std::string target);
    // An earlier file that goes at Commit: replaced by the target of its
    // name, or removed. A target whose name a file not given here has makes
    // Commit fail.
    void Replace(std::string earlier);
    // A file that stays whatever happens: Commit fails before any change
    // when a target or an earlier file is it.
    void Keep(std::string path);

    // Closes every file and puts all in place: the earlier files are moved
    // aside, the new ones take their names, and only then are the earlier
    // ones removed. On any failure what was moved is moved back, the new
    // files are removed, and it returns false with the file and the reason.
    bool Commit();
    // Removes every new file; nothing earlier is touched.
    void Abandon();

    const std::string& FailedFile() const { return failedFile_; }
    const SystemError& Error() const { return error_; }

  private:
    struct Moved {
        std::string from; // a name in use, now free again
        std::string to;   // where its file lies meanwhile
    };
    bool Fail(const std::string& file, const SystemError& error);
    void MoveBack(std::vector<Moved>& moved);

    std::deque<OutputFile> outputs_;
    std::vector<std::pair<std::string, std::string>> existing_; // path, target
    std::vector<std::string> earlier_;
    std::vector<std::string> keep_;
    OutputObserver* observer_ = nullptr;
    bool committed_ = false;
    std::string failedFile_;
    SystemError error_;
};

class NameClaim {
  public:
    enum Result { kClaimed, kTaken, kFailed };
    NameClaim() = default;
    ~NameClaim() { Release(); }
    NameClaim(const NameClaim&) = delete;
    NameClaim& operator=(const NameClaim&) = delete;

    // Creates the claim file `path`, saying which process holds it. kTaken
    // when the file exists (another holder, or one that ended without
    // letting go); kFailed with `error` when none can be made there.
    Result Take(std::string path, SystemError* error = nullptr);
    // Removes the claim file, when it still is the one made here (the same
    // file, saying the same).
    void Release();
    bool Held() const { return identity_.known; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::string text_; // what the claim file says: a new file may get the old one's number
    FileIdentity identity_;
};

} // namespace zav
