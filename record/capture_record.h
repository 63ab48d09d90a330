// The record of one capture, made as the capture is made: the SHA-256 of
// every byte received and of every file written, taken from the bytes as
// they go to the disk (never by reading a file back), and at the end
//   NAME.sha256       "HASH  FILE" lines as sha256sum -c reads them, for
//                     every file the capture wrote whole
//   NAME.record.json  who, what, when: times, bytes received and their hash,
//                     instrument, port, cable, computer, user, program,
//                     printer, pages, the files, and what is missing
// each written whole under a temporary name and then renamed, the record
// last, and then the "finished" (or "failed") line in FOLDER/audit.log with
// the record's SHA-256.
//
// A record never lists a file that was not written whole: a file is listed
// only once its writer says it is complete, and one whose size on the disk
// (looked up once it took its name) is not what was written is named as
// missing instead.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/output_file.h"
#include "record/audit_log.h"
#include "record/crypto.h"

namespace zav::record {

// "HASH  NAME\n" as sha256sum writes it: a name with a backslash, a line
// feed or a carriage return is written with "\\", "\n", "\r" and the line
// starts with a backslash.
std::string SumsLine(const Sha256Digest& digest, std::string_view name);
void AppendSumsLine(std::string& out, const Sha256Digest& digest, std::string_view name);
struct SumsEntry {
    std::string name;
    Sha256Digest digest{};
};
// Reads the lines of a .sha256 file (text or binary mode marks, escaped
// names). False at the first line that is none; `badLine` (1-based) names it.
bool ParseSums(std::string_view text, std::vector<SumsEntry>& entries, std::size_t* badLine);

// What the session knows about where the bytes came from.
struct CaptureSource {
    std::string instrument;        // the model text the instrument answered
    std::string port;              // the port the capture was read from
    std::string cableSerial;       // the cable's serial number, where the system tells it
    std::string printer = "basic"; // the printer model the pages were made as
};

class CaptureRecord;

// One output file as its writer makes it: every block written goes through
// Written (at its offset; blocks may come in any order and are hashed in
// file order), then Closed says whether the file is now whole under its
// final name. One writer thread per file.
//
// Blocks written ahead of the bytes before them are held in memory, up to
// kMaxHeldAhead; past that they are dropped, and the file is hashed once
// from its closed work file (Complete), before it takes its name.
//
// The hashing itself is done by the record's hashing thread, not the
// writer's: the writer hands it copies of the blocks in file order (a block
// held ahead is handed as it is held), kHandOver bytes at a time and the
// rest at Complete, after which the thread finishes the file's hash. What
// the record lists of the file is settled when the record is written.
class RecordedFile {
  public:
    static constexpr std::size_t kMaxHeldAhead = 32u << 20;
    static constexpr std::size_t kHandOver = 1u << 20;

    void Written(std::uint64_t offset, const void* data, std::size_t size);
    // Appends at the end of what was written so far.
    void Written(const void* data, std::size_t size) { Written(end_, data, size); }
    // Bytes kept as they are (shared with other readers), not copied.
    void WrittenShared(std::uint64_t offset, const SharedBytes& bytes);
    // All bytes are in the closed file `workPath`: read there when they
    // could not be held.
    void Complete(const std::string& workPath);
    // It took its name (and may still be moved back): its size there is
    // looked up on the hashing thread.
    void Placed();
    // A file not `whole` is missing when the capture failed, and left out
    // of the record when it succeeded (a page that could not be drawn has no
    // bitmap).
    void Closed(bool whole);

  private:
    friend class CaptureRecord;
    friend class HashWorker;
    // Bytes of the file: a copy of its own, or bytes shared with others.
    struct Block {
        std::string own;
        SharedBytes shared;
        std::string_view Bytes() const {
            return shared ? std::string_view(reinterpret_cast<const char*>(shared->data()),
                                             shared->size())
                          : std::string_view(own);
        }
    };
    RecordedFile(CaptureRecord& owner, std::string name) : owner_(owner), name_(std::move(name)) {}
    // Written and WrittenShared (`shared` not null: it holds the bytes).
    void Take(std::uint64_t offset, const char* bytes, std::size_t size, const SharedBytes* shared);
    // Hands the blocks in `pending_` to the hashing thread; with `last`, the
    // hash is then finished.
    void HandOver(bool last);
    // On the hashing thread: the blocks, in file order, and the end.
    void Hash(const std::vector<Block>& blocks, bool last);
    // Why the file cannot be listed with its hash; empty when it can. Once
    // the hashing thread ended.
    std::string WhyNotHashed() const;

    CaptureRecord& owner_;
    const std::string name_;
    std::optional<Sha256> hash_; // the hashing thread's, from its first block to the end
    Sha256Digest digest_{};      // ... and what it gave
    bool hashed_ = false;        // ... when it could
    std::vector<Block> pending_; // blocks in file order, not handed over yet
    std::size_t pendingBytes_ = 0;
    bool gathering_ = false; // the last pending block takes small pieces
    std::uint64_t next_ = 0; // bytes hashed, in file order
    std::uint64_t end_ = 0;  // the end of the furthest block
    // Blocks written ahead of `next_`, by offset, until the gap before them
    // is filled. A file written from its end (a bottom-up bitmap in several
    // blocks) is held here whole until its first block comes.
    std::map<std::uint64_t, Block> ahead_;
    std::size_t held_ = 0;                    // bytes in ahead_
    bool readBack_ = false;                   // too much ahead: hashed from the work file
    bool readDone_ = false;                   // ... and it was
    bool overlapped_ = false;                 // a block overwrote bytes already hashed
    bool gaps_ = false;                       // blocks after a gap never filled
    bool completed_ = false;                  // all its bytes were handed over
    bool placed_ = false;                     // Placed was told (the writer's)
    bool looked_ = false;                     // the hashing thread looked it up once Placed ...
    std::optional<std::uint64_t> sizeOnDisk_; // ... and found this
    bool whole_ = false;                      // closed whole under its name
    std::atomic<bool> closed_{false};         // the writer is done with it: set last
};

class HashWorker;

enum RecordResult : int {
    kRecordOk = 0,
    kRecordCannotWriteSums = -1,   // NAME.sha256 could not be written
    kRecordCannotWriteRecord = -2, // NAME.record.json could not be written
    kRecordCannotSign = -3,        // the key did not sign
    kRecordCannotLog = -4,         // the audit line could not be appended
};
const char* RecordResultText(int result);

// As an OutputObserver it tracks every file shown to it (OutputBatch::Observe).
class CaptureRecord final : public OutputObserver {
  public:
    // `basePath`: the capture's folder and name (no extension). The start
    // time is now unless Started says otherwise.
    CaptureRecord(std::string basePath, Identity who, CaptureSource source);
    ~CaptureRecord() override;
    CaptureRecord(const CaptureRecord&) = delete;
    CaptureRecord& operator=(const CaptureRecord&) = delete;

    const std::string& BasePath() const { return base_; }
    std::string Folder() const;
    std::string Name() const;

    void Started(std::chrono::system_clock::time_point when) { started_ = when; }
    std::chrono::system_clock::time_point StartTime() const { return started_; }
    const CaptureSource& Source() const { return source_; }
    // When the last byte came; Write takes the time it runs otherwise.
    void Ended(std::chrono::system_clock::time_point when) { ended_ = when; }
    // Every byte received, in order, from one thread at a time, all before
    // Write; hashed on the record's hashing thread.
    void Received(const void* data, std::size_t size);
    // The bytes received as a whole, when they were hashed otherwise (a
    // recording finished later, read once by the finishing step).
    void SetReceived(std::uint64_t bytes, const Sha256Digest& digest);
    // The instrument's model text, once the handshake told it.
    void SetInstrument(std::string text);

    // A file of the capture that its writer feeds to the record. The object
    // lives as long as the record. Any thread.
    RecordedFile& Track(const std::string& path);
    // Track for an output file: its tap feeds the record.
    std::unique_ptr<OutputTap> Opened(const std::string& target) override;
    // A file whose hash and size are known otherwise.
    void AddFile(const std::string& path, std::uint64_t size, const Sha256Digest& digest);
    // A file that holds exactly the bytes received, all of them: the
    // recording renamed or copied into place (single-file mode, the kept raw
    // recording). Its hash is the received stream's.
    void AddReceivedFile(const std::string& path);
    // A file the capture should have and has not, and why.
    void AddMissing(const std::string& path, std::string why);
    void SetPages(unsigned pages);
    // The capture was cut short: why (the status the user saw).
    void Failed(std::string why);

    // Writes NAME.sha256, then NAME.record.json (signed when `key` is given),
    // then the audit line: "finished", or "failed" when Failed was called or
    // anything is missing. A file tracked but never closed counts as missing.
    // Every step is tried; the first failure is returned, with the system's
    // words in `error`.
    RecordResult Write(const SigningKey* key, std::string* error = nullptr);

    // The SHA-256 of the record file, once Write wrote it.
    const Sha256Digest& RecordDigest() const { return recordDigest_; }

  private:
    friend class RecordedFile;
    struct Entry {
        std::uint64_t size = 0;
        Sha256Digest digest{};
        bool checked = false; // its size on the disk was found right
    };
    // What the record lists of each tracked file, given what lies on the
    // disk of those closed whole (by tracked_'s order; not found: nullopt).
    void SettleTracked(const std::vector<std::optional<std::uint64_t>>& onDisk);
    // The file in the record's list, or named as missing; with mutex_ held.
    void List(const std::string& name, const Entry& entry);
    void Miss(const std::string& name, std::string why);
    void CheckSizesOnDisk();
    std::string RecordText(bool complete);

    const std::string base_;
    const Identity who_;
    CaptureSource source_;
    std::chrono::system_clock::time_point started_;
    std::chrono::system_clock::time_point ended_{};
    std::unique_ptr<RecordedFile> received_; // what Received was given, as a file
    std::optional<FolderLookup> folder_;     // the hashing thread's
    std::uint64_t receivedBytes_ = 0;
    Sha256Digest receivedDigest_{};
    bool receivedDone_ = false;

    std::mutex mutex_; // guards what follows
    std::list<std::unique_ptr<RecordedFile>> tracked_;
    std::map<std::string, Entry> files_;         // by file name
    std::map<std::string, std::string> missing_; // file name, why
    std::vector<std::string> abandoned_;         // file names, not written whole
    std::vector<std::string> receivedFiles_;     // file names
    unsigned pages_ = 0;
    std::string failure_;
    Sha256Digest recordDigest_{};
    // Hashes the files' blocks; ended (its jobs done) before Write reads
    // what it found, and before the tracked files go.
    const std::unique_ptr<HashWorker> hasher_;
};

// Adds the signature to a record's text (which ends with "\n}\n"), and takes
// it off again: the signature covers the text without it.
std::string SignedRecordText(const std::string& text, const SigningKey& key);
// Splits a record's text into the text the signature covers and the
// signature; false when the text carries none.
bool SplitRecordSignature(std::string_view text, std::string& unsignedText, std::string& keyId,
                          Signature& signature);

} // namespace zav::record
