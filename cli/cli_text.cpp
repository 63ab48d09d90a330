// zavprint text and zavprint search: the words of printouts, on standard
// output, and the captures of a folder found by their words.
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "base/stdio_file.h"
#include "base/timed_name.h"
#include "cli/capture_settings.h"
#include "cli/cli.h"
#include "render/page_text.h"
#include "render/printout.h"
#include "render/renderer.h"
#include "report/printout_text.h"
#include "report/text_search.h"

namespace zav::cli {

enum TextOption { kTextPrinter };
constexpr OptionInfo kTextOptions[] = {
    {kTextPrinter, "printer", "MODEL",
     "the printer model that made the pages: basic (default),\n"
     "or epson9 (Epson 9-pin, FX/LX): a page per sheet"},
};

const CommandInfo kTextCommand{
    .name = "text",
    .synopsis = "text [--printer=basic|epson9] FILE.cpt...",
    .summary = "Prints the words of each capture file on standard output, as its text\n"
               "file holds them: one line per printed line, the columns kept with\n"
               "spaces, a form feed between two pages (files, or with\n"
               "--printer=epson9 sheets), UTF-8. Each file starts from the printer's\n"
               "power-on state, as render reads it. Exit status 1 when any file could\n"
               "not be read (its page stays empty).",
    .options = kTextOptions,
    .maxOperands = -1,
};

int RunText(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kTextCommand, argc, argv, args))
        return args.exitStatus;
    PrinterModel printer = PrinterModel::Basic;
    for (const ParsedOption& option : args.options) {
        if (option.id == kTextPrinter && !ParsePrinterModel(option.value, printer))
            return UsageError(kTextCommand, "--printer is basic or epson9");
    }
    if (args.operands.empty())
        return UsageError(kTextCommand, "name at least one capture file");
    int failed = 0;
    bool first = true;
    std::vector<PageText> pages;
    for (const char* path : args.operands) {
        SystemError error;
        const int result = ReadCaptureWords(printer, path, pages, &error);
        if (result != kRenderOk && result != kRenderCannotRead) {
            std::fprintf(stderr, "%s: no text: %s\n", path,
                         WithReason(RenderResultText(result), error).c_str());
            ++failed;
            pages.assign(1, PageText{});
        }
        std::string out;
        for (const PageText& page : pages) {
            AppendTextPage(out, page, first);
            first = false;
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    return failed ? 1 : 0;
}

enum SearchOption { kSearchFolder };
constexpr OptionInfo kSearchOptions[] = {
    {kSearchFolder, "folder", "DIR",
     "the folder of the captures (default: the remembered capture\nfolder)"},
};

const CommandInfo kSearchCommand{
    .name = "search",
    .synopsis = "search WORD... [--folder=DIR]",
    .summary = "Lists the captures of DIR whose text (NAME.txt) holds every WORD, in\n"
               "any letter case, newest first: one line for each line of text that\n"
               "holds a word, with the capture's name, the time its text was written,\n"
               "the page and the line, separated by tabs. Exit status 1 when no\n"
               "capture holds them all.",
    .options = kSearchOptions,
    .maxOperands = -1,
};

int RunSearch(int argc, char** argv) {
    ParsedArgs args;
    if (!ParseArgs(kSearchCommand, argc, argv, args))
        return args.exitStatus;
    CaptureSettings settings = RememberedCaptureSettings();
    for (const ParsedOption& option : args.options) {
        if (option.id == kSearchFolder)
            settings.folder = option.value;
    }
    if (args.operands.empty())
        return UsageError(kSearchCommand, "name at least one word");
    const std::vector<std::string> words(args.operands.begin(), args.operands.end());
    unsigned found = 0;
    std::vector<TextMatch> lines;
    for (const CaptureText& capture : ListCaptureTexts(settings.folder)) {
        FileBytes text;
        {
            UniqueFile in = OpenFile(capture.path.c_str(), "rb");
            if (!in || ReadWholeFile(in.get(), text) != ReadWholeResult::Ok)
                continue; // an empty text holds no word
        }
        if (!FindWords({reinterpret_cast<const char*>(text.data.get()), text.size}, words, lines))
            continue;
        ++found;
        const std::tm local = LocalTime(capture.time);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
        for (const TextMatch& line : lines)
            std::printf("%s\t%s\t%u\t%s\n", capture.name.c_str(), when, line.page,
                        line.line.c_str());
    }
    return found ? 0 : 1;
}

} // namespace zav::cli
