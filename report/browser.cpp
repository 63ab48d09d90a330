#include "report/browser.h"

namespace zav {
namespace {

// Where the program's path ends: after its closing quote when it is quoted,
// else at the first blank. A "-" inside it ("C:\Program Files\my-browser\b.exe")
// is part of the name, not an option.
std::size_t ProgramEnd(std::string_view command) {
    std::size_t at = command.find_first_not_of(" \t");
    if (at == std::string_view::npos)
        return command.size();
    if (command[at] == '"') {
        const std::size_t close = command.find('"', at + 1);
        return close == std::string_view::npos ? command.size() : close + 1;
    }
    const std::size_t blank = command.find_first_of(" \t", at);
    return blank == std::string_view::npos ? command.size() : blank;
}

// Where the quoted path goes into the registered command.
std::size_t InsertionPoint(std::string_view command) {
    if (std::size_t quoted = command.find("\"%1\""); quoted != std::string_view::npos)
        return quoted;
    if (std::size_t bare = command.find("%1"); bare != std::string_view::npos)
        return bare;
    // The character before the last "-" of the options; a "-" in first
    // place has none.
    const std::size_t program = ProgramEnd(command);
    if (std::size_t dash = command.rfind('-');
        dash != std::string_view::npos && dash > 0 && dash > program)
        return dash - 1;
    return command.size();
}

} // namespace

std::optional<std::string> ComposeBrowserCommand(std::optional<std::string_view> registered,
                                                 std::string_view path) {
    std::string_view command = registered ? *registered : kFallbackBrowser;
    std::size_t at = registered ? InsertionPoint(command) : command.size();

    std::string result(command.substr(0, at));
    if (at == 0 || command[at - 1] != ' ')
        result += ' ';
    result += '"';
    result += path;
    result += '"';
    if (result.size() > kBrowserCommandMax)
        return std::nullopt;
    return result;
}

std::vector<std::string> SplitCommandWords(std::string_view command) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : command) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

std::vector<std::string> BrowserArguments(std::string_view command, std::string_view path) {
    if (command.find("%1") == std::string_view::npos) {
        std::vector<std::string> words = SplitCommandWords(command);
        if (!words.empty())
            words.emplace_back(path);
        return words;
    }
    // Compose around a stand-in that no command holds, then put the path in
    // place of the stand-in word by word.
    constexpr std::string_view kStandIn = "\x01";
    std::optional<std::string> composed = ComposeBrowserCommand(command, kStandIn);
    if (!composed)
        return {};
    std::vector<std::string> words = SplitCommandWords(*composed);
    // The program itself must come from the command, never from the path.
    if (words.empty() || words.front().empty() || words.front().find(kStandIn) != std::string::npos)
        return {};
    for (std::string& word : words) {
        for (std::size_t at = word.find(kStandIn); at != std::string::npos;
             at = word.find(kStandIn, at + path.size()))
            word.replace(at, kStandIn.size(), path);
    }
    return words;
}

std::vector<std::string> BrowserVariableArguments(std::string_view command, std::string_view path) {
    std::vector<std::string> words = SplitCommandWords(command);
    if (words.empty() || words.front().find("%s") != std::string::npos)
        return {};
    bool placed = false;
    for (std::string& word : words) {
        std::string expanded;
        for (std::size_t at = 0; at < word.size(); ++at) {
            if (word[at] == '%' && at + 1 < word.size() && word[at + 1] == 's') {
                expanded += path;
                placed = true;
                ++at;
            } else if (word[at] == '%' && at + 1 < word.size() && word[at + 1] == '%') {
                expanded += '%';
                ++at;
            } else {
                expanded += word[at];
            }
        }
        word = std::move(expanded);
    }
    if (!placed)
        words.emplace_back(path);
    return words;
}

} // namespace zav
