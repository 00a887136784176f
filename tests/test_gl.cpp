// The picture drawn through OpenGL, checked on the X server's screen: colours, size at any
// scale, full screen, the next file, a rotated clip; and the choice of path: software on a
// software rasterizer, and where GL fails. Each check runs in the environment its ctest entry
// sets (MOVARIN_VIDEO_OUTPUT, broken GL libraries, a scale factor).
#include "app/start_up.h"
#include "engine/gl_drivers.h"
#include "engine/mpv_engine.h"
#include "engine/video_engine.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QAction>
#include <QDir>
#include <QOpenGLContext>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace movarin;

namespace {

constexpr int kWait = 20000;

// As the program does it, before the application is made.
const bool kGlAllowed = [] {
    allow_gl_video();
    return true;
}();

QString makeClip(const QString& dir, const QString& name, const QString& graph,
                 const QStringList& codec = {"-c:v", "flv1", "-q:v", "2"}) {
    const QString path = QDir(dir).filePath(name);
    return testing::runFfmpeg(QStringList{"-f", "lavfi", "-i", graph} + codec + QStringList{path})
               ? path
               : QString();
}

bool near(QRgb seen, QRgb wanted) {
    return std::abs(qRed(seen) - qRed(wanted)) < 60 &&
           std::abs(qGreen(seen) - qGreen(wanted)) < 60 &&
           std::abs(qBlue(seen) - qBlue(wanted)) < 60;
}

// What differs between `shot` inside `area` and a picture made of `cells` (rows of colours),
// sampled at each cell's centre and near the area's four corners; empty when nothing does.
QString mismatch(const QImage& shot, const QRect& area, const QList<QList<QRgb>>& cells) {
    if (shot.isNull() || !shot.rect().contains(area))
        return QStringLiteral("no picture at %1,%2 %3x%4")
            .arg(area.x())
            .arg(area.y())
            .arg(area.width())
            .arg(area.height());
    const int rows = int(cells.size());
    const int cols = int(cells.first().size());
    auto check = [&](int x, int y) -> QString {
        const int row = std::min(rows - 1, (y - area.y()) * rows / area.height());
        const int col = std::min(cols - 1, (x - area.x()) * cols / area.width());
        const QRgb seen = shot.pixel(x, y);
        return near(seen, cells[row][col]) ? QString()
                                           : QStringLiteral("at %1,%2: %3, wanted %4")
                                                 .arg(x)
                                                 .arg(y)
                                                 .arg(seen, 8, 16)
                                                 .arg(cells[row][col], 8, 16);
    };
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            if (QString m = check(area.x() + (2 * c + 1) * area.width() / (2 * cols),
                                  area.y() + (2 * r + 1) * area.height() / (2 * rows));
                !m.isEmpty())
                return m;
    // The picture reaches every edge of its area: not smaller, not shifted.
    const int in = 3;
    for (const QPoint& p :
         {area.topLeft() + QPoint(in, in), area.topRight() + QPoint(-in, in),
          area.bottomLeft() + QPoint(in, -in), area.bottomRight() + QPoint(-in, -in)})
        if (QString m = check(p.x(), p.y()); !m.isEmpty())
            return "edge " + m;
    return {};
}

// The smallest rectangle holding every pixel near `colour`, every second row and column.
QRect colourBox(const QImage& shot, QRgb colour) {
    QRect box;
    for (int y = 0; y < shot.height(); y += 2) {
        const auto* line = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); x += 2)
            if (near(line[x], colour))
                box |= QRect(x, y, 2, 2);
    }
    return box;
}

QImage rootShot() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

void xdotool(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    QVERIFY(tool.waitForFinished(10000) && tool.exitCode() == 0);
}

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255),
           kWhite = qRgb(255, 255, 255), kYellow = qRgb(255, 255, 0), kBlack = qRgb(0, 0, 0);

} // namespace

class TestGl : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_quadrants; // red, green over blue, white; 320x240
    QString m_yellow;    // 240x180
    QString m_rotated;   // red over blue, 320x240, to be turned a quarter

    std::unique_ptr<frmplayer> play(const QString& file) {
        PlayerSetup setup = testing::playerSetupIn(m_dir->path());
        auto w = std::make_unique<frmplayer>(setup);
        w->Form_Load(file);
        w->show();
        return w;
    }

    // The window as the X server shows it, in device pixels, and where the host stands in it.
    static QImage screenOf(frmplayer& w) {
        return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    }
    static QRect hostOnScreen(const frmplayer& w) {
        const qreal dpr = w.devicePixelRatioF();
        const QRect logical(w.player->mapTo(&w, QPoint()), w.player->size());
        return QRect(qRound(logical.x() * dpr), qRound(logical.y() * dpr),
                     qRound(logical.width() * dpr), qRound(logical.height() * dpr));
    }
    static QSize videoArea(const frmplayer& w) { return w.centralWidget()->size(); }

    // The picture on screen is `cells`, drawn through GL, and frames keep coming.
    void checkGlPicture(frmplayer& w, const QList<QList<QRgb>>& cells) {
        QTRY_VERIFY_WITH_TIMEOUT(w.player->showsGlPicture(), kWait);
        QVERIFY(w.player->engine()->drawsWithGl());
        // A Wayland client cannot read the screen; what it composes is checked there instead.
        if (QGuiApplication::platformName() != u"wayland")
            QTRY_COMPARE_WITH_TIMEOUT(mismatch(screenOf(w), hostOnScreen(w), cells), QString(),
                                      kWait);
        QTRY_COMPARE_WITH_TIMEOUT(
            mismatch(w.player->currentPicture(), QRect(QPoint(), hostOnScreen(w).size()), cells),
            QString(), kWait);
        const long long shown = w.player->framesShown();
        QTRY_VERIFY_WITH_TIMEOUT(w.player->framesShown() > shown + 5, kWait);
    }

private slots:
    void cleanup() { keep_gl_drivers_loaded(); }
    void initTestCase() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_quadrants = makeClip(m_dir->path(), "quadrants.flv",
                               "color=c=red:s=160x120:d=4[a];color=c=lime:s=160x120:d=4[b];"
                               "color=c=blue:s=160x120:d=4[c];color=c=white:s=160x120:d=4[d];"
                               "[a][b]hstack[t];[c][d]hstack[u];[t][u]vstack");
        m_yellow = makeClip(m_dir->path(), "yellow.flv", "color=c=yellow:s=240x180:d=4");
        const QString upright =
            makeClip(m_dir->path(), "upright.mp4",
                     "color=c=red:s=320x120:d=6[a];color=c=blue:s=320x120:d=6[b];[a][b]vstack",
                     {"-c:v", "libx264", "-pix_fmt", "yuv420p"});
        QVERIFY(!m_quadrants.isEmpty() && !m_yellow.isEmpty() && !upright.isEmpty());
        m_rotated = m_dir->filePath("rotated.mp4");
        QVERIFY(testing::runFfmpeg(
            {"-i", upright, "-c", "copy", "-metadata:s:v:0", "rotate=90", m_rotated}));
    }

    void choosesPath_data() {
        QTest::addColumn<QString>("forced");
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<bool>("gl");
        const QString gpu = "AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)";
        const QString llvmpipe = "llvmpipe (LLVM 15.0.6, 256 bits)";
        QTest::newRow("auto, hardware") << "auto" << gpu << true;
        QTest::newRow("unset, hardware") << "" << gpu << true;
        QTest::newRow("auto, llvmpipe") << "auto" << llvmpipe << false;
        QTest::newRow("auto, softpipe") << "auto"
                                        << "softpipe" << false;
        QTest::newRow("auto, swrast") << "auto"
                                      << "Mesa swrast" << false;
        QTest::newRow("auto, Apple's") << "auto"
                                       << "Apple Software Renderer" << false;
        QTest::newRow("auto, no context") << "auto"
                                          << "" << false;
        QTest::newRow("gl, llvmpipe") << "gl" << llvmpipe << true;
        QTest::newRow("GL in capitals, blanks") << " GL " << llvmpipe << true;
        QTest::newRow("gl, no context") << "gl"
                                        << "" << false;
        QTest::newRow("software, hardware") << "software" << gpu << false;
        QTest::newRow("unknown word is auto") << "vulkan" << gpu << true;
        QTest::newRow("unknown word, llvmpipe") << "fast" << llvmpipe << false;
    }
    // Why GL cannot show video: a context short of OpenGL 2.1 with GLSL 1.20 (or OpenGL ES
    // 2.0), or a screen larger than a texture may be. Empty: it can.
    void glShortfall_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("glsl");
        QTest::addColumn<int>("maxTexture");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QString>("reason");
        const QString mesa = "4.5 (Compatibility Profile) Mesa 22.3.6";
        const QSize hd(1920, 1080);
        QTest::newRow("Mesa 4.5") << mesa << "4.50" << 16384 << hd << "";
        QTest::newRow("overridden to 1.4") << "1.4 (Compatibility Profile) Mesa 22.3.6"
                                           << "1.10" << 16384 << hd << "GLSL \"1.10\"";
        QTest::newRow("2.1, GLSL 1.20") << "2.1 Mesa 22.3.6"
                                        << "1.20" << 8192 << hd << "";
        QTest::newRow("2.1, GLSL 1.10") << "2.1 Mesa 22.3.6"
                                        << "1.10" << 8192 << hd << "GLSL \"1.10\"";
        QTest::newRow("2.0, GLSL 1.10") << "2.0 Mesa 22.3.6"
                                        << "1.10" << 8192 << hd << "OpenGL \"2.0 Mesa";
        QTest::newRow("ES 2.0") << "OpenGL ES 2.0 Mesa 22.3.6"
                                << "OpenGL ES GLSL ES 1.0.16" << 4096 << hd << "";
        QTest::newRow("ES 1.1") << "OpenGL ES-CM 1.1 Mesa 22.3.6"
                                << "" << 4096 << hd << "\"OpenGL ES-CM 1.1";
        QTest::newRow("no GLSL") << mesa << "" << 16384 << hd << "GLSL \"\"";
        QTest::newRow("screen wider") << mesa << "4.50" << 16384 << QSize(17000, 400)
                                      << "17000x400 pixels, is larger than OpenGL's texture "
                                         "limit of 16384";
        QTest::newRow("screen at the limit")
            << mesa << "4.50" << 16384 << QSize(16384, 16384) << "";
        QTest::newRow("limit unknown") << mesa << "4.50" << 0 << hd << "limit of 0";
    }
    void glShortfall() {
        QFETCH(QString, version);
        QFETCH(QString, glsl);
        QFETCH(int, maxTexture);
        QFETCH(QSize, screen);
        QFETCH(QString, reason);
        const QString said = gl_shortfall({"Some GPU", version, glsl, maxTexture}, screen);
        QVERIFY2(reason.isEmpty() ? said.isEmpty() : said.contains(reason), qPrintable(said));
        // Without a context there is nothing to ask.
        QCOMPARE(gl_shortfall({"", version, glsl, maxTexture}, screen), "no OpenGL context");
    }

    void choosesPath() {
        QFETCH(QString, forced);
        QFETCH(QString, renderer);
        QFETCH(bool, gl);
        QCOMPARE(choose_video_output(forced, renderer) == VideoOutput::Gl, gl);
    }

    // MOVARIN_VIDEO_OUTPUT=gl from here to glRotatedUpright.
    void glPicture() {
        QCOMPARE(video_output(), VideoOutput::Gl);
        auto w = play(m_quadrants);
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(320, 240), kWait);
        checkGlPicture(*w, {{kRed, kGreen}, {kBlue, kWhite}});
        QCOMPARE(hostOnScreen(*w).size(), QSize(320, 240) * w->devicePixelRatioF());
    }

    void glFullScreen() {
        auto w = play(m_quadrants);
        QTRY_VERIFY_WITH_TIMEOUT(w->player->showsGlPicture(), kWait);
        // A double-click on the picture, routed by the window as a user's: the GL view lets it
        // through to the host.
        QTest::mouseDClick(w->windowHandle(), Qt::LeftButton, {},
                           w->player->mapTo(w.get(), QPoint(40, 40)));
        QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), w->screen()->geometry(), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(
            w->player->width() == w->width() || w->player->height() == w->height(), kWait);
        checkGlPicture(*w, {{kRed, kGreen}, {kBlue, kWhite}});
        // Black in the bars, top and bottom, or left and right.
        const QImage shot = screenOf(*w);
        const QRect picture = hostOnScreen(*w);
        QVERIFY(shot.size() == w->size() * w->devicePixelRatioF());
        const QPoint bar = picture.top() > 0 ? QPoint(shot.width() / 2, picture.top() / 2)
                                             : QPoint(picture.left() / 2, shot.height() / 2);
        QVERIFY2(picture.top() > 2 || picture.left() > 2, "no bars at all");
        QVERIFY(near(shot.pixel(bar), kBlack));
        w->player->controls()->fullScreenAction()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(320, 240), kWait);
        checkGlPicture(*w, {{kRed, kGreen}, {kBlue, kWhite}});
    }

    void glNextFile() {
        auto w = play(m_quadrants);
        QTRY_VERIFY_WITH_TIMEOUT(w->player->showsGlPicture(), kWait);
        w->play_file(m_yellow);
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(240, 180), kWait);
        checkGlPicture(*w, {{kYellow}});
        // And back: the notice of a file that cannot play, then a picture again.
        w->play_file(m_dir->filePath("missing.flv"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->player->failureText().isEmpty(), kWait);
        QVERIFY(!w->player->showsGlPicture());
        w->play_file(m_quadrants);
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(320, 240), kWait);
        checkGlPicture(*w, {{kRed, kGreen}, {kBlue, kWhite}});
    }

    // Turned a quarter clockwise as its metadata asks: the top, red, on the left, upright.
    void glRotatedUpright() {
        auto w = play(m_rotated);
        QTRY_COMPARE_WITH_TIMEOUT(videoArea(*w), QSize(240, 320), kWait);
        checkGlPicture(*w, {{kRed, kBlue}});
    }

    // GL lost in the middle of a file: the same file plays on, drawn in memory, with no notice;
    // a turned one stays upright, now turned by the engine before it is drawn.
    void glLostWhilePlaying_data() {
        QTest::addColumn<bool>("rotated");
        QTest::newRow("plain") << false;
        QTest::newRow("turned") << true;
    }
    void glLostWhilePlaying() {
        QFETCH(bool, rotated);
        const QList<QList<QRgb>> cells = rotated
                                             ? QList<QList<QRgb>>{{kRed, kBlue}}
                                             : QList<QList<QRgb>>{{kRed, kGreen}, {kBlue, kWhite}};
        auto w = play(rotated ? m_rotated : m_quadrants);
        QTRY_VERIFY_WITH_TIMEOUT(w->player->showsGlPicture(), kWait);
        auto* engine = dynamic_cast<MpvEngine*>(w->player->engine());
        QVERIFY(engine);
        QSignalSpy changed(engine, &VideoEngine::outputChanged);
        engine->loseGl();
        QVERIFY(!engine->drawsWithGl());
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, kWait);
        QVERIFY(!w->player->showsGlPicture());
        const long long shown = w->player->framesShown();
        const double at = engine->position();
        QTRY_VERIFY_WITH_TIMEOUT(w->player->framesShown() > shown + 5, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(engine->position() > at + 0.3, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(mismatch(screenOf(*w), hostOnScreen(*w), cells), QString(),
                                  kWait);
        QCOMPARE(videoArea(*w), rotated ? QSize(240, 320) : QSize(320, 240));
        QVERIFY(w->player->failureText().isEmpty());
        QVERIFY(!w->player->audioOnly());
    }

    // Under Xvfb the only GL is Mesa's llvmpipe: auto draws in memory, as before.
    void autoPicksSoftware() {
        QVERIFY(qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT").isEmpty());
        const QString renderer = probe_gl_context().renderer;
        QVERIFY2(renderer.contains("llvmpipe"), qPrintable(renderer));
        QCOMPARE(video_output(), VideoOutput::Software);
        // Without a GPU device the choice is made without GL loaded at start.
        QCOMPARE(QOpenGLContext::globalShareContext() != nullptr, gpu_device_present());
        auto w = play(m_quadrants);
        QTRY_COMPARE_WITH_TIMEOUT(w->player->framesShown() > 3, true, kWait);
        QVERIFY(!w->player->engine()->drawsWithGl());
        QVERIFY(!w->player->showsGlPicture());
        QTRY_COMPARE_WITH_TIMEOUT(
            mismatch(screenOf(*w), hostOnScreen(*w), {{kRed, kGreen}, {kBlue, kWhite}}), QString(),
            kWait);
    }

    // GL asked for where it cannot work: the picture is drawn in memory, and plays.
    void fallsBackAndPlays() {
        QCOMPARE(qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT"), QString("gl"));
        QCOMPARE(video_output(), VideoOutput::Software);
        // And an engine asked for GL directly, where no context can be made, still plays.
        auto engine = make_video_engine({"ao=null"}, VideoOutput::Gl);
        QVERIFY(!engine->drawsWithGl());
        auto w = play(m_quadrants);
        QTRY_COMPARE_WITH_TIMEOUT(w->player->framesShown() > 3, true, kWait);
        QVERIFY(!w->player->engine()->drawsWithGl());
        QTRY_COMPARE_WITH_TIMEOUT(
            mismatch(screenOf(*w), hostOnScreen(*w), {{kRed, kGreen}, {kBlue, kWhite}}), QString(),
            kWait);
    }

    // The program itself, with GL asked for, in its window and in full screen, ending as asked
    // with status 0 (in the sanitizer build too). Where GL falls short (an old GL, a screen past
    // the texture limit) it says why in the engine's category and draws in memory.
    void programPlays() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QString shortfall = gl_shortfall(probe_gl_context(), screen->geometry().size() *
                                                                       screen->devicePixelRatio());
        QCOMPARE(video_output() == VideoOutput::Gl, shortfall.isEmpty());
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_LOGGING_RULES", "movarin.engine.warning=true");
        program.setProcessEnvironment(env);
        QByteArray errors;
        connect(&program, &QProcess::readyReadStandardError,
                [&] { errors += program.readAllStandardError(); });
        program.start(QStringLiteral(MOVARIN_BINARY_DIR "/movarin"), {m_quadrants});
        QVERIFY(program.waitForStarted());
        const QList<QList<QRgb>> cells{{kRed, kGreen}, {kBlue, kWhite}};
        // Three quarters, found on the screen, tell where the whole picture is.
        const auto pictureShown = [&](int width) {
            const QImage shot = rootShot();
            const QRect picture =
                colourBox(shot, kRed) | colourBox(shot, kGreen) | colourBox(shot, kBlue);
            return picture.width() >= width - 8 && mismatch(shot, picture, cells).isEmpty();
        };
        QVERIFY2(QTest::qWaitFor([&] { return pictureShown(320); }, kWait),
                 errors.right(3000).constData());
        const QPoint inRed = colourBox(rootShot(), kRed).center();
        xdotool({"mousemove", QString::number(inRed.x()), QString::number(inRed.y()), "click",
                 "--repeat", "2", "--delay", "100", "1"});
        const QSize full = screen->geometry().size();
        const int fullWidth = std::min(full.width(), full.height() * 4 / 3);
        QVERIFY2(QTest::qWaitFor([&] { return pictureShown(fullWidth); }, kWait),
                 "no picture in full screen");
        xdotool({"key", "ctrl+e"});
        QVERIFY(program.waitForFinished(kWait));
        QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                 errors.right(3000).constData());
        QVERIFY2(errors.contains("Drawing in memory") != shortfall.isEmpty() &&
                     errors.contains(shortfall.toUtf8()),
                 errors.right(3000).constData());
    }
};

QTEST_MAIN(TestGl)
#include "test_gl.moc"
