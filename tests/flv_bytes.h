#pragma once

#include "flv/flv_forward.h"
#include "flv/flv_repair.h"

#include <QByteArray>
#include <QList>
#include <QtTest>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// FLV bytes for the tests: files written in memory, read back as the readers' source, and the
// tags of a well-formed file walked.
namespace movarin::testing {

// A file in memory as the readers see one; counts the reads made of it.
class MemorySource : public flv::ByteSource {
public:
    explicit MemorySource(QByteArray bytes) : data(std::move(bytes)) {}
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        ++reads;
        if (offset >= std::uint64_t(data.size()))
            return 0;
        const std::size_t n = std::min<std::size_t>(length, std::size_t(data.size()) - offset);
        std::memcpy(buffer, data.constData() + offset, n);
        return std::int64_t(n);
    }
    std::uint64_t size() override { return std::uint64_t(data.size()); }
    QByteArray data;
    int reads = 0;
};

// Appends `v` as `bytes` big-endian bytes.
inline void appendBe(QByteArray& b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.append(char(v >> (8 * i)));
}
// The `bytes` big-endian bytes at `at`, read or overwritten.
inline quint32 be(const QByteArray& b, qsizetype at, int bytes) {
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | std::uint8_t(b[at + i]);
    return v;
}
inline void putBe(QByteArray& b, qsizetype at, int bytes, quint32 v) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char(v >> (8 * (bytes - 1 - i)));
}

// A file header with `flags`, the data offset 9 and the first PreviousTagSize 0.
inline QByteArray flvHeader(std::uint8_t flags) {
    QByteArray b("FLV\x01", 4);
    b.append(char(flags));
    appendBe(b, 9, 4);
    appendBe(b, 0, 4);
    return b;
}
// A whole tag, stream id 0, followed by its size plus `previousSizeError`.
inline QByteArray flvTag(std::uint8_t type, std::uint32_t timestamp, const QByteArray& data,
                         int previousSizeError = 0) {
    QByteArray b;
    b.append(char(type));
    appendBe(b, std::uint64_t(data.size()), 3);
    appendBe(b, timestamp & 0xffffff, 3);
    b.append(char(timestamp >> 24));
    appendBe(b, 0, 3);
    b.append(data);
    appendBe(b, std::uint32_t(11 + data.size() + previousSizeError), 4);
    return b;
}

// A tag of a file: where it starts, its type, data size and timestamp.
struct FlvTag {
    qsizetype at = 0;
    int type = 0;
    qsizetype size = 0;
    quint32 timestamp = 0;
    qsizetype end() const { return at + 11 + size + 4; }
};
// The tags of a well-formed file, up to the first that runs past its end.
inline QList<FlvTag> tagsOf(const QByteArray& flv) {
    QList<FlvTag> tags;
    for (qsizetype at = 13; at + 11 <= flv.size();) {
        const FlvTag t{at, std::uint8_t(flv[at]) & 0x1f, be(flv, at + 1, 3),
                       be(flv, at + 4, 3) | (quint32(std::uint8_t(flv[at + 7])) << 24)};
        if (t.end() > flv.size())
            break;
        tags << t;
        at = t.end();
    }
    return tags;
}

// A tag of a clip made here.
struct ClipTag {
    std::uint8_t type;
    std::uint32_t timestamp;
    QByteArray data;
};
// A script tag, then video and audio tags 40 ms apart with payloads that look like real ones.
inline std::vector<ClipTag> clipTags(int count, bool audio = true, bool video = true,
                                     std::uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::vector<ClipTag> tags;
    tags.push_back(
        {18, 0, QByteArray("\x02\x00\x0aonMetaData\x08\x00\x00\x00\x00\x00\x00\x09", 19)});
    for (int i = 0; i < count; ++i) {
        const auto ts = std::uint32_t(i * 40);
        if (video) {
            QByteArray d(int(20 + random() % 400), Qt::Uninitialized);
            for (char& c : d)
                c = char(random());
            d[0] = char(i % 25 == 0 ? 0x12 : 0x22); // key/inter frame, H.263
            tags.push_back({9, ts, d});
        }
        if (audio) {
            QByteArray d(int(10 + random() % 200), Qt::Uninitialized);
            for (char& c : d)
                c = char(random());
            d[0] = char(0x2f); // MP3
            tags.push_back({8, ts + 3, d});
        }
    }
    return tags;
}
inline QByteArray tagBytes(const ClipTag& t, int previousSizeError = 0) {
    return flvTag(t.type, t.timestamp, t.data, previousSizeError);
}
// The header flags that say what the tags hold.
inline std::uint8_t flagsOf(const std::vector<ClipTag>& tags) {
    std::uint8_t f = 0;
    for (const ClipTag& t : tags)
        f |= t.type == 9 ? flv::kFlagVideo : t.type == 8 ? flv::kFlagAudio : 0;
    return f;
}
// A file of the tags behind a header with `flags`, each PreviousTagSize off by `previousSizeError`.
inline QByteArray flvFile(const std::vector<ClipTag>& tags, std::uint8_t flags,
                          int previousSizeError = 0) {
    QByteArray b = flvHeader(flags);
    for (const ClipTag& t : tags)
        b.append(tagBytes(t, previousSizeError));
    return b;
}
inline QByteArray wellFormed(const std::vector<ClipTag>& tags) {
    return flvFile(tags, flagsOf(tags));
}
// Offset just past the first video tag and its previous size; -1 without one.
inline qsizetype afterFirstVideoTag(const QByteArray& b) {
    for (qsizetype at = 13; at + 11 <= b.size();) {
        const qsizetype next = at + 11 + be(b, at + 1, 3) + 4;
        if (b[at] == 9)
            return next;
        at = next;
    }
    return -1;
}
// Rows "damaged", "expected" and "resynced": each damage a recorder or a disk does to a clip,
// the clip as it should have been, and whether the reader must resync to get there.
inline void addDamagedFileRows() {
    QTest::addColumn<QByteArray>("damaged");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("resynced");

    const std::vector<ClipTag> tags = clipTags(60);
    const QByteArray good = wellFormed(tags);
    QTest::newRow("well-formed passes through") << good << good << false;
    QTest::newRow("every previous size 4 too large")
        << flvFile(tags, flagsOf(tags), 4) << good << false;
    QTest::newRow("every previous size zero") << [&] {
        QByteArray b = flvHeader(flagsOf(tags));
        for (const ClipTag& t : tags)
            b.append(tagBytes(t).chopped(4)).append(QByteArray(4, '\0'));
        return b;
    }() << good << false;

    const qsizetype cut = afterFirstVideoTag(good);
    QTest::newRow("200 KiB of zeros after the first video tag")
        << QByteArray(good).insert(cut, QByteArray(200 * 1024, '\0')) << good << true;
    QTest::newRow("noise between tags") << [&] {
        std::mt19937 random(3);
        QByteArray noise(5000, Qt::Uninitialized);
        for (char& c : noise)
            c = char(random());
        return QByteArray(good).insert(cut, noise);
    }() << good << true;
    const QByteArray goodWithoutTagAtCut = [&] {
        QByteArray b = good;
        return b.remove(cut, 11 + be(b, cut + 1, 3) + 4);
    }();
    QTest::newRow("a bad tag type") <<
        [&] {
            QByteArray b = good;
            b[cut] = char(0x55);
            return b;
        }() <<
        // The damaged tag goes; the walk picks up at the one after it.
        goodWithoutTagAtCut << true;
    QTest::newRow("a size past the end") << [&] {
        QByteArray b = good;
        b[cut + 1] = char(0x7f);
        return b;
    }() << goodWithoutTagAtCut << true;

    const qsizetype lastTag = good.size() - (11 + tags.back().data.size() + 4);
    QTest::newRow("truncated mid-tag")
        << good.left(good.size() - 30) << good.left(lastTag) << false;
    QTest::newRow("truncated in the last previous size")
        << good.left(good.size() - 2) << good << false;
    QTest::newRow("only the header") << good.left(9) << good.left(13) << false;

    const std::vector<ClipTag> videoOnly = clipTags(30, false, true);
    QTest::newRow("header claims audio it lacks")
        << flvFile(videoOnly, flv::kFlagAudio | flv::kFlagVideo) << wellFormed(videoOnly) << false;
    QTest::newRow("header claims nothing") << flvFile(tags, 0) << good << false;
    const std::vector<ClipTag> audioOnly = clipTags(30, true, false);
    QTest::newRow("header claims video it lacks")
        << flvFile(audioOnly, flv::kFlagVideo) << wellFormed(audioOnly) << false;
    QTest::newRow("data offset far past the end") << [&] {
        QByteArray b = good;
        b[5] = char(0x7f);
        return b;
    }() << good << false;
}

// `length` bytes of a reader's stream at `at`, fewer at its end.
template <typename Reader>
QByteArray readFrom(Reader& reader, std::uint64_t at, std::size_t length) {
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    const std::int64_t r = reader.read(at, reinterpret_cast<std::uint8_t*>(out.data()), length);
    return out.left(qsizetype(std::max<std::int64_t>(r, 0)));
}
// All of a reader's stream from `from`, read in order in `chunk`s.
template <typename Reader>
QByteArray readAll(Reader& reader, std::size_t chunk = 1000, std::uint64_t from = 0) {
    QByteArray out;
    for (;;) {
        const QByteArray got = readFrom(reader, from + std::uint64_t(out.size()), chunk);
        if (got.isEmpty())
            return out;
        out.append(got);
    }
}
// All of a forward reader's stream, in reads of random length; `failures` counts the reads that
// failed on the way.
inline QByteArray readAll(flv::ForwardReader& reader, int* failures = nullptr) {
    QByteArray out;
    std::mt19937 random(5);
    std::vector<std::uint8_t> buffer(20000);
    for (;;) {
        const std::int64_t r = reader.read(buffer.data(), 1 + random() % buffer.size());
        if (r < 0 && failures) {
            ++*failures;
            continue;
        }
        if (r <= 0)
            return out;
        out.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(r));
    }
}

// A stream read once, in pieces of random size as a pipe gives them: `bytes`, then, when
// `repeat` is set, `tag` and `gap` zeros (or noise) over and over for ever.
class PipeLike : public flv::StreamSource {
public:
    explicit PipeLike(QByteArray head, std::uint32_t seed = 1)
        : bytes(std::move(head)), m_random(seed) {}
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override {
        if (calls++ == failAt)
            return -1;
        const std::size_t n = std::min<std::size_t>(length, 1 + m_random() % 70000);
        std::size_t done = 0;
        while (done < n) {
            std::size_t k = n - done;
            if (offset < std::uint64_t(bytes.size())) {
                k = std::min<std::size_t>(k, std::size_t(bytes.size() - qsizetype(offset)));
                std::memcpy(buffer + done, bytes.constData() + offset, k);
            } else if (!repeat) {
                break;
            } else {
                const std::uint64_t cycle = std::uint64_t(tag.size()) + gap;
                const std::uint64_t at = (offset - std::uint64_t(bytes.size())) % cycle;
                if (at < std::uint64_t(tag.size())) {
                    k = std::min<std::size_t>(k, std::size_t(std::uint64_t(tag.size()) - at));
                    std::memcpy(buffer + done, tag.constData() + at, k);
                } else {
                    k = std::min<std::size_t>(k, std::size_t(cycle - at));
                    for (std::size_t i = 0; i < k; ++i)
                        buffer[done + i] = noise ? std::uint8_t(m_random()) : 0;
                }
            }
            done += k;
            offset += k;
        }
        return std::int64_t(done);
    }
    QByteArray bytes;
    bool repeat = false;
    QByteArray tag;
    std::uint64_t gap = 0;
    bool noise = false;
    int failAt = -1;
    int calls = 0;
    std::uint64_t offset = 0;

private:
    std::minstd_rand m_random;
};

} // namespace movarin::testing
