// The small part of JSON the records need: objects whose members keep their
// order, arrays, strings, unsigned integers, true, false and null. Numbers
// keep their text, so that a 64-bit byte count never passes through a double.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zav::record {

class Json {
  public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Json() = default;
    static Json String(std::string text);
    static Json Number(std::uint64_t value);
    static Json Bool(bool value);
    static Json Array();
    static Json Object();

    Kind kind() const { return kind_; }
    // Adds a member to an object (in order) and returns the object.
    Json& Add(std::string key, Json value);
    // Adds an item to an array and returns the array.
    Json& Push(Json value);

    // The member `key` of an object; nullptr when missing or not an object.
    const Json* Find(std::string_view key) const;
    // The text of a string; nullptr for any other kind.
    const std::string* Text() const { return kind_ == Kind::String ? &text_ : nullptr; }
    bool ToUint64(std::uint64_t& value) const;
    bool IsTrue() const { return kind_ == Kind::Bool && flag_; }
    const std::vector<Json>& Items() const { return items_; }
    const std::vector<std::pair<std::string, Json>>& Members() const { return members_; }

  private:
    friend bool ParseJson(std::string_view text, Json& out);
    friend struct JsonParser;
    Kind kind_ = Kind::Null;
    bool flag_ = false;
    std::string text_; // a string's value, a number's digits
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

// Appends the value as JSON text. Compact: one line without spaces but after
// ':' and ','. Multiline: the members of the outermost object one a line,
// and the items of arrays that are such members one a line too, each item
// compact.
void AppendJson(std::string& out, const Json& value, bool multiline = false);
std::string ToJson(const Json& value, bool multiline = false);

// Appends `text` as a JSON string, quoted: '"', '\' and control characters
// are escaped; other bytes go through as they are.
void AppendJsonString(std::string& out, std::string_view text);

// Parses one JSON value that fills `text` (white space around it allowed).
// Nesting deeper than 32 levels is refused.
bool ParseJson(std::string_view text, Json& out);

} // namespace zav::record
