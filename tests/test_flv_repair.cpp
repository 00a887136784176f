// The repairing FLV readers on small files written here: each damage a recorder or a disk can do,
// read back sequentially and at random offsets, against the file as it should have been; and
// the same through the forward-only reader of pipes, which also bounds endless garbage.
#include "flv/flv_forward.h"
#include "flv/flv_repair.h"
#include "flv_bytes.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cstring>
#include <random>

using namespace movarin::flv;
using namespace movarin::testing;

namespace {

using Bytes = QByteArray;

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

// The first tag start at or after `from` in a well-formed file.
qsizetype tagStartAfter(const Bytes& b, qsizetype from) {
    qsizetype at = 13;
    while (at < from)
        at += 11 + be(b, at + 1, 3) + 4;
    return at;
}

} // namespace

class TestFlvRepair : public QObject {
    Q_OBJECT
private slots:
    void repairs_data() { addDamagedFileRows(); }

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
        const std::vector<ClipTag> tags = clipTags(pairs);
        const Bytes good = wellFormed(tags);
        Bytes damaged = flvHeader(0);
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
        const std::vector<ClipTag> tags = clipTags(50);
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
        source.add(flvHeader(kFlagVideo));
        const std::uint64_t tagSize = std::uint64_t(pictureKiB) * 1024 + 15;
        for (int i = 0; i < pictures; ++i) {
            // A picture's header, its first data byte and its trailer; the rest are zeros.
            Bytes head = tagBytes({9, std::uint32_t(i * 40), Bytes(1, char(0x12))});
            putBe(head, 1, 3, quint32(tagSize - 15));
            Bytes trailer;
            appendBe(trailer, std::uint32_t(tagSize - 4), 4);
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

    // A clip whose timestamps run backwards reads as the same tags with each kind's timestamps
    // moving forwards by its own step, the same wherever it is read from.
    void backwardsTimestampsRunForwards() {
        std::vector<ClipTag> tags = clipTags(300);
        for (ClipTag& t : tags)
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
        source.add(flvHeader(kFlagVideo));
        source.add(wellFormed(clipTags(5)).mid(13), std::uint64_t(2) << 30);
        source.cancel = true;
        RepairingReader reader(source);
        std::uint8_t buffer[64];
        QCOMPARE(reader.read(13, buffer, sizeof buffer), std::int64_t(-1));
        QVERIFY(source.bytesRead < 1024 * 1024);
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

    // A pipe read once, in order, comes out as the file reader makes the same bytes, but for
    // the header's flags, which stay as they came.
    void forwardReaderRepairsAsFilesAre_data() { addDamagedFileRows(); }
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
        const std::vector<ClipTag> tags = clipTags(3);
        PipeLike source(flvHeader(kFlagVideo));
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
        QVERIFY(out.startsWith(flvHeader(kFlagVideo)));
        QVERIFY(is_well_formed(reinterpret_cast<const std::uint8_t*>(out.constData()),
                               std::size_t(out.size())));
        QVERIFY(source.offset <= 2 * RepairingReader::kMaxResyncScan + (1u << 20));
        std::uint8_t more[16];
        QCOMPARE(reader.read(more, sizeof more), std::int64_t(0));
    }

    // A read that fails (the engine gave up waiting) loses nothing: read again, the stream goes on.
    void forwardReaderOutlivesAFailedRead() {
        const std::vector<ClipTag> tags = clipTags(800);
        const Bytes good = wellFormed(tags);
        for (const int failAt : {0, 1, 3, 10}) {
            PipeLike source(flvFile(tags, flagsOf(tags), 4));
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
};

QTEST_APPLESS_MAIN(TestFlvRepair)

#include "test_flv_repair.moc"
