// Stands in for libFuzzer where the compiler has none (gcc): runs every seed, then random
// mutations of them for a bounded time, through the same LLVMFuzzerTestOneInput. It finds less
// than coverage-guided fuzzing does, but the properties are checked all the same.
//
// Usage: fuzz_x [--seconds S] [--runs N] [--seed X] FILE_OR_DIR...

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

// Windows knows no SIGBUS: its bad mappings arrive as SIGSEGV.
constexpr int kCrashSignals[] = {SIGABRT, SIGSEGV, SIGFPE, SIGILL,
#ifdef SIGBUS
                                 SIGBUS
#endif
};

// The input under test, kept where the signal handler can write it out.
const Bytes* g_current = nullptr;

void saveCurrent(int signal) {
    if (g_current) {
        const char name[] = "crash-replay";
        std::FILE* out = std::fopen(name, "wb");
        if (out) {
            std::fwrite(g_current->data(), 1, g_current->size(), out);
            std::fclose(out);
            std::fputs("input written to ./crash-replay\n", stderr);
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that the text functions treat specially, so mutations reach their branches often.
constexpr std::uint8_t kInteresting[] = {' ',  '"', '\\', '/', '\r', '\n', '\t', '\0', '.', ',',
                                         '\'', '+', '-',  'e', 'E',  '0',  '1',  '9',  '?', '=',
                                         '&',  '#', '%',  'x', 0x7f, 0x80, 0xc3, 0xa4, 0xff};

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : m_random(seed) {}

    Bytes mutate(const std::vector<Bytes>& pool) {
        Bytes data = pool[below(pool.size())];
        const int steps = 1 + int(below(4));
        for (int i = 0; i < steps; ++i)
            step(data, pool);
        if (data.size() > 4096)
            data.resize(4096);
        return data;
    }

private:
    std::size_t below(std::size_t n) { return n == 0 ? 0 : std::size_t(m_random() % n); }
    std::uint8_t interesting() { return kInteresting[below(std::size(kInteresting))]; }

    void step(Bytes& data, const std::vector<Bytes>& pool) {
        switch (below(8)) {
        case 0:
            if (!data.empty())
                data[below(data.size())] ^= std::uint8_t(1u << below(8));
            break;
        case 1:
            if (!data.empty())
                data[below(data.size())] = interesting();
            break;
        case 2:
            data.insert(data.begin() + std::ptrdiff_t(below(data.size() + 1)), interesting());
            break;
        case 3:
            if (!data.empty()) {
                const std::size_t at = below(data.size());
                const std::size_t n = 1 + below(std::min<std::size_t>(8, data.size() - at));
                data.erase(data.begin() + std::ptrdiff_t(at),
                           data.begin() + std::ptrdiff_t(at + n));
            }
            break;
        case 4:
            if (!data.empty()) {
                const std::size_t at = below(data.size());
                const std::size_t n = 1 + below(data.size() - at);
                const Bytes chunk(data.begin() + std::ptrdiff_t(at),
                                  data.begin() + std::ptrdiff_t(at + n));
                data.insert(data.begin() + std::ptrdiff_t(below(data.size() + 1)), chunk.begin(),
                            chunk.end());
            }
            break;
        case 5: {
            const Bytes& other = pool[below(pool.size())];
            if (!other.empty()) {
                const std::size_t at = below(other.size());
                data.insert(data.begin() + std::ptrdiff_t(below(data.size() + 1)),
                            other.begin() + std::ptrdiff_t(at), other.end());
            }
            break;
        }
        case 6:
            data.resize(below(data.size() + 1));
            break;
        default:
            for (std::size_t n = 1 + below(8); n > 0; --n)
                data.insert(data.begin() + std::ptrdiff_t(below(data.size() + 1)),
                            std::uint8_t(m_random()));
            break;
        }
    }

    std::mt19937 m_random;
};

} // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    long long runs = -1;
    std::uint32_t seed = 1;
    std::vector<Bytes> pool;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoll(argv[++i]);
        } else if (arg == "--seed" && i + 1 < argc) {
            seed = std::uint32_t(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (entry.is_regular_file())
                    pool.push_back(readFile(entry.path()));
            }
        } else {
            pool.push_back(readFile(arg));
        }
    }
    if (pool.empty())
        pool.push_back({});

    for (int signal : kCrashSignals)
        std::signal(signal, saveCurrent);

    for (const Bytes& input : pool) {
        g_current = &input;
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }

    Mutator mutator(seed);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long long done = 0;
    const std::size_t seeds = pool.size();
    while (runs < 0 ? std::chrono::steady_clock::now() < deadline : done < runs) {
        const Bytes input = mutator.mutate(pool);
        g_current = &input;
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++done;
        // Keep some mutants as parents so that changes can pile up.
        if (done % 16 == 0 && pool.size() < seeds + 4096)
            pool.push_back(input);
    }
    g_current = nullptr;
    std::printf("%zu seeds and %lld mutations passed (seed %u)\n", seeds, done, seed);
    return 0;
}
