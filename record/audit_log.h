// The audit trail of a capture folder, FOLDER/audit.log: one line per event,
// appended and forced to the disk. Each line starts with the SHA-256 of the
// line before it (its bytes and its line feed; 64 zeros on the first line),
// so that a line changed or removed breaks the chain at the line after it:
//
//   PREV {"time": "...", "event": "...", "capture": "...", ..., "computer": "...",
//         "user": "...", "program": "..."}[ ed25519:KEYID:SIGNATURE]
//
// all on one line. A signed line ends in the Ed25519 signature (128
// hexadecimal digits) of everything before " ed25519:", made with the key
// whose KeyId is KEYID.
//
// Appending holds a lock on the log (LockedFile) from reading its last line
// to having the new one on the disk, so that writers in several processes
// and on several computers neither interleave nor lose a line.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "record/crypto.h"
#include "record/json.h"

namespace zav::record {

inline constexpr char kAuditLogName[] = "audit.log";

// Who and what writes: in every audit line and every record.
struct Identity {
    std::string computer;
    std::string user;
    std::string program; // "zavprint 1.0.0.5"
};
// The computer's and user's names as the system tells them, and `program`.
Identity LocalIdentity(std::string program);

// "2026-12-07T09:35:12.345Z": UTC, ISO 8601, to the millisecond.
std::string UtcTimeText(std::chrono::system_clock::time_point time);

struct AuditEvent {
    std::string event;             // started, finished, failed, replaced, recovered, verified
    std::string capture;           // the capture's name; empty for the folder as a whole
    Json details = Json::Object(); // members that follow "capture"
};

// The path of FOLDER/audit.log (empty folder: the current one).
std::string AuditLogPath(const std::string& folder);

// The line (with its line feed) that follows a line whose SHA-256 is `prev`.
std::string FormatAuditLine(const Sha256Digest& prev, const AuditEvent& event, const Identity& who,
                            std::string_view time, const SigningKey* key);

enum AuditResult : int {
    kAuditOk = 0,
    kAuditCannotOpen = -1,  // the log cannot be opened or created
    kAuditCannotLock = -2,  // the lock on the log cannot be had
    kAuditCannotRead = -3,  // its last line cannot be read
    kAuditCannotWrite = -4, // the line could not be written whole and forced to the disk
    kAuditCannotSign = -5,  // the signing key did not sign
};
const char* AuditResultText(int result);

// Appends one line to FOLDER/audit.log, signed when `key` is given. A log
// whose last line lacks its line feed (cut off by a crash) gets the line feed
// first, so that the new line stays a line of its own. `error` (may be null)
// receives the system's words on failure.
int AppendAuditEvent(const std::string& folder, const AuditEvent& event, const Identity& who,
                     const SigningKey* key, std::string* error = nullptr);

// One line of the log as read back.
struct AuditLine {
    std::string text;        // without its line feed
    bool terminated = false; // it ended with a line feed
    Sha256Digest prev{};     // the first field
    Json body;               // the JSON object
    bool wellFormed = false; // PREV, a space and a JSON object, optionally a signature
    std::string signedPart;  // what the signature covers
    std::string keyId;       // empty: not signed
    Signature signature{};
    std::string_view Event() const;
    std::string_view Capture() const;
};
void ParseAuditLine(std::string_view text, AuditLine& line);

// The whole log, read under a shared lock where the file system gives one.
// False when it cannot be opened or read (`error` says why).
bool ReadAuditLog(const std::string& folder, std::vector<AuditLine>& lines, std::string& error);

// Events of the capture's life, in the format FormatAuditLine writes.
// started: the port and the instrument's model text, as far as known.
AuditEvent StartedEvent(std::string capture, std::string port, std::string instrument);
// replaced: each existing file that a new capture of that name is about to
// replace, with its size and SHA-256 (read from the file as it is now); a
// file that cannot be read is named with the reason instead.
AuditEvent ReplacedEvent(std::string capture, const std::vector<std::string>& paths);
// recovered: a recording kept from a session that could not finish is being
// made into its capture.
AuditEvent RecoveredEvent(std::string capture, std::string recordingName);

} // namespace zav::record
