// Sound files' covers of every awkward kind, made by the test: whatever the cover, the sound
// starts at once, memory stays bounded, quitting is prompt, and the window ends showing the
// cover or "Audio only". And the black beside a picture narrower than the menu bar.
#include "engine/cover_art.h"
#include "engine/player.h"
#include "engine/video_engine.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"
#include "window/size_fitting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>

using namespace movarin;

namespace {

constexpr int kWaitMs = 30000;
// The sound of a file on disk starts within this, on a loaded machine too.
constexpr int kSoundMs = 3000;
constexpr int kQuitMs = 1500;
constexpr long long kMemoryGrowthMiB = 300;
const QRgb kRed = qRgb(255, 0, 0);

long long statusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() / 1024;
    return -1;
}

// From here on the peak memory counts anew.
void resetPeakMemory() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(refs.open(QIODevice::WriteOnly) && refs.write("5") == 1);
}

QImage shownWindow(frmplayer& w) {
    if (QGuiApplication::platformName() == u"xcb")
        return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool near(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b)) < 60;
}

} // namespace

class TestCovers : public QObject {
    Q_OBJECT
    QTemporaryDir m_appDir;
    QTemporaryDir m_dir;

    QString song(const QString& folder, const QString& picture = {}) {
        QDir(m_dir.path()).mkpath(folder);
        const QString path = m_dir.filePath(folder + "/song.mp3");
        QStringList args = {"-f", "lavfi", "-i", "sine=frequency=440:duration=8"};
        if (!picture.isEmpty())
            args += QStringList{"-f",
                                "lavfi",
                                "-i",
                                picture + ":d=1:r=1",
                                "-map",
                                "0:a",
                                "-map",
                                "1:v",
                                "-frames:v",
                                "1",
                                "-c:v",
                                "png",
                                "-disposition:v",
                                "attached_pic"};
        return testing::runFfmpeg(args + QStringList{"-c:a", "libmp3lame", path}) ? path
                                                                                  : QString();
    }
    bool redJpeg(const QString& path, const QString& size) {
        return testing::runFfmpeg(
            {"-f", "lavfi", "-i", "color=c=red:s=" + size, "-frames:v", "1", path});
    }

private slots:
    void initTestCase() {
        use_c_numeric_locale();
        QVERIFY(m_appDir.isValid() && m_dir.isValid());
        QVERIFY(!song("normal").isEmpty() &&
                redJpeg(m_dir.filePath("normal/cover.jpg"), "400x300"));
        QVERIFY(!song("tiny", "color=c=red:s=2x2").isEmpty());
        QVERIFY(!song("huge", "color=c=red:s=16000x16000").isEmpty());
        // A small picture padded with a gigabyte of nothing, kept sparse on disk.
        QVERIFY(!song("padded").isEmpty() && redJpeg(m_dir.filePath("padded/cover.jpg"), "64x64"));
        QVERIFY(QFile::resize(m_dir.filePath("padded/cover.jpg"), 1LL << 30));
        // A pipe that nobody ever writes.
        QVERIFY(!song("fifo").isEmpty());
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath("fifo/cover.jpg")).constData(), 0600),
                 0);
    }

    void decisions_data() {
        QTest::addColumn<QSize>("natural");
        QTest::addColumn<QSize>("decoded");
        QTest::newRow("small as it is") << QSize(2, 2) << QSize(2, 2);
        QTest::newRow("a 4K screen's worth") << QSize(3840, 2160) << QSize(3840, 2160);
        QTest::newRow("16000 square, scaled") << QSize(16000, 16000) << QSize(2880, 2880);
        QTest::newRow("a thread of pixels") << QSize(1, 100000000) << QSize(1, 8294400);
        QTest::newRow("past the source limit") << QSize(20000, 20000) << QSize();
        QTest::newRow("empty") << QSize(0, 10) << QSize();
    }
    void decisions() {
        QFETCH(QSize, natural);
        QFETCH(QSize, decoded);
        QCOMPARE(cover_decode_size(natural), decoded);
    }

    void choices() {
        QCOMPARE(cover_candidates("Song.mp3", {"folder.jpg", "notes.txt", "Cover.PNG", "song.mp3",
                                               "song.JPG", "cover.jpg", "other.jpg"}),
                 (std::vector<std::string>{"song.JPG", "cover.jpg", "Cover.PNG", "folder.jpg"}));
        QCOMPARE(decoders_without_pictures({"h264", "mjpeg", "png", "mp3", "libwebp", "aac"}),
                 std::string("h264,mp3,aac"));
        const twips::PixelSize design{twips::kDesignVideoWidth, twips::kDesignVideoHeight};
        QCOMPARE(fitting::cover_area({2, 2}, design), design);
        QCOMPARE(fitting::cover_area({400, 300}, design), (twips::PixelSize{400, 311}));
        QCOMPARE(fitting::cover_place({2, 2}, design, design),
                 (fitting::PixelRect{189, 154, 2, 2}));
        // Full screen at twice the size: the cover twice as large, still in the middle.
        QCOMPARE(fitting::cover_place({100, 100}, design, {760, 622}),
                 (fitting::PixelRect{280, 211, 200, 200}));
    }

    void coverCases_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("reported"); // Text1 x Text2 once settled; empty: "Audio only"
        QTest::addColumn<bool>("quitWhileReading");
        QTest::newRow("normal cover.jpg") << "normal"
                                          << "400x311" << false;
        QTest::newRow("2x2 embedded, in the Audio only window") << "tiny"
                                                                << "380x311" << false;
        QTest::newRow("16000x16000 embedded PNG") << "huge"
                                                  << "16000x16000" << false;
        QTest::newRow("16000x16000 embedded PNG, quit while reading") << "huge"
                                                                      << "" << true;
        QTest::newRow("cover.jpg padded to 1 GiB") << "padded"
                                                   << "" << false;
        QTest::newRow("cover.jpg a pipe") << "fifo"
                                          << "" << false;
    }
    void coverCases() {
        QFETCH(QString, folder);
        QFETCH(QString, reported);
        QFETCH(bool, quitWhileReading);
        auto w = std::make_unique<frmplayer>(testing::playerSetupIn(m_appDir.path()));
        w->Form_Load(QString());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        PlaybackHost* host = w->player;
        const long long before = statusMiB("VmRSS:");
        resetPeakMemory();

        QElapsedTimer clock;
        clock.start();
        w->play_file(m_dir.filePath(folder + "/song.mp3"));
        QVERIFY2(QTest::qWaitFor([&] { return host->player()->position() > 0.1; }, kSoundMs),
                 "the sound did not start at once");
        qInfo("sound after %lld ms", clock.elapsed());
        if (quitWhileReading) {
            QTest::qWait(300);
            QVERIFY2(!host->showsCover(), "the cover was read before the quit");
        } else if (reported.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(host->audioOnly(), kWaitMs);
            QTest::qWait(1000); // settled: no cover turns up after all
            QVERIFY(host->audioOnly() && !host->showsCover());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(w->Text1 + "x" + w->Text2, reported, kWaitMs);
            QVERIFY(host->showsCover() && !host->audioOnly() && host->controls()->isVisible());
            // On screen: red in the middle, and black around a tiny cover shown at its own size.
            const qreal dpr = w->devicePixelRatioF();
            const QRect at(host->mapTo(w.get(), QPoint()) * dpr, host->size() * dpr);
            const bool tiny = reported == "380x311";
            const auto coverShown = [&] {
                const QImage shot = shownWindow(*w).copy(at);
                return near(shot.pixel(shot.width() / 2, shot.height() / 2), kRed) &&
                       (!tiny || shot.pixel(10, 10) == qRgb(0, 0, 0));
            };
            QTRY_VERIFY_WITH_TIMEOUT(coverShown(), kWaitMs);
            qInfo("cover after %lld ms", clock.elapsed());
        }
        QVERIFY(host->failureText().isEmpty());
        const long long growth = statusMiB("VmHWM:") - before;
        QVERIFY2(growth < kMemoryGrowthMiB, qPrintable(QString("grew by %1 MiB").arg(growth)));
        clock.restart();
        w.reset();
        QVERIFY2(clock.elapsed() < kQuitMs,
                 qPrintable(QString("quit took %1 ms").arg(clock.elapsed())));
        QVERIFY(testing::logOf(m_appDir.path()).isEmpty());
    }

    // Beside a picture narrower than the menu bar, the strip is black, the picture's own
    // background, and the picture keeps its exact size at the left.
    void blackBesideNarrowVideo() {
        const QString clip = testing::makeH264Flv(m_dir.path(), 128, 96, "narrow.flv", 4);
        QVERIFY(!clip.isEmpty());
        auto w = std::make_unique<frmplayer>(testing::playerSetupIn(m_appDir.path()));
        w->Form_Load(clip);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QTRY_COMPARE_WITH_TIMEOUT(w->player->size(), QSize(128, 96), kWaitMs);
        QVERIFY(w->centralWidget()->width() > 128 + 40);
        QTRY_VERIFY_WITH_TIMEOUT(testing::colourful(w->player->currentPicture()), kWaitMs);
        if (video_output() == VideoOutput::Gl)
            QVERIFY(w->player->showsGlPicture());
        const qreal dpr = w->devicePixelRatioF();
        const QPoint area = w->centralWidget()->mapTo(w.get(), QPoint()) * dpr;
        const QRect band(
            area + QPoint(qCeil(130 * dpr), 0),
            QSize(qFloor((w->centralWidget()->width() - 131) * dpr), qFloor(96 * dpr)));
        const auto bandBlack = [&] {
            const QImage shot = shownWindow(*w);
            for (int y = band.top(); y <= band.bottom(); y += 3)
                for (int x = band.left(); x <= band.right(); x += 3)
                    if (shot.pixel(x, y) != qRgb(0, 0, 0))
                        return false;
            return testing::colourful(shot.copy(QRect(area, QSize(128, 96) * dpr)));
        };
        QTRY_VERIFY_WITH_TIMEOUT(bandBlack(), kWaitMs);
    }
};

QTEST_MAIN(TestCovers)
#include "test_covers.moc"
