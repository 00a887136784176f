// The FLV reader for pipes on any bytes, given in pieces of any size: it must end, an FLV must
// come out well-formed and the same however the pieces fall, a well-formed one unchanged, and
// anything else exactly as it went in.

#include "flv/flv_forward.h"
#include "flv/flv_repair.h"
#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

namespace {

using namespace movarin::flv;

class Pieces : public StreamSource {
public:
    Pieces(const std::uint8_t* data, std::size_t size, std::uint32_t seed)
        : m_data(data), m_size(size), m_random(seed) {}
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override {
        const std::size_t n = std::min({length, m_size - m_at, std::size_t(1 + m_random() % 300)});
        if (n > 0)
            std::memcpy(buffer, m_data + m_at, n);
        m_at += n;
        return std::int64_t(n);
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    std::minstd_rand m_random;
};

std::vector<std::uint8_t> readAll(const std::uint8_t* data, std::size_t size, std::uint32_t seed,
                                  std::string_view input) {
    Pieces source(data, size, seed);
    ForwardReader reader(source);
    std::vector<std::uint8_t> out;
    std::minstd_rand random(seed);
    for (;;) {
        std::uint8_t chunk[777];
        const std::int64_t r = reader.read(chunk, 1 + random() % sizeof chunk);
        FUZZ_CHECK(r >= 0, input);
        if (r == 0)
            return out;
        out.insert(out.end(), chunk, chunk + r);
        FUZZ_CHECK(out.size() <= size + 13, input);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> out = readAll(data, size, 1, input);
    FUZZ_CHECK(readAll(data, size, std::uint32_t(size) * 2654435761u, input) == out, input);
    const std::vector<std::uint8_t> original(data, data + size);
    if (size < 9 || !has_signature(data, size)) {
        FUZZ_CHECK(out == original, input);
        return 0;
    }
    FUZZ_CHECK(is_well_formed(out.data(), out.size()), input);
    FUZZ_CHECK(out[4] == data[4], input); // the flags stay as they came
    if (is_well_formed(data, size) && movarin::fuzz::flv_timestamps_run_forward(data, size))
        FUZZ_CHECK(out == original, input);
    return 0;
}
