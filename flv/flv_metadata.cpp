#include "flv/flv_metadata.h"

#include <bit>
#include <cstring>
#include <string_view>

namespace movarin::flv {

namespace {

enum Amf : std::uint8_t {
    kNumber = 0,
    kBool = 1,
    kString = 2,
    kObject = 3,
    kNull = 5,
    kUndefined = 6,
    kReference = 7,
    kEcmaArray = 8,
    kObjectEnd = 9,
    kStrictArray = 10,
    kDate = 11,
    kLongString = 12,
    kUnsupported = 13,
};

constexpr int kMaxDepth = 16;

// Reads AMF0 values from a body, never past its end.
struct Cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool ok = true;

    bool need(std::size_t n) {
        ok = ok && size - at >= n && at <= size;
        return ok;
    }
    std::uint64_t be(int bytes) {
        if (!need(std::size_t(bytes)))
            return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v = (v << 8) | data[at++];
        return v;
    }
    std::string_view name() {
        const std::size_t n = std::size_t(be(2));
        if (!need(n))
            return {};
        const std::string_view s(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return s;
    }
    void skip(std::size_t n) {
        if (need(n))
            at += n;
    }
    // Name/value pairs up to the end marker, each handed to `each(name, value start)`.
    template <typename F> void pairs(int depth, F each) {
        while (ok) {
            const std::string_view key = name();
            if (!ok)
                return;
            if (key.empty()) {
                ok = be(1) == kObjectEnd;
                return;
            }
            each(key, at);
            value(depth + 1);
        }
    }
    // Skips one value.
    void value(int depth) {
        if (depth > kMaxDepth) {
            ok = false;
            return;
        }
        switch (Amf(be(1))) {
        case kNumber:
            skip(8);
            break;
        case kBool:
            skip(1);
            break;
        case kString:
            name();
            break;
        case kObject:
            pairs(depth, [](std::string_view, std::size_t) {});
            break;
        case kNull:
        case kUndefined:
        case kUnsupported:
            break;
        case kReference:
            skip(2);
            break;
        case kEcmaArray:
            skip(4);
            pairs(depth, [](std::string_view, std::size_t) {});
            break;
        case kStrictArray: {
            const std::uint64_t n = be(4);
            for (std::uint64_t i = 0; i < n && ok; ++i)
                value(depth + 1);
            break;
        }
        case kDate:
            skip(10);
            break;
        case kLongString:
            skip(std::size_t(be(4)));
            break;
        default:
            ok = false;
        }
    }
};

double toDouble(std::uint64_t bits) {
    return std::bit_cast<double>(bits);
}

// Whether a keyframes object holds times and file positions of the same count, two or more.
bool realIndex(const std::uint8_t* data, std::size_t size, std::size_t at) {
    Cursor c{data, size, at};
    if (c.be(1) != kObject)
        return false;
    std::uint64_t times = 0, positions = 0;
    c.pairs(1, [&](std::string_view key, std::size_t valueAt) {
        if (valueAt < size && data[valueAt] == kStrictArray && valueAt + 5 <= size) {
            Cursor n{data, size, valueAt + 1};
            const std::uint64_t count = n.be(4);
            if (key == "times")
                times = count;
            else if (key == "filepositions")
                positions = count;
        }
    });
    return c.ok && times >= 2 && times == positions;
}

void put(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}
void putName(std::vector<std::uint8_t>& out, std::string_view name) {
    put(out, name.size(), 2);
    out.insert(out.end(), name.begin(), name.end());
}
void putNumber(std::vector<std::uint8_t>& out, double v) {
    out.push_back(kNumber);
    put(out, std::bit_cast<std::uint64_t>(v), 8);
}

constexpr std::string_view kOnMetaData = "onMetaData";

} // namespace

bool is_onmetadata(const std::uint8_t* body, std::size_t size) {
    return size >= 3 + kOnMetaData.size() && body[0] == kString && body[1] == 0 &&
           body[2] == kOnMetaData.size() &&
           std::memcmp(body + 3, kOnMetaData.data(), kOnMetaData.size()) == 0;
}

MetaData parse_metadata(const std::uint8_t* body, std::size_t size) {
    MetaData meta;
    if (!is_onmetadata(body, size))
        return meta;
    Cursor c{body, size, 3 + kOnMetaData.size()};
    const std::uint64_t type = c.be(1);
    if (type == kEcmaArray)
        c.skip(4);
    else if (type != kObject)
        return meta;
    std::vector<std::pair<std::string, std::size_t>> starts;
    c.pairs(0, [&](std::string_view key, std::size_t valueAt) {
        starts.emplace_back(std::string(key), valueAt);
    });
    // A writer may leave the end marker off the last array; what was read stands.
    if (!c.ok && starts.empty())
        return meta;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const auto& [key, from] = starts[i];
        Cursor v{body, size, from};
        v.value(1);
        if (!v.ok)
            break;
        if (key == "duration") {
            if (body[from] == kNumber) {
                const double d = toDouble(Cursor{body, size, from + 1}.be(8));
                meta.duration = d > 0 && d < 1e9 ? d : 0;
            }
            continue;
        }
        if (key == "keyframes") {
            meta.hasIndex = realIndex(body, size, from);
            continue;
        }
        meta.entries.emplace_back(key, std::vector<std::uint8_t>(body + from, body + v.at));
    }
    meta.parsed = true;
    return meta;
}

std::vector<std::uint8_t> metadata_tag(const MetaData& kept, double duration,
                                       const KeyframeIndex& index) {
    std::vector<std::uint8_t> body;
    body.push_back(kString);
    putName(body, kOnMetaData);
    body.push_back(kEcmaArray);
    put(body, kept.entries.size() + 1 + (index.times.empty() ? 0 : 1), 4);
    for (const auto& [key, value] : kept.entries) {
        putName(body, key);
        body.insert(body.end(), value.begin(), value.end());
    }
    putName(body, "duration");
    putNumber(body, duration);
    if (!index.times.empty()) {
        putName(body, "keyframes");
        body.push_back(kObject);
        // Times in seconds, a little past the millisecond, so that reading them back as whole
        // milliseconds never rounds one down.
        putName(body, "times");
        body.push_back(kStrictArray);
        put(body, index.times.size(), 4);
        for (const std::uint32_t ms : index.times)
            putNumber(body, (double(ms) + 0.25) / 1000.0);
        putName(body, "filepositions");
        body.push_back(kStrictArray);
        put(body, index.positions.size(), 4);
        for (const std::uint64_t p : index.positions)
            putNumber(body, double(p));
        put(body, 0, 2);
        body.push_back(kObjectEnd);
    }
    put(body, 0, 2);
    body.push_back(kObjectEnd);

    std::vector<std::uint8_t> tag;
    tag.reserve(body.size() + 15);
    tag.push_back(18);
    put(tag, body.size(), 3);
    put(tag, 0, 4); // timestamp 0: the demuxer takes only such a tag as the file's metadata
    put(tag, 0, 3);
    tag.insert(tag.end(), body.begin(), body.end());
    put(tag, body.size() + 11, 4);
    return tag;
}

} // namespace movarin::flv
