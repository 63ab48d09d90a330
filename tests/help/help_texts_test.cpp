// Every status text and message the Windows program can show stands in its
// help file. The texts are read from the sources of every layer but host and
// cli, so that a new one without its help fails here:
//  - every text constant named kStatus... (the status line's texts and the
//    reasons they name);
//  - every text of FinishResultText (the reasons after "Capture not finished:");
//  - the text of every vokDoMessage, vokDoMessageFmt and MessageBoxA (a literal
//    or a named constant) and every vokDoMessageFmtEx (an entry of the string
//    table in zavprint.rc);
//  - the dialogs' literal texts and "Message?" buttons, and the literal texts
//    put into a field with vokSetItem.
// In the help a conversion (%s, %lld, ...) may stand as any short text: "n",
// "NAME.html", "...".
#include "capture/capture_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The C++ or resource string literal at `at` (after blanks), adjacent literals
// joined; nothing when no literal starts there.
std::optional<std::string> LiteralAt(const std::string& src, std::size_t at) {
    std::optional<std::string> text;
    for (;;) {
        at = src.find_first_not_of(" \t\r\n", at);
        if (at == std::string::npos || src[at] != '"')
            return text;
        if (!text)
            text.emplace();
        for (++at; at < src.size() && src[at] != '"'; ++at) {
            if (src[at] == '\\' && at + 1 < src.size()) {
                const char c = src[++at];
                *text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
            } else {
                *text += src[at];
            }
        }
        ++at;
    }
}

// The arguments of the call whose "(" is just before `at`, as written.
std::vector<std::string> Arguments(const std::string& src, std::size_t at) {
    std::vector<std::string> args(1);
    int depth = 0;
    for (; at < src.size(); ++at) {
        const char c = src[at];
        if (c == '"') { // a literal, commas and brackets included
            std::size_t close = at + 1;
            while (close < src.size() && src[close] != '"')
                close += src[close] == '\\' ? 2 : 1;
            args.back() += src.substr(at, close + 1 - at);
            at = close;
            continue;
        }
        if (depth == 0 && (c == ',' || c == ')')) {
            if (c == ')')
                break;
            args.emplace_back();
            continue;
        }
        depth += (c == '(' || c == '{' || c == '[') - (c == ')' || c == '}' || c == ']');
        args.back() += c;
    }
    return args;
}

struct ProgramTexts {
    std::vector<std::string> texts;   // what must stand in the help
    std::vector<std::string> unknown; // messages whose text cannot be told
};

ProgramTexts CollectProgramTexts(const fs::path& root) {
    // Every layer of the build but the host libraries (which show only what
    // they are given) and the command line.
    std::map<std::string, std::string> sources; // path -> text
    const std::string layers = ReadText(root / "CMakeLists.txt");
    const std::regex layer(R"(\nzav_layer\((\w+))");
    for (std::sregex_iterator m(layers.begin(), layers.end(), layer), end; m != end; ++m)
        if ((*m)[1] != "host" && (*m)[1] != "cli")
            for (const auto& entry : fs::recursive_directory_iterator(root / (*m)[1].str()))
                if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h")
                    sources[entry.path().string()] = ReadText(entry.path());

    // Named texts: constants of the sources, entries of the string table.
    std::map<std::string, std::string> named;
    const auto collect = [&named](const std::string& src, const std::regex& definition) {
        for (std::sregex_iterator m(src.begin(), src.end(), definition), end; m != end; ++m)
            if (auto text = LiteralAt(src, m->position() + m->length()))
                named[(*m)[1]] = *text;
    };
    for (const auto& [path, src] : sources)
        collect(src, std::regex(R"(\b(k[A-Z]\w*)\s*(\[\])?\s*=\s*)"));
    collect(ReadText(root / "resources/zavprint.rc"), std::regex(R"(\n\s*(IDS_\w+)\s+)"));

    ProgramTexts out;
    for (const auto& [name, text] : named)
        if (name.rfind("kStatus", 0) == 0)
            out.texts.push_back(text);
    const std::string finished = zav::FinishResultText(zav::kFinishOk);
    const std::string unknown = zav::FinishResultText(INT_MIN);
    for (int result = -256; result <= 256; ++result) {
        const std::string text = zav::FinishResultText(result);
        if (text != finished && text != unknown)
            out.texts.push_back(text);
    }

    const std::regex call(
        R"(\b(vokDoMessage|vokDoMessageFmt|vokDoMessageFmtEx|MessageBoxA|vokSetItem)\s*\()");
    const std::regex shown(R"(kNameLiteral\s*,|\{\s*28\s*,\s*(?="Message\?))");
    for (const auto& [path, src] : sources) {
        for (std::sregex_iterator m(src.begin(), src.end(), call), end; m != end; ++m) {
            const std::string function = (*m)[1];
            const std::vector<std::string> args = Arguments(src, m->position() + m->length());
            const std::size_t index = function == "MessageBoxA"  ? 1
                                      : function == "vokSetItem" ? 2
                                                                 : 3;
            if (args.size() <= index)
                continue; // a declaration
            std::string arg = std::regex_replace(args[index], std::regex(R"(^\s+|\s+$|zav::)"), "");
            if (auto text = LiteralAt(arg, 0)) {
                if (!text->empty())
                    out.texts.push_back(*text);
            } else if (named.count(arg)) {
                out.texts.push_back(named[arg]);
            } else if (function != "vokSetItem" && arg.find_first_of(" *") == std::string::npos) {
                out.unknown.push_back(path + ": " + function + " with " + arg);
            }
        }
        for (std::sregex_iterator m(src.begin(), src.end(), shown), end; m != end; ++m)
            if (auto text = LiteralAt(src, m->position() + m->length()))
                out.texts.push_back(std::regex_replace(*text, std::regex(R"(^Message\?)"), ""));
    }
    return out;
}

// The words of every help page, without tags, entities resolved, blanks
// made single spaces.
std::string HelpWords(const fs::path& folder) {
    std::string all;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".html")
            all += ReadText(entry.path()) + "\n";
    all = std::regex_replace(all, std::regex("<[^>]*>"), "");
    for (const auto& [entity, c] : std::map<std::string, std::string>{
             {"&gt;", ">"}, {"&lt;", "<"}, {"&quot;", "\""}, {"&nbsp;", " "}, {"&amp;", "&"}})
        all = std::regex_replace(all, std::regex(entity), c);
    return std::regex_replace(all, std::regex(R"(\s+)"), " ");
}

// The text as a pattern of the help: blanks as one space, each conversion
// any short text.
std::regex HelpPattern(const std::string& text) {
    const std::string words = std::regex_replace(
        std::regex_replace(text, std::regex(R"(^\s+|\s+$)"), ""), std::regex(R"(\s+)"), " ");
    const std::string escaped =
        std::regex_replace(words, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    return std::regex(std::regex_replace(
        escaped, std::regex(R"(%[-+ #0]*\d*(\\\.\d+)?(ll|l|h|z)?[sdiuxXc])"), ".{1,40}?"));
}

TEST(Help, ShowsEveryStatusTextAndMessageOfTheProgram) {
    const ProgramTexts program = CollectProgramTexts(ZAV_SOURCE_DIR);
    EXPECT_TRUE(program.unknown.empty()) << "name the text of: " << program.unknown.front();
    // The texts found include what the status line shows at a session's end.
    const std::set<std::string> found(program.texts.begin(), program.texts.end());
    for (const char* text :
         {"%u pages: %s", "Making pages (%lld bytes)...", "the report could not be written",
          "Help file not installed", "Thread finished, result %d", "Scanning Ports..."})
        EXPECT_EQ(found.count(text), 1u) << "not found in the sources: " << text;

    const std::string help = HelpWords(fs::path(ZAV_SOURCE_DIR) / "resources/help");
    for (const std::string& text : found)
        EXPECT_TRUE(std::regex_search(help, HelpPattern(text))) << "not in the help: " << text;
}

} // namespace
