#include "cli/cli_options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace zav::cli {

namespace {

// getopt_long's value for option i of a table, clear of the short letters.
constexpr int kFirstLongValue = 256;
constexpr OptionInfo kHelpOption{-1, "help", nullptr, "show this help and exit"};

std::string CommandName(const CommandInfo& command) {
    return command.name ? std::string("zavprint ") + command.name : std::string("zavprint");
}

// "--folder=DIR" or "--single-file".
std::string OptionWord(const OptionInfo& option) {
    std::string word = std::string("--") + option.name;
    if (option.value)
        word += std::string("=") + option.value;
    return word;
}

// Prints text line by line, each line after `indent`.
void PrintLines(const char* text, const std::string& indent) {
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        std::printf("%s%.*s\n", line.empty() ? "" : indent.c_str(), static_cast<int>(line.size()),
                    line.data());
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
}

} // namespace

void PrintOptions(std::span<const OptionInfo> options, bool withHelp) {
    std::size_t width = withHelp ? OptionWord(kHelpOption).size() : 0;
    for (const OptionInfo& option : options)
        width = std::max(width, OptionWord(option).size());
    const std::size_t column = 6 + width + 2;
    // The help's words flow into the column after the options, its lines
    // no longer than a terminal's 80 columns wherever the column begins.
    constexpr std::size_t kLineEnd = 79;
    auto print = [&](const OptionInfo& option, const char* lead) {
        const std::string word = OptionWord(option);
        std::printf("%s%-*s", lead, static_cast<int>(width), word.c_str());
        std::size_t used = column;
        bool first = true;
        std::string_view rest(option.help);
        while (!rest.empty()) {
            const std::size_t gap = rest.find_first_of(" \n");
            const std::string_view next = rest.substr(0, gap);
            rest.remove_prefix(gap == std::string_view::npos ? rest.size() : gap + 1);
            if (next.empty())
                continue;
            if (first) {
                std::printf("  ");
            } else if (used + 1 + next.size() > kLineEnd) {
                std::printf("\n%*s", static_cast<int>(column), "");
                used = column;
            } else {
                std::printf(" ");
                ++used;
            }
            std::printf("%.*s", static_cast<int>(next.size()), next.data());
            used += next.size();
            first = false;
        }
        std::printf("\n");
    };
    for (const OptionInfo& option : options)
        print(option, "      ");
    if (withHelp)
        print(kHelpOption, "  -h, ");
}

namespace {

// The long option the word names, for messages: the word up to any '='.
std::string_view OptionName(const char* word) {
    std::string_view name(word);
    return name.substr(0, name.find('='));
}

// The option getopt_long knows by `value`; nullptr for any other value.
const OptionInfo* OptionOf(const CommandInfo& command, int value) {
    const int index = value - kFirstLongValue;
    return index >= 0 && static_cast<std::size_t>(index) < command.options.size()
               ? &command.options[index]
               : nullptr;
}

// True when the word (--abbrev) starts the names of more than one option.
bool IsAmbiguous(const std::vector<option>& longOptions, std::string_view word) {
    if (!word.starts_with("--"))
        return false;
    word.remove_prefix(2);
    int matches = 0;
    for (const option& o : longOptions) {
        if (o.name && std::string_view(o.name).starts_with(word))
            ++matches;
    }
    return matches > 1;
}

} // namespace

int UsageError(const CommandInfo& command, const char* format, ...) {
    const std::string name = CommandName(command);
    std::fprintf(stderr, "%s: ", name.c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, " (see %s --help)\n", name.c_str());
    return kExitUsage;
}

bool ParseArgs(const CommandInfo& command, int argc, char** argv, ParsedArgs& args) {
    args = ParsedArgs{};
    std::vector<option> longOptions;
    for (std::size_t i = 0; i < command.options.size(); ++i) {
        const OptionInfo& known = command.options[i];
        longOptions.push_back({known.name, known.value ? required_argument : no_argument, nullptr,
                               kFirstLongValue + static_cast<int>(i)});
    }
    longOptions.push_back({kHelpOption.name, no_argument, nullptr, 'h'});
    longOptions.push_back({nullptr, 0, nullptr, 0});

    // getopt_long reorders the words it is given: hand it a copy.
    std::string program = CommandName(command);
    std::vector<char*> words{program.data()};
    words.insert(words.end(), argv, argv + argc);
    words.push_back(nullptr);
    const int count = argc + 1;
    const char* shortOptions = command.optionsFirst ? "+:h" : ":h";

    opterr = 0; // the messages are ours
    optind = 0; // start afresh, also after an earlier parse in this process
    for (;;) {
        const int c = getopt_long(count, words.data(), shortOptions, longOptions.data(), nullptr);
        if (c == -1)
            break;
        if (c == 'h') {
            if (command.printHelp)
                command.printHelp();
            else
                PrintCommandHelp(command);
            return false;
        }
        if (c >= kFirstLongValue) {
            args.options.push_back({command.options[c - kFirstLongValue].id, optarg});
            continue;
        }
        const char* word = words[optind - 1];
        const OptionInfo* known = optopt == 'h' ? &kHelpOption : OptionOf(command, optopt);
        if (c == ':' && known && known->value) {
            args.exitStatus =
                UsageError(command, "option --%s needs %s", known->name, known->value);
        } else if (known) {
            args.exitStatus = UsageError(command, "option --%s takes no value", known->name);
        } else if (optopt > 0 && optopt < kFirstLongValue) {
            // "-dash.cpt" may well be a file: say how to name one. getopt
            // stays on a word of several letters until its last one.
            const char* cluster = optind < count && words[optind] && words[optind][0] == '-' &&
                                          words[optind][1] == optopt
                                      ? words[optind]
                                      : word;
            const bool longWord =
                cluster && cluster[0] == '-' && cluster[1] != '-' && std::strlen(cluster) > 2;
            if (longWord)
                args.exitStatus = UsageError(
                    command, "unknown option -%c (a file named %s goes after --: %s -- %s)", optopt,
                    cluster, CommandName(command).c_str(), cluster);
            else
                args.exitStatus = UsageError(command, "unknown option -%c", optopt);
        } else {
            const std::string_view name = OptionName(word);
            args.exitStatus = UsageError(command, "%s option %.*s",
                                         IsAmbiguous(longOptions, name) ? "ambiguous" : "unknown",
                                         static_cast<int>(name.size()), name.data());
        }
        return false;
    }
    int first = optind;
    // zavprint -- -x.cpt: the "--" goes on, so that the command reads -x.cpt
    // as a file too.
    if (command.optionsFirst && first > 1 && first <= count &&
        std::strcmp(words[first - 1], "--") == 0)
        --first;
    args.operands.assign(words.begin() + first, words.begin() + count);
    if (command.maxOperands >= 0 &&
        args.operands.size() > static_cast<std::size_t>(command.maxOperands)) {
        args.exitStatus =
            UsageError(command, "unexpected argument %s", args.operands[command.maxOperands]);
        return false;
    }
    return true;
}

void PrintCommandHelp(const CommandInfo& command) {
    std::printf("Usage: zavprint %s\n", command.synopsis);
    PrintLines(command.summary, "");
    std::printf("\nOptions:\n");
    PrintOptions(command.options, true);
}

void PrintCommandSection(const CommandInfo& command) {
    std::printf("zavprint %s:\n", command.synopsis);
    PrintLines(command.summary, "  ");
    PrintOptions(command.options);
}

} // namespace zav::cli
