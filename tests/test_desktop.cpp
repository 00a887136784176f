// The desktop's side of the player, on a session bus of the test's own: the screensaver is held
// off while a video plays (against a fake org.freedesktop.ScreenSaver), and MPRIS2 answers
// dbus-send as media keys and desktop widgets would ask.

#include "app/start_up.h"
#include "desktop/desktop_integration.h"
#include "engine/mpv_engine.h"
#include "engine/player.h"
#include "fake_player.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <cstdlib>
#include <memory>

using namespace movarin;

namespace {

constexpr int kWait = 20000; // the engine shares two busy cores with everything else

// Stands in for the desktop's screensaver. It lives on a thread of its own, so that the player's
// last, waiting call at exit finds it answering.
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    // "Inhibit 41", "UnInhibit 41", ... in the order they came.
    QStringList calls() const {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    int count(const QString& method) const {
        return int(calls().filter(QRegularExpression("^" + method + " ")).size());
    }
    QString last() const {
        const QStringList all = calls();
        return all.isEmpty() ? QString() : all.last();
    }

public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        QMutexLocker lock(&m_mutex);
        const uint cookie = m_next++;
        // The desktop shows who holds it off, and why.
        m_calls << (application.isEmpty() || reason.isEmpty()
                        ? QStringLiteral("nameless")
                        : QStringLiteral("Inhibit %1").arg(cookie));
        return cookie;
    }
    void UnInhibit(uint cookie) {
        QMutexLocker lock(&m_mutex);
        m_calls << QStringLiteral("UnInhibit %1").arg(cookie);
    }

private:
    mutable QMutex m_mutex;
    QStringList m_calls;
    uint m_next = 41;
};

// The player's properties as PropertiesChanged last told them over the bus; those of the root
// interface apart.
class ChangeWatcher : public QObject {
    Q_OBJECT
public:
    QVariantMap values;
    QVariantMap root;
public slots:
    void onChanged(const QString& interface, const QVariantMap& properties, const QStringList&) {
        if (interface == QLatin1String("org.mpris.MediaPlayer2.Player"))
            values.insert(properties);
        if (interface == QLatin1String("org.mpris.MediaPlayer2"))
            root.insert(properties);
    }
};

QString trackIdIn(const QString& metadata) {
    return QRegularExpression("mpris:trackid\"\\s+variant\\s+object path \"([^\"]+)\"")
        .match(metadata)
        .captured(1);
}

// The bus the whole test runs on, started before anything could reach for another.
QString g_busAddress;

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void screensaverFollowsPlayback();
    void programReleasesScreensaverWhenItQuits();
    void mprisAnswersDbusSend();
    void mprisMapsThePlayer();
    void mprisOpensStopsAndFillsTheScreen();

private:
    std::unique_ptr<frmplayer> window();

    QTemporaryDir m_dir;
    QString m_clip, m_short, m_audio;
    QThread m_saverThread;
    FakeScreenSaver* m_saver = nullptr;
    DesktopIntegration* m_desktop = nullptr;
};

void TestDesktop::initTestCase() {
    QVERIFY2(!g_busAddress.isEmpty(), "dbus-daemon did not start a session bus");
    QVERIFY(m_dir.isValid());
    m_clip = testing::makeSparkFlv(m_dir.path(), QStringLiteral("clip one.flv"), 16);
    m_short = testing::makeSparkFlv(m_dir.path(), QStringLiteral("short.flv"), 2);
    m_audio = m_dir.filePath(QStringLiteral("tone.flv"));
    QVERIFY(!m_clip.isEmpty() && !m_short.isEmpty());
    QVERIFY(testing::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=16", "-c:a",
                                "libmp3lame", "-ar", "44100", m_audio}));

    QDBusConnection bus = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("desktop"));
    QVERIFY(bus.isConnected());
    m_saver = new FakeScreenSaver;
    m_saver->moveToThread(&m_saverThread);
    m_saverThread.start();
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), m_saver,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
}

void TestDesktop::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    m_saverThread.quit();
    m_saverThread.wait();
    delete m_saver;
}

std::unique_ptr<frmplayer> TestDesktop::window() {
    auto w = std::make_unique<frmplayer>(testing::playerSetupIn(m_dir.path()));
    m_desktop = attach_desktop(*w);
    w->Form_Load(QString());
    w->show();
    return w;
}

void TestDesktop::screensaverFollowsPlayback() {
    auto w = window();
    w->play_file(m_short);
    Player* player = w->player->player();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 0.3 && player->hasVideo(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(m_saver->last().startsWith("Inhibit "), kWait);
    const QString first = m_saver->last().section(u' ', 1);
    player->pause();
    QTRY_COMPARE_WITH_TIMEOUT(m_saver->last(), "UnInhibit " + first, kWait);
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(m_saver->last().startsWith("Inhibit "), kWait);
    const QString second = m_saver->last().section(u' ', 1);
    QVERIFY(second != first);
    // Steps that keep it playing hold nothing more.
    const int held = int(m_saver->calls().size());
    player->changeVolume(-5);
    QTest::qWait(500);
    QCOMPARE(m_saver->calls().size(), held);

    // Stopped on the last picture: released.
    player->setLooping(false);
    QTRY_VERIFY_WITH_TIMEOUT(player->atEnd(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(m_saver->last(), "UnInhibit " + second, kWait);

    // A file with sound alone plays on without holding the screensaver.
    const int calls = int(m_saver->calls().size());
    w->play_file(m_audio);
    QTRY_VERIFY_WITH_TIMEOUT(player->path() == m_audio && player->position() > 1.0, kWait);
    QCOMPARE(player->status(), PlaybackStatus::Playing);
    QVERIFY(!player->hasVideo());
    QCOMPARE(m_saver->calls().size(), calls);
    QCOMPARE(m_saver->count("Inhibit"), m_saver->count("UnInhibit"));
}

// The real program on the test's bus: it holds the screensaver while it plays, and quitting it
// over MPRIS releases it before the process ends.
void TestDesktop::programReleasesScreensaverWhenItQuits() {
    const QString exe = m_dir.filePath(QStringLiteral("movarin"));
    QFile::remove(exe);
    QVERIFY(QFile::copy(MOVARIN_BINARY_DIR "/movarin", exe));
    QFile::setPermissions(exe, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    const int before = m_saver->count("UnInhibit");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    // Without a sound device the sound libraries complain at length; the picture plays on.
    const QString errors = m_dir.filePath(QStringLiteral("program-errors.txt"));
    program.setStandardOutputFile(QProcess::nullDevice());
    program.setStandardErrorFile(errors);
    program.start(exe, {m_clip});
    QVERIFY(program.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(m_saver->last().startsWith("Inhibit "), kWait);
    const QString cookie = m_saver->last().section(u' ', 1);
    QTRY_COMPARE_WITH_TIMEOUT(testing::mprisProperty("PlaybackStatus").contains("\"Playing\""),
                              true, kWait);
    // The file on the command line opens before MPRIS joins the bus, and is a track all the same.
    const QString first = testing::mprisProperty("Metadata");
    QVERIFY2(trackIdIn(first).startsWith("/org/movarin/track/"), qPrintable(first));

    QVERIFY(!testing::mprisSend({"org.mpris.MediaPlayer2.Quit"}).startsWith("failed"));
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, kWait);
    QFile said(errors);
    QVERIFY2(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
             said.open(QIODevice::ReadOnly) ? said.readAll().right(2000).constData() : "");
    QCOMPARE(m_saver->count("UnInhibit"), before + 1);
    QCOMPARE(m_saver->last(), "UnInhibit " + cookie);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("log.txt"))));
}

void TestDesktop::mprisAnswersDbusSend() {
    auto w = window();
    // The bus is looked for off the GUI thread; MPRIS joins a moment later.
    QTRY_COMPARE_WITH_TIMEOUT(m_desktop->mprisServiceName(),
                              QStringLiteral("org.mpris.MediaPlayer2.movarin"), kWait);
    // Before any file, the desktop sees a player with nothing to play.
    QVERIFY(testing::mprisProperty("PlaybackStatus").contains("\"Stopped\""));
    QVERIFY(testing::mprisProperty("CanPlay").contains("boolean false"));
    QVERIFY(testing::mprisProperty("Identity", "org.mpris.MediaPlayer2").contains("\"Movarin\""));

    ChangeWatcher watcher;
    QDBusConnection bus = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("desktop"));
    // QDBusConnection takes its receiver by slot name only.
    QVERIFY(bus.connect(QString(), "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties",
                        "PropertiesChanged", &watcher,
                        SLOT(onChanged(QString, QVariantMap, QStringList))));

    w->play_file(m_clip);
    Player* player = w->player->player();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 0.3 && player->duration() > 15, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.values.value("PlaybackStatus").toString(),
                              QStringLiteral("Playing"), kWait);
    QVERIFY(testing::mprisProperty("PlaybackStatus").contains("\"Playing\""));
    QVERIFY(testing::mprisProperty("CanSeek").contains("boolean true"));

    const QString metadata = testing::mprisProperty("Metadata");
    const QString url = QUrl::fromLocalFile(m_clip).toString(QUrl::FullyEncoded);
    QVERIFY2(metadata.contains("\"" + url + "\"") && metadata.contains("\"clip one.flv\""),
             qPrintable(metadata));
    const auto field = [&](const char* pattern) {
        return QRegularExpression(pattern).match(metadata).captured(1);
    };
    QVERIFY(std::abs(field("mpris:length\"\\s+variant\\s+int64 (\\d+)").toLongLong() - 16'000'000) <
            300'000);
    const QString trackId = trackIdIn(metadata);
    QVERIFY2(!trackId.isEmpty() && !trackId.endsWith("/NoTrack"), qPrintable(metadata));

    QVERIFY(!testing::mprisPlayerCall("PlayPause").startsWith("failed"));
    QTRY_VERIFY_WITH_TIMEOUT(player->paused(), kWait);
    QVERIFY(testing::mprisProperty("PlaybackStatus").contains("\"Paused\""));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.values.value("PlaybackStatus").toString(),
                              QStringLiteral("Paused"), kWait);
    QVERIFY(!w->player->controls()->playAction()->isChecked());

    // Quit closes the window, as File > Exit does.
    QVERIFY(!testing::mprisSend({"org.mpris.MediaPlayer2.Quit"}).startsWith("failed"));
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), kWait);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("log.txt"))));
}

// What MPRIS asks of the player and shows of it, over a fake player: every verb and property,
// exactly, with no engine to wait for.
void TestDesktop::mprisMapsThePlayer() {
    int quits = 0;
    DesktopIntegration::Window window;
    window.quit = [&quits] { ++quits; };
    DesktopIntegration desktop(window);
    QTRY_COMPARE_WITH_TIMEOUT(desktop.mprisServiceName(),
                              QStringLiteral("org.mpris.MediaPlayer2.movarin"), kWait);
    testing::FakePlayer player;
    desktop.setPlayer(&player);
    QVERIFY(testing::mprisProperty("CanPlay").contains("boolean false"));
    // Nothing to play: no verb reaches the player.
    QVERIFY(!testing::mprisPlayerCall("PlayPause").startsWith("failed"));
    QCOMPARE(player.calls, QStringList());

    PlayerState s;
    s.path = QStringLiteral("/videos/clip one.flv");
    s.title = QStringLiteral("clip one.flv");
    s.duration = 16;
    s.position = 3;
    s.hasVideo = true;
    player.set(s);
    QTRY_VERIFY_WITH_TIMEOUT(testing::mprisProperty("PlaybackStatus").contains("\"Playing\""),
                             kWait);
    QVERIFY(testing::mprisProperty("CanSeek").contains("boolean true"));
    QVERIFY(testing::mprisProperty("Position").contains("int64 3000000"));
    const QString metadata = testing::mprisProperty("Metadata");
    QVERIFY2(metadata.contains("\"file:///videos/clip%20one.flv\"") &&
                 metadata.contains("\"clip one.flv\"") && metadata.contains("int64 16000000"),
             qPrintable(metadata));
    const QString trackId = trackIdIn(metadata);
    QVERIFY2(!trackId.isEmpty(), qPrintable(metadata));

    const struct {
        QStringList call;
        const char* verbs;
    } calls[] = {
        {{"PlayPause"}, "togglePause()"},
        {{"Pause"}, "pause()"},
        {{"Play"}, "play()"},
        {{"Seek", "int64:5000000"}, "seekBy(5)"},
        {{"SetPosition", "objpath:" + trackId, "int64:2000000"}, "seekTo(2)"},
        // A stale track or a place past the end is ignored.
        {{"SetPosition", "objpath:/org/movarin/track/0", "int64:2000000"}, ""},
        {{"SetPosition", "objpath:" + trackId, "int64:17000000"}, ""},
        {{"Next"}, ""},
    };
    for (const auto& c : calls) {
        player.calls.clear();
        QVERIFY(!testing::mprisPlayerCall(c.call[0], c.call.mid(1)).startsWith("failed"));
        QTRY_COMPARE_WITH_TIMEOUT(player.calls.join(u' '), QString::fromLatin1(c.verbs), 2000);
    }

    // LoopStatus takes the three values MPRIS defines; anything else is refused unasked.
    const struct {
        const char* value;
        const char* verbs; // null: refused
    } loops[] = {{"string:None", "setLooping(0)"},
                 {"string:Track", "setLooping(1)"},
                 {"string:Playlist", "setLooping(1)"},
                 {"string:Bogus", nullptr},
                 {"string:track", nullptr},
                 {"string:", nullptr},
                 {"int32:0", nullptr},
                 {"string:None ", nullptr}};
    for (const auto& loop : loops) {
        player.calls.clear();
        const QString answer = testing::mprisSend(
            {"org.freedesktop.DBus.Properties.Set", "string:org.mpris.MediaPlayer2.Player",
             "string:LoopStatus", QStringLiteral("variant:") + loop.value});
        QVERIFY2(loop.verbs ? !answer.startsWith("failed")
                            : answer.contains("org.freedesktop.DBus.Error.InvalidArgs"),
                 qPrintable(loop.value + (": " + answer)));
        QCOMPARE(player.calls.join(u' '), QString::fromLatin1(loop.verbs ? loop.verbs : ""));
    }
    s.looping = false;
    s.paused = true;
    player.set(s);
    QTRY_VERIFY_WITH_TIMEOUT(testing::mprisProperty("LoopStatus").contains("\"None\""), kWait);
    QVERIFY(testing::mprisProperty("PlaybackStatus").contains("\"Paused\""));

    QVERIFY(!testing::mprisSend({"org.mpris.MediaPlayer2.Quit"}).startsWith("failed"));
    QTRY_COMPARE_WITH_TIMEOUT(quits, 1, kWait);
}

// OpenUri, Stop, Seek and full screen as MPRIS 2.2 has them, over a fake player and a stand-in
// for the window: one row a call, with its answer, what reaches the player and the window, what
// the player then reports and what MPRIS reads after it.
void TestDesktop::mprisOpensStopsAndFillsTheScreen() {
    const auto encoded = [](const QByteArray& path) {
        return QString::fromLatin1(path.toPercentEncoding("/"));
    };
    QStringList opened;
    bool full = false;
    DesktopIntegration* desktop = nullptr;
    DesktopIntegration::Window window;
    window.open = [&](const QByteArray& path) { opened << encoded(path); };
    window.fullScreen = [&] { return full; };
    window.setFullScreen = [&](bool on) {
        full = on;
        desktop->windowStateChanged();
    };
    DesktopIntegration integration(window);
    desktop = &integration;
    QTRY_COMPARE_WITH_TIMEOUT(desktop->mprisServiceName(),
                              QStringLiteral("org.mpris.MediaPlayer2.movarin"), kWait);
    ChangeWatcher watcher;
    QDBusConnection bus = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("desktop"));
    QVERIFY(bus.connect(QString(), "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties",
                        "PropertiesChanged", &watcher,
                        SLOT(onChanged(QString, QVariantMap, QStringList))));
    // The player had its file before MPRIS saw it, as at start-up: a track all the same.
    testing::FakePlayer player;
    PlayerState s;
    s.path = QStringLiteral("/videos/clip.flv");
    s.duration = 16;
    s.position = 3;
    player.set(s);
    desktop->setPlayer(&player);
    QVERIFY(trackIdIn(testing::mprisProperty("Metadata")).startsWith("/org/movarin/track/"));

    const QByteArray dirBytes = QFile::encodeName(m_dir.path());
    const QByteArray odd = dirBytes + "/odd \xff.flv"; // not UTF-8: opened byte for byte
    std::FILE* made = std::fopen(odd.constData(), "w");
    QVERIFY(made && std::fclose(made) == 0);
    const QString dir = "string:file://" + encoded(dirBytes);
    const QString clip = encoded(QFile::encodeName(m_clip));
    const QString setRoot = "org.freedesktop.DBus.Properties.Set string:org.mpris.MediaPlayer2";
    const struct {
        QString call;
        const char* error; // the D-Bus error the answer names; null for none
        const char* verbs;
        QString opens;
        int thenPaused; // what the player reports afterwards: -1 nothing new
        const char* property;
        const char* reads;
    } rows[] = {
        {"Player.OpenUri string:file://" + clip, nullptr, "", clip, -1, nullptr, nullptr},
        {"Player.OpenUri string:file://localhost" + clip, nullptr, "", clip, -1, nullptr, nullptr},
        {"Player.OpenUri " + dir + "/odd%20%FF.flv", nullptr, "", encoded(odd), -1, nullptr,
         nullptr},
        {"Player.OpenUri string:http://example.org/clip.flv", "NotSupported", "", "", -1, nullptr,
         nullptr},
        {"Player.OpenUri string:/videos/clip.flv", "InvalidArgs", "", "", -1, nullptr, nullptr},
        {"Player.OpenUri string:file://elsewhere" + clip, "InvalidArgs", "", "", -1, nullptr,
         nullptr},
        {"Player.OpenUri string:file://" + clip + "#t=5", "InvalidArgs", "", "", -1, nullptr,
         nullptr},
        {"Player.OpenUri " + dir + "/none.flv", "FileNotFound", "", "", -1, nullptr, nullptr},
        // Past the end would be the next track, and there is none.
        {"Player.Seek int64:13000001", nullptr, "", "", -1, nullptr, nullptr},
        {"Player.Seek int64:12000000", nullptr, "seekBy(12)", "", -1, nullptr, nullptr},
        {"Player.Seek int64:-9000000", nullptr, "seekBy(-9)", "", -1, nullptr, nullptr},
        {"Player.Stop", nullptr, "pause() seekTo(0)", "", 1, "PlaybackStatus", "\"Stopped\""},
        {"Player.Play", nullptr, "seekTo(0) play()", "", 0, "PlaybackStatus", "\"Playing\""},
        {"Player.Stop", nullptr, "pause() seekTo(0)", "", 1, "PlaybackStatus", "\"Stopped\""},
        {"Player.PlayPause", nullptr, "seekTo(0) play()", "", 0, "PlaybackStatus", "\"Playing\""},
        {"Player.PlayPause", nullptr, "togglePause()", "", 1, "PlaybackStatus", "\"Paused\""},
        {setRoot + " string:Fullscreen variant:boolean:true", nullptr, "", "", -1, "Fullscreen",
         "boolean true"},
        {setRoot + " string:Fullscreen variant:boolean:false", nullptr, "", "", -1, "Fullscreen",
         "boolean false"},
    };
    for (const auto& row : rows) {
        player.calls.clear();
        opened.clear();
        QStringList call = row.call.split(u' ');
        if (call[0].startsWith("Player."))
            call[0] = "org.mpris.MediaPlayer2." + call[0];
        const QString answer = testing::mprisSend(call);
        const QByteArray what = (row.call + ": " + answer).toUtf8();
        QVERIFY2(row.error ? answer.contains(QStringLiteral("DBus.Error.") + row.error)
                           : !answer.startsWith("failed"),
                 what);
        QCOMPARE(player.calls.join(u' '), QString::fromLatin1(row.verbs));
        QCOMPARE(opened.join(u' '), row.opens);
        if (row.thenPaused >= 0) {
            s.paused = row.thenPaused;
            player.set(s);
        }
        if (row.property) {
            const QString interface = QString::fromLatin1(row.property).startsWith("Full")
                                          ? "org.mpris.MediaPlayer2"
                                          : "org.mpris.MediaPlayer2.Player";
            QVERIFY2(testing::mprisProperty(row.property, interface).contains(row.reads), what);
        }
    }

    // Full screen, whoever asked for it, is announced.
    QVERIFY(testing::mprisProperty("CanSetFullscreen", "org.mpris.MediaPlayer2")
                .contains("boolean true"));
    full = true;
    desktop->windowStateChanged();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.root.value("Fullscreen"), QVariant(true), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(watcher.values.value("PlaybackStatus"), QVariant("Paused"), kWait);

    // MPRIS offers the types the desktop entry opens the player for, and no others.
    QFile entry(QStringLiteral(MOVARIN_BINARY_DIR "/resources/movarin.desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString line =
        QString::fromUtf8(entry.readAll()).section("MimeType=", 1).section(u'\n', 0, 0);
    QStringList announced;
    const QString types = testing::mprisProperty("SupportedMimeTypes", "org.mpris.MediaPlayer2");
    for (const QRegularExpressionMatch& m :
         QRegularExpression("string \"([^\"]+)\"").globalMatch(types))
        announced << m.captured(1);
    QVERIFY(announced.contains("video/x-flv") && announced.contains("video/mp4"));
    QCOMPARE(announced.join(u';') + u';', line);
}

int main(int argc, char* argv[]) {
    return testing::execOnPrivateBus<TestDesktop>(argc, argv, g_busAddress);
}

#include "test_desktop.moc"
