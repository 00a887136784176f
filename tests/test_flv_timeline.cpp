// The FLV timeline on files written here, tags with tiny payloads so that a four-hour recording
// costs a few megabytes: the length the tags hold, keyframes found by bisection in a bounded
// number of reads, the stream the engine reads with its index and windows, and composition
// offsets no encoder writes.
#include "flv/flv_metadata.h"
#include "flv/flv_seekable.h"
#include "flv/flv_timeline.h"
#include "flv_bytes.h"

#include <QtTest>

#include <bit>
#include <cstring>
#include <optional>

using namespace movarin::flv;
using namespace movarin::testing;

namespace {

using Bytes = QByteArray;

void amfName(Bytes& b, const char* name) {
    appendBe(b, std::strlen(name), 2);
    b.append(name);
}
void amfNumber(Bytes& b, double v) {
    b.append(char(0));
    appendBe(b, std::bit_cast<std::uint64_t>(v), 8);
}

// onMetaData with a width, the given duration (none when 0) and, when asked, a keyframe index.
Bytes metadata(double duration, const std::vector<std::pair<double, double>>& index = {}) {
    Bytes b;
    b.append(char(2));
    amfName(b, "onMetaData");
    b.append(char(8));
    appendBe(b, 3, 4);
    amfName(b, "width");
    amfNumber(b, 320);
    if (duration > 0) {
        amfName(b, "duration");
        amfNumber(b, duration);
    }
    if (!index.empty()) {
        amfName(b, "keyframes");
        b.append(char(3));
        for (const bool times : {true, false}) {
            amfName(b, times ? "times" : "filepositions");
            b.append(char(10));
            appendBe(b, index.size(), 4);
            for (const auto& e : index)
                amfNumber(b, times ? e.first : e.second);
        }
        appendBe(b, 0, 2);
        b.append(char(9));
    }
    appendBe(b, 0, 2);
    b.append(char(9));
    return flvTag(18, 0, b);
}

struct Recording {
    Bytes bytes;
    std::vector<std::pair<std::uint32_t, qsizetype>> keyframes; // time, offset
    qsizetype afterMetadata = 0;
};

// Video at `fps` with a keyframe every `gop` frames, sound every 50 ms, from `startMs` on.
Recording recording(int seconds, double metaDuration, std::uint32_t startMs = 0, int fps = 30,
                    int gop = 300, bool audio = true, bool video = true) {
    Recording r;
    r.bytes = flvHeader((audio ? 4 : 0) | (video ? 1 : 0));
    r.bytes.append(metadata(metaDuration));
    r.afterMetadata = r.bytes.size();
    if (!video) {
        for (std::int64_t a = 0; a * 50 < seconds * 1000LL; ++a) {
            const auto at = std::uint32_t(startMs + a * 50);
            r.keyframes.emplace_back(at, r.bytes.size());
            r.bytes.append(flvTag(8, at, Bytes("\x2f\x00", 2)));
        }
        return r;
    }
    std::int64_t sound = 0;
    for (std::int64_t i = 0; i < std::int64_t(seconds) * fps; ++i) {
        const auto ts = std::uint32_t(startMs + i * 1000 / fps);
        const bool key = i % gop == 0;
        if (key)
            r.keyframes.emplace_back(ts, r.bytes.size());
        r.bytes.append(flvTag(9, ts, Bytes(key ? "\x12\x01\x02" : "\x22\x03", key ? 3 : 2)));
        while (audio && startMs + sound * 50 <= ts) {
            r.bytes.append(flvTag(8, std::uint32_t(startMs + sound * 50), Bytes("\x2f\x00", 2)));
            ++sound;
        }
    }
    return r;
}

// The numbers of a strict array named `name` in an AMF body, read independently of the writer.
std::vector<double> amfArray(const Bytes& body, const char* name) {
    Bytes key;
    amfName(key, name);
    key.append(char(10));
    const qsizetype at = body.indexOf(key);
    if (at < 0)
        return {};
    std::vector<double> out(be(body, at + key.size(), 4));
    qsizetype p = at + key.size() + 4;
    for (double& d : out) {
        const std::uint64_t bits = (std::uint64_t(be(body, p + 1, 4)) << 32) | be(body, p + 5, 4);
        d = std::bit_cast<double>(bits);
        p += 9;
    }
    return out;
}

std::uint32_t referenceKeyframe(const Recording& r, std::uint32_t ms) {
    std::uint32_t best = r.keyframes.front().first;
    for (const auto& [t, at] : r.keyframes)
        if (t <= ms)
            best = t;
    return best;
}

} // namespace

class TestFlvTimeline : public QObject {
    Q_OBJECT
private slots:
    // The length shown is the tags' own unless the file's metadata is within half a second.
    void lengthIsTheTagsTimeline_data() {
        QTest::addColumn<Bytes>("file");
        QTest::addColumn<double>("seconds");
        // 25 fps for 1.92 s: last picture at 1.88 s, plus one frame.
        QTest::newRow("metadata says 46.9 s of 2 s")
            << recording(2, 46.9, 0, 25, 25, false).bytes << 2.0;
        QTest::newRow("cut inside the last tag")
            << recording(2, 46.9, 0, 25, 25, false).bytes.chopped(7) << 1.96;
        QTest::newRow("metadata within half a second is kept")
            << recording(2, 2.3, 0, 25, 25, false).bytes << 2.3;
        QTest::newRow("metadata far off") << recording(2, 2.6, 0, 25, 25, false).bytes << 2.0;
        QTest::newRow("no metadata duration") << recording(2, 0, 0, 25, 25, false).bytes << 2.0;
        QTest::newRow("live recording from 6.06 s, said to be 31.02 s")
            << recording(25, 31.02, 6060, 25, 25, false).bytes << 25.0;
        QTest::newRow("cut tag and noise at the end") << [] {
            Bytes b = recording(10, 0, 0, 25, 25, false).bytes;
            b.append(Bytes(3000, char(0x5a)));
            b.append(flvTag(9, 999'000, Bytes(200, char(0x12))).left(100));
            return b;
        }() << 10.0;
        QTest::newRow("sound only") << recording(8, 60, 0, 25, 25, true, false).bytes << 8.0;
    }
    void lengthIsTheTagsTimeline() {
        QFETCH(Bytes, file);
        QFETCH(double, seconds);
        MemorySource source(file);
        SeekableStream stream(source);
        QVERIFY(stream.valid());
        QVERIFY2(std::abs(stream.duration() - seconds) < 0.002,
                 qPrintable(QString::number(stream.duration())));
        // What the demuxer reads says the same.
        const Bytes head = readFrom(stream, 13, 1 << 16);
        QCOMPARE(int(head[0]), 18);
        const Bytes body = head.mid(11, be(head, 1, 3));
        const MetaData meta = parse_metadata(reinterpret_cast<const std::uint8_t*>(body.data()),
                                             std::size_t(body.size()));
        QVERIFY(meta.parsed);
        QVERIFY(std::abs(meta.duration - seconds) < 0.002);
        QCOMPARE(meta.entries.front().first, std::string("width"));
        // A seek to the end lands on the last picture, not past it.
        QVERIFY(stream.lastFrame() < seconds && stream.lastFrame() > seconds - 0.1);
    }

    // A keyframe anywhere in a long file takes a few small reads, whatever its length.
    void keyframesByBisection_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("gop");
        QTest::newRow("1 h, keyframe every 10 s") << 3600 << 300;
        QTest::newRow("4 h, keyframe every 10 s") << 4 * 3600 << 300;
        QTest::newRow("1 h, keyframe every 2 s") << 3600 << 60;
    }
    void keyframesByBisection() {
        QFETCH(int, seconds);
        QFETCH(int, gop);
        const Recording r = recording(seconds, 0, 0, 30, gop);
        MemorySource source(r.bytes);
        TagPeek peek(source);
        const auto first = std::uint64_t(r.afterMetadata);
        int mostReads = 0;
        for (const double share : {0.0, 0.1, 0.25, 0.5, 0.61803, 0.97, 1.0}) {
            const auto ms = std::uint32_t(share * seconds * 1000);
            for (const std::uint32_t target : {ms, ms + 1, ms > 0 ? ms - 1 : 0}) {
                source.reads = 0;
                const std::uint64_t at = keyframe_at_or_before(peek, first, target, true);
                mostReads = std::max(mostReads, source.reads);
                const std::uint32_t expected = referenceKeyframe(r, target);
                QCOMPARE(be(r.bytes, qsizetype(at) + 4, 3), expected);
                QCOMPARE(int(r.bytes[qsizetype(at)]), 9);
                QCOMPARE(int(std::uint8_t(r.bytes[qsizetype(at) + 11])) >> 4, 1);
            }
        }
        // 64 KiB reads: a bisection and a walk over a group of pictures, never the file.
        QVERIFY2(mostReads < 60, qPrintable(QString::number(mostReads)));
    }

    // The stream the engine reads: our index in the metadata, the rest as the file has it, and
    // each index point a window onto the file from the keyframe at or before its time.
    void indexPointsOpenWindowsAtKeyframes() {
        const Recording r = recording(3600, 3600);
        MemorySource source(r.bytes);
        source.reads = 0;
        SeekableStream stream(source);
        const int openReads = source.reads;
        const SeekableStream::Facts facts = stream.facts();
        QVERIFY(!facts.ownIndex);
        QCOMPARE(facts.stepMs, SeekableStream::kMinStepMs);
        QVERIFY(facts.points > 7000);
        // Opening costs the same few reads as for a short file.
        QVERIFY2(openReads < 1200, qPrintable(QString::number(openReads)));

        const Bytes main = readAll(stream, 1 << 20);
        QCOMPARE(main.size(), qsizetype(stream.size()));
        QVERIFY(is_well_formed(reinterpret_cast<const std::uint8_t*>(main.data()),
                               std::size_t(main.size())));
        const qsizetype metaSize = 11 + be(main, 14, 3) + 4;
        QCOMPARE(main.mid(13 + metaSize), r.bytes.mid(r.afterMetadata));
        const Bytes body = main.mid(13 + 11, metaSize - 15);
        const std::vector<double> times = amfArray(body, "times");
        const std::vector<double> positions = amfArray(body, "filepositions");
        QCOMPARE(times.size(), facts.points + 2);
        QCOMPARE(positions.size(), times.size());
        // The first two are real tags, checked by the demuxer against what it reads.
        for (int i = 0; i < 2; ++i) {
            const auto at = qsizetype(positions[i]);
            QVERIFY(at >= 13 + metaSize);
            QCOMPARE(std::int64_t(be(main, at + 4, 3)), std::int64_t(times[i] * 1000));
        }
        for (std::size_t i = 2; i < times.size(); i += 997) {
            const auto ms = std::uint32_t(times[i] * 1000);
            QCOMPARE(ms % 500, 0u);
            const auto window = std::uint64_t(positions[i]);
            QCOMPARE(window % SeekableStream::kWindow, 0u);
            source.reads = 0;
            // Finding the keyframe and opening the window: a bounded number of reads.
            QCOMPARE(readFrom(stream, window, 16).size(), 16);
            QVERIFY2(source.reads < 100, qPrintable(QString::number(source.reads)));
            const Bytes seen = readFrom(stream, window, 4096);
            QCOMPARE(int(seen[0]), 9);
            const std::uint32_t key = referenceKeyframe(r, ms);
            QCOMPARE(be(seen, 4, 3), key);
            const auto from = std::find_if(r.keyframes.begin(), r.keyframes.end(),
                                           [&](const auto& k) { return k.first == key; });
            QCOMPARE(seen, r.bytes.mid(from->second, 4096));
        }
        // The last window runs on to the end of the file, and no further.
        const auto last = std::uint64_t(positions.back());
        const Bytes tail = readAll(stream, 1 << 20, last);
        QVERIFY(r.bytes.endsWith(tail) && tail.size() > 1000);
        QCOMPARE(readFrom(stream, last + std::uint64_t(tail.size()), 100).size(), 0);
        QCOMPARE(readFrom(stream, last + SeekableStream::kWindow, 100).size(), 0);
    }

    void fileWithItsOwnIndexIsReadAsItIs() {
        Recording r = recording(60, 60);
        // The same file with an index: positions after the metadata, which grows by the index.
        std::vector<std::pair<double, double>> index;
        const Bytes withIndex =
            metadata(60, std::vector<std::pair<double, double>>(r.keyframes.size()));
        const qsizetype growth = withIndex.size() - (r.afterMetadata - 13);
        for (const auto& [t, at] : r.keyframes)
            index.emplace_back(t / 1000.0, double(at + growth));
        const Bytes file = flvHeader(5) + metadata(60, index) + r.bytes.mid(r.afterMetadata);
        MemorySource source(file);
        SeekableStream stream(source);
        QVERIFY(stream.facts().ownIndex);
        QCOMPARE(stream.facts().points, 0u);
        QCOMPARE(readAll(stream, 1 << 20), file);
        QVERIFY(std::abs(stream.duration() - 60) < 0.5);
    }

    // Composition offsets: the impossible ones go to 0, B-frame ones stay, read whole or bytewise.
    void impossibleCompositionOffsetsAreRepaired_data() {
        QTest::addColumn<int>("timestamp");
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("repaired");
        QTest::newRow("B-frame 80 ms") << 1000 << 80 << false;
        QTest::newRow("B-frame 2 s") << 2000 << 2000 << false;
        QTest::newRow("small negative at the start") << 0 << -40 << false;
        QTest::newRow("-256 times the timestamp") << 4000 << -256 * 4000 << true;
        QTest::newRow("12 s ahead") << 1000 << 12000 << true;
        QTest::newRow("before the start of the file") << 500 << -1600 << true;
    }
    void impossibleCompositionOffsetsAreRepaired() {
        QFETCH(int, timestamp);
        QFETCH(int, offset);
        QFETCH(bool, repaired);
        QCOMPARE(impossible_composition(std::uint32_t(timestamp), offset), repaired);
        Bytes picture("\x17\x01", 2);
        appendBe(picture, std::uint32_t(offset) & 0xffffff, 3);
        picture.append("nal-data");
        Bytes file = flvHeader(1) + metadata(0);
        for (int i = 0; i < 3; ++i)
            file.append(flvTag(9, std::uint32_t(timestamp + 40 * i), picture));
        MemorySource source(file);
        SeekableStream whole(source);
        const Bytes once = readAll(whole, 1 << 20);
        // Byte by byte, as a demuxer reading small pieces would.
        SeekableStream bytewise(source);
        Bytes pieces;
        for (std::uint64_t at = 0;; ++at) {
            const Bytes b = readFrom(bytewise, at, 1);
            if (b.isEmpty())
                break;
            pieces.append(b);
        }
        QCOMPARE(pieces, once);
        const qsizetype metaSize = 11 + be(once, 14, 3) + 4;
        for (int i = 0; i < 3; ++i) {
            const qsizetype at = 13 + metaSize + i * (15 + picture.size());
            const std::uint32_t written = be(once, at + 13, 3);
            QCOMPARE(written, repaired ? 0u : std::uint32_t(offset) & 0xffffff);
            QCOMPARE(once.mid(at + 16, 8), Bytes("nal-data"));
        }
        QCOMPARE(whole.facts().repairedOffsets, repaired ? 3u : 0u);
    }
};

QTEST_APPLESS_MAIN(TestFlvTimeline)
#include "test_flv_timeline.moc"
