#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "base/utf8_names.h"
#include "cli/console.h"

namespace zav::cli {

ProgramConsole::ProgramConsole() : savedCodePage_(GetConsoleOutputCP()) {
    if (savedCodePage_ != 0)
        SetConsoleOutputCP(CP_UTF8);
}

ProgramConsole::~ProgramConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (savedCodePage_ != 0)
        SetConsoleOutputCP(savedCodePage_);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8OfWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool StdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

InputState WaitForInput(int ms) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return InputState::Ended;
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        // A console: its key events, of which Enter ends a line.
        if (WaitForSingleObject(input, static_cast<DWORD>(ms)) != WAIT_OBJECT_0)
            return InputState::Nothing;
        INPUT_RECORD records[16];
        DWORD got = 0;
        if (!ReadConsoleInputW(input, records, 16, &got))
            return InputState::Ended;
        for (DWORD i = 0; i < got; ++i) {
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            if (records[i].EventType == KEY_EVENT && key.bKeyDown &&
                key.wVirtualKeyCode == VK_RETURN)
                return InputState::Line;
        }
        return InputState::Nothing;
    }
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr))
            return InputState::Ended;
        if (waiting == 0) {
            Sleep(static_cast<DWORD>(ms));
            return InputState::Nothing;
        }
    }
    // A pipe with bytes waiting, a file or the NUL device: a read returns at once.
    char buf[256];
    DWORD got = 0;
    if (!ReadFile(input, buf, sizeof buf, &got, nullptr) || got == 0)
        return InputState::Ended;
    return std::memchr(buf, '\n', got) ? InputState::Line : InputState::Nothing;
}

} // namespace zav::cli
