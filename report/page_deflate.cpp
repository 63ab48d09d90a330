#include "report/page_deflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace zav {

namespace {

constexpr std::size_t kBlockTokens = 1u << 16; // a block's Huffman codes fit this many
constexpr std::uint64_t kMaxBytes = 1ull << 30;
constexpr std::size_t kMaxRowBytes = 1u << 16; // 524288 dots: no page is wider
constexpr std::size_t kWindow = 32768;         // farthest a deflate match may look back
// A token is a literal byte, or kMatch | length << 15 | (distance - 1).
constexpr std::uint32_t kMatch = 1u << 31;
constexpr std::uint32_t MatchToken(std::size_t length, std::uint32_t distance) {
    return kMatch | static_cast<std::uint32_t>(length) << 15 | (distance - 1);
}
constexpr int kLitLenSymbols = 286;
constexpr int kDistSymbols = 30;
constexpr int kEndOfBlock = 256;
constexpr unsigned kReuseBlocks = 16; // blocks that use codes made for the first of them

// A length or distance code: its symbol, and the extra bits that follow it.
struct Code {
    std::uint16_t symbol = 0;
    std::uint8_t extraBits = 0;
    std::uint16_t extra = 0;
};

// RFC 1951, 3.2.5: lengths 3..258 in 29 codes, the extra bits growing by one
// every four codes after the first eight; 258 has a code of its own.
constexpr std::array<Code, 259> MakeLengthCodes() {
    std::array<Code, 259> codes{};
    int base = 3;
    for (int i = 0; i < 28; ++i) {
        const int bits = i < 8 ? 0 : i / 4 - 1;
        for (int length = base; length < base + (1 << bits) && length < 258; ++length)
            codes[length] = {static_cast<std::uint16_t>(257 + i), static_cast<std::uint8_t>(bits),
                             static_cast<std::uint16_t>(length - base)};
        base += 1 << bits;
    }
    codes[258] = {285, 0, 0};
    return codes;
}
constexpr std::array<Code, 259> kLengthCodes = MakeLengthCodes();

// Distances 1..32768 in 30 codes, the extra bits growing by one every two
// codes after the first four. The symbol of distance d is found at d - 1 for
// the first 256, at 256 + ((d - 1) >> 7) for the rest.
struct DistanceTable {
    std::uint16_t base[kDistSymbols];
    std::uint8_t bits[kDistSymbols];
    std::uint8_t symbol[512];
};
constexpr DistanceTable MakeDistanceTable() {
    DistanceTable t{};
    std::uint32_t base = 1;
    for (int i = 0; i < kDistSymbols; ++i) {
        t.base[i] = static_cast<std::uint16_t>(base);
        t.bits[i] = static_cast<std::uint8_t>(i < 4 ? 0 : i / 2 - 1);
        for (std::uint32_t d = base; d < base + (1u << t.bits[i]); ++d)
            t.symbol[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)] = static_cast<std::uint8_t>(i);
        base += 1u << t.bits[i];
    }
    return t;
}
constexpr DistanceTable kDistances = MakeDistanceTable();

int DistanceSymbol(std::uint32_t distance) {
    return kDistances.symbol[distance <= 256 ? distance - 1 : 256 + ((distance - 1) >> 7)];
}

// The order in which the code length code's lengths are sent.
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

} // namespace

// Bits go out least significant first, into room made for them beforehand.
class PageDeflater::Bits {
  public:
    explicit Bits(std::vector<std::uint8_t>& out) : out_(out) {}
    // Makes room for `bytes` more bytes; the room, once made, is kept.
    void Reserve(std::size_t bytes) {
        if (out_.size() < at_ + bytes + 8)
            out_.resize(std::max(out_.size() * 2, at_ + bytes + 8));
    }
    void Put(std::uint32_t bits, int count) {
        acc_ |= std::uint64_t{bits} << used_;
        used_ += count;
        if (used_ >= 32) {
            const std::uint8_t four[4] = {
                static_cast<std::uint8_t>(acc_), static_cast<std::uint8_t>(acc_ >> 8),
                static_cast<std::uint8_t>(acc_ >> 16), static_cast<std::uint8_t>(acc_ >> 24)};
            std::memcpy(out_.data() + at_, four, 4);
            at_ += 4;
            acc_ >>= 32;
            used_ -= 32;
        }
    }
    // Writes the last bits, padded to a whole byte; the bytes written.
    std::size_t Finish() {
        Reserve(8);
        for (; used_ > 0; used_ -= 8, acc_ >>= 8)
            out_[at_++] = static_cast<std::uint8_t>(acc_);
        used_ = 0;
        return at_;
    }

  private:
    std::vector<std::uint8_t>& out_;
    std::size_t at_ = 0;
    std::uint64_t acc_ = 0;
    int used_ = 0;
};

namespace {

// Huffman code lengths, none longer than `maxBits`, for `count` symbols of
// the frequencies `counts`; an unused symbol gets none. At least two symbols
// get a code, so that every code is complete.
void CodeLengths(const std::uint32_t* counts, int count, int maxBits, std::uint8_t* lengths) {
    std::array<std::uint32_t, kLitLenSymbols> freq{};
    std::copy_n(counts, count, freq.begin());
    int used = static_cast<int>(
        std::count_if(freq.begin(), freq.begin() + count, [](std::uint32_t f) { return f != 0; }));
    for (int s = 0; s < count && used < 2; ++s) {
        if (freq[s] == 0) {
            freq[s] = 1;
            ++used;
        }
    }
    // Leaves by frequency, then the nodes made from them in the order made
    // (which is by weight too): the two lightest are always at a queue's head.
    struct Node {
        std::uint64_t weight;
        int parent;
    };
    std::array<int, kLitLenSymbols> leaf;
    std::array<Node, 2 * kLitLenSymbols> nodes;
    for (;;) {
        int leaves = 0;
        for (int s = 0; s < count; ++s) {
            if (freq[s])
                leaf[leaves++] = s;
        }
        std::sort(leaf.begin(), leaf.begin() + leaves,
                  [&](int a, int b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });
        for (int i = 0; i < leaves; ++i)
            nodes[i] = {freq[leaf[i]], -1};
        int nextLeaf = 0, nextInner = leaves, made = leaves;
        const auto lightest = [&] {
            const bool takeLeaf =
                nextLeaf < leaves &&
                (nextInner == made || nodes[nextLeaf].weight <= nodes[nextInner].weight);
            return takeLeaf ? nextLeaf++ : nextInner++;
        };
        while (made < 2 * leaves - 1) {
            const int a = lightest();
            const int b = lightest();
            nodes[made] = {nodes[a].weight + nodes[b].weight, -1};
            nodes[a].parent = nodes[b].parent = made;
            ++made;
        }
        // Depths from the root (the last node) down.
        std::array<int, 2 * kLitLenSymbols> depth;
        depth[made - 1] = 0;
        int deepest = 0;
        for (int i = made - 2; i >= 0; --i) {
            depth[i] = depth[nodes[i].parent] + 1;
            deepest = std::max(deepest, depth[i]);
        }
        if (deepest <= maxBits) {
            std::fill_n(lengths, count, std::uint8_t{0});
            for (int i = 0; i < leaves; ++i)
                lengths[leaf[i]] = static_cast<std::uint8_t>(depth[i]);
            return;
        }
        // Too deep: flatten the frequencies and build again.
        for (int s = 0; s < count; ++s)
            freq[s] = (freq[s] + 1) / 2;
    }
}

// The canonical codes of RFC 1951, 3.2.2, bit-reversed for sending.
void CanonicalCodes(const std::uint8_t* lengths, int count, std::uint16_t* codes) {
    int perLength[16] = {};
    for (int s = 0; s < count; ++s)
        ++perLength[lengths[s]];
    perLength[0] = 0;
    std::uint32_t next[16] = {};
    std::uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + static_cast<std::uint32_t>(perLength[bits - 1])) << 1;
        next[bits] = code;
    }
    for (int s = 0; s < count; ++s) {
        const int bits = lengths[s];
        std::uint32_t c = bits ? next[bits]++ : 0, reversed = 0;
        for (int b = 0; b < bits; ++b, c >>= 1)
            reversed = reversed << 1 | (c & 1);
        codes[s] = static_cast<std::uint16_t>(reversed);
    }
}

// The Adler-32 checksum of the zlib stream (RFC 1950), summed as the bytes
// are coded: a run of one byte is added in one step. The sums are reduced
// between rows, once a mebibyte has been added; until then (rows being at
// most kMaxRowBytes) they stay far below 2^64.
class Adler32 {
  public:
    void Byte(std::uint8_t byte) {
        a_ += byte;
        b_ += a_;
    }
    void Bytes(const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            Byte(bytes[i]);
    }
    // `size` bytes of the value `byte`: b grows by a for each of them and by
    // byte * (1 + 2 + ... + size).
    void Run(std::uint8_t byte, std::uint64_t size) {
        b_ += size * a_ + byte * (size * (size + 1) / 2);
        a_ += size * byte;
    }
    void EndRow(std::size_t rowBytes) {
        if ((pending_ += rowBytes) >= (1u << 20))
            Reduce();
    }
    std::uint32_t Value() {
        Reduce();
        return static_cast<std::uint32_t>(b_ << 16 | a_);
    }

  private:
    static constexpr std::uint64_t kModulus = 65521;
    void Reduce() {
        a_ %= kModulus;
        b_ %= kModulus;
        pending_ = 0;
    }
    std::uint64_t a_ = 1, b_ = 0;
    std::uint64_t pending_ = 0;
};

// Index of the first byte from `i` on that differs from `byte`.
// The first of eight bytes loaded as one word in which `differ` has a bit.
std::size_t FirstByteOf(std::uint64_t differ) {
    if constexpr (std::endian::native == std::endian::little)
        return static_cast<std::size_t>(std::countr_zero(differ) / 8);
    else
        return static_cast<std::size_t>(std::countl_zero(differ) / 8);
}

std::size_t RunEnd(const std::uint8_t* row, std::size_t i, std::size_t end, std::uint8_t byte) {
    const std::uint64_t pattern = 0x0101010101010101ull * byte;
    for (; i + 8 <= end; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + i, 8);
        if (const std::uint64_t differ = word ^ pattern)
            return i + FirstByteOf(differ);
    }
    while (i < end && row[i] == byte)
        ++i;
    return i;
}

// Index of the first byte from `i` on in which two rows differ.
std::size_t SameEnd(const std::uint8_t* row, const std::uint8_t* above, std::size_t i,
                    std::size_t end) {
    for (; i + 8 <= end; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, row + i, 8);
        std::memcpy(&b, above + i, 8);
        if (const std::uint64_t differ = a ^ b)
            return i + FirstByteOf(differ);
    }
    while (i < end && row[i] == above[i])
        ++i;
    return i;
}

} // namespace

// Starts a stream: counts and tokens from nothing, room for a block's tokens
// and `more`.
void PageDeflater::Start(std::size_t more) {
    if (tokens_.size() < kBlockTokens + more)
        tokens_.resize(kBlockTokens + more);
    count_ = 0;
    std::fill(std::begin(litLenCounts_), std::end(litLenCounts_), 0u);
    std::fill(std::begin(distCounts_), std::end(distCounts_), 0u);
}

void PageDeflater::Match(std::size_t length, std::uint32_t distance, Bits& bits) {
    if (count_ >= kBlockTokens)
        WriteBlock(false, bits);
    tokens_[count_++] = MatchToken(length, distance);
    ++litLenCounts_[kLengthCodes[length].symbol];
    ++distCounts_[DistanceSymbol(distance)];
}

// The zlib stream around the deflate data `bits` holds.
void PageDeflater::Finish(Bits& bits, std::uint32_t adler, std::vector<std::uint8_t>& out) {
    WriteBlock(true, bits);
    const std::size_t size = bits.Finish();
    out.reserve(out.size() + size + 6);
    out.push_back(0x78); // deflate, 32 KiB window
    out.push_back(0x01); // no dictionary, fastest; the header is a multiple of 31
    out.insert(out.end(), written_.begin(), written_.begin() + static_cast<std::ptrdiff_t>(size));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(adler >> shift));
}

bool PageDeflater::Deflate(const std::uint8_t* top, std::ptrdiff_t stride, std::size_t rowBytes,
                           std::uint32_t rows, std::vector<std::uint8_t>& out) {
    if (!top || rowBytes == 0 || rowBytes > kMaxRowBytes || rows == 0 ||
        std::uint64_t{rowBytes} * rows > kMaxBytes)
        return false;
    // A row may be matched only when it lies within the window.
    const auto rowDistance = static_cast<std::uint32_t>(rowBytes <= kWindow ? rowBytes : 0);
    // Room for a block and one more row of tokens: a row gives at most one
    // token per byte and two for the run it may carry over; matches make
    // room for themselves.
    Start(rowBytes + 8);
    Bits bits(written_);
    Adler32 adler;

    // Matches of `length` bytes, 258 at most each, none shorter than 3; the
    // 1 or 2 bytes left are literals (`lastTwo`: the last two bytes matched).
    const auto matches = [&](std::size_t length, std::uint32_t distance,
                             const std::uint8_t* lastTwo) {
        for (std::size_t m; length >= 3; length -= m) {
            m = std::min<std::size_t>(length, 258);
            if (length - m != 0 && length - m < 3)
                m = length - 3;
            Match(m, distance, bits);
        }
        for (std::size_t k = 2 - length; k < 2; ++k)
            Literal(lastTwo[k]);
    };

    // A run of the last byte coded, not coded yet itself: bytes that repeat
    // the one before them, at distance 1 (so its first byte went before).
    int last = -1;
    std::size_t run = 0;
    std::uint8_t runBytes[2] = {};
    const std::uint8_t* above = nullptr;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint8_t* row = top + static_cast<std::ptrdiff_t>(r) * stride;
        if (count_ + rowBytes + 2 > kBlockTokens + 2)
            WriteBlock(false, bits);
        for (std::size_t i = 0; i < rowBytes;) {
            const std::uint8_t byte = row[i];
            if (byte == last) {
                const std::size_t end = RunEnd(row, i + 1, rowBytes, byte);
                adler.Run(byte, end - i);
                run += end - i;
                i = end;
                continue;
            }
            if (run) {
                runBytes[0] = runBytes[1] = static_cast<std::uint8_t>(last);
                matches(run, 1, runBytes);
                run = 0;
            }
            if (above && byte == above[i] && rowDistance) {
                const std::size_t end = SameEnd(row, above, i + 1, rowBytes);
                if (end - i >= 4) {
                    adler.Bytes(row + i, end - i);
                    matches(end - i, rowDistance, row + end - 2);
                    last = row[end - 1];
                    i = end;
                    continue;
                }
            }
            adler.Byte(byte);
            Literal(byte);
            last = byte;
            ++i;
        }
        above = row;
        adler.EndRow(rowBytes);
    }
    if (run) {
        runBytes[0] = runBytes[1] = static_cast<std::uint8_t>(last);
        matches(run, 1, runBytes);
    }
    Finish(bits, adler.Value(), out);
    return true;
}

bool PageDeflater::DeflateBytes(const std::uint8_t* data, std::size_t size,
                                std::vector<std::uint8_t>& out) {
    if (!data || size == 0 || size > kMaxBytes)
        return false;
    Start(0);
    Bits bits(written_);
    // Where each hash of four bytes last began, plus 1 (0: nowhere yet). A
    // place left from an earlier stream is never cleared: it is taken only
    // when it lies before this one and its bytes are the same, and then it
    // is as good a match as any.
    const auto four = [&](std::size_t at) {
        std::uint32_t word;
        std::memcpy(&word, data + at, 4);
        return word;
    };
    std::size_t i = 0;
    while (i + 4 <= size) {
        const std::uint32_t word = four(i);
        const std::uint32_t hash = (word * 2654435761u) >> (32 - kRecentBits);
        const std::size_t seen = recent_[hash];
        recent_[hash] = static_cast<std::uint32_t>(i + 1);
        if (seen && seen <= i && i + 1 - seen <= kWindow && four(seen - 1) == word) {
            const std::size_t from = seen - 1;
            const std::size_t most = std::min<std::size_t>(258, size - i);
            std::size_t length = 4;
            while (length < most && data[from + length] == data[i + length])
                ++length;
            Match(length, static_cast<std::uint32_t>(i - from), bits);
            i += length;
            continue;
        }
        if (count_ >= kBlockTokens)
            WriteBlock(false, bits);
        Literal(data[i++]);
    }
    for (; i < size; ++i) {
        if (count_ >= kBlockTokens)
            WriteBlock(false, bits);
        Literal(data[i]);
    }
    Adler32 adler;
    for (std::size_t at = 0; at < size; at += 1u << 20) {
        const std::size_t piece = std::min<std::size_t>(size - at, 1u << 20);
        adler.Bytes(data + at, piece);
        adler.EndRow(piece);
    }
    Finish(bits, adler.Value(), out);
    return true;
}

void PageDeflater::BuildCodes() {
    // Every literal, length and distance gets a code, so that the blocks to
    // come find one for whatever they hold.
    std::uint32_t litLens[kLitLenSymbols], dists[kDistSymbols];
    for (int s = 0; s < kLitLenSymbols; ++s)
        litLens[s] = litLenCounts_[s] + 1;
    for (int s = 0; s < kDistSymbols; ++s)
        dists[s] = distCounts_[s] + 1;
    CodeLengths(litLens, kLitLenSymbols, 15, litLenBits_);
    CodeLengths(dists, kDistSymbols, 15, distBits_);
    CanonicalCodes(litLenBits_, kLitLenSymbols, litLenCode_);
    CanonicalCodes(distBits_, kDistSymbols, distCode_);

    // The block header after its first bit: the code lengths of both codes
    // as one sequence, its runs coded with the code length code's repeat
    // symbols (16, 17, 18), itself Huffman-coded.
    std::uint8_t all[kLitLenSymbols + kDistSymbols];
    std::copy_n(litLenBits_, kLitLenSymbols, all);
    std::copy_n(distBits_, kDistSymbols, all + kLitLenSymbols);
    struct Piece {
        std::uint8_t symbol, extra;
    };
    Piece pieces[kLitLenSymbols + kDistSymbols];
    int pieceCount = 0;
    std::uint32_t lengthCounts[19] = {};
    const auto piece = [&](int symbol, int extra) {
        pieces[pieceCount++] = {static_cast<std::uint8_t>(symbol),
                                static_cast<std::uint8_t>(extra)};
        ++lengthCounts[symbol];
    };
    const int total = kLitLenSymbols + kDistSymbols;
    for (int i = 0; i < total;) {
        const int length = all[i];
        int same = 1;
        while (i + same < total && all[i + same] == length)
            ++same;
        i += same;
        if (length == 0) {
            for (int n; same >= 11; same -= n)
                piece(18, (n = std::min(same, 138)) - 11);
            if (same >= 3) {
                piece(17, same - 3);
                same = 0;
            }
        } else {
            piece(length, 0);
            --same;
            for (int n; same >= 3; same -= n)
                piece(16, (n = std::min(same, 6)) - 3);
        }
        for (; same > 0; --same)
            piece(length, 0);
    }
    std::uint8_t lengthBits[19];
    std::uint16_t lengthCode[19];
    CodeLengths(lengthCounts, 19, 7, lengthBits);
    CanonicalCodes(lengthBits, 19, lengthCode);
    int sent = 19;
    while (sent > 4 && lengthBits[kCodeLengthOrder[sent - 1]] == 0)
        --sent;

    header_.clear();
    header_.push_back({2, 2}); // dynamic Huffman codes
    header_.push_back({kLitLenSymbols - 257, 5});
    header_.push_back({kDistSymbols - 1, 5});
    header_.push_back({static_cast<std::uint32_t>(sent - 4), 4});
    for (int i = 0; i < sent; ++i)
        header_.push_back({lengthBits[kCodeLengthOrder[i]], 3});
    static constexpr int kRepeatBits[3] = {2, 3, 7};
    for (int i = 0; i < pieceCount; ++i) {
        header_.push_back({lengthCode[pieces[i].symbol], lengthBits[pieces[i].symbol]});
        if (pieces[i].symbol >= 16)
            header_.push_back({pieces[i].extra, kRepeatBits[pieces[i].symbol - 16]});
    }
}

void PageDeflater::WriteBlock(bool last, Bits& bits) {
    litLenCounts_[kEndOfBlock] = 1;
    // The codes of the block before serve for kReuseBlocks blocks: the pages
    // of a printout use their symbols alike, and making codes for each one
    // cost more than the bits it saved.
    if (builtFor_ == 0 || builtFor_ >= kReuseBlocks) {
        BuildCodes();
        builtFor_ = 0;
    }
    ++builtFor_;

    bits.Reserve(1024 + 6 * count_);
    bits.Put(last ? 1 : 0, 1);
    for (const auto& [value, count] : header_)
        bits.Put(value, count);
    // A literal's code and its length in one word: one load for the commonest token.
    std::uint32_t literal[256];
    for (int b = 0; b < 256; ++b)
        literal[b] = litLenCode_[b] | static_cast<std::uint32_t>(litLenBits_[b]) << 16;
    const std::uint32_t* const tokens = tokens_.data();
    for (std::size_t t = 0; t < count_; ++t) {
        const std::uint32_t token = tokens[t];
        if (!(token & kMatch)) {
            bits.Put(literal[token] & 0xFFFF, static_cast<int>(literal[token] >> 16));
            continue;
        }
        const Code& length = kLengthCodes[(token >> 15) & 0x1FF];
        bits.Put(litLenCode_[length.symbol], litLenBits_[length.symbol]);
        bits.Put(length.extra, length.extraBits);
        const std::uint32_t distance = (token & 0x7FFF) + 1;
        const int symbol = DistanceSymbol(distance);
        bits.Put(distCode_[symbol], distBits_[symbol]);
        bits.Put(distance - kDistances.base[symbol], kDistances.bits[symbol]);
    }
    bits.Put(litLenCode_[kEndOfBlock], litLenBits_[kEndOfBlock]);

    count_ = 0;
    std::fill(std::begin(litLenCounts_), std::end(litLenCounts_), 0u);
    std::fill(std::begin(distCounts_), std::end(distCounts_), 0u);
}

} // namespace zav
