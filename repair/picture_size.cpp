#include "repair/picture_size.h"

#include <algorithm>
#include <vector>

namespace movarin::repair {

namespace {

constexpr int kSorenson = 2;
constexpr int kVp6 = 4;
constexpr int kVp6Alpha = 5;
constexpr int kAvc = 7;
constexpr std::size_t kMaxSetUp = 64 * 1024;

// Bits, most significant first, never past the end (reads past it give zeros and set `over`).
struct Bits {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t bit = 0;
    bool over = false;

    std::uint32_t u(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) {
            over = over || bit / 8 >= size;
            v = (v << 1) | (over ? 0 : (data[bit / 8] >> (7 - bit % 8)) & 1);
        }
        return v;
    }
    std::uint32_t ue() {
        int zeros = 0;
        while (!over && u(1) == 0 && zeros < 32)
            ++zeros;
        return zeros >= 32 ? 0 : (std::uint32_t(1) << zeros) - 1 + u(zeros);
    }
    std::int32_t se() {
        const std::uint32_t k = ue();
        return k & 1 ? std::int32_t((k + 1) / 2) : -std::int32_t(k / 2);
    }
};

PictureSize sorenson(const std::uint8_t* p, std::size_t n) {
    Bits b{p, n};
    b.u(17 + 5 + 8); // start code, version, temporal reference
    static constexpr int fixed[][2] = {{352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120}};
    const std::uint32_t format = b.u(3);
    PictureSize s;
    if (format <= 1) {
        const int bits = format == 0 ? 8 : 16;
        s.width = int(b.u(bits));
        s.height = int(b.u(bits));
    } else if (format <= 6) {
        s = {fixed[format - 2][0], fixed[format - 2][1]};
    }
    return b.over ? PictureSize{} : s;
}

// `frame` is the VP6 frame; `adjust` the byte FLV puts before it, pixels cut off right and below.
PictureSize vp6(std::uint8_t adjust, const std::uint8_t* frame, std::size_t n) {
    if (n < 6 || (frame[0] & 0x80))
        return {}; // only a key frame names its size
    const bool skipOffset = (frame[0] & 1) || (frame[1] & 0x06) == 0;
    const std::size_t at = skipOffset ? 4 : 2;
    if (n < at + 2)
        return {};
    return {frame[at + 1] * 16 - (adjust >> 4), frame[at] * 16 - (adjust & 0x0f)};
}

void skipScalingList(Bits& b, int count) {
    int last = 8, next = 8;
    for (int j = 0; j < count && !b.over; ++j) {
        if (next != 0)
            next = (last + b.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

// An H.264 sequence parameter set, emulation bytes already taken out, NAL header first.
PictureSize sps(const std::vector<std::uint8_t>& rbsp) {
    Bits b{rbsp.data(), rbsp.size(), 8};
    const std::uint32_t profile = b.u(8);
    b.u(16);
    b.ue();
    std::uint32_t chroma = 1;
    static constexpr std::uint32_t high[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(high), std::end(high), profile) != std::end(high)) {
        chroma = b.ue();
        if (chroma == 3)
            b.u(1);
        b.ue();
        b.ue();
        b.u(1);
        if (b.u(1))
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i)
                if (b.u(1))
                    skipScalingList(b, i < 6 ? 16 : 64);
    }
    b.ue();
    const std::uint32_t pocType = b.ue();
    if (pocType == 0) {
        b.ue();
    } else if (pocType == 1) {
        b.u(1);
        b.se();
        b.se();
        for (std::uint32_t i = 0, n = b.ue(); i < n && !b.over; ++i)
            b.se();
    }
    b.ue();
    b.u(1);
    const std::uint32_t mbsWide = b.ue() + 1;
    const std::uint32_t mapsHigh = b.ue() + 1;
    const std::uint32_t frameOnly = b.u(1);
    if (!frameOnly)
        b.u(1);
    b.u(1);
    std::uint32_t crop[4] = {};
    if (b.u(1))
        for (auto& c : crop)
            c = b.ue();
    if (b.over || mbsWide > 1024 || mapsHigh > 1024)
        return {};
    const int unitX = chroma == 1 || chroma == 2 ? 2 : 1;
    const int unitY = (chroma == 1 ? 2 : 1) * (2 - int(frameOnly));
    return {int(mbsWide * 16) - unitX * int(crop[0] + crop[1]),
            int((2 - frameOnly) * mapsHigh * 16) - unitY * int(crop[2] + crop[3])};
}

// The decoder set-up (AVCDecoderConfigurationRecord) after the five bytes FLV puts first.
PictureSize avc(const std::uint8_t* p, std::size_t n) {
    if (n < 13 || p[1] != 0 || (p[10] & 0x1f) == 0)
        return {};
    const std::size_t length = (std::size_t(p[11]) << 8) | p[12];
    if (n < 13 + length || length < 4)
        return {};
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(length);
    for (std::size_t i = 13; i < 13 + length; ++i) {
        const std::size_t k = rbsp.size();
        if (p[i] == 3 && k >= 2 && rbsp[k - 1] == 0 && rbsp[k - 2] == 0)
            continue; // an emulation prevention byte
        rbsp.push_back(p[i]);
    }
    const PictureSize s = sps(rbsp);
    return s.known() ? s : PictureSize{};
}

} // namespace

std::size_t picture_size_needs(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    switch (data[0] & 0x0f) {
    case kSorenson:
    case kVp6:
    case kVp6Alpha:
        return (data[0] >> 4) == 1 ? std::min<std::size_t>(size, 16) : 0;
    case kAvc:
        return data[1] == 0 ? std::min(size, kMaxSetUp) : 0;
    default:
        return 0;
    }
}

PictureSize picture_size(const std::uint8_t* data, std::size_t size) {
    if (picture_size_needs(data, size) == 0)
        return {};
    switch (data[0] & 0x0f) {
    case kSorenson:
        return sorenson(data + 1, size - 1);
    case kVp6:
        return vp6(data[1], data + 2, size - 2);
    case kVp6Alpha:
        return size > 5 ? vp6(data[1], data + 5, size - 5) : PictureSize{};
    default:
        return avc(data, size);
    }
}

} // namespace movarin::repair
