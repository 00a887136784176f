// The repairing FLV reader on any bytes: it must end, its output must always be a well-formed FLV
// (by the reader's own checker, and by a second, simpler walk here), reads at any offset must
// agree with one pass from the start, and a well-formed input must come out unchanged.

#include "flv/flv_repair.h"
#include "fuzz/fuzz_input.h"

#include <cstring>
#include <random>
#include <string_view>
#include <vector>

namespace {

using namespace movarin::flv;

class Memory : public ByteSource {
public:
    Memory(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset >= m_size)
            return 0;
        const std::size_t n = std::min<std::size_t>(length, m_size - std::size_t(offset));
        std::memcpy(buffer, m_data + offset, n);
        return std::int64_t(n);
    }
    std::uint64_t size() override { return m_size; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
};

std::uint32_t be(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Which kinds of tag a well-formed FLV holds; -1 when it is not well-formed by this simple walk.
int kindsIn(const std::vector<std::uint8_t>& f) {
    if (f.size() < 13 || std::memcmp(f.data(), "FLV", 3) != 0 || be(&f[5], 4) != 9 ||
        be(&f[9], 4) != 0)
        return -1;
    int kinds = 0;
    std::size_t at = 13;
    while (at != f.size()) {
        if (f.size() - at < 15)
            return -1;
        const std::size_t length = 11 + be(&f[at + 1], 3);
        if (f[at] != 8 && f[at] != 9 && f[at] != 18)
            return -1;
        if (f.size() - at < length + 4 || be(&f[at + length], 4) != length)
            return -1;
        kinds |= f[at] == 9 ? kFlagVideo : f[at] == 8 ? kFlagAudio : 0;
        at += length + 4;
    }
    return kinds;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Memory source(data, size);
    RepairingReader reader(source);
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> chunk(1 + size % 777);
    for (;;) {
        const std::int64_t r = reader.read(out.size(), chunk.data(), chunk.size());
        FUZZ_CHECK(r >= 0, input);
        if (r == 0)
            break;
        out.insert(out.end(), chunk.begin(), chunk.begin() + r);
        // Every tag costs at least 15 output bytes from 15 input bytes, and the header 13.
        FUZZ_CHECK(out.size() <= size + 13, input);
    }
    if (!reader.valid()) {
        FUZZ_CHECK(out.empty(), input);
        FUZZ_CHECK(size < 9 || std::memcmp(data, "FLV", 3) != 0, input);
        return 0;
    }
    const char* why = nullptr;
    FUZZ_CHECK(is_well_formed(out.data(), out.size(), &why), input);
    const int kinds = kindsIn(out);
    FUZZ_CHECK(kinds >= 0, input);
    FUZZ_CHECK(reader.size() == out.size(), input);
    // Once there are tags, the header names exactly the kinds they hold.
    if (out.size() > 13)
        FUZZ_CHECK((out[4] & (kFlagAudio | kFlagVideo)) == kinds, input);

    std::minstd_rand random(std::uint32_t(size * 2654435761u));
    for (int i = 0; i < 16; ++i) {
        const std::uint64_t at = random() % (out.size() + 8);
        std::uint8_t buffer[64];
        const std::size_t length = 1 + random() % sizeof buffer;
        const std::int64_t r = reader.read(at, buffer, length);
        const std::size_t want =
            at >= out.size() ? 0 : std::min<std::size_t>(length, out.size() - std::size_t(at));
        FUZZ_CHECK(r == std::int64_t(want), input);
        FUZZ_CHECK(std::memcmp(buffer, out.data() + at, want) == 0, input);
    }

    const std::vector<std::uint8_t> original(data, data + size);
    const int originalKinds = kindsIn(original);
    if (originalKinds >= 0 && movarin::fuzz::flv_timestamps_run_forward(data, size) &&
        (size == 13 || (data[4] & (kFlagAudio | kFlagVideo)) == originalKinds))
        FUZZ_CHECK(out == original, input);
    return 0;
}
