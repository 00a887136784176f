// FLV files whose timeline lies, played in the real window and asked about over MPRIS on a bus
// of the test's own: the length is what the tags hold (and grows with a recording still being
// written), seeks land where asked, a file of one picture shows it and idles, a file with stream
// headers and no frame says it cannot be played, and timestamps that run backwards still play.
#include "app/start_up.h"
#include "desktop/desktop_integration.h"
#include "engine/player.h"
#include "flv_bytes.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>

using namespace movarin;

namespace {

constexpr int kWait = 20000;

using namespace testing;
using Tag = FlvTag;

void setTimestamp(QByteArray& flv, const Tag& t, quint32 ms) {
    putBe(flv, t.at + 4, 3, ms & 0xffffff);
    flv[t.at + 7] = char(ms >> 24);
}

// The file's own header, then the given tags as they stand.
QByteArray only(const QByteArray& flv, const QList<Tag>& keep) {
    QByteArray out = flv.left(13);
    for (const Tag& t : keep)
        out += flv.mid(t.at, t.end() - t.at);
    return out;
}

// Last sound or picture timestamp minus the first, plus one frame of 25 fps, in seconds.
double timelineOf(const QByteArray& flv) {
    qint64 first = -1, last = 0;
    for (const Tag& t : tagsOf(flv))
        if (t.type == 8 || t.type == 9) {
            if (first < 0)
                first = t.timestamp;
            last = std::max<qint64>(last, t.timestamp);
        }
    return (last - first) / 1000.0 + 0.04;
}

QString field(const QString& text, const char* pattern) {
    return QRegularExpression(pattern).match(text).captured(1);
}

// mpris:length in seconds, or -1.
double mprisLength() {
    const QString n =
        field(testing::mprisProperty("Metadata"), "mpris:length\"\\s+variant\\s+int64 (\\d+)");
    return n.isEmpty() ? -1 : n.toLongLong() / 1e6;
}

double mprisPosition() {
    const QString n = testing::mprisProperty("Position").section("int64 ", 1).trimmed();
    return n.isEmpty() ? -1 : n.toLongLong() / 1e6;
}

bool setPosition(double seconds) {
    const QString id = field(testing::mprisProperty("Metadata"),
                             "mpris:trackid\"\\s+variant\\s+object path \"([^\"]+)\"");
    return !id.isEmpty() &&
           !testing::mprisPlayerCall(
                "SetPosition", {"objpath:" + id, "int64:" + QString::number(qint64(seconds * 1e6))})
                .startsWith("failed");
}

QString g_busAddress;

} // namespace

class TestFlvPlay : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QByteArray m_spark, m_h264, m_h264Mp3;
    std::unique_ptr<frmplayer> m_window;
    int m_frames = 0;

    frmplayer& window() {
        PlayerSetup setup = testing::playerSetupIn(m_dir.path());
        m_window = std::make_unique<frmplayer>(setup);
        attach_desktop(*m_window);
        m_window->Form_Load(QString());
        m_window->show();
        m_frames = 0;
        connect(m_window->player, &PlaybackHost::frameShown, this, [this] { ++m_frames; });
        return *m_window;
    }

    QString put(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        testing::writeFile(path, bytes);
        return path;
    }

    QByteArray made(const QString& name, const QStringList& args) {
        const QString path = m_dir.filePath(name);
        if (!testing::runFfmpeg(args + QStringList{path}))
            return {};
        return testing::readFile(path);
    }

    bool fittedTo(int width, int height) {
        return QTest::qWaitFor(
            [&] {
                return m_window->player->size() == QSize(width, height) &&
                       m_window->centralWidget()->height() == height &&
                       m_window->Text1 == QString::number(width);
            },
            kWait);
    }

    // Paused, a SetPosition shows the place asked for and stays there: nothing restarts.
    void seeksLandAt(double target) {
        Player* player = m_window->player->player();
        QVERIFY(setPosition(target));
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(player->position() - target) < 0.5, kWait);
        const int frames = m_frames;
        QTest::qWait(1200);
        QVERIFY2(
            std::fabs(player->position() - target) < 0.5,
            qPrintable(QString::number(player->position()) + " for " + QString::number(target)));
        QVERIFY(std::fabs(mprisPosition() - target) < 0.5);
        QVERIFY(m_frames >= frames);
        QVERIFY(testing::colourful(m_window->player->currentPicture()));
    }

private slots:
    void initTestCase() {
        QVERIFY2(!g_busAddress.isEmpty(), "dbus-daemon did not start a session bus");
        QVERIFY(m_dir.isValid());
        m_spark = made("spark.flv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:d=10",
                                     "-f", "lavfi", "-i", "sine=frequency=440:d=10", "-c:v", "flv1",
                                     "-c:a", "libmp3lame", "-ar", "44100"});
        m_h264 = made("h264.flv", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:d=10", "-f",
                                   "lavfi", "-i", "sine=frequency=440:d=10", "-c:v", "libx264",
                                   "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac"});
        m_h264Mp3 = made("h264mp3.flv",
                         {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:d=2", "-f", "lavfi",
                          "-i", "sine=frequency=440:d=2", "-c:v", "libx264", "-preset", "ultrafast",
                          "-pix_fmt", "yuv420p", "-c:a", "libmp3lame", "-ar", "44100"});
        QVERIFY(m_spark.size() > 100000 && m_h264.size() > 100000 && m_h264Mp3.size() > 10000);
    }

    void cleanup() { m_window.reset(); }

    // Each file's length over MPRIS is its tags' timeline, whatever its metadata says, and a
    // paused seek to three places up to the last frame shows each of them.
    void lengthIsTheTagsTimeline_data() {
        QTest::addColumn<QString>("kind");
        // Cut at 40 %: onMetaData still says 10 s.
        QTest::newRow("cut recording") << "cut";
        // A live recording's tags start at 6.06 s; the file says 10 s.
        QTest::newRow("late start") << "late";
        // Composition offsets of -256 times the timestamp: every picture at 0 to the decoder.
        QTest::newRow("impossible composition") << "composition";
    }
    void lengthIsTheTagsTimeline() {
        QFETCH(QString, kind);
        QByteArray bytes = kind == "composition" ? m_h264 : m_spark;
        const QList<Tag> tags = tagsOf(bytes);
        if (kind == "cut") {
            bytes = bytes.left(bytes.size() * 2 / 5);
        } else if (kind == "late") {
            for (const Tag& t : tags)
                if (t.type != 18)
                    setTimestamp(bytes, t, t.timestamp + 6060);
        } else {
            int changed = 0;
            for (const Tag& t : tags)
                if (t.type == 9 && t.size > 5 && std::uint8_t(bytes[t.at + 12]) == 1) {
                    putBe(bytes, t.at + 13, 3, quint32(-256 * qint64(t.timestamp)) & 0xffffff);
                    ++changed;
                }
            QVERIFY(changed > 200);
        }
        const QString path = put(kind + ".flv", bytes);
        const double length = timelineOf(bytes);
        QVERIFY(kind == "cut" ? length < 5 : length > 9.5);

        frmplayer& w = window();
        w.play_file(path);
        QVERIFY(fittedTo(320, 240));
        Player* player = w.player->player();
        QTRY_VERIFY_WITH_TIMEOUT(player->position() > 0.2, kWait);
        QTRY_VERIFY2_WITH_TIMEOUT(
            std::fabs(mprisLength() - length) < 0.3,
            qPrintable(QString::number(mprisLength()) + " for " + QString::number(length)), kWait);
        QVERIFY(std::fabs(player->duration() - length) < 0.3);
        player->pause();
        QTRY_VERIFY_WITH_TIMEOUT(player->paused(), kWait);
        for (const double at : {length * 0.3, length * 0.7, length - 0.3})
            seeksLandAt(at);
        // Past the end lands on the last frame, not back at the start.
        QVERIFY(setPosition(length + 5));
        QTest::qWait(1500);
        QVERIFY2(player->position() > length - 0.5,
                 qPrintable(QString::number(player->position())));
        QVERIFY(w.player->failureText().isEmpty());
    }

    // A recording still being written: the length follows it as it grows.
    void growingFileUpdatesItsLength() {
        const QList<Tag> tags = tagsOf(m_spark);
        const auto part = [&](double share) {
            QList<Tag> keep;
            for (const Tag& t : tags)
                if (t.end() <= m_spark.size() * share)
                    keep << t;
            return m_spark.left(keep.last().end());
        };
        const QString path = put("live.flv", part(0.3));
        frmplayer& w = window();
        w.play_file(path);
        QVERIFY(fittedTo(320, 240));
        const double early = timelineOf(part(0.3)), later = timelineOf(part(0.7));
        QVERIFY(later > early + 3);
        QTRY_VERIFY2_WITH_TIMEOUT(
            std::fabs(mprisLength() - early) < 0.3,
            qPrintable(QString::number(mprisLength()) + " for " + QString::number(early)), kWait);
        testing::writeFile(path, part(0.7));
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(w.player->player()->duration() - later) < 0.3, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(mprisLength() - later) < 0.3, kWait);
        QVERIFY(w.player->failureText().isEmpty());
    }

    // One picture and one sound frame: the picture at its size, held, the process idle.
    void onePictureShowsAndIdles() {
        const QByteArray source =
            made("still-source.flv",
                 {"-f", "lavfi", "-i", "testsrc=size=192x154:rate=25:d=1", "-f", "lavfi", "-i",
                  "sine=frequency=440:d=1", "-c:v", "flv1", "-c:a", "libmp3lame", "-ar", "44100"});
        QList<Tag> keep;
        bool video = false, audio = false;
        for (const Tag& t : tagsOf(source)) {
            if (t.type == 18 || (t.type == 9 && !video) || (t.type == 8 && !audio))
                keep << t;
            video = video || t.type == 9;
            audio = audio || t.type == 8;
        }
        QCOMPARE(keep.size(), 3);
        const QString path = put("still.flv", only(source, keep));
        frmplayer& w = window();
        w.play_file(path);
        QVERIFY(fittedTo(192, 154));
        QTRY_VERIFY_WITH_TIMEOUT(testing::colourful(w.player->currentPicture()), kWait);
        QTest::qWait(2500);
        QVERIFY2(w.player->failureText().isEmpty(), qPrintable(w.player->failureText()));
        QElapsedTimer clock;
        clock.start();
        const double before = testing::cpuSeconds();
        QTest::qWait(2000);
        const double share = (testing::cpuSeconds() - before) / (double(clock.elapsed()) / 1000);
        qInfo("CPU while one picture is shown: %.1f %% of one core", share * 100);
        QVERIFY2(share < 0.20, qPrintable(QString::number(share * 100) + " %"));
        QVERIFY(w.player->failureText().isEmpty());
        QVERIFY(fittedTo(192, 154));
        QVERIFY(testing::colourful(w.player->currentPicture()));
    }

    // Stream headers and no frame to decode: said so within moments, at the design size.
    void framelessFilesCannotPlay_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("H.264 and AAC, cut in the first picture") << "aac";
        QTest::newRow("H.264 and MP3, headers only") << "mp3";
    }
    void framelessFilesCannotPlay() {
        QFETCH(QString, kind);
        const QByteArray source = kind == "aac" ? m_h264 : m_h264Mp3;
        QList<Tag> keep;
        Tag picture;
        for (const Tag& t : tagsOf(source)) {
            const bool config = (t.type == 9 && std::uint8_t(source[t.at + 12]) == 0) ||
                                (t.type == 8 && (std::uint8_t(source[t.at + 11]) >> 4) == 10 &&
                                 std::uint8_t(source[t.at + 12]) == 0);
            if (t.type == 18 || config) {
                keep << t;
            } else if (t.type == 9) {
                picture = t;
                break;
            }
        }
        QByteArray bytes = only(source, keep);
        if (kind == "aac")
            bytes += source.mid(picture.at, 11 + picture.size / 2);
        QVERIFY(keep.size() >= 2);
        const QString name = "headers-" + kind + ".flv";
        const QString path = put(name, bytes);
        frmplayer& w = window();
        QElapsedTimer clock;
        clock.start();
        w.play_file(path);
        QTRY_VERIFY_WITH_TIMEOUT(!w.player->failureText().isEmpty(), kWait);
        qInfo("\"%s\" after %lld ms", qPrintable(w.player->failureText()),
              qlonglong(clock.elapsed()));
        QCOMPARE(w.player->failureText(), "Cannot play " + name);
        // Within a second or two on a quiet machine; the margin is for a loaded one.
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(fittedTo(380, 311));
    }

    // Tag timestamps that run backwards: the pictures still come, and nothing gives up.
    void reversedTimestampsPlay() {
        QByteArray bytes = m_spark;
        const QList<Tag> tags = tagsOf(bytes);
        quint32 last = 0;
        for (const Tag& t : tags)
            last = std::max(last, t.timestamp);
        for (const Tag& t : tags)
            if (t.type != 18)
                setTimestamp(bytes, t, last - t.timestamp);
        const QString path = put("backwards.flv", bytes);
        frmplayer& w = window();
        w.play_file(path);
        QVERIFY(fittedTo(320, 240));
        QTRY_VERIFY_WITH_TIMEOUT(m_frames > 3, kWait);
        // At the clip's own pace, however fast the machine: time moves on by the clock and
        // pictures keep coming, instead of the whole clip flashing by in a few milliseconds.
        Player* player = w.player->player();
        const double start = player->position();
        const int framesAtStart = m_frames;
        QSignalSpy restarts(player, &Player::seeked);
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(2000);
        const double moved = player->position() - start;
        const double seconds = double(clock.elapsed()) / 1000;
        qInfo("%.2f s of the clip, %d pictures and %d restarts in %.2f s", moved,
              m_frames - framesAtStart, int(restarts.count()), seconds);
        QCOMPARE(restarts.count(), 0); // the clip lasts 10 s
        // Loose enough for a machine that drops half the pictures.
        QVERIFY2(moved > seconds / 2 && moved < seconds + 0.5, qPrintable(QString::number(moved)));
        QVERIFY(m_frames - framesAtStart > 10);
        QTest::qWait(3000);
        QVERIFY2(w.player->failureText().isEmpty(), qPrintable(w.player->failureText()));
        const int frames = m_frames;
        QTRY_VERIFY_WITH_TIMEOUT(m_frames > frames + 10, kWait);
        QVERIFY(testing::colourful(w.player->currentPicture()));
    }

    // A recording that starts again part way (two takes in one file): the second take plays
    // at its own numbers, so the time shown goes back with it and never passes the length.
    void restartedRecordingKeepsItsTime() {
        const QList<Tag> tags = tagsOf(m_spark);
        QByteArray bytes = m_spark.left(13);
        for (const Tag& t : tags)
            if (t.type == 18 || t.timestamp <= 2000)
                bytes += m_spark.mid(t.at, t.end() - t.at);
        for (const Tag& t : tags)
            if (t.type != 18)
                bytes += m_spark.mid(t.at, t.end() - t.at);
        const QString path = put("two-takes.flv", bytes);
        frmplayer& w = window();
        w.play_file(path);
        QVERIFY(fittedTo(320, 240));
        QTRY_VERIFY_WITH_TIMEOUT(m_frames > 3, kWait);
        Player* player = w.player->player();
        QSignalSpy restarts(player, &Player::seeked);
        double highest = 0;
        bool wentBack = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            const double at = player->position();
            QVERIFY2(at <= player->duration() + 0.1,
                     qPrintable(QString("%1 of %2").arg(at).arg(player->duration())));
            wentBack = wentBack || at < highest - 1;
            highest = std::max(highest, at);
        });
        watch.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(wentBack, 8000);
        QCOMPARE(restarts.count(), 0); // not the loop: the file is 12 s long
        const int frames = m_frames;
        QTRY_VERIFY_WITH_TIMEOUT(m_frames > frames + 10, kWait);
        QVERIFY(w.player->failureText().isEmpty());
    }
};

int main(int argc, char* argv[]) {
    return testing::execOnPrivateBus<TestFlvPlay>(argc, argv, g_busAddress);
}

#include "test_flv_play.moc"
