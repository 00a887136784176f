// The built program under a real Wayland compositor: a headless weston drawing with pixman, and
// weston on an X server of its own, where xdotool reaches the buttons of the window's decoration.
#include "test_media.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr QRgb kBackground = 0xff204060;
constexpr int kWait = 30000;

// Red on the right half always; the left half turns blue for half of every second, so that
// both colours there prove that frames keep coming.
QString makeBlinkingFlv(const QString& dir) {
    const QString path = QDir(dir).filePath(QStringLiteral("blink.flv"));
    const bool ok = movarin::testing::runFfmpeg(
        {"-f", "lavfi", "-i",
         "color=c=red:s=320x240:r=25:d=4,"
         "drawbox=x=0:y=0:w=160:h=240:color=blue:t=fill:enable='lt(mod(t,1),0.5)'",
         "-c:v", "flv1", "-q:v", "2", path});
    return ok ? path : QString();
}

bool red(QRgb c) {
    return qRed(c) > 190 && qGreen(c) < 70 && qBlue(c) < 70;
}
bool blue(QRgb c) {
    return qBlue(c) > 190 && qRed(c) < 70 && qGreen(c) < 70;
}

// Where the picture stands on the screen, and what its left half shows.
struct Seen {
    QRect picture;
    bool leftBlue = false;
    bool leftRed = false;
};

Seen look(const QImage& shot) {
    Seen seen;
    int left = shot.width(), top = shot.height(), right = -1, bottom = -1;
    for (int y = 0; y < shot.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x)
            if (red(row[x]) || blue(row[x])) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    if (right < 0)
        return seen;
    seen.picture = QRect(QPoint(left, top), QPoint(right, bottom));
    const QRgb quarter = shot.pixel(left + seen.picture.width() / 4, seen.picture.center().y());
    seen.leftBlue = blue(quarter);
    seen.leftRed = red(quarter);
    return seen;
}

QString missingTools(const QStringList& tools) {
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    const QString plugin = QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                           QStringLiteral("/platforms/libqwayland-generic.so");
    return QFile::exists(plugin) ? QString() : QStringLiteral("Qt's Wayland platform plugin");
}

// Warnings Qt or the Wayland connection print; the sound system's own noise is no concern here.
QStringList complaints(const QByteArray& stderrText) {
    static const QRegularExpression bad(
        QStringLiteral("does not support|QWindow::|qt\\.qpa|[Ww]ayland|[Pp]rotocol error|xdg_"));
    QStringList found;
    for (const QString& line : QString::fromUtf8(stderrText).split(u'\n'))
        if (bad.match(line).hasMatch())
            found << line;
    return found;
}

class Weston {
public:
    // `backend` args and, for the X11 back end, the X display to show on.
    bool start(const QStringList& backend, const QString& display = {}) {
        QFile ini(m_runtime.filePath(QStringLiteral("weston.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        ini.write("[core]\nidle-time=0\n[shell]\nbackground-color=0xff204060\n"
                  "panel-position=none\nlocking=false\nanimation=none\n"
                  "startup-animation=none\n");
        ini.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        if (!display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), display);
        m_weston.setProcessEnvironment(env);
        m_weston.setProcessChannelMode(QProcess::MergedChannels);
        // --debug lets the screenshooter in.
        m_weston.start(QStringLiteral("weston"),
                       backend + QStringList{"--use-pixman", "--socket=movarin-test",
                                             "--config=" + ini.fileName(), "--idle-time=0",
                                             "--debug"});
        if (!m_weston.waitForStarted())
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kWait) {
            if (!screenshot().isNull())
                return true;
            QTest::qWait(200);
        }
        return false;
    }
    ~Weston() {
        m_weston.terminate();
        if (!m_weston.waitForFinished(5000))
            m_weston.kill();
        m_weston.waitForFinished(2000);
    }

    QProcessEnvironment clientEnvironment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("movarin-test"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.remove(QStringLiteral("DISPLAY"));
        return env;
    }

    QImage screenshot() {
        QTemporaryDir shots;
        QProcess shooter;
        shooter.setProcessEnvironment(clientEnvironment());
        shooter.setWorkingDirectory(shots.path());
        shooter.start(QStringLiteral("weston-screenshooter"), {});
        if (!shooter.waitForFinished(10000) || shooter.exitCode() != 0)
            return {};
        const QStringList files = QDir(shots.path()).entryList({QStringLiteral("*.png")});
        if (files.isEmpty())
            return {};
        return QImage(shots.filePath(files.first())).convertToFormat(QImage::Format_RGB32);
    }

    QByteArray output() { return m_weston.readAll(); }

private:
    QTemporaryDir m_runtime;
    QProcess m_weston;
};

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
    QTemporaryDir m_media;
    QTemporaryDir m_appDir;
    QString m_video;
    std::unique_ptr<QProcess> m_player;

    // The built program, copied so that its log.txt is this test's alone.
    void startPlayer(Weston& weston) {
        const QString program = m_appDir.filePath(QStringLiteral("movarin"));
        QFile::remove(program);
        QVERIFY(QFile::copy(QStringLiteral(MOVARIN_BINARY_DIR "/movarin"), program));
        m_player = std::make_unique<QProcess>();
        m_player->setProcessEnvironment(weston.clientEnvironment());
        m_player->start(program, {m_video});
        QVERIFY(m_player->waitForStarted());
    }

    // Screenshots until the picture has shown both colours on its left half, in one place.
    Seen watchPlaying(Weston& weston) {
        Seen both;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kWait && !(both.leftBlue && both.leftRed)) {
            const Seen now = look(weston.screenshot());
            if (now.picture != both.picture)
                both = now;
            both.leftBlue |= now.leftBlue;
            both.leftRed |= now.leftRed;
            if (m_player->state() != QProcess::Running)
                break;
            QTest::qWait(150);
        }
        return both;
    }

    // Screenshots until `done` holds for the picture, the player ends or time runs out.
    Seen waitFor(Weston& weston, const std::function<bool(const Seen&)>& done) {
        QElapsedTimer clock;
        clock.start();
        Seen now;
        while (clock.elapsed() < kWait && m_player->state() == QProcess::Running) {
            now = look(weston.screenshot());
            if (done(now))
                break;
            QTest::qWait(150);
        }
        return now;
    }

    void checkQuietEnd() {
        QVERIFY2(
            m_player->state() == QProcess::Running,
            qPrintable("the player ended: " + QString::fromUtf8(m_player->readAllStandardError())));
        m_player->terminate();
        if (!m_player->waitForFinished(10000))
            m_player->kill();
        m_player->waitForFinished(5000);
        const QStringList warnings = complaints(m_player->readAllStandardError());
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
        QFile log(m_appDir.filePath(QStringLiteral("log.txt")));
        QVERIFY2(!log.exists() || log.size() == 0, qPrintable(log.fileName()));
    }

private slots:
    void initTestCase() {
        if (const QString missing = missingTools({"weston", "weston-screenshooter"});
            !missing.isEmpty())
            QSKIP(qPrintable("no Wayland check: " + missing +
                             " is not installed (scripts/install-deps.sh test)"));
        m_video = makeBlinkingFlv(m_media.path());
        QVERIFY(!m_video.isEmpty());
    }

    // Frames keep coming, the window takes the video's size, and nothing is logged or warned
    // about: not even the home position, which no Wayland client can set.
    void playsUnderHeadlessWeston() {
        Weston weston;
        QVERIFY2(weston.start({"--backend=headless-backend.so", "--width=1024", "--height=768"}),
                 weston.output().constData());
        startPlayer(weston);
        const Seen seen = watchPlaying(weston);
        QVERIFY2(seen.leftBlue && seen.leftRed, "frames stopped or never came");
        QCOMPARE(seen.picture.size(), QSize(320, 240));
        checkQuietEnd();
    }

    // Qt's own decoration offers maximise whatever the window asks for: the player takes the
    // size the compositor gives, letterboxes the picture, and shrinks back when restored.
    void survivesTheDecorationsMaximise() {
        if (const QString missing = missingTools({"Xvfb", "xdotool"}); !missing.isEmpty())
            QSKIP(qPrintable("no maximise check: " + missing + " is not installed"));
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"),
                   {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine(), kWait);
        const QString display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();
        const auto stopX = qScopeGuard([&] {
            xvfb.terminate();
            xvfb.waitForFinished(5000);
        });
        {
            // Without a window manager weston's window stands at 0,0: its pixels are the X
            // screen's.
            Weston weston;
            QVERIFY2(
                weston.start({"--backend=x11-backend.so", "--width=800", "--height=600"}, display),
                weston.output().constData());
            startPlayer(weston);
            const Seen before = watchPlaying(weston);
            QCOMPARE(before.picture.size(), QSize(320, 240));

            // The decoration's buttons sit at its top right, 30 px high, beside a 3 px frame;
            // maximise is second from the right.
            QImage shot = weston.screenshot();
            int top = before.picture.top() - 1;
            const int column = before.picture.left() + 4;
            while (top > 0 && shot.pixel(column, top - 1) != kBackground)
                --top;
            const int right = before.picture.right() + 1 + 3;
            // Weston's X11 back end moves its own pointer by the steps between X motion events;
            // only the pointer entering its window sets a place. At start-up its pointer often
            // stays at the top left while the X pointer stands mid-screen, and the clicks then
            // land elsewhere. So each click comes into the window from the X screen
            // outside it, and the pointer leaves again afterwards.
            const QString outside[] = {QStringLiteral("1000"), QStringLiteral("700")};
            auto click = [&](int x, int y) {
                QProcess xdotool;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert(QStringLiteral("DISPLAY"), display);
                xdotool.setProcessEnvironment(env);
                xdotool.start(QStringLiteral("xdotool"),
                              {"mousemove", outside[0], outside[1], "sleep", "0.2", "mousemove",
                               QString::number(x), QString::number(y), "sleep", "0.3", "click", "1",
                               "sleep", "0.2", "mousemove", outside[0], outside[1]});
                QVERIFY(xdotool.waitForFinished(10000) && xdotool.exitCode() == 0);
            };
            click(right - 40, top + 15);
            QVERIFY(waitFor(weston, [](const Seen& s) {
                        return s.picture.height() > 400;
                    }).picture.height() > 400);
            const Seen maximised = watchPlaying(weston);
            QVERIFY2(maximised.leftBlue && maximised.leftRed, "frames stopped after maximise");
            // Letterboxed: the shape kept.
            QVERIFY2(std::abs(maximised.picture.width() * 3 - maximised.picture.height() * 4) <= 8,
                     qPrintable(QStringLiteral("%1x%2")
                                    .arg(maximised.picture.width())
                                    .arg(maximised.picture.height())));

            click(800 - 40, 15);
            const auto natural = [](const Seen& s) { return s.picture.size() == QSize(320, 240); };
            QVERIFY(natural(waitFor(weston, natural)));
            QTest::qWait(1000);
            checkQuietEnd();
        }
    }
};

QTEST_MAIN(TestWayland)
#include "test_wayland.moc"
