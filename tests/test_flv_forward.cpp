// The forward-only repairing reader, as for a named pipe: it repairs what the file reader
// repairs, bounds endless garbage, outlives a failed read and passes other streams unchanged.
#include "flv/flv_forward.h"
#include "flv_bytes.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cstring>
#include <random>

using namespace movarin::flv;
using namespace movarin::testing;

namespace {

using Bytes = QByteArray;

} // namespace

class TestFlvForward : public QObject {
    Q_OBJECT
private slots:
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

QTEST_APPLESS_MAIN(TestFlvForward)

#include "test_flv_forward.moc"
