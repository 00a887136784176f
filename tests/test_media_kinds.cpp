// Files of many kinds besides FLV, made with ffmpeg and played one after another in one window:
// each ends, within seconds, in its picture upright at its display size, "Audio only" with the
// bar, or "Cannot play <name>", and never in an abort, a black window without words or a line in
// the log. The same table runs drawn in memory and, under Xvfb, through OpenGL.
#include "app/start_up.h"
#include "engine/gl_drivers.h"
#include "engine/video_engine.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"
#include "window/twips.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace movarin;

namespace {

// As the program does it, before the application is made, for the run through OpenGL.
const bool kGlAllowed = [] {
    allow_gl_video();
    return true;
}();

enum class End { Picture, AudioOnly, CannotPlay };

// Seconds the player may take to settle on its end state: the longest wait before it gives up
// on a file that shows nothing, with room for a loaded machine.
constexpr int kSettleMs = 15000;

QStringList tone(int seconds = 3) {
    return {"-f", "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds)};
}
QStringList picture(const QString& size, int seconds = 3) {
    return {"-f", "lavfi", "-i",
            QStringLiteral("testsrc2=size=%1:rate=25:duration=%2").arg(size).arg(seconds)};
}
const QStringList kH264 = {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};

struct Kind {
    QString name;
    QStringList ffmpeg;
    // Bytes to overwrite in what ffmpeg made, each with as many others: a codec renamed to one
    // nobody decodes.
    QList<QPair<QByteArray, QByteArray>> patches;
    // Bytes to drop from the front, in whole 188-byte transport packets: a recording cut before
    // its first keyframe.
    int dropPackets = 0;
    End end;
    QSize size;
    // What is done to ffmpeg's output: remuxed by a second ffmpeg run with these arguments (a
    // rotation the encoder would leave out), another ffmpeg run's output appended byte for byte
    // (a stream that changes midway), only this share of its bytes kept (a recording cut off).
    QStringList remux = {};
    QStringList appended = {};
    int keepPercent = 100;
    // Red over blue turned a quarter clockwise: red on the left once upright.
    bool redLeft = false;
};

// Red over blue, 320x240, and the same turned by each means a file has of saying so.
QStringList redOverBlue(double seconds = 3) {
    return {"-f", "lavfi", "-i",
            QStringLiteral("color=c=red:s=320x120:d=%1[a];color=c=blue:s=320x120:d=%1[b];"
                           "[a][b]vstack")
                .arg(seconds)};
}
const QStringList kTurnTag = {"-c", "copy", "-metadata:s:v:0", "rotate=90"};
QStringList turnInStream(int degrees) {
    return {"-bsf:v",
            QStringLiteral("h264_metadata=display_orientation=insert:rotate=%1").arg(degrees)};
}

} // namespace

class TestMediaKinds : public QObject {
    Q_OBJECT
    QTemporaryDir m_appDir;
    QTemporaryDir m_dir;
    QList<Kind> m_kinds;
    std::unique_ptr<frmplayer> m_window;

    bool make(const Kind& kind) {
        const QString path = m_dir.filePath(kind.name);
        if (kind.ffmpeg.size() == 1) // a file ffmpeg cannot make, copied in
            return QFile::copy(kind.ffmpeg.first(), path);
        const QString stage = kind.remux.isEmpty() ? path : m_dir.filePath("stage " + kind.name);
        if (!testing::runFfmpeg(kind.ffmpeg + QStringList{stage}) ||
            (!kind.remux.isEmpty() &&
             !testing::runFfmpeg(QStringList{"-i", stage} + kind.remux + QStringList{path})))
            return false;
        const QString tail = m_dir.filePath("tail " + kind.name);
        if (!kind.appended.isEmpty() && !testing::runFfmpeg(kind.appended + QStringList{tail}))
            return false;
        if (kind.patches.isEmpty() && kind.dropPackets == 0 && kind.appended.isEmpty() &&
            kind.keepPercent == 100)
            return true;
        QByteArray bytes = testing::readFile(path);
        if (!kind.appended.isEmpty())
            bytes += testing::readFile(tail);
        if (kind.keepPercent < 100)
            bytes.truncate(bytes.size() * kind.keepPercent / 100 / 188 * 188);
        for (const auto& [from, to] : kind.patches) {
            if (!bytes.contains(from) || from.size() != to.size())
                return false;
            bytes.replace(from, to);
        }
        bytes.remove(0, qsizetype(kind.dropPackets) * 188);
        QFile out(path);
        return out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               out.write(bytes) == bytes.size();
    }

private slots:
    // The GL run's drivers stay mapped, as in the program, so the leak check sees no unload.
    void cleanupTestCase() { keep_gl_drivers_loaded(); }

    void initTestCase() {
        use_c_numeric_locale();
        QVERIFY(m_appDir.isValid() && m_dir.isValid());
        const QSize design(twips::kDesignVideoWidth, twips::kDesignVideoHeight);
        const QStringList keyframeOnce = {"-g", "1000", "-sc_threshold", "0"};
        m_kinds = {
            {"broadcast.ts",
             picture("1024x576") + tone() + kH264 + QStringList{"-c:a", "aac"},
             {},
             0,
             End::Picture,
             {1024, 576}},
            // FFmpeg's reader told to take an FLV must not stay told for the files after it.
            {"clip.flv",
             picture("320x240") + tone() + QStringList{"-c:v", "flv1", "-c:a", "libmp3lame"},
             {},
             0,
             End::Picture,
             {320, 240}},
            {"after flv.ts",
             picture("480x270") + tone() + kH264 + QStringList{"-c:a", "aac"},
             {},
             0,
             End::Picture,
             {480, 270}},
            {"dvd.mpg",
             picture("352x288") + tone() + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2"},
             {},
             0,
             End::Picture,
             {352, 288}},
            {"theora.ogv",
             picture("320x240") + tone() + QStringList{"-c:v", "libtheora", "-c:a", "libvorbis"},
             {},
             0,
             End::Picture,
             {320, 240}},
            {"real.rm",
             picture("320x240") + tone() + QStringList{"-c:v", "rv20", "-c:a", "ac3"},
             {},
             0,
             End::Picture,
             {320, 240}},
            // Its video is renamed to a codec nobody has, its sound plays.
            {"unknown video.mkv",
             picture("640x360") + tone() + kH264 + QStringList{"-c:a", "aac"},
             {{"V_MPEG4/ISO/AVC", "V_UNKNOWN/CODEC"}},
             0,
             End::AudioOnly,
             design},
            // Right after sound only: the next file's video is chosen again.
            {"after sound only.mp4",
             picture("640x360") + tone() + kH264 + QStringList{"-c:a", "aac"},
             {},
             0,
             End::Picture,
             {640, 360}},
            {"three dead videos.wmv",
             picture("320x240") + tone() +
                 QStringList{"-map", "0:v", "-map", "0:v", "-map", "0:v", "-map", "1:a", "-c:v",
                             "wmv2", "-c:a", "wmav2"},
             {{"WMV2", "ZZZ9"}},
             0,
             End::AudioOnly,
             design},
            {"nothing decodes.mkv",
             picture("640x360") + tone() + kH264 + QStringList{"-c:a", "aac"},
             {{"V_MPEG4/ISO/AVC", "V_UNKNOWN/CODEC"}, {"A_AAC", "A_XYZ"}},
             0,
             End::CannotPlay,
             design},
            // Cut after its only keyframe: the decoder takes every picture and gives none back.
            {"cut with sound.ts",
             picture("320x240", 8) + tone(8) + kH264 + keyframeOnce + QStringList{"-c:a", "mp2"},
             {},
             400,
             End::AudioOnly,
             design},
            {"cut without sound.ts",
             picture("320x240", 8) + kH264 + keyframeOnce,
             {},
             300,
             End::CannotPlay,
             design},
            // A sound file's cover is its picture, at its own size, inside the window that would
            // say "Audio only" where it is smaller.
            {"song with cover.mp3",
             tone() + picture("300x300", 1) +
                 QStringList{"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:a", "libmp3lame",
                             "-c:v", "mjpeg", "-disposition:v", "attached_pic"},
             {},
             0,
             End::Picture,
             design},
            // A video with a cover beside it plays its own picture.
            {"video with cover.mp4",
             picture("640x360") + tone() + picture("400x300", 1) + kH264 +
                 QStringList{"-map", "0:v", "-map", "1:a", "-map", "2:v", "-frames:v:1", "1",
                             "-c:v:1", "png", "-disposition:v:1", "attached_pic", "-c:a", "aac"},
             {},
             0,
             End::Picture,
             {640, 360}},
            {"sound only.mp3",
             tone() + QStringList{"-c:a", "libmp3lame"},
             {},
             0,
             End::AudioOnly,
             design},
            // Turned, by the container's matrix in MP4 and MOV, by the stream itself, by both
            // (the container wins), 10-bit, and a phone's HDR clip whose first picture carries
            // its matrix too: upright at the turned size whichever way the picture is drawn.
            {"turned.mp4",
             redOverBlue() + kH264,
             {},
             0,
             End::Picture,
             {240, 320},
             kTurnTag,
             {},
             100,
             true},
            {"turned.mov",
             redOverBlue() + kH264,
             {},
             0,
             End::Picture,
             {240, 320},
             kTurnTag,
             {},
             100,
             true},
            {"turned in its stream.mp4",
             redOverBlue() + kH264 + turnInStream(90),
             {},
             0,
             End::Picture,
             {320, 240}},
            {"turned twice.mp4",
             redOverBlue() + kH264 + turnInStream(180),
             {},
             0,
             End::Picture,
             {240, 320},
             kTurnTag,
             {},
             100,
             true},
            {"turned 10-bit.mp4",
             redOverBlue() + QStringList{"-c:v", "libx265", "-pix_fmt", "yuv420p10le",
                                         "-x265-params", "log-level=none"},
             {},
             0,
             End::Picture,
             {240, 320},
             kTurnTag,
             {},
             100,
             true},
            {"turns midway.ts",
             redOverBlue(2) + kH264,
             {},
             0,
             End::Picture,
             {320, 240},
             {},
             redOverBlue(2) + kH264 + turnInStream(90) + QStringList{"-f", "mpegts"}},
            {"phone hdr turned.mov",
             {QStringLiteral(MOVARIN_SOURCE_DIR "/tests/data/phone-hdr-rotated.mov")},
             {},
             0,
             End::Picture,
             {720, 1280}},
            // Few pictures are pictures: one anamorphic MPEG-2 frame, damaged by cutting the file
            // short, beside an MP3 stream without parameters; a recording cut in half after
            // 0.37 s of video.
            {"one damaged frame.ts",
             picture("720x576", 1) + tone(1) +
                 QStringList{"-frames:v", "1", "-c:v", "mpeg2video", "-aspect", "16:9", "-c:a",
                             "libmp3lame", "-t", "0.04"},
             {},
             0,
             End::Picture,
             {1024, 576},
             {},
             {},
             60},
            {"cut in half.ts",
             picture("640x360", 1) + kH264 + QStringList{"-t", "0.74"},
             {},
             0,
             End::Picture,
             {640, 360},
             {},
             {},
             50},
        };
        for (const Kind& kind : m_kinds)
            QVERIFY2(make(kind), qPrintable(kind.name));
    }

    void everyKindEndsInAVisibleState() {
        PlayerSetup setup = testing::playerSetupIn(m_appDir.path());
        m_window = std::make_unique<frmplayer>(setup);
        m_window->Form_Load(QString());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        PlaybackHost* host = m_window->player;

        for (const Kind& kind : m_kinds) {
            const QString path = m_dir.filePath(kind.name);
            QElapsedTimer clock;
            clock.start();
            m_window->play_file(path);
            const QString fitted =
                QStringLiteral("%1x%2").arg(kind.size.width()).arg(kind.size.height());
            const auto fits = [&] {
                return m_window->Text1 + "x" + m_window->Text2 == fitted &&
                       m_window->centralWidget()->size() == kind.size;
            };
            bool ended = false;
            switch (kind.end) {
            case End::Picture:
                ended = QTest::qWaitFor(
                    [&] {
                        return fits() && testing::colourful(host->currentPicture()) &&
                               host->failureText().isEmpty() && !host->audioOnly();
                    },
                    kSettleMs);
                break;
            case End::AudioOnly:
                ended = QTest::qWaitFor(
                    [&] { return fits() && host->audioOnly() && host->failureText().isEmpty(); },
                    kSettleMs);
                break;
            case End::CannotPlay:
                ended = QTest::qWaitFor(
                    [&] { return fits() && host->failureText() == "Cannot play " + kind.name; },
                    kSettleMs);
                break;
            }
            qInfo("%s: %lld ms, shows \"%s\" at %sx%s", qPrintable(kind.name), clock.elapsed(),
                  qPrintable(host->failureText().isEmpty()
                                 ? (host->audioOnly() ? "Audio only" : "picture")
                                 : host->failureText()),
                  qPrintable(m_window->Text1), qPrintable(m_window->Text2));
            QVERIFY2(ended, qPrintable(kind.name + " did not end as expected"));
            // Upright once settled: the engine's GPU renderer may show a first picture whose
            // own turn contradicts its container's before it settles.
            if (kind.redLeft) {
                QColor left, right;
                const bool upright = QTest::qWaitFor(
                    [&] {
                        const QImage shown = host->currentPicture();
                        left = shown.pixelColor(4, shown.height() / 2);
                        right = shown.pixelColor(shown.width() - 5, shown.height() / 2);
                        return left.red() > 200 && left.blue() < 60 && right.blue() > 200 &&
                               right.red() < 60;
                    },
                    kSettleMs);
                QVERIFY2(upright, qPrintable(kind.name + " is not upright: " + left.name() + " " +
                                             right.name()));
            }
            // Drawn the way this run asks for.
            QCOMPARE(host->engine()->drawsWithGl(),
                     qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT") == u"gl");
            // Settled: a second later it still shows the same.
            QTest::qWait(1000);
            QCOMPARE(host->audioOnly(), kind.end == End::AudioOnly);
            QCOMPARE(host->failureText().isEmpty(), kind.end != End::CannotPlay);
            QVERIFY2(fits(), qPrintable(kind.name));
            QVERIFY2(testing::logOf(m_appDir.path()).isEmpty(),
                     qPrintable(kind.name + " was logged"));
        }
        m_window.reset();
    }

    // A tiny file is read whole at once, long before a slow machine has its first picture
    // decoded: that it has been read is no sign that nothing will come. A slow filter ahead of
    // the output stands in for the slow machine.
    void slowFirstPictureStillShows() {
        PlayerSetup setup = testing::playerSetupIn(m_appDir.path());
        setup.engineOptions << QStringLiteral("vf=lavfi=[nlmeans=s=10:p=7:r=15]");
        frmplayer window(setup);
        window.Form_Load(QString());
        window.show();
        const QString name = QStringLiteral("one damaged frame.ts");
        window.play_file(m_dir.filePath(name));
        QVERIFY2(QTest::qWaitFor([&] { return window.Text1 == u"1024"; }, kSettleMs),
                 qPrintable(window.player->failureText() + " " + window.Text1));
        QCOMPARE(window.Text2, QStringLiteral("576"));
        QVERIFY(window.player->failureText().isEmpty());
    }
};

QTEST_MAIN(TestMediaKinds)
#include "test_media_kinds.moc"
