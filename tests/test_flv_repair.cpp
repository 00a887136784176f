// The repairing FLV reader on small files written here: each damage a recorder or a disk can do,
// read back sequentially and at random offsets, against the file as it should have been.
#include "flv/flv_forward.h"
#include "flv/flv_repair.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cstring>
#include <functional>
#include <random>

using namespace movarin::flv;

namespace {

using Bytes = QByteArray;

class MemorySource : public ByteSource {
public:
    explicit MemorySource(Bytes bytes) : data(std::move(bytes)) {}
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset >= std::uint64_t(data.size()))
            return 0;
        const std::size_t n = std::min<std::size_t>(length, std::size_t(data.size()) - offset);
        std::memcpy(buffer, data.constData() + offset, n);
        return std::int64_t(n);
    }
    std::uint64_t size() override { return std::uint64_t(data.size()); }
    Bytes data;
};

void put24(Bytes& b, std::uint32_t v) {
    b.append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}
void put32(Bytes& b, std::uint32_t v) {
    b.append(char(v >> 24));
    put24(b, v);
}

struct Tag {
    std::uint8_t type;
    std::uint32_t timestamp;
    Bytes data;
};

// Pieces of bytes at given offsets, zeros everywhere else: gigabytes that cost no memory.
class PiecesSource : public ByteSource {
public:
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        if (offset >= total)
            return 0;
        const std::size_t n = std::size_t(std::min<std::uint64_t>(length, total - offset));
        std::memset(buffer, 0, n);
        auto it = std::upper_bound(pieces.begin(), pieces.end(), offset,
                                   [](std::uint64_t o, const Piece& p) { return o < p.at; });
        if (it != pieces.begin())
            --it;
        for (; it != pieces.end() && it->at < offset + n; ++it) {
            const std::uint64_t from = std::max(offset, it->at);
            const std::uint64_t to = std::min(offset + n, it->at + std::uint64_t(it->bytes.size()));
            if (from < to)
                std::memcpy(buffer + (from - offset), it->bytes.constData() + (from - it->at),
                            std::size_t(to - from));
        }
        bytesRead += n;
        return std::int64_t(n);
    }
    std::uint64_t size() override { return total; }
    bool cancelled() override { return cancel; }
    // Bytes at the end, or after a gap of zeros.
    void add(const Bytes& bytes, std::uint64_t gap = 0) {
        total += gap;
        pieces.push_back({total, bytes});
        total += std::uint64_t(bytes.size());
    }
    struct Piece {
        std::uint64_t at;
        Bytes bytes;
    };
    std::vector<Piece> pieces;
    std::uint64_t total = 0;
    std::uint64_t bytesRead = 0;
    bool cancel = false;
};

Bytes header(std::uint8_t flags) {
    Bytes b("FLV\x01", 4);
    b.append(char(flags));
    put32(b, 9);
    put32(b, 0);
    return b;
}

Bytes tagBytes(const Tag& t, int previousSizeError = 0) {
    Bytes b;
    b.append(char(t.type));
    put24(b, std::uint32_t(t.data.size()));
    put24(b, t.timestamp & 0xffffff);
    b.append(char(t.timestamp >> 24));
    put24(b, 0);
    b.append(t.data);
    put32(b, std::uint32_t(11 + t.data.size() + previousSizeError));
    return b;
}

// A script tag, then video and audio tags 40 ms apart with payloads that look like real ones.
std::vector<Tag> clipTags(int count, bool audio = true, bool video = true, std::uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::vector<Tag> tags;
    tags.push_back({18, 0, Bytes("\x02\x00\x0aonMetaData\x08\x00\x00\x00\x00\x00\x00\x09", 19)});
    for (int i = 0; i < count; ++i) {
        const auto ts = std::uint32_t(i * 40);
        if (video) {
            Bytes d(int(20 + random() % 400), Qt::Uninitialized);
            for (char& c : d)
                c = char(random());
            d[0] = char(i % 25 == 0 ? 0x12 : 0x22); // key/inter frame, H.263
            tags.push_back({9, ts, d});
        }
        if (audio) {
            Bytes d(int(10 + random() % 200), Qt::Uninitialized);
            for (char& c : d)
                c = char(random());
            d[0] = char(0x2f); // MP3
            tags.push_back({8, ts + 3, d});
        }
    }
    return tags;
}

std::uint8_t flagsOf(const std::vector<Tag>& tags) {
    std::uint8_t f = 0;
    for (const Tag& t : tags)
        f |= t.type == 9 ? kFlagVideo : t.type == 8 ? kFlagAudio : 0;
    return f;
}

Bytes file(const std::vector<Tag>& tags, std::uint8_t flags, int previousSizeError = 0) {
    Bytes b = header(flags);
    for (const Tag& t : tags)
        b.append(tagBytes(t, previousSizeError));
    return b;
}

Bytes wellFormed(const std::vector<Tag>& tags) {
    return file(tags, flagsOf(tags));
}

Bytes readAll(RepairingReader& reader, std::size_t chunk = 1000) {
    Bytes out;
    std::vector<std::uint8_t> buffer(chunk);
    for (;;) {
        const std::int64_t r = reader.read(std::uint64_t(out.size()), buffer.data(), chunk);
        if (r <= 0)
            return out;
        out.append(reinterpret_cast<const char*>(buffer.data()), qsizetype(r));
    }
}

// The first tag start at or after `from` in a well-formed file.
qsizetype tagStartAfter(const Bytes& b, qsizetype from) {
    qsizetype at = 13;
    while (at < from)
        at += 11 +
              ((std::uint8_t(b[at + 1]) << 16) | (std::uint8_t(b[at + 2]) << 8) |
               std::uint8_t(b[at + 3])) +
              4;
    return at;
}

// Offset just past the first video tag and its previous size.
qsizetype afterFirstVideoTag(const Bytes& b) {
    qsizetype at = 13;
    while (at + 11 <= b.size()) {
        const auto size = (std::uint8_t(b[at + 1]) << 16) | (std::uint8_t(b[at + 2]) << 8) |
                          std::uint8_t(b[at + 3]);
        const qsizetype next = at + 11 + size + 4;
        if (b[at] == 9)
            return next;
        at = next;
    }
    return -1;
}

// A stream read once, in pieces of random size as a pipe gives them: `bytes`, then, when
// `repeat` is set, `tag` and `gap` zeros (or noise) over and over for ever.
class PipeLike : public StreamSource {
public:
    explicit PipeLike(Bytes head, std::uint32_t seed = 1)
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
    Bytes bytes;
    bool repeat = false;
    Bytes tag;
    std::uint64_t gap = 0;
    bool noise = false;
    int failAt = -1;
    int calls = 0;
    std::uint64_t offset = 0;

private:
    std::minstd_rand m_random;
};

// All of a forward reader's stream, in reads of random length; `failures` counts the reads that
// failed on the way.
Bytes readAll(ForwardReader& reader, int* failures = nullptr) {
    Bytes out;
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

} // namespace

class TestFlvRepair : public QObject {
    Q_OBJECT
private slots:
    void repairs_data() {
        QTest::addColumn<Bytes>("damaged");
        QTest::addColumn<Bytes>("expected");
        QTest::addColumn<bool>("resynced");

        const std::vector<Tag> tags = clipTags(60);
        const Bytes good = wellFormed(tags);
        QTest::newRow("well-formed passes through") << good << good << false;
        QTest::newRow("every previous size 4 too large")
            << file(tags, flagsOf(tags), 4) << good << false;
        QTest::newRow("every previous size zero") << [&] {
            Bytes b = header(flagsOf(tags));
            for (const Tag& t : tags)
                b.append(tagBytes(t).chopped(4)).append(Bytes(4, '\0'));
            return b;
        }() << good << false;

        const qsizetype cut = afterFirstVideoTag(good);
        QTest::newRow("200 KiB of zeros after the first video tag")
            << Bytes(good).insert(cut, Bytes(200 * 1024, '\0')) << good << true;
        QTest::newRow("noise between tags") << [&] {
            std::mt19937 random(3);
            Bytes noise(5000, Qt::Uninitialized);
            for (char& c : noise)
                c = char(random());
            return Bytes(good).insert(cut, noise);
        }() << good << true;
        const Bytes goodWithoutTagAtCut = [&] {
            Bytes b = good;
            const auto size = (std::uint8_t(b[cut + 1]) << 16) | (std::uint8_t(b[cut + 2]) << 8) |
                              std::uint8_t(b[cut + 3]);
            return b.remove(cut, 11 + size + 4);
        }();
        QTest::newRow("a bad tag type") <<
            [&] {
                Bytes b = good;
                b[cut] = char(0x55);
                return b;
            }() <<
            // The damaged tag goes; the walk picks up at the one after it.
            goodWithoutTagAtCut << true;
        QTest::newRow("a size past the end") << [&] {
            Bytes b = good;
            b[cut + 1] = char(0x7f);
            return b;
        }() << goodWithoutTagAtCut << true;

        const qsizetype lastTag = good.size() - (11 + tags.back().data.size() + 4);
        QTest::newRow("truncated mid-tag")
            << good.left(good.size() - 30) << good.left(lastTag) << false;
        QTest::newRow("truncated in the last previous size")
            << good.left(good.size() - 2) << good << false;
        QTest::newRow("only the header") << good.left(9) << good.left(13) << false;

        const std::vector<Tag> videoOnly = clipTags(30, false, true);
        QTest::newRow("header claims audio it lacks")
            << file(videoOnly, kFlagAudio | kFlagVideo) << wellFormed(videoOnly) << false;
        QTest::newRow("header claims nothing") << file(tags, 0) << good << false;
        const std::vector<Tag> audioOnly = clipTags(30, true, false);
        QTest::newRow("header claims video it lacks")
            << file(audioOnly, kFlagVideo) << wellFormed(audioOnly) << false;
        QTest::newRow("data offset far past the end") << [&] {
            Bytes b = good;
            b[5] = char(0x7f);
            return b;
        }() << good << false;
    }

    void repairs() {
        QFETCH(Bytes, damaged);
        QFETCH(Bytes, expected);
        QFETCH(bool, resynced);
        MemorySource source(damaged);
        RepairingReader reader(source);
        QVERIFY(reader.valid());
        const Bytes out = readAll(reader);
        const char* why = "";
        QVERIFY2(is_well_formed(reinterpret_cast<const std::uint8_t*>(out.constData()),
                                std::size_t(out.size()), &why),
                 why);
        QCOMPARE(out.size(), expected.size());
        QVERIFY(out == expected);
        QCOMPARE(reader.size(), std::uint64_t(expected.size()));
        QCOMPARE(reader.stats().resyncs > 0, resynced);
    }

    // Seeks anywhere, in any order, read the same bytes as one pass from the start; with many
    // tags the index stays within its bound.
    void randomAccessMatchesSequential_data() {
        QTest::addColumn<int>("pairs");
        QTest::addColumn<bool>("garbage");
        QTest::newRow("short clip") << 40 << false;
        QTest::newRow("long clip, thinned index") << 40000 << false;
        QTest::newRow("long clip with garbage") << 6000 << true;
    }
    void randomAccessMatchesSequential() {
        QFETCH(int, pairs);
        QFETCH(bool, garbage);
        const std::vector<Tag> tags = clipTags(pairs);
        const Bytes good = wellFormed(tags);
        Bytes damaged = header(0);
        for (std::size_t i = 0; i < tags.size(); ++i) {
            damaged.append(tagBytes(tags[i], 4));
            if (garbage && i % 500 == 499)
                damaged.append(Bytes(3000, '\0'));
        }
        MemorySource source(damaged);
        RepairingReader reader(source);
        std::mt19937 random(11);
        std::vector<std::uint8_t> buffer(70000);
        for (int i = 0; i < 400; ++i) {
            const std::uint64_t at = random() % std::uint64_t(good.size() + 50);
            const std::size_t length = 1 + random() % (i % 10 == 0 ? 70000 : 300);
            const std::int64_t r = reader.read(at, buffer.data(), length);
            const std::int64_t want = std::clamp<std::int64_t>(
                std::int64_t(good.size()) - std::int64_t(at), 0, std::int64_t(length));
            QCOMPARE(r, want);
            QVERIFY(std::memcmp(buffer.data(), good.constData() + at, std::size_t(r)) == 0);
        }
        QCOMPARE(reader.size(), std::uint64_t(good.size()));
        QVERIFY(reader.stats().checkpoints <= RepairingReader::kMaxCheckpoints);
        QCOMPARE(reader.stats().tags, std::uint64_t(tags.size()));
    }

    // A file that is cut to nothing while it is read ends the stream instead of inventing data;
    // one that grows again shows the new tags.
    void fileChangesWhileRead() {
        const std::vector<Tag> tags = clipTags(50);
        const Bytes good = wellFormed(tags);
        MemorySource source(good.left(good.size() / 2));
        RepairingReader reader(source);
        const Bytes firstHalf = readAll(reader);
        QVERIFY(firstHalf.size() > 1000 && good.startsWith(firstHalf));
        source.data = good;
        QCOMPARE(readAll(reader), good);
        source.data.clear();
        std::uint8_t buffer[64];
        QCOMPARE(reader.read(5000, buffer, sizeof buffer), std::int64_t(0));
        QCOMPARE(reader.read(good.size(), buffer, sizeof buffer), std::int64_t(0));
    }

    void notFlv() {
        MemorySource source(Bytes("This is a shopping list, not a video.\n"));
        RepairingReader reader(source);
        QVERIFY(!reader.valid());
        std::uint8_t buffer[16];
        QCOMPARE(reader.read(0, buffer, sizeof buffer), std::int64_t(0));
        MemorySource empty{Bytes()};
        QVERIFY(!RepairingReader(empty).valid());
        QVERIFY(!has_signature(reinterpret_cast<const std::uint8_t*>("FL"), 2));
        QVERIFY(has_signature(reinterpret_cast<const std::uint8_t*>("FLV"), 3));
    }

    // The checker the fuzz target relies on must catch each fault itself.
    void checkerCatchesFaults_data() {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<bool>("wellFormed");
        const Bytes good = wellFormed(clipTags(5));
        QTest::newRow("good") << good << true;
        QTest::newRow("header only") << good.left(13) << true;
        QTest::newRow("short header") << good.left(12) << false;
        QTest::newRow("cut tag") << good.chopped(1) << false;
        QTest::newRow("trailing byte") << good + Bytes(1, '\0') << false;
        QTest::newRow("bad previous size") << file(clipTags(5), 5, 4) << false;
        QTest::newRow("bad type") << [&] {
            Bytes b = good;
            b[13] = char(7);
            return b;
        }() << false;
        QTest::newRow("bad offset") << [&] {
            Bytes b = good;
            b[8] = char(10);
            return b;
        }() << false;
    }
    void checkerCatchesFaults() {
        QFETCH(Bytes, bytes);
        QFETCH(bool, wellFormed);
        QCOMPARE(is_well_formed(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                std::size_t(bytes.size())),
                 wellFormed);
    }

    // Garbage is scanned once however the stream is read, and a run too long to be damage in a
    // recording ends the stream there instead of keeping a core busy: what came before plays,
    // and when that holds no picture the file is not one to play.
    void longGarbageRuns_data() {
        QTest::addColumn<qsizetype>("split");
        QTest::addColumn<std::uint64_t>("gap");
        QTest::addColumn<int>("tailTags");
        QTest::addColumn<QString>("plays");
        const std::uint64_t giB2 = std::uint64_t(2) << 30;
        QTest::newRow("1 MiB of zeros after the first video tag")
            << qsizetype(-1) << (std::uint64_t(1) << 20) << 0 << "all";
        QTest::newRow("2 GiB of zeros, then the whole clip")
            << qsizetype(13) << giB2 << -1 << "nothing";
        QTest::newRow("2 GiB of zeros, then one tag") << qsizetype(13) << giB2 << 1 << "nothing";
        QTest::newRow("one tag, 2 GiB of zeros, then the clip")
            << qsizetype(-2) << giB2 << -1 << "nothing";
        QTest::newRow("half the clip, 2 GiB of zeros, then the clip")
            << qsizetype(-3) << giB2 << -1 << "before";
    }
    void longGarbageRuns() {
        QFETCH(qsizetype, split);
        QFETCH(std::uint64_t, gap);
        QFETCH(int, tailTags);
        QFETCH(QString, plays);
        const Bytes good = wellFormed(clipTags(200));
        const qsizetype firstTagEnd = 13 + 11 + 19 + 4; // the script tag
        const qsizetype at = split == -1   ? afterFirstVideoTag(good)
                             : split == -2 ? firstTagEnd
                             : split == -3 ? tagStartAfter(good, good.size() / 2)
                                           : split;
        const Bytes tail = tailTags == 0 ? good.mid(at)
                           : tailTags < 0
                               ? good.mid(13)
                               : good.mid(firstTagEnd, afterFirstVideoTag(good) - firstTagEnd);
        PiecesSource source;
        source.add(good.left(at));
        source.add(tail, gap);
        QElapsedTimer clock;
        clock.start();
        RepairingReader reader(source);
        QCOMPARE(reader.valid(), plays != "nothing");
        // Small reads, as the engine makes them: every one lands in a tag near the garbage.
        const Bytes out = readAll(reader, 64);
        const qint64 ms = clock.elapsed();
        qInfo("%llu bytes read from the source in %lld ms", qulonglong(source.bytesRead), ms);
        if (plays == "all")
            QVERIFY(out == good);
        else if (plays == "before")
            QVERIFY(out == good.left(at));
        else
            QVERIFY(out.isEmpty());
        QCOMPARE(reader.size(), std::uint64_t(out.size()));
        const std::uint64_t before = source.bytesRead;
        QVERIFY(readAll(reader, 64) == out); // read again: nothing is scanned twice
        QVERIFY(source.bytesRead - before < std::uint64_t(good.size()) * 2);
        const std::uint64_t bound = std::min<std::uint64_t>(gap, RepairingReader::kMaxResyncScan) +
                                    std::uint64_t(good.size()) * 4;
        QVERIFY2(before < bound, qPrintable(QString::number(before)));
        QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
    }

    // Garbage in many runs, each short of what one resync gives up on, costs a bounded scan in
    // all, while a long recording keeps its damaged places and a short clip with a few plays
    // whole. The tags are big pictures of zeros: whole gigabytes of them, walked but never read.
    void garbageInAllIsBounded_data() {
        QTest::addColumn<int>("pictures");
        QTest::addColumn<int>("pictureKiB");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("runMiB");
        QTest::addColumn<bool>("whole");
        QTest::newRow("200 runs of 60 MiB, one picture between each")
            << 400 << 1 << 200 << 60 << false;
        QTest::newRow("4 runs of 60 MiB in a short clip") << 400 << 1 << 4 << 60 << true;
        QTest::newRow("300 runs of 1 MiB in a 1.2 GiB recording")
            << 1200 << 1024 << 300 << 1 << true;
        QTest::newRow("100 runs of 60 MiB in an 8 GiB recording")
            << 1000 << 8000 << 100 << 60 << false;
    }
    void garbageInAllIsBounded() {
        QFETCH(int, pictures);
        QFETCH(int, pictureKiB);
        QFETCH(int, runs);
        QFETCH(int, runMiB);
        QFETCH(bool, whole);
        PiecesSource source;
        source.add(header(kFlagVideo));
        const std::uint64_t tagSize = std::uint64_t(pictureKiB) * 1024 + 15;
        for (int i = 0; i < pictures; ++i) {
            // A picture's header, its first data byte and its trailer; the rest are zeros.
            Bytes head = tagBytes({9, std::uint32_t(i * 40), Bytes(1, char(0x12))});
            head[1] = char((tagSize - 15) >> 16);
            head[2] = char((tagSize - 15) >> 8);
            head[3] = char(tagSize - 15);
            Bytes trailer;
            put32(trailer, std::uint32_t(tagSize - 4));
            const int every = std::max(1, pictures / runs);
            const bool run = i % every == 0 && i / every < runs;
            source.add(head.left(12), run ? std::uint64_t(runMiB) << 20 : 0);
            source.add(trailer, tagSize - 16);
        }
        QElapsedTimer clock;
        clock.start();
        RepairingReader reader(source);
        QVERIFY(reader.valid());
        const std::uint64_t size = reader.size();
        std::uint8_t buffer[64];
        QVERIFY(reader.read(size / 2, buffer, sizeof buffer) > 0 || size < 100);
        const qint64 ms = clock.elapsed();
        const RepairingReader::Stats stats = reader.stats();
        qInfo("%llu of %d pictures, %llu resyncs, %llu MiB dropped, %llu MiB read in %lld ms",
              qulonglong(stats.tags), pictures, qulonglong(stats.resyncs),
              qulonglong(stats.droppedBytes >> 20), qulonglong(source.bytesRead >> 20), ms);
        QCOMPARE(stats.tags == std::uint64_t(pictures), whole);
        if (whole)
            QCOMPARE(size, 13 + tagSize * std::uint64_t(pictures));
        QVERIFY(stats.droppedBytes <= RepairingReader::kMaxGarbage);
        // Scanned once, whatever the reads: garbage, the last run given up on, and the headers.
        QVERIFY2(source.bytesRead <= stats.droppedBytes + RepairingReader::kMaxResyncScan +
                                         std::uint64_t(pictures) * 2 * 4096,
                 qPrintable(QString::number(source.bytesRead)));
        QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
    }

    // Timestamps that run backwards or start again carry on forwards at the stream's own pace;
    // jitter and repeats stay where they were.
    void steadyTimestamps_data() {
        QTest::addColumn<QList<quint32>>("given");
        QTest::addColumn<QList<quint32>>("handed");
        QTest::newRow("forwards") << QList<quint32>{0, 40, 80, 1200}
                                  << QList<quint32>{0, 40, 80, 1200};
        QTest::newRow("backwards")
            << QList<quint32>{9960, 9920, 9880, 9840} << QList<quint32>{9960, 10000, 10040, 10080};
        QTest::newRow("backwards, sound's uneven steps")
            << QList<quint32>{130, 104, 78, 52, 26} << QList<quint32>{130, 156, 182, 208, 234};
        QTest::newRow("starts again")
            << QList<quint32>{5000, 5040, 5080, 0, 40} << QList<quint32>{5000, 5040, 5080, 0, 40};
        QTest::newRow("starts again after running backwards")
            << QList<quint32>{9960, 9920, 9880, 0, 40} << QList<quint32>{9960, 10000, 10040, 0, 40};
        QTest::newRow("a second back is still a step")
            << QList<quint32>{5000, 5040, 4040, 4080} << QList<quint32>{5000, 5040, 5080, 5120};
        QTest::newRow("a millisecond of jitter")
            << QList<quint32>{0, 40, 80, 79, 120} << QList<quint32>{0, 40, 80, 80, 120};
        QTest::newRow("repeats") << QList<quint32>{0, 0, 40, 40, 80}
                                 << QList<quint32>{0, 0, 40, 40, 80};
        QTest::newRow("near the end of the clock")
            << QList<quint32>{0xffffffe0u, 0xffffffb8u} << QList<quint32>{0xffffffe0u, 0xffffffffu};
    }
    void steadyTimestamps() {
        QFETCH(QList<quint32>, given);
        QFETCH(QList<quint32>, handed);
        TagClock clock;
        QList<quint32> out;
        for (quint32 t : given)
            out << steady_timestamp(clock, t);
        QCOMPARE(out, handed);
    }

    // A clip whose timestamps run backwards reads as the same tags with each kind's timestamps
    // moving forwards by its own step, the same wherever it is read from.
    void backwardsTimestampsRunForwards() {
        std::vector<Tag> tags = clipTags(300);
        for (Tag& t : tags)
            if (t.type != 18)
                t.timestamp = 20000 - t.timestamp;
        const Bytes damaged = wellFormed(tags);
        MemorySource source(damaged);
        RepairingReader reader(source);
        const Bytes out = readAll(reader, 777);
        QCOMPARE(out.size(), damaged.size());
        qint64 last[2] = {-1, -1};
        int tagsSeen = 0;
        for (qsizetype at = 13; at < out.size(); ++tagsSeen) {
            const auto size = (std::uint8_t(out[at + 1]) << 16) | (std::uint8_t(out[at + 2]) << 8) |
                              std::uint8_t(out[at + 3]);
            const qint64 ts = (std::uint8_t(out[at + 4]) << 16) | (std::uint8_t(out[at + 5]) << 8) |
                              std::uint8_t(out[at + 6]) | (qint64(std::uint8_t(out[at + 7])) << 24);
            const int kind = out[at] == 9 ? 1 : out[at] == 8 ? 0 : -1;
            if (kind >= 0) {
                QVERIFY2(last[kind] < 0 || ts == last[kind] + 40,
                         qPrintable(QString("%1 after %2").arg(ts).arg(last[kind])));
                last[kind] = ts;
            }
            // Only the timestamps differ.
            QVERIFY(out.mid(at, 4) == damaged.mid(at, 4));
            QVERIFY(out.mid(at + 8, 11 + size + 4 - 8) == damaged.mid(at + 8, 11 + size + 4 - 8));
            at += 11 + size + 4;
        }
        QCOMPARE(tagsSeen, int(tags.size()));
        QCOMPARE(last[1], 20000 + 299 * 40);

        // The same bytes down a pipe, read once in pieces, come out the same.
        PipeLike pipe(damaged, 3);
        ForwardReader forward(pipe);
        Bytes fromPipe = readAll(forward);
        QCOMPARE(fromPipe.size(), out.size());
        fromPipe[4] = out[4];
        QVERIFY(fromPipe == out);

        MemorySource again(damaged);
        RepairingReader other(again);
        std::mt19937 random(5);
        std::vector<std::uint8_t> buffer(4000);
        for (int i = 0; i < 300; ++i) {
            const std::uint64_t at = random() % std::uint64_t(out.size());
            const std::int64_t r = other.read(at, buffer.data(), 1 + random() % buffer.size());
            QVERIFY(r > 0);
            QVERIFY(std::memcmp(buffer.data(), out.constData() + at, std::size_t(r)) == 0);
        }
    }

    // A reader that gave up waiting stops a scan at once.
    void cancelledScanStops() {
        PiecesSource source;
        source.add(header(kFlagVideo));
        source.add(wellFormed(clipTags(5)).mid(13), std::uint64_t(2) << 30);
        source.cancel = true;
        RepairingReader reader(source);
        std::uint8_t buffer[64];
        QCOMPARE(reader.read(13, buffer, sizeof buffer), std::int64_t(-1));
        QVERIFY(source.bytesRead < 1024 * 1024);
    }

    // A pipe read once, in order, comes out as the file reader makes the same bytes, but for
    // the header's flags, which stay as they came.
    void forwardReaderRepairsAsFilesAre_data() { repairs_data(); }
    void forwardReaderRepairsAsFilesAre() {
        QFETCH(Bytes, damaged);
        QFETCH(Bytes, expected);
        QFETCH(bool, resynced);
        Bytes want = expected;
        want[4] = damaged[4];
        for (const std::uint32_t seed : {1u, 2u, 3u}) {
            PipeLike source(damaged, seed);
            ForwardReader reader(source);
            const Bytes out = readAll(reader);
            QCOMPARE(out.size(), want.size());
            QVERIFY(out == want);
            QCOMPARE(reader.stats().resyncs > 0, resynced);
            QVERIFY(!reader.stats().gaveUp);
        }
    }

    // Whatever keeps coming down a pipe, garbage is read only so far before the stream ends.
    void forwardReaderBoundsEndlessGarbage_data() {
        QTest::addColumn<bool>("noise");
        QTest::addColumn<std::uint64_t>("gap");
        QTest::addColumn<bool>("tagBetween");
        QTest::newRow("the header, then zeros for ever") << false << std::uint64_t(1) << false;
        QTest::newRow("the header, then noise for ever") << true << std::uint64_t(1) << false;
        QTest::newRow("a tag, 60 MiB of zeros, for ever")
            << false << (std::uint64_t(60) << 20) << true;
    }
    void forwardReaderBoundsEndlessGarbage() {
        QFETCH(bool, noise);
        QFETCH(std::uint64_t, gap);
        QFETCH(bool, tagBetween);
        const std::vector<Tag> tags = clipTags(3);
        PipeLike source(header(kFlagVideo));
        source.repeat = true;
        source.noise = noise;
        source.gap = gap;
        if (tagBetween)
            source.tag = tagBytes(tags[1]);
        QElapsedTimer clock;
        clock.start();
        ForwardReader reader(source);
        const Bytes out = readAll(reader);
        qInfo("%llu bytes read, %llu tags kept, in %lld ms", qulonglong(source.offset),
              qulonglong(reader.stats().tags), clock.elapsed());
        QVERIFY(reader.stats().gaveUp);
        QVERIFY(out.startsWith(header(kFlagVideo)));
        QVERIFY(is_well_formed(reinterpret_cast<const std::uint8_t*>(out.constData()),
                               std::size_t(out.size())));
        QVERIFY(source.offset <= 2 * RepairingReader::kMaxResyncScan + (1u << 20));
        std::uint8_t more[16];
        QCOMPARE(reader.read(more, sizeof more), std::int64_t(0));
    }

    // A read that fails (the engine gave up waiting) loses nothing: read again, the stream goes on.
    void forwardReaderOutlivesAFailedRead() {
        const std::vector<Tag> tags = clipTags(800);
        const Bytes good = wellFormed(tags);
        for (const int failAt : {0, 1, 3, 10}) {
            PipeLike source(file(tags, flagsOf(tags), 4));
            source.failAt = failAt;
            ForwardReader reader(source);
            int failures = 0;
            QVERIFY(readAll(reader, &failures) == good);
            QCOMPARE(failures, 1);
        }
    }

    void forwardReaderPassesOtherStreams() {
        for (const Bytes& bytes : {Bytes("This is a shopping list, not a video.\n"), Bytes("FL"),
                                   Bytes(), Bytes(300000, 'x')}) {
            PipeLike source(bytes);
            ForwardReader reader(source);
            QVERIFY(readAll(reader) == bytes);
        }
    }

    // A file written by ffmpeg, the kind every good file is, goes through untouched.
    void sampleFilePassesThrough() {
        QFile sample(QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        const Bytes bytes = sample.readAll();
        MemorySource source(bytes);
        RepairingReader reader(source);
        QVERIFY(readAll(reader, 65536) == bytes);
        QCOMPARE(reader.stats().resyncs, std::uint64_t(0));
        PipeLike pipe(bytes);
        ForwardReader forward(pipe);
        QVERIFY(readAll(forward) == bytes);
        QCOMPARE(forward.stats().resyncs, std::uint64_t(0));
    }
};

QTEST_APPLESS_MAIN(TestFlvRepair)
#include "test_flv_repair.moc"
