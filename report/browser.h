// Composing the command that opens the report in the user's web browser.
//
// The system's open command for web addresses (on Windows the default value of
// HKEY_CLASSES_ROOT "http\shell\open\command") is a command line with a
// placeholder for the address. The report path replaces, in this order of
// preference, the quoted placeholder "%1" (from its opening quote), the bare
// placeholder %1, or the command's last option (from the character before its
// last "-" after the program's path, which is the first word or a quoted
// path); with none of these the path is appended. Whatever followed the
// insertion point is dropped. The path is written in double quotes, with a
// blank in front unless the command already has one there. Without a
// registered command the program "explorer" is used.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

// Commands and paths are handled in buffers of 1024 bytes.
inline constexpr std::size_t kBrowserCommandMax = 1023;
inline constexpr std::string_view kFallbackBrowser = "explorer";

// The command that opens `path`. `registered` is the registered open command,
// or nullopt when it could not be read. Returns nullopt when the result would
// not fit kBrowserCommandMax characters.
std::optional<std::string> ComposeBrowserCommand(std::optional<std::string_view> registered,
                                                 std::string_view path);

// Splits a command line into words at blanks; double quotes group blanks into
// a word and are removed. Nothing else is special (no escapes, no variables).
std::vector<std::string> SplitCommandWords(std::string_view command);

// The program and arguments that open `path` with an open command that has
// the placeholder %1 (quoted or bare), composed by the rule above; without a
// placeholder the path is added as the last argument. The path always arrives
// as one argument of its own, whatever characters it holds: it is never split
// or read as part of the command. Empty when the command has no word.
std::vector<std::string> BrowserArguments(std::string_view command, std::string_view path);

// The program and arguments of a $BROWSER entry: every "%s" in a word stands
// for `path` ("%%" for "%"), and the words after it stay; without "%s" the
// path is added as the last argument. Empty when the command has no word or
// its program word holds "%s".
std::vector<std::string> BrowserVariableArguments(std::string_view command, std::string_view path);

} // namespace zav
