#include "host/vokbind.h"

#include <cctype>
#include <cstdlib>

namespace zav {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string_view StripEquals(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '=')
        text.remove_prefix(1);
    return text;
}

} // namespace

std::string DialogResourceName(std::string_view name) {
    std::string out(StripEquals(name));
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

CallbackText SplitCallbackText(std::string_view text) {
    text = StripEquals(text);
    CallbackText out;
    const std::size_t blank = text.find(' ');
    out.name = std::string(text.substr(0, blank));
    if (blank != std::string_view::npos)
        out.argument = std::string(Trim(text.substr(blank + 1)));
    return out;
}

ActionWord ParseActionWord(std::string_view text) {
    text = Trim(text);
    if (EqualNoCase(text, "Return"))
        return ActionWord::Return;
    if (EqualNoCase(text, "Stay"))
        return ActionWord::Stay;
    return ActionWord::None;
}

ButtonCommand ParseButtonCommand(std::string_view text) {
    ButtonCommand out;
    auto after = [&](std::string_view prefix, std::string_view& rest) {
        if (text.size() < prefix.size() || !EqualNoCase(text.substr(0, prefix.size()), prefix))
            return false;
        rest = text.substr(prefix.size());
        return true;
    };
    std::string_view rest;
    if (after("Call ", rest)) {
        out.kind = CommandKind::Call;
        out.target = SplitCallbackText(rest).name;
    } else if (after("Stack ", rest)) {
        out.kind = CommandKind::Stack;
        out.target = std::string(Trim(rest));
    } else if (after("Message?", rest)) {
        out.kind = CommandKind::Message;
        out.target = std::string(Trim(rest));
    }
    if (out.kind != CommandKind::None && out.target.empty())
        out.kind = CommandKind::None;
    return out;
}

FieldList ParseFieldList(std::string_view text) {
    FieldList out;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        if (word == "(*)")
            out.all = true;
        else if (!word.empty())
            out.names.emplace_back(word);
        if (blank == std::string_view::npos)
            break;
        text.remove_prefix(blank + 1);
    }
    return out;
}

ButtonPlan PlanButton(const DescriptionItem& item) {
    ButtonPlan plan;
    if (const std::string* fields = item.Find(kKeyWriteFields))
        plan.fields = ParseFieldList(*fields);
    if (const std::string* command = item.Find(kKeyCommand))
        plan.command = ParseButtonCommand(*command);

    ActionWord action = ActionWord::None;
    if (item.nameKind == kNameAction) {
        action = ParseActionWord(item.name);
    } else {
        if (item.nameKind == kNameCallback) {
            CallbackText cb = SplitCallbackText(item.name);
            plan.callback = std::move(cb.name);
            plan.callbackArgument = std::move(cb.argument);
        }
        if (const std::string* word = item.Find(kKeyAction))
            action = ParseActionWord(*word);
    }
    plan.ends = action != ActionWord::Stay;
    return plan;
}

std::string ItemCallbackText(const DescriptionItem& item) {
    if (item.nameKind == kNameCallback)
        return item.name;
    if (const std::string* cb = item.Find(kKeyCallback))
        return *cb;
    return {};
}

ItemBinding BindItem(const DescriptionItem& item) {
    ItemBinding b;
    if (item.nameKind == kNameField)
        b.field = item.name;
    b.callbackText = ItemCallbackText(item);
    b.callbackName = SplitCallbackText(b.callbackText).name;
    if (const std::string* label = item.Find(kKeyLabel))
        b.labelId = std::atoi(label->c_str());
    const std::string* readOnly = item.Find(kKeyReadOnly);
    b.readOnly = readOnly && *readOnly != "0";
    const std::string* kind = item.Find(kKeyControlKind);
    b.multiLine = kind && *kind == "1";
    const bool staticText = kind && *kind == "2";
    b.keepsText =
        !b.field.empty() && (item.itemType == kItemField || item.itemType == kItemCheckBox);
    // A display would only write back what it showed, perhaps an older value
    // than another thread has just stored.
    b.editable = b.keepsText && !b.readOnly && !staticText;
    if (const std::string* v = item.Find(kKeyCheckedValue))
        b.checkedValue = *v;
    if (const std::string* v = item.Find(kKeyClearedValue))
        b.clearedValue = *v;
    if (item.itemType == kItemButton)
        b.plan = PlanButton(item);
    return b;
}

std::string FormatCell(std::string_view format, std::string_view cell) {
    std::string out;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        // %[-][width][.precision]s
        std::size_t j = i + 1;
        bool left = false;
        if (j < format.size() && format[j] == '-') {
            left = true;
            ++j;
        }
        auto number = [&](std::size_t& pos) {
            std::size_t value = 0;
            while (pos < format.size() && std::isdigit(static_cast<unsigned char>(format[pos]))) {
                value = value * 10 + static_cast<std::size_t>(format[pos] - '0');
                if (value > 255)
                    value = 255; // a cell never needs more
                ++pos;
            }
            return value;
        };
        const std::size_t width = number(j);
        std::size_t precision = std::string_view::npos;
        if (j < format.size() && format[j] == '.') {
            ++j;
            precision = number(j);
        }
        if (j >= format.size() || format[j] != 's') {
            out.append(format.substr(i, j - i)); // not ours: keep as text
            i = j;
            continue;
        }
        const std::string_view shown = cell.substr(0, precision);
        const std::size_t pad = width > shown.size() ? width - shown.size() : 0;
        if (!left)
            out.append(pad, ' ');
        out.append(shown);
        if (left)
            out.append(pad, ' ');
        i = j + 1;
    }
    return out;
}

std::string FormatTableRow(std::string_view format, const std::vector<std::string>& cells) {
    std::size_t count = cells.size();
    while (count > 1 && cells[count - 1].empty())
        --count;
    std::string out;
    for (std::size_t c = 0; c < count; ++c) {
        if (c + 1 < count) {
            out += format.empty() ? cells[c] : FormatCell(format, cells[c]);
            out += "  ";
        } else {
            out += cells[c];
        }
    }
    // A lone padded first column keeps no trailing blanks.
    if (count == 1 && !format.empty())
        out = FormatCell(format, cells[0]);
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string ControlText(std::string_view text, bool multiLine) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (multiLine && c == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += c;
    }
    return out;
}

} // namespace zav
