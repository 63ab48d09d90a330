// Checks a capture folder against its records and its audit trail, and
// names everything that does not hold. It only reads.
//
// For every capture with a record (NAME.record.json and NAME.sha256): each
// file the record lists is there with its size and SHA-256, the checksum file
// lists exactly the record's files, the record is the one the audit log's
// last "finished" or "failed" line of that capture names, and the signature
// holds when keys are given. For the log: each line follows the line before
// it, is a line of this program, and is signed by one of the keys when keys
// are given. A capture the log has a record of but whose record is gone, and
// any file of the folder that no record lists, are faults too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "record/crypto.h"

namespace zav::record {

struct VerifyOptions {
    // With keys, every record and every audit line must carry a signature
    // that one of them makes; without, signatures are not checked.
    std::vector<PublicKey> keys;
    // One capture's name; empty: every capture of the folder.
    std::string capture;
    // With `capture`: the names of the folder's files that belong to it by
    // their names (its page files, bitmaps, report, ...), which must all be
    // recorded. The caller knows the naming rules.
    std::vector<std::string> captureFiles;
    // Files of the folder as a whole that belong to no capture and are never
    // recorded (the watch's index page); audit.log and the records themselves
    // are known here. Null: none.
    std::function<bool(std::string_view fileName)> isFolderFile;
};

enum class FaultKind {
    Changed,      // a recorded file's bytes are not the recorded ones
    Missing,      // a recorded file, or a capture's record or checksums, is not there
    Unrecorded,   // a file no record lists
    BadRecord,    // a record or checksum file that cannot be read or disagrees
    NotLogged,    // a record that the audit log does not name as the capture's last
    CaptureGone,  // the audit log names a record that is not there
    NoLog,        // records without an audit log
    BrokenLink,   // an audit line does not follow the line before it
    BadLine,      // an audit line this program did not write, or one cut off
    BadSignature, // a signature that does not hold, or by a key not given
    Unsigned,     // no signature where keys were given
};
// "changed", "missing", ...: the word the report starts a fault's line with.
const char* FaultWord(FaultKind kind);

struct Fault {
    FaultKind kind;
    std::string where; // the file's name, or "audit.log line N"
    std::string text;  // what is wrong, in words
};

struct VerifyReport {
    std::vector<Fault> faults;
    // Things that hold but are worth saying: captures whose records say that
    // they are incomplete, signatures that were not checked.
    std::vector<std::string> notes;
    std::size_t captures = 0; // records checked
    std::size_t files = 0;    // recorded files checked
    std::uint64_t bytes = 0;  // their bytes, all read and hashed
    std::size_t logLines = 0;
    std::string logHead; // SHA-256 of the log's last line; empty without a log
    bool Holds() const { return faults.empty(); }
};

VerifyReport VerifyFolder(const std::string& folder, const VerifyOptions& options);

} // namespace zav::record
