// Subcommands of the Linux command-line program "zavprint". Each takes the
// words after its own name and returns the process exit status.
#pragma once

#include <string>

#include "cli/cli_options.h"

namespace zav {
struct FinishOutcome;
class CaptureNames;
namespace record {
class SigningKey;
}
} // namespace zav

namespace zav::cli {

// zavprint [render] FILE...: renders each capture file into its page bitmap.
int RunRender(int argc, char** argv);
extern const CommandInfo kRenderCommand;

// zavprint ports [--sysfs=DIR] [--dev=DIR]: lists the serial ports with their
// descriptions, marks the print cable and shows the model text it answers.
int RunPorts(int argc, char** argv);
extern const CommandInfo kPortsCommand;
// zavprint finish RAW [--folder DIR] --name NAME [--single-file]: turns a raw
// recording into capture files, page bitmaps and the report; RAW is kept.
int RunFinish(int argc, char** argv);
extern const CommandInfo kFinishCommand;
// Says what a finished capture holds: each page (and the ones not drawn, on
// standard error), the report, its text and the PDF.
void TellFinished(const FinishOutcome& outcome);
// Says why a capture was not finished: what failed, which file, the reason.
void TellNotFinished(const char* command, int result, const FinishOutcome& outcome);
// Says where the capture's record is (when `recorded`), or why it could not
// be kept (then false).
bool TellRecord(const char* command, const CaptureNames& names, bool recorded, int recordResult,
                const std::string& recordError);

// zavprint capture [--port DEVICE] [--folder DIR] [--name NAME]
// [--single-file | --pages] [--idle-stop SECONDS]: one capture session.
int RunCapture(int argc, char** argv);
extern const CommandInfo kCaptureCommand;
// zavprint view [--folder DIR] [--name NAME]: opens the report in the browser.
int RunView(int argc, char** argv);
extern const CommandInfo kViewCommand;

// zavprint text FILE...: the words of each capture file on standard output.
int RunText(int argc, char** argv);
extern const CommandInfo kTextCommand;
// zavprint search WORD... [--folder DIR]: the captures whose text holds every word.
int RunSearch(int argc, char** argv);
extern const CommandInfo kSearchCommand;
// zavprint verify [--key FILE.pub]... [--log [--sign-key FILE]] [DIR | DIR/NAME]:
// checks captures against their records and the audit log; changes nothing
// (but for the line of --log).
int RunVerify(int argc, char** argv);
extern const CommandInfo kVerifyCommand;
// Who writes records and audit lines: "zavprint VERSION".
std::string ProgramIdentity();
// Loads the private key FILE of --sign-key; false, said on standard error,
// when it cannot be had.
bool LoadSignKey(const char* command, const std::string& path, record::SigningKey& key);

// zavprint keygen FILE: makes the Ed25519 key pair FILE and FILE.pub.
int RunKeygen(int argc, char** argv);
extern const CommandInfo kKeygenCommand;

// zavprint --version: the version and the system's name (distribution,
// kernel release, machine).
int RunVersion();

} // namespace zav::cli
