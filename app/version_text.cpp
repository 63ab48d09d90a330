#include "app/version_text.h"

namespace zav {

namespace {

// A value as the shell reads it: double quotes with backslash escapes,
// single quotes taken literally, or a bare word.
std::string Unquote(std::string_view value) {
    std::string out;
    char quote = '\0';
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = '\0';
            else
                out += c;
        } else if (c == '\\' && i + 1 < value.size() &&
                   (quote == '\0' ||
                    std::string_view("\"\\$`").find(value[i + 1]) != std::string_view::npos)) {
            out += value[++i];
        } else if (c == '"') {
            quote = quote == '"' ? '\0' : '"';
        } else if (c == '\'' && quote == '\0') {
            quote = '\'';
        } else {
            out += c;
        }
    }
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string Value(std::string_view text, std::string_view key) {
    std::string found;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=')
            found = Unquote(line.substr(key.size() + 1)); // the last assignment wins
    }
    return found;
}

} // namespace

std::string OsReleaseName(std::string_view osRelease) {
    std::string name = Value(osRelease, "PRETTY_NAME");
    if (name.empty())
        name = Value(osRelease, "NAME");
    return name;
}

std::string VersionText(std::string_view version, std::string_view osRelease,
                        std::string_view kernelName, std::string_view kernelRelease,
                        std::string_view machine) {
    std::string text = "zavprint ";
    text += version;
    text += '\n';
    const std::string distribution = OsReleaseName(osRelease);
    if (!distribution.empty())
        text += distribution + ", ";
    text += kernelName;
    text += ' ';
    text += kernelRelease;
    text += ' ';
    text += machine;
    text += '\n';
    return text;
}

} // namespace zav
