// A main() for the fuzz target where libFuzzer is not at hand (g++, the
// sanitizer build of the tests): runs every seed, then a fixed number of
// mutations of them, each from a seeded generator, so a failing run replays.
//
//   zav_fuzz_render_smoke [--runs N] [--seed S] [FILE | FOLDER]...
//
// The built-in printout (one and three pages) is always among the seeds.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "printout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kMaxLength = 8192;

Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Random {
    std::uint64_t state;
    std::uint32_t operator()() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::uint32_t>(state >> 16);
    }
    std::size_t Below(std::size_t n) { return n ? (*this)() % n : 0; }
};

// Bytes that mean something to the printer, and so find the paths worth trying.
constexpr std::uint8_t kTokens[] = {0x1B, 'K',  'J',  '3',  'C', '@',  '2',  0x0A, 0x0C,
                                    0x0D, 0x00, 0xFF, 0x09, 'A', 0x80, 0x01, 0x7F};

Bytes Mutate(const Bytes& seed, Random& random) {
    const std::size_t start = random.Below(seed.size());
    Bytes input(seed.begin() + start,
                seed.begin() + start + std::min(seed.size() - start, 1 + random.Below(kMaxLength)));
    const int edits = 1 + static_cast<int>(random.Below(8));
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = random.Below(input.size() + 1);
        switch (random.Below(5)) {
        case 0: // one byte changed
            if (at < input.size())
                input[at] = static_cast<std::uint8_t>(random());
            break;
        case 1: // a printer token put in
            input.insert(input.begin() + at, kTokens[random.Below(sizeof kTokens)]);
            break;
        case 2: // an escape sequence with random arguments
            input.insert(input.begin() + at, {0x1B, kTokens[random.Below(sizeof kTokens)],
                                              static_cast<std::uint8_t>(random()),
                                              static_cast<std::uint8_t>(random() & 3)});
            break;
        case 3: // a piece cut out
            if (at < input.size())
                input.erase(input.begin() + at,
                            input.begin() + at + std::min(input.size() - at, random.Below(64)));
            break;
        default: // a piece repeated
            if (at < input.size()) {
                const Bytes piece(input.begin() + at,
                                  input.begin() + at +
                                      std::min(input.size() - at, random.Below(32)));
                input.insert(input.begin() + random.Below(input.size()), piece.begin(),
                             piece.end());
            }
            break;
        }
    }
    if (input.size() > kMaxLength)
        input.resize(kMaxLength);
    return input;
}

} // namespace

int main(int argc, char** argv) {
    long runs = 10000;
    std::uint64_t seedValue = 1;
    std::vector<Bytes> seeds;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seedValue = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
                if (entry.is_regular_file())
                    seeds.push_back(ReadAll(entry.path()));
            }
        } else if (std::filesystem::exists(argv[i])) {
            seeds.push_back(ReadAll(argv[i]));
        } else {
            std::printf("no seed at %s: the generated printouts only\n", argv[i]);
        }
    }
    for (int pages : {1, 3}) {
        zavtool::PrintoutOptions options;
        options.pages = pages;
        seeds.push_back(zavtool::GeneratePrintout(options));
    }

    const auto start = std::chrono::steady_clock::now();
    for (const Bytes& seed : seeds)
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    Random random{seedValue * 0x9E3779B97F4A7C15ull | 1};
    for (long run = 0; run < runs; ++run) {
        const Bytes input = Mutate(seeds[random.Below(seeds.size())], random);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("zav_fuzz_render_smoke: %zu seeds and %ld mutations in %.1f s (%.0f inputs/s)\n",
                seeds.size(), runs, seconds, (seeds.size() + runs) / seconds);
    return 0;
}
