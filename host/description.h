// Dialog descriptions: the custom resource (type 1023) that binds each control
// of a dialog template to a value-store field, a callback or an action.
//
// Record layout, little-endian, byte-packed, no end marker; texts are single
// bytes ending with NUL:
//   u16 format (11), u16 dialog word, u16 item count, then per item:
//   u16 control id, u16 item type, u16 string count (name + attributes),
//   u16 name kind, name text, then (string count - 1) x { u16 key, text }.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zav {

inline constexpr int kDescriptionResourceType = 1023;
inline constexpr std::uint16_t kDescriptionFormat = 11;

enum ItemType : std::uint16_t {
    kItemButton = 1,
    kItemField = 2, // edit or static control
    kItemTable = 3, // list box
    kItemCheckBox = 4,
};

enum NameKind : std::uint16_t {
    kNameField = 1,    // value-store field name
    kNameCallback = 2, // exported callback, "=Name arg" or "Name"
    kNameLiteral = 3,  // text shown unchanged
    kNameAction = 7,   // "Return", "Stay"/"stay"
};

struct DescriptionAttribute {
    std::uint16_t key = 0;
    std::string text;
};

struct DescriptionItem {
    std::uint16_t controlId = 0;
    std::uint16_t itemType = 0;
    std::uint16_t nameKind = 0;
    std::string name;
    std::vector<DescriptionAttribute> attributes;

    // Text of the first attribute with this key, or nullptr.
    const std::string* Find(std::uint16_t key) const;
};

struct DialogDescription {
    std::uint16_t format = kDescriptionFormat;
    std::uint16_t dialogWord = 1;
    std::vector<DescriptionItem> items;
};

// Parses a record. Fails (returns false) unless the record parses to exactly
// `size` bytes: truncated items, unterminated texts and trailing bytes are all
// refused.
bool ParseDialogDescription(const unsigned char* data, std::size_t size, DialogDescription& out);

// The record's bytes; empty when the description cannot be written (a text
// with a NUL inside, more than 65535 items or attributes).
std::vector<unsigned char> SerializeDialogDescription(const DialogDescription& description);

} // namespace zav
