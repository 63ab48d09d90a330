// Reader and writer of the dialog-description record (resource type 1023).
#include "host/description.h"

#include <cstring>
#include <limits>

namespace zav {

const std::string* DescriptionItem::Find(std::uint16_t key) const {
    for (const DescriptionAttribute& a : attributes) {
        if (a.key == key)
            return &a.text;
    }
    return nullptr;
}

namespace {

// Reads from [pos, end); every read checks the bytes are there first.
class RecordReader {
  public:
    RecordReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool Word(std::uint16_t& value) {
        if (size_ - pos_ < 2)
            return false;
        value = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }

    bool Text(std::string& text) {
        const void* nul = std::memchr(data_ + pos_, 0, size_ - pos_);
        if (!nul)
            return false;
        std::size_t n =
            static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - (data_ + pos_));
        text.assign(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n + 1;
        return true;
    }

    bool AtEnd() const { return pos_ == size_; }

  private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

bool ParseItem(RecordReader& in, DescriptionItem& item) {
    std::uint16_t stringCount = 0;
    if (!in.Word(item.controlId) || !in.Word(item.itemType) || !in.Word(stringCount) ||
        !in.Word(item.nameKind) || stringCount == 0 || !in.Text(item.name))
        return false;
    // Grown as the bytes are read: a count word alone allocates nothing.
    for (unsigned i = 1; i < stringCount; ++i) {
        DescriptionAttribute a;
        if (!in.Word(a.key) || !in.Text(a.text))
            return false;
        item.attributes.push_back(std::move(a));
    }
    return true;
}

void PutWord(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

// A text goes out with its NUL; one with a NUL inside cannot be written.
bool PutText(std::vector<unsigned char>& out, const std::string& text) {
    if (text.find('\0') != std::string::npos)
        return false;
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return true;
}

constexpr std::size_t kMaxCount = std::numeric_limits<std::uint16_t>::max();

} // namespace

bool ParseDialogDescription(const unsigned char* data, std::size_t size, DialogDescription& out) {
    if (!data && size != 0)
        return false;
    DialogDescription parsed;
    RecordReader in(data, size);
    std::uint16_t itemCount = 0;
    if (!in.Word(parsed.format) || !in.Word(parsed.dialogWord) || !in.Word(itemCount))
        return false;
    for (unsigned i = 0; i < itemCount; ++i) {
        DescriptionItem item;
        if (!ParseItem(in, item))
            return false;
        parsed.items.push_back(std::move(item));
    }
    if (!in.AtEnd())
        return false;
    out = std::move(parsed);
    return true;
}

std::vector<unsigned char> SerializeDialogDescription(const DialogDescription& description) {
    std::vector<unsigned char> out;
    if (description.items.size() > kMaxCount)
        return {};
    PutWord(out, description.format);
    PutWord(out, description.dialogWord);
    PutWord(out, static_cast<std::uint16_t>(description.items.size()));
    for (const DescriptionItem& item : description.items) {
        if (item.attributes.size() + 1 > kMaxCount)
            return {};
        PutWord(out, item.controlId);
        PutWord(out, item.itemType);
        PutWord(out, static_cast<std::uint16_t>(item.attributes.size() + 1));
        PutWord(out, item.nameKind);
        if (!PutText(out, item.name))
            return {};
        for (const DescriptionAttribute& a : item.attributes) {
            PutWord(out, a.key);
            if (!PutText(out, a.text))
                return {};
        }
    }
    return out;
}

} // namespace zav
