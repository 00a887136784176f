#include "flv_bytes.h"

#include <QtTest>

#include <algorithm>
#include <cstring>

namespace movarin::testing {

std::int64_t MemorySource::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
    ++reads;
    if (offset >= std::uint64_t(data.size()))
        return 0;
    const std::size_t n = std::min<std::size_t>(length, std::size_t(data.size()) - offset);
    std::memcpy(buffer, data.constData() + offset, n);
    return std::int64_t(n);
}

void appendBe(QByteArray& b, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.append(char(v >> (8 * i)));
}

quint32 be(const QByteArray& b, qsizetype at, int bytes) {
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | std::uint8_t(b[at + i]);
    return v;
}

void putBe(QByteArray& b, qsizetype at, int bytes, quint32 v) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char(v >> (8 * (bytes - 1 - i)));
}

QByteArray flvHeader(std::uint8_t flags) {
    QByteArray b("FLV\x01", 4);
    b.append(char(flags));
    appendBe(b, 9, 4);
    appendBe(b, 0, 4);
    return b;
}

QByteArray flvTag(std::uint8_t type, std::uint32_t timestamp, const QByteArray& data,
                  int previousSizeError) {
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

QList<FlvTag> tagsOf(const QByteArray& flv) {
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

std::vector<ClipTag> clipTags(int count, bool audio, bool video, std::uint32_t seed) {
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

QByteArray tagBytes(const ClipTag& t, int previousSizeError) {
    return flvTag(t.type, t.timestamp, t.data, previousSizeError);
}

std::uint8_t flagsOf(const std::vector<ClipTag>& tags) {
    std::uint8_t f = 0;
    for (const ClipTag& t : tags)
        f |= t.type == 9 ? flv::kFlagVideo : t.type == 8 ? flv::kFlagAudio : 0;
    return f;
}

QByteArray flvFile(const std::vector<ClipTag>& tags, std::uint8_t flags, int previousSizeError) {
    QByteArray b = flvHeader(flags);
    for (const ClipTag& t : tags)
        b.append(tagBytes(t, previousSizeError));
    return b;
}

QByteArray wellFormed(const std::vector<ClipTag>& tags) {
    return flvFile(tags, flagsOf(tags));
}

qsizetype afterFirstVideoTag(const QByteArray& b) {
    for (qsizetype at = 13; at + 11 <= b.size();) {
        const qsizetype next = at + 11 + be(b, at + 1, 3) + 4;
        if (b[at] == 9)
            return next;
        at = next;
    }
    return -1;
}

void addDamagedFileRows() {
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
        const auto size = (std::uint8_t(b[cut + 1]) << 16) | (std::uint8_t(b[cut + 2]) << 8) |
                          std::uint8_t(b[cut + 3]);
        return b.remove(cut, 11 + size + 4);
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

QByteArray readAll(flv::RepairingReader& reader, std::size_t chunk) {
    QByteArray out;
    std::vector<std::uint8_t> buffer(chunk);
    for (;;) {
        const std::int64_t r = reader.read(std::uint64_t(out.size()), buffer.data(), chunk);
        if (r <= 0)
            return out;
        out.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(r));
    }
}

QByteArray readAll(flv::ForwardReader& reader, int* failures) {
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

} // namespace movarin::testing
