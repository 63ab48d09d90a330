#include "record/json.h"

#include <charconv>

namespace zav::record {

Json Json::String(std::string text) {
    Json value;
    value.kind_ = Kind::String;
    value.text_ = std::move(text);
    return value;
}

Json Json::Number(std::uint64_t number) {
    Json value;
    value.kind_ = Kind::Number;
    value.text_ = std::to_string(number);
    return value;
}

Json Json::Bool(bool flag) {
    Json value;
    value.kind_ = Kind::Bool;
    value.flag_ = flag;
    return value;
}

Json Json::Array() {
    Json value;
    value.kind_ = Kind::Array;
    return value;
}

Json Json::Object() {
    Json value;
    value.kind_ = Kind::Object;
    return value;
}

Json& Json::Add(std::string key, Json value) {
    members_.emplace_back(std::move(key), std::move(value));
    return *this;
}

Json& Json::Push(Json value) {
    items_.push_back(std::move(value));
    return *this;
}

const Json* Json::Find(std::string_view key) const {
    if (kind_ != Kind::Object)
        return nullptr;
    for (const auto& [name, value] : members_) {
        if (name == key)
            return &value;
    }
    return nullptr;
}

bool Json::ToUint64(std::uint64_t& value) const {
    if (kind_ != Kind::Number)
        return false;
    const char* end = text_.data() + text_.size();
    const auto [stop, error] = std::from_chars(text_.data(), end, value);
    return error == std::errc() && stop == end;
}

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                out += "\\u00";
                out += kDigits[byte >> 4];
                out += kDigits[byte & 15];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

namespace {

void Append(std::string& out, const Json& value, int multilineDepth) {
    switch (value.kind()) {
    case Json::Kind::Null:
        out += "null";
        return;
    case Json::Kind::Bool:
        out += value.IsTrue() ? "true" : "false";
        return;
    case Json::Kind::Number:
    case Json::Kind::String:
        break;
    case Json::Kind::Array: {
        const bool lines = multilineDepth > 0 && !value.Items().empty();
        out += '[';
        const char* separator = "";
        for (const Json& item : value.Items()) {
            out += separator;
            out += lines ? "\n    " : "";
            Append(out, item, 0);
            separator = lines ? "," : ", ";
        }
        out += lines ? "\n  ]" : "]";
        return;
    }
    case Json::Kind::Object: {
        const bool lines = multilineDepth > 1;
        out += '{';
        const char* separator = "";
        for (const auto& [key, member] : value.Members()) {
            out += separator;
            out += lines ? "\n  " : "";
            AppendJsonString(out, key);
            out += ": ";
            Append(out, member, lines ? multilineDepth - 1 : 0);
            separator = lines ? "," : ", ";
        }
        out += lines ? "\n}" : "}";
        return;
    }
    }
    if (value.kind() == Json::Kind::Number) {
        std::uint64_t number = 0;
        out += value.ToUint64(number) ? std::to_string(number) : "0";
    } else {
        AppendJsonString(out, *value.Text());
    }
}

} // namespace

void AppendJson(std::string& out, const Json& value, bool multiline) {
    Append(out, value, multiline ? 2 : 0);
}

std::string ToJson(const Json& value, bool multiline) {
    std::string out;
    AppendJson(out, value, multiline);
    return out;
}

struct JsonParser {
    static constexpr int kMaxDepth = 32;
    std::string_view text;
    std::size_t at = 0;

    void SkipSpace() {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t'))
            ++at;
    }
    bool Take(char c) {
        SkipSpace();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text.substr(at, word.size()) != word)
            return false;
        at += word.size();
        return true;
    }
    bool Hex4(unsigned& value) {
        if (at + 4 > text.size())
            return false;
        const char* begin = text.data() + at;
        const auto [stop, error] = std::from_chars(begin, begin + 4, value, 16);
        at += 4;
        return error == std::errc() && stop == begin + 4;
    }
    static void PutUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3f));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }
    bool String(std::string& out) {
        if (!Take('"'))
            return false;
        out.clear();
        while (at < text.size()) {
            const char c = text[at++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= text.size())
                return false;
            const char e = text[at++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned code = 0;
                if (!Hex4(code))
                    return false;
                if (code >= 0xd800 && code < 0xdc00) {
                    unsigned low = 0;
                    if (!Word("\\u") || !Hex4(low) || low < 0xdc00 || low >= 0xe000)
                        return false;
                    code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                } else if (code >= 0xdc00 && code < 0xe000) {
                    return false;
                }
                PutUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool Value(Json& out, int depth) {
        if (depth > kMaxDepth)
            return false;
        SkipSpace();
        if (at >= text.size())
            return false;
        const char c = text[at];
        if (c == '"') {
            out.kind_ = Json::Kind::String;
            return String(out.text_);
        }
        if (c >= '0' && c <= '9') {
            const std::size_t begin = at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9')
                ++at;
            // Only the unsigned integers the records write; no leading zeros.
            if (at < text.size() && (text[at] == '.' || text[at] == 'e' || text[at] == 'E'))
                return false;
            out.kind_ = Json::Kind::Number;
            out.text_ = std::string(text.substr(begin, at - begin));
            return out.text_.size() == 1 || out.text_[0] != '0';
        }
        for (const bool flag : {true, false}) {
            if (Word(flag ? "true" : "false")) {
                out.kind_ = Json::Kind::Bool;
                out.flag_ = flag;
                return true;
            }
        }
        if (Word("null")) {
            out.kind_ = Json::Kind::Null;
            return true;
        }
        if (Take('[')) {
            out.kind_ = Json::Kind::Array;
            if (Take(']'))
                return true;
            do {
                out.items_.emplace_back();
                if (!Value(out.items_.back(), depth + 1))
                    return false;
            } while (Take(','));
            return Take(']');
        }
        if (Take('{')) {
            out.kind_ = Json::Kind::Object;
            if (Take('}'))
                return true;
            do {
                std::string key;
                SkipSpace();
                if (!String(key) || !Take(':'))
                    return false;
                out.members_.emplace_back(std::move(key), Json());
                if (!Value(out.members_.back().second, depth + 1))
                    return false;
            } while (Take(','));
            return Take('}');
        }
        return false;
    }
};

bool ParseJson(std::string_view text, Json& out) {
    out = Json();
    JsonParser parser{text};
    if (!parser.Value(out, 0))
        return false;
    parser.SkipSpace();
    return parser.at == text.size();
}

} // namespace zav::record
