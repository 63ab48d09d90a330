// The module's command line: "/m:" Monitor number, "/a:" application number,
// "/d" debugging, and up to 25 plain arguments, the first of which is a capture
// file to render. With "/d" alone the user profile (section "Monitor", key
// "CmdLine") supplies the command line instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zav {

inline constexpr std::size_t kCommandLineSize = 256; // buffer, terminator included
inline constexpr int kMaxPlainArguments = 25;
inline constexpr int kArgumentSlots = kMaxPlainArguments + 2; // "=MainProcedure" and the null

struct CommandLine {
    char buffer[kCommandLineSize] = {};
    // Plain arguments point into buffer; a null follows the last one.
    const char* argv[kArgumentSlots] = {};
    int argc = 0;
    std::int32_t monitor = 0;      // "/m:"
    std::uint16_t application = 0; // "/a:", kept to 16 bits
    bool debug = false;            // "/d"
};

// Copies text into the buffer and splits it into tokens at " \n\t". A text of
// more than kCommandLineSize - 1 characters is refused (false) and leaves the
// line with no arguments: it is never cut into other arguments. Monitor and
// application numbers and the debug flag are set by their tokens and otherwise
// kept, so that a second call (the profile's line) adds to the first.
bool TokenizeCommandLine(CommandLine& line, std::string_view text);

// What start-up does after reading its command line.
enum class StartupAction {
    Proceed,       // connect with line.monitor and line.application
    AskDebugging,  // ask kDebugQuestion (Yes/No, question icon); Yes proceeds
    DebugNotAlone, // show kDebugNotAlone (error icon) and end
    TooLong,       // show kCommandLineTooLong (error icon) and end
};

inline constexpr const char* kDebugNotAloneTitle = "ERROR";
inline constexpr const char* kDebugNotAlone = "/d option must be used alone";
inline constexpr const char* kDebugQuestionTitle = "WARNING";
inline constexpr const char* kDebugQuestion =
    "Debugging while Monitor is not running.  \nContinue?";
inline constexpr const char* kCommandLineTooLongTitle = "ERROR";
inline constexpr const char* kCommandLineTooLong =
    "The command line is too long (at most 255 characters).";

// Reads the profile's command line ("Monitor", "CmdLine", default empty). To let
// an over-long value be refused rather than cut, read it into a buffer larger
// than kCommandLineSize.
using ProfileReader = std::string_view (*)(void* ctx);

// Tokenizes the command line and applies the "/d" rules: "/d" with a number or
// a plain argument is refused; "/d" alone replaces the line with the profile's
// (the debug flag stays set). Then, unless both numbers are non-zero, both
// become 0, and with "/d" the user is to be asked whether to go on.
StartupAction PrepareCommandLine(CommandLine& line, std::string_view text,
                                 ProfileReader readProfile, void* ctx);

// Puts "=MainProcedure" in front of the plain arguments, for the main procedure.
void PrependMainProcedure(CommandLine& line);

} // namespace zav
