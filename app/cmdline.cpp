// Command-line tokenizer and the "/d" rules of start-up.
#include "app/cmdline.h"

#include <cstring>

#include "host/ascii.h"

namespace zav {

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\n' || c == '\t';
}

// The decimal value at the start of text, like atoi: optional sign, leading
// digits, 0 without any. Saturates where atoi would be undefined.
std::int32_t ReadNumber(const char* text) {
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > 2147483648LL) {
            value = 2147483648LL;
            break;
        }
    }
    if (negative)
        return static_cast<std::int32_t>(-value);
    return value > 2147483647LL ? 2147483647 : static_cast<std::int32_t>(value);
}

void ClearArguments(CommandLine& line) {
    line.argc = 0;
    for (const char*& slot : line.argv)
        slot = nullptr;
}

} // namespace

bool TokenizeCommandLine(CommandLine& line, std::string_view text) {
    ClearArguments(line);
    line.buffer[0] = '\0';
    if (text.size() >= kCommandLineSize)
        return false;
    std::memcpy(line.buffer, text.data(), text.size());
    line.buffer[text.size()] = '\0';

    char* p = line.buffer;
    while (*p) {
        while (IsSeparator(*p))
            ++p;
        if (!*p)
            break;
        char* token = p;
        while (*p && !IsSeparator(*p))
            ++p;
        if (*p)
            *p++ = '\0';

        std::string_view t(token);
        if (StartsWithIgnoringCase(t, "/m:")) {
            line.monitor = ReadNumber(token + 3);
        } else if (StartsWithIgnoringCase(t, "/a:")) {
            line.application = static_cast<std::uint16_t>(ReadNumber(token + 3));
        } else if (EqualIgnoringCase(t, "/d")) {
            line.debug = true;
        } else if (line.argc < kMaxPlainArguments) {
            line.argv[line.argc++] = token;
        }
    }
    line.argv[line.argc] = nullptr;
    return true;
}

StartupAction PrepareCommandLine(CommandLine& line, std::string_view text,
                                 ProfileReader readProfile, void* ctx) {
    line.monitor = 0;
    line.application = 0;
    line.debug = false;
    if (!TokenizeCommandLine(line, text))
        return StartupAction::TooLong;
    if (line.debug) {
        if (line.monitor != 0 || line.application != 0 || line.argc != 0)
            return StartupAction::DebugNotAlone;
        std::string_view profile = readProfile ? readProfile(ctx) : std::string_view();
        if (!TokenizeCommandLine(line, profile))
            return StartupAction::TooLong;
    }
    if (line.monitor == 0 || line.application == 0) {
        line.monitor = 0;
        line.application = 0;
        if (line.debug)
            return StartupAction::AskDebugging;
    }
    return StartupAction::Proceed;
}

void PrependMainProcedure(CommandLine& line) {
    if (line.argc > kMaxPlainArguments)
        return; // already done: no slot left
    for (int i = line.argc; i > 0; --i)
        line.argv[i] = line.argv[i - 1];
    line.argv[0] = "=MainProcedure";
    ++line.argc;
    line.argv[line.argc] = nullptr;
}

} // namespace zav
