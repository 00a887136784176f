// The FLV format's own rules, as the readers use them: what makes bytes a tag, the well-formed
// check the fuzz targets rely on, and timestamps carried on forwards.
#include "flv/flv_clock.h"
#include "flv/flv_format.h"
#include "flv_bytes.h"

#include <QtTest>

#include <cstring>

using namespace movarin::flv;
using namespace movarin::testing;

namespace {

using Bytes = QByteArray;

// Bytes as the plausible-tag rule reads them: a file, whose size is known, or a stream, which
// knows only what has come; a stream may fail at `failAt` and beyond.
struct RuleBytes {
    Bytes data;
    bool file = true;
    qsizetype failAt = -1;
    Reach reach(std::uint64_t end) const {
        return failAt >= 0 && end > std::uint64_t(failAt) ? Reach::Error
               : end <= std::uint64_t(data.size())        ? Reach::Yes
                                                          : Reach::End;
    }
    bool read(std::uint64_t at, std::uint8_t* out, std::size_t n) {
        return reach(at + n) == Reach::Yes && std::memcpy(out, data.constData() + at, n);
    }
    bool mayHold(std::uint64_t end) const { return !file || end <= std::uint64_t(data.size()); }
};

} // namespace

class TestFlvFormat : public QObject {
    Q_OBJECT
private slots:
    // The rule both readers resync by, case by case: where a tag must start and while resyncing
    // (strict), on a file and on a stream.
    void plausibleTagRule_data() {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<bool>("file");
        QTest::addColumn<int>("failAt");
        QTest::addColumn<bool>("loose");
        QTest::addColumn<bool>("strict");
        const Bytes picture = flvTag(9, 40, Bytes("\x12\x00\x01", 3));
        const Bytes next = flvTag(8, 40, Bytes("\x2f\x00", 2));
        const auto with = [](Bytes b, qsizetype at, char value) {
            return b.replace(at, 1, &value, 1);
        };
        const Bytes streamOne = with(picture, 10, 1);
        const Bytes badTrailer = with(picture, picture.size() - 1, 0);
        const Bytes bothBad = with(streamOne, streamOne.size() - 1, 0);
        const Bytes bigNext = with(next, 3, char(0x7f));
        const auto row = [](const char* name, const Bytes& b, bool file, bool loose, bool strict,
                            int failAt = -1) {
            QTest::newRow(name) << b << file << failAt << loose << strict;
        };
        row("whole tag", picture, true, true, true);
        row("trailer 4 too large", flvTag(9, 40, Bytes("\x12\x00\x01", 3), 4), true, true, true);
        row("stream id, trailer fits", streamOne, true, true, false);
        row("stream id, trailer wrong", bothBad, true, false, false);
        row("no data", flvTag(8, 40, Bytes()), true, true, false);
        row("picture of frame type 0", flvTag(9, 40, Bytes("\x02\x00", 2)), true, true, false);
        row("script not a name", flvTag(18, 0, Bytes("\x03\x00", 2)), true, true, false);
        row("unknown type", flvTag(7, 40, Bytes("\x12", 1)), true, false, false);
        row("size past the end", picture.left(12), true, false, false);
        row("trailer wrong, a tag after", badTrailer + next, true, true, true);
        row("trailer wrong, garbage after", badTrailer + Bytes(20, '\x55'), true, true, false);
        row("trailer wrong, the end after", badTrailer + Bytes(5, '\0'), true, true, true);
        row("next runs past a file", badTrailer + bigNext, true, true, false);
        row("next may fit a stream", badTrailer + bigNext, false, true, true);
        row("stream fails at the next", badTrailer + next, false, true, false,
            int(badTrailer.size() + 4));
    }
    void plausibleTagRule() {
        QFETCH(Bytes, bytes);
        QFETCH(bool, file);
        QFETCH(int, failAt);
        QFETCH(bool, loose);
        QFETCH(bool, strict);
        RuleBytes source{bytes, file, failAt};
        TagFields tag;
        const auto any = [](std::uint32_t) { return true; };
        QCOMPARE(plausible_tag(source, 0, false, any, tag), loose);
        QCOMPARE(plausible_tag(source, 0, true, any, tag), strict);
        if (strict) {
            QCOMPARE(tag.dataSize, be(bytes, 1, 3));
            // A timestamp too far from the last one is left for a later candidate.
            QVERIFY(!plausible_tag(
                source, 0, true, [](std::uint32_t) { return false; }, tag));
            QVERIFY(plausible_tag(
                source, 0, false, [](std::uint32_t) { return false; }, tag));
        }
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
        QTest::newRow("bad previous size") << flvFile(clipTags(5), 5, 4) << false;
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
};

QTEST_APPLESS_MAIN(TestFlvFormat)

#include "test_flv_format.moc"
