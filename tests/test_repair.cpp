// movarin-repair end to end: damaged files made here from real recordings, each repaired by the
// built program and read back with FFmpeg's FLV demuxer and against the repairing reader; and
// the rules that keep a user's recordings safe.
#include "flv/flv_format.h"
#include "flv/flv_repair.h"
#include "flv_bytes.h"
#include "repair/repair_files.h"
#include "repair/repaired_copy.h"
#include "test_media.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <bit>
#include <csignal>

using namespace movarin::flv;
using namespace movarin::testing;

namespace {

const QString kProgram = QStringLiteral(MOVARIN_BINARY_DIR "/movarin-repair");

struct Run {
    int status = -1;
    bool signalled = false;
    QString out, err;
};
Run repair(const QStringList& args) {
    QProcess p;
    p.start(kProgram, args);
    p.waitForFinished(120'000);
    return {p.exitCode(), p.exitStatus() == QProcess::CrashExit,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

QByteArray slurp(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void spill(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
QStringList leftovers(const QString& dir) {
    return QDir(dir).entryList({"*.repair-*"}, QDir::Files | QDir::Hidden);
}

// Each tag's header and data (no trailer), leaving out a first onMetaData before any sound or
// picture: what the copy must hold after its own metadata.
QList<QByteArray> tagsBeyondMetadata(const QByteArray& flv) {
    QList<QByteArray> out;
    bool media = false;
    for (const FlvTag& t : tagsOf(flv)) {
        const QByteArray bytes = flv.mid(t.at, 11 + t.size);
        if (t.type == 18 && !media && out.isEmpty() && bytes.mid(11, 13) == QByteArray("\x02\x00\x0aonMetaData", 13))
            continue;
        media = media || t.type != 18;
        out << bytes;
    }
    return out;
}

double amfNumber(const QByteArray& b, qsizetype at) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits = (bits << 8) | std::uint8_t(b[at + i]);
    return std::bit_cast<double>(bits);
}
QByteArray amfKey(const char* key) {
    QByteArray k;
    appendBe(k, std::strlen(key), 2);
    return k + key;
}
// A number array of the copy's metadata (the first tag), by its key.
QList<double> metadataArray(const QByteArray& flv, const char* key) {
    const QByteArray body = flv.mid(13 + 11, be(flv, 14, 3));
    QList<double> values;
    const qsizetype at = body.indexOf(amfKey(key) + char(10));
    if (at < 0)
        return values;
    qsizetype p = at + 2 + qsizetype(std::strlen(key)) + 1;
    for (quint32 i = 0, n = be(body, p, 4); i < n; ++i)
        values << amfNumber(body, p + 4 + 1 + 9 * qsizetype(i));
    return values;
}
double metadataNumber(const QByteArray& flv, const char* key) {
    const QByteArray body = flv.mid(13 + 11, be(flv, 14, 3));
    const qsizetype at = body.indexOf(amfKey(key) + char(0));
    return at < 0 ? -1 : amfNumber(body, at + 2 + qsizetype(std::strlen(key)) + 1);
}

// What FFmpeg's FLV demuxer reads of a file.
struct Probe {
    int packets = 0;
    double end = 0;        // the last packet's end
    double duration = -1;  // as the metadata says
    bool monotonic = true; // per stream
};
Probe ffprobe(const QString& path) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", "packet=stream_index,dts_time,duration_time",
                        "-show_entries", "format=duration", "-of", "compact", path});
    p.waitForFinished(60'000);
    Probe probe;
    double last[2] = {-1e9, -1e9};
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        QMap<QString, QString> f;
        for (const QString& kv : line.split('|'))
            f[kv.section('=', 0, 0)] = kv.section('=', 1);
        if (line.startsWith("format"))
            probe.duration = f["duration"].toDouble();
        if (!line.startsWith("packet"))
            continue;
        ++probe.packets;
        const int s = f["stream_index"].toInt() & 1;
        const double dts = f["dts_time"].toDouble();
        probe.monotonic = probe.monotonic && dts >= last[s];
        last[s] = dts;
        probe.end = std::max(probe.end, dts + f["duration_time"].toDouble());
    }
    return probe;
}

// Tags that FFmpeg gives as packets: frames, not a decoder's set-up.
int frameTags(const QByteArray& flv) {
    int n = 0;
    for (const FlvTag& t : tagsOf(flv)) {
        const auto* d = reinterpret_cast<const std::uint8_t*>(flv.constData() + t.at + 11);
        n += (t.type == 8 || t.type == 9) && t.size > 0 && holds_frame(std::uint8_t(t.type), d, std::uint32_t(t.size));
    }
    return n;
}

// The file with every tag's bytes handed to `change(index, tag bytes with trailer)`.
template <typename F> QByteArray perTag(const QByteArray& flv, F change) {
    QByteArray out = flv.left(13);
    int i = 0;
    for (const FlvTag& t : tagsOf(flv))
        out += change(i++, flv.mid(t.at, t.end() - t.at));
    return out;
}
QByteArray withTimestamp(QByteArray tag, quint32 ms) {
    putBe(tag, 4, 3, ms & 0xffffff);
    tag[7] = char(ms >> 24);
    return tag;
}
quint32 timestampOf(const QByteArray& tag) {
    return be(tag, 4, 3) | (quint32(std::uint8_t(tag[7])) << 24);
}

} // namespace

class TestRepair : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_spark, m_avc, m_sound;

private slots:
    void initTestCase() {
        QVERIFY(QFile::exists(kProgram));
        const QString d = m_dir.path();
        m_spark = slurp(makeSparkFlv(d, "spark.flv", 10));
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=10", "-f",
                           "lavfi", "-i", "sine=duration=10", "-c:v", "libx264", "-bf", "2", "-g",
                           "50", "-c:a", "aac", d + "/avc.flv"}));
        m_avc = slurp(d + "/avc.flv");
        QVERIFY(runFfmpeg({"-f", "lavfi", "-i", "sine=duration=10", "-c:a", "libmp3lame",
                           d + "/sound.flv"}));
        m_sound = slurp(d + "/sound.flv");
        QVERIFY(!m_spark.isEmpty() && !m_avc.isEmpty() && !m_sound.isEmpty());
    }

    void repairsEveryFault_data() {
        QTest::addColumn<QByteArray>("damaged");
        QTest::addColumn<bool>("wellFormed"); // comes out with the same tags
        QTest::addColumn<double>("seconds");  // the true length, or 0 where a cut decides it
        QTest::addColumn<int>("width");

        const auto middle = [](const QByteArray& f) { return tagsOf(f)[tagsOf(f).size() / 2].at; };
        const auto noise = [] {
            QByteArray n(7000, Qt::Uninitialized);
            std::mt19937 random(4);
            for (char& c : n)
                c = char(random());
            return n;
        }();
        const auto prevPlus4 = [](const QByteArray& f) {
            return perTag(f, [](int, QByteArray t) {
                putBe(t, t.size() - 4, 4, be(t, t.size() - 4, 4) + 4);
                return t;
            });
        };
        const auto noMetadata = [](const QByteArray& f) {
            return perTag(f, [](int i, QByteArray t) { return i == 0 ? QByteArray() : t; });
        };
        // Tags from a third of the way on run 600 ms back: the reader carries them forward.
        const auto backwards = [](const QByteArray& f) {
            const int n = int(tagsOf(f).size());
            return perTag(f, [n](int i, QByteArray t) {
                return i > n / 3 && t[0] != 18 ? withTimestamp(t, timestampOf(t) - std::min(timestampOf(t), 600u)) : t;
            });
        };
        const auto claims14 = [](QByteArray f) {
            const qsizetype at = f.indexOf(amfKey("duration") + char(0));
            const auto bits = std::bit_cast<std::uint64_t>(14.0);
            for (int i = 0; i < 8; ++i)
                f[at + 11 + i] = char(bits >> (56 - 8 * i));
            return f;
        };
        QByteArray spark = m_spark;
        QTest::newRow("well-formed spark") << spark << true << 10.0 << 320;
        QTest::newRow("well-formed h264 aac") << m_avc << true << 10.0 << 320;
        QTest::newRow("well-formed sound only") << m_sound << true << 10.0 << 0;
        QTest::newRow("previous sizes 4 too large") << prevPlus4(spark) << false << 10.0 << 320;
        QTest::newRow("zeros between tags")
            << QByteArray(spark).insert(middle(spark), QByteArray(100'000, 0)) << false << 10.0 << 320;
        QTest::newRow("noise between tags")
            << QByteArray(m_avc).insert(middle(m_avc), noise) << false << 10.0 << 320;
        QTest::newRow("a bad tag type") << [&] {
            QByteArray b = spark;
            b[middle(b)] = char(0x55);
            return b;
        }() << false << 10.0 << 320;
        QTest::newRow("cut off in a tag") << spark.left(spark.size() * 2 / 3 + 5) << false << 0.0 << 320;
        QTest::newRow("header flags lie") << [&] {
            QByteArray b = spark;
            b[4] = 0;
            return b;
        }() << false << 10.0 << 320;
        QTest::newRow("timestamps run backwards") << backwards(m_avc) << false << 0.0 << 320;
        QTest::newRow("metadata claims 14 s") << claims14(spark) << false << 10.0 << 320;
        QTest::newRow("no metadata") << noMetadata(m_avc) << false << 10.0 << 320;
        QTest::newRow("sound only, no metadata") << noMetadata(m_sound) << false << 10.0 << 0;
        QTest::newRow("every fault together") << [&] {
            QByteArray b = claims14(backwards(prevPlus4(spark)));
            b[4] = 1;
            b.insert(middle(b), noise);
            b.insert(tagsOf(b)[10].at, QByteArray(50'000, 0));
            return b.left(b.size() - 100);
        }() << false << 0.0 << 320;
    }

    void repairsEveryFault() {
        QFETCH(QByteArray, damaged);
        QFETCH(bool, wellFormed);
        QFETCH(double, seconds);
        QFETCH(int, width);
        const QString in = m_dir.filePath("in.flv"), out = m_dir.filePath("out.flv");
        spill(in, damaged);
        QFile::remove(out);
        const Run run = repair({in, out});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QVERIFY(run.out.contains(" tags kept, ") && run.out.count('\n') == 1);
        const QByteArray copy = slurp(out);
        const char* why = "";
        QVERIFY2(is_well_formed(reinterpret_cast<const std::uint8_t*>(copy.constData()),
                                std::size_t(copy.size()), &why), why);

        // Every tag the reader keeps, byte for byte, behind the copy's own metadata.
        MemorySource source(damaged);
        RepairingReader reader(source);
        const QList<QByteArray> kept = tagsBeyondMetadata(readAll(reader, 1 << 16));
        QList<QByteArray> written = tagsBeyondMetadata(copy);
        QCOMPARE(written.size(), kept.size());
        QVERIFY(written == kept);
        if (wellFormed)
            QVERIFY(tagsBeyondMetadata(damaged) == written);

        const Probe probe = ffprobe(out);
        QCOMPARE(probe.packets, frameTags(copy));
        QVERIFY(probe.monotonic);
        QVERIFY2(std::abs(probe.duration - probe.end) < 0.05,
                 qPrintable(QString("%1 %2").arg(probe.duration).arg(probe.end)));
        if (seconds > 0)
            QVERIFY(std::abs(probe.duration - seconds) < 0.1);
        QCOMPARE(metadataNumber(copy, "width"), width > 0 ? double(width) : -1.0);

        // The index points at keyframes (or, without pictures, sound) at their own times.
        const QList<double> times = metadataArray(copy, "times");
        const QList<double> positions = metadataArray(copy, "filepositions");
        QVERIFY(positions.size() >= 2 && times.size() == positions.size());
        QMap<qsizetype, FlvTag> byPlace;
        for (const FlvTag& t : tagsOf(copy))
            byPlace[t.at] = t;
        for (qsizetype i = 0; i < positions.size(); ++i) {
            const FlvTag t = byPlace.value(qsizetype(positions[i]));
            const bool key = width > 0 ? t.type == 9 && (std::uint8_t(copy[t.at + 11]) >> 4) == 1
                                       : t.type == 8;
            QVERIFY2(key, qPrintable(QString::number(positions[i])));
            QCOMPARE(quint32(times[i] * 1000), t.timestamp);
        }
    }

    // Refusals leave the input as it was, no copy and no temporary file.
    void refusesWhatIsNotSafe() {
        const QString d = m_dir.filePath("safety");
        QDir().mkpath(d);
        const QString in = d + "/in.flv", other = d + "/other.flv";
        spill(in, m_spark);
        spill(other, "mine");
        QFile::link(in, d + "/symlink.flv");
        QVERIFY(::link(in.toUtf8(), (d + "/hardlink.flv").toUtf8()) == 0);
        spill(d + "/text.flv", "just some text, no video here\n");
        spill(d + "/empty.flv", {});
        spill(d + "/zeros.flv", QByteArray(m_spark.left(13)) + QByteArray(300'000, 0));
        QDir().mkpath(d + "/folder.flv");
        struct Row {
            QStringList args;
            int status;
            const char* message;
        };
        const QString out = d + "/out.flv";
        const Row rows[] = {
            {{in, in}, 1, "is the same file"},
            {{"--force", in, d + "/hardlink.flv"}, 1, "is the same file"},
            {{"--force", in, d + "/symlink.flv"}, 1, "is the same file"},
            {{in, other}, 1, "already exists"},
            {{d + "/text.flv", out}, 1, "is not an FLV file"},
            {{d + "/empty.flv", out}, 1, "is empty"},
            {{d + "/zeros.flv", out}, 1, "no sound or picture"},
            {{d + "/folder.flv", out}, 1, "is a directory"},
            {{d + "/missing.flv", out}, 1, "No such file"},
            {{in}, 2, "usage"},
            {{"--fast", in, out}, 2, "usage"},
        };
        for (const Row& row : rows) {
            const Run run = repair(row.args);
            QVERIFY2(run.status == row.status && run.err.contains(row.message),
                     qPrintable(row.args.join(' ') + ": " + run.err));
            QVERIFY(!QFile::exists(out));
            QCOMPARE(slurp(other), QByteArray("mine"));
            QCOMPARE(slurp(in), m_spark);
            QCOMPARE(leftovers(d), QStringList());
        }
        const Run forced = repair({"--force", in, other});
        QCOMPARE(forced.status, 0);
        QCOMPARE(slurp(other).left(3), QByteArray("FLV"));
        QCOMPARE(leftovers(d), QStringList());
    }

    // Three days of keyframes, one a second, cost no more index than a day's, spread evenly.
    void indexStaysBounded() {
        movarin::repair::KeyPoints points;
        const std::uint32_t count = 3 * 24 * 3600;
        for (std::uint32_t k = 0; k < count; ++k)
            points.offer(k * 1000, std::uint64_t(k) * 5000);
        const auto& times = points.times();
        QVERIFY(times.size() >= movarin::repair::KeyPoints::kMax &&
                times.size() < 2 * movarin::repair::KeyPoints::kMax);
        QCOMPARE(times.size(), points.positions().size());
        QCOMPARE(times.front(), 0u);
        const std::uint32_t step = times[1] - times[0];
        for (std::size_t i = 1; i < times.size(); ++i) {
            QCOMPARE(times[i] - times[i - 1], step);
            QCOMPARE(points.positions()[i], std::uint64_t(times[i] / 1000) * 5000);
        }
        QVERIFY(times.back() + step > (count - 1) * 1000);
    }

    // A recording still being written is read up to where it was when reading began.
    void readsUpToTheStartingSize() {
        const QString path = m_dir.filePath("growing.flv");
        spill(path, m_spark);
        movarin::repair::InputFile input(path.toStdString());
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write(QByteArray(5000, 'x'));
        f.close();
        std::uint8_t byte = 0;
        QCOMPARE(input.size(), std::uint64_t(m_spark.size()));
        QCOMPARE(input.readAt(std::uint64_t(m_spark.size()), &byte, 1), 0);
        QCOMPARE(input.readAt(std::uint64_t(m_spark.size()) - 1, &byte, 1), 1);
    }

    void fullDiskLeavesNothing() {
        const QString d = m_dir.filePath("small");
        QDir().mkpath(d);
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", d});
        if (!mount.waitForFinished() || mount.exitCode() != 0)
            QSKIP("mounting a small tmpfs is not permitted here");
        const QString in = m_dir.filePath("big.flv");
        spill(in, m_spark);
        const Run run = repair({in, d + "/out.flv"});
        QProcess::execute("umount", {d});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("No space left"), qPrintable(run.err));
        QVERIFY(!QFile::exists(d + "/out.flv"));
        QCOMPARE(leftovers(d), QStringList());
    }

    // Ctrl+C in the middle of the copy: the temporary file goes with the program.
    void interruptedRunLeavesNothing() {
        const QString d = m_dir.filePath("interrupted");
        QDir().mkpath(d);
        QByteArray big = m_spark.left(13);
        const QList<FlvTag> tags = tagsOf(m_spark);
        for (quint32 round = 0; big.size() < (100 << 20); ++round)
            for (const FlvTag& t : tags.mid(1))
                big += withTimestamp(m_spark.mid(t.at, t.end() - t.at), t.timestamp + round * 10'000);
        spill(d + "/in.flv", big);
        big.clear();
        QProcess p;
        p.start(kProgram, {d + "/in.flv", d + "/out.flv"});
        QVERIFY(p.waitForStarted());
        QElapsedTimer waited;
        waited.start();
        while (leftovers(d).isEmpty() && p.state() == QProcess::Running && waited.elapsed() < 60'000)
            QThread::usleep(200);
        ::kill(pid_t(p.processId()), SIGSTOP);
        QCOMPARE(leftovers(d).size(), 1);
        ::kill(pid_t(p.processId()), SIGINT);
        ::kill(pid_t(p.processId()), SIGCONT);
        QVERIFY(p.waitForFinished(30'000));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QVERIFY(!QFile::exists(d + "/out.flv"));
        QCOMPARE(leftovers(d), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestRepair)
#include "test_repair.moc"
