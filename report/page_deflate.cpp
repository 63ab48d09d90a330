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
constexpr std::uint32_t kMatch = 1u << 31;
constexpr std::uint32_t kFromRowAbove = 1u << 30;
constexpr int kLitLenSymbols = 286;
constexpr int kDistSymbols = 30;
constexpr int kEndOfBlock = 256;

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
// codes after the first four.
Code DistanceCode(std::uint32_t distance) {
    std::uint32_t base = 1;
    for (int i = 0; i < kDistSymbols; ++i) {
        const int bits = i < 4 ? 0 : i / 2 - 1;
        if (distance < base + (1u << bits))
            return {static_cast<std::uint16_t>(i), static_cast<std::uint8_t>(bits),
                    static_cast<std::uint16_t>(distance - base)};
        base += 1u << bits;
    }
    return {};
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
std::size_t RunEnd(const std::uint8_t* row, std::size_t i, std::size_t end, std::uint8_t byte) {
    const std::uint64_t pattern = 0x0101010101010101ull * byte;
    for (; i + 8 <= end; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + i, 8);
        if (const std::uint64_t differ = word ^ pattern) {
            if constexpr (std::endian::native == std::endian::little)
                return i + static_cast<std::size_t>(std::countr_zero(differ) / 8);
            else
                return i + static_cast<std::size_t>(std::countl_zero(differ) / 8);
        }
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
        if (const std::uint64_t differ = a ^ b) {
            if constexpr (std::endian::native == std::endian::little)
                return i + static_cast<std::size_t>(std::countr_zero(differ) / 8);
            else
                return i + static_cast<std::size_t>(std::countl_zero(differ) / 8);
        }
    }
    while (i < end && row[i] == above[i])
        ++i;
    return i;
}

} // namespace

bool PageDeflater::Deflate(const std::uint8_t* top, std::ptrdiff_t stride, std::size_t rowBytes,
                           std::uint32_t rows, std::vector<std::uint8_t>& out) {
    if (!top || rowBytes == 0 || rowBytes > kMaxRowBytes || rows == 0 ||
        std::uint64_t{rowBytes} * rows > kMaxBytes)
        return false;
    rowDistance_ = rowBytes <= kWindow ? static_cast<std::uint32_t>(rowBytes) : 0;
    rowSymbol_ = DistanceCode(rowDistance_ ? rowDistance_ : 1).symbol;
    // Room for a block and one more row of tokens: a row gives at most one
    // token per byte and two for the run it may carry over; the matches of a
    // long run make room for themselves.
    const std::size_t room = kBlockTokens + rowBytes + 8;
    if (tokens_.size() < room)
        tokens_.resize(room);
    std::uint32_t* const tokens = tokens_.data();
    std::size_t count = 0;
    std::fill(std::begin(litLenCounts_), std::end(litLenCounts_), 0u);
    std::fill(std::begin(distCounts_), std::end(distCounts_), 0u);
    Bits bits(written_);
    Adler32 adler;

    const auto literal = [&](std::uint8_t byte) {
        tokens[count++] = byte;
        ++litLenCounts_[byte];
    };
    // Matches of `length` bytes, 258 at most each, none shorter than 3; the
    // 1 or 2 bytes left are literals (`lastTwo`: the last two bytes matched).
    const auto matches = [&](std::size_t length, bool fromRowAbove, const std::uint8_t* lastTwo) {
        for (std::size_t m; length >= 3; length -= m) {
            m = std::min<std::size_t>(length, 258);
            if (length - m != 0 && length - m < 3)
                m = length - 3;
            if (count >= kBlockTokens) {
                WriteBlock(false, count, bits);
                count = 0;
            }
            tokens[count++] =
                kMatch | (fromRowAbove ? kFromRowAbove : 0) | static_cast<std::uint32_t>(m);
            ++litLenCounts_[kLengthCodes[m].symbol];
            ++distCounts_[fromRowAbove ? rowSymbol_ : 0];
        }
        for (std::size_t k = 2 - length; k < 2; ++k)
            literal(lastTwo[k]);
    };

    // A run of the last byte coded, not coded yet itself: bytes that repeat
    // the one before them, at distance 1 (so its first byte went before).
    int last = -1;
    std::size_t run = 0;
    std::uint8_t runBytes[2] = {};
    const std::uint8_t* above = nullptr;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const std::uint8_t* row = top + static_cast<std::ptrdiff_t>(r) * stride;
        if (count + rowBytes + 2 > room - 6) {
            WriteBlock(false, count, bits);
            count = 0;
        }
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
                matches(run, false, runBytes);
                run = 0;
            }
            if (above && byte == above[i] && rowDistance_) {
                const std::size_t end = SameEnd(row, above, i + 1, rowBytes);
                if (end - i >= 4) {
                    adler.Bytes(row + i, end - i);
                    matches(end - i, true, row + end - 2);
                    last = row[end - 1];
                    i = end;
                    continue;
                }
            }
            adler.Byte(byte);
            literal(byte);
            last = byte;
            ++i;
        }
        above = row;
        adler.EndRow(rowBytes);
    }
    if (run) {
        runBytes[0] = runBytes[1] = static_cast<std::uint8_t>(last);
        matches(run, false, runBytes);
    }
    WriteBlock(true, count, bits);
    const std::size_t size = bits.Finish();
    out.reserve(out.size() + size + 6);
    out.push_back(0x78); // deflate, 32 KiB window
    out.push_back(0x01); // no dictionary, fastest; the header is a multiple of 31
    out.insert(out.end(), written_.begin(), written_.begin() + static_cast<std::ptrdiff_t>(size));
    const std::uint32_t check = adler.Value();
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(check >> shift));
    return true;
}

void PageDeflater::WriteBlock(bool last, std::size_t count, Bits& bits) {
    litLenCounts_[kEndOfBlock] = 1;
    std::uint8_t litLenBits[kLitLenSymbols], distBits[kDistSymbols];
    std::uint16_t litLenCode[kLitLenSymbols], distCode[kDistSymbols];
    CodeLengths(litLenCounts_, kLitLenSymbols, 15, litLenBits);
    CodeLengths(distCounts_, kDistSymbols, 15, distBits);
    CanonicalCodes(litLenBits, kLitLenSymbols, litLenCode);
    CanonicalCodes(distBits, kDistSymbols, distCode);

    // The code lengths of both codes as one sequence, its runs coded with
    // the code length code's repeat symbols (16, 17, 18).
    int litLens = kLitLenSymbols, dists = kDistSymbols;
    while (litLens > 257 && litLenBits[litLens - 1] == 0)
        --litLens;
    while (dists > 1 && distBits[dists - 1] == 0)
        --dists;
    std::uint8_t all[kLitLenSymbols + kDistSymbols];
    std::copy_n(litLenBits, litLens, all);
    std::copy_n(distBits, dists, all + litLens);
    const int total = litLens + dists;
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

    bits.Reserve(1024 + 6 * count);
    bits.Put(last ? 1 : 0, 1);
    bits.Put(2, 2); // dynamic Huffman codes
    bits.Put(static_cast<std::uint32_t>(litLens - 257), 5);
    bits.Put(static_cast<std::uint32_t>(dists - 1), 5);
    bits.Put(static_cast<std::uint32_t>(sent - 4), 4);
    for (int i = 0; i < sent; ++i)
        bits.Put(lengthBits[kCodeLengthOrder[i]], 3);
    static constexpr int kRepeatBits[3] = {2, 3, 7};
    for (int i = 0; i < pieceCount; ++i) {
        bits.Put(lengthCode[pieces[i].symbol], lengthBits[pieces[i].symbol]);
        if (pieces[i].symbol >= 16)
            bits.Put(pieces[i].extra, kRepeatBits[pieces[i].symbol - 16]);
    }

    const Code one = DistanceCode(1), row = DistanceCode(rowDistance_ ? rowDistance_ : 1);
    for (std::size_t t = 0; t < count; ++t) {
        const std::uint32_t token = tokens_[t];
        if (!(token & kMatch)) {
            bits.Put(litLenCode[token], litLenBits[token]);
            continue;
        }
        const Code& length = kLengthCodes[token & 0x1FF];
        bits.Put(litLenCode[length.symbol], litLenBits[length.symbol]);
        bits.Put(length.extra, length.extraBits);
        const Code& distance = token & kFromRowAbove ? row : one;
        bits.Put(distCode[distance.symbol], distBits[distance.symbol]);
        bits.Put(distance.extra, distance.extraBits);
    }
    bits.Put(litLenCode[kEndOfBlock], litLenBits[kEndOfBlock]);

    std::fill(std::begin(litLenCounts_), std::end(litLenCounts_), 0u);
    std::fill(std::begin(distCounts_), std::end(distCounts_), 0u);
}

} // namespace zav
