// The controls end to end, through a real engine playing real files: what the verbs do to what
// plays. Which input asks for which verb is tested against a fake player (test_player_bar).
// Mouse input goes through the window system layer, as a real pointer's would: enter and leave,
// mouse tracking and the right-click menu event all come from there.
#define QTEST_QPA_MOUSE_HANDLING

#include "engine/mpv_engine.h"
#include "engine/player.h"
#include "window/frmplayer.h"
#include "window/movie_address.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"
#include "window/player_actions.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <memory>

using namespace movarin;

namespace {

constexpr int kWait = 15000; // the engine shares two busy cores with everything else

const QStringList kEngineOptions = noSoundOptions();

// What the player reports; -1 or false while there is none.
double position(PlaybackHost& host) {
    return host.player() ? host.player()->position() : -1;
}
double volume(PlaybackHost& host) {
    return host.player() ? host.player()->volume() : -1;
}
bool paused(PlaybackHost& host) {
    return host.player() && host.player()->paused();
}
bool muted(PlaybackHost& host) {
    return host.player() && host.player()->muted();
}
bool atEnd(PlaybackHost& host) {
    return host.player() && host.player()->atEnd();
}

// A 160x120 Sorenson Spark clip with an MP3 tone, as ffmpeg writes FLV: no keyframe index.
bool makeClip(const QString& path, int seconds, const QStringList& extra = {}) {
    const QString length = QString::number(seconds);
    QStringList args{"-hide_banner", "-loglevel",
                     "error",        "-y",
                     "-f",           "lavfi",
                     "-i",           "testsrc2=size=160x120:rate=25:duration=" + length,
                     "-f",           "lavfi",
                     "-i",           "sine=frequency=440:sample_rate=22050:duration=" + length,
                     "-c:v",         "flv1",
                     "-q:v",         "8",
                     "-c:a",         "libmp3lame",
                     "-b:a",         "32k"};
    args << extra << path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), args);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void pauseAndResume();
    void seekMovesPosition_data();
    void seekMovesPosition();
    void volumeAndMuteReachMpvAndLast();
    void newMovieStartsPlayingAfterPause();
    void keysActInTheWindow_data();
    void keysActInTheWindow();
    void playStartsOverAfterEndWithoutLoop();
    void nothingActsWithoutAMovie();

private:
    std::unique_ptr<PlaybackHost> playingHost(const QString& file);
    void load(PlaybackHost& host, const QString& file);
    void pauseAndSettle(PlaybackHost& host);

    QTemporaryDir m_dir;
    QString m_clip;
    QString m_noIndex;
    QString m_short;
};

void TestControls::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_clip = m_dir.filePath(QStringLiteral("clip.flv"));
    m_noIndex = m_dir.filePath(QStringLiteral("noindex.flv"));
    m_short = m_dir.filePath(QStringLiteral("short.flv"));
    QVERIFY(makeClip(m_clip, 16));
    QVERIFY(makeClip(m_noIndex, 16, {"-flvflags", "no_metadata"}));
    QVERIFY(makeClip(m_short, 2));
    // Neither file carries a keyframe index; the second carries no metadata at all.
    QVERIFY(!contents(m_clip).contains("filepositions"));
    QVERIFY(!contents(m_clip).contains("keyframes"));
    QVERIFY(!contents(m_noIndex).contains("onMetaData"));
    QVERIFY(!contents(m_noIndex).contains("filepositions"));
}

void TestControls::load(PlaybackHost& host, const QString& file) {
    host.setMovie(
        QString::fromStdString(movie_address(m_dir.path().toStdString(), '/', file.toStdString())));
}

std::unique_ptr<PlaybackHost> TestControls::playingHost(const QString& file) {
    auto host = std::make_unique<PlaybackHost>(kEngineOptions);
    host->resize(320, 240);
    host->show();
    if (!QTest::qWaitForWindowExposed(host.get()))
        return nullptr;
    load(*host, file);
    return host;
}

void TestControls::pauseAndSettle(PlaybackHost& host) {
    host.player()->pause();
    QTRY_VERIFY_WITH_TIMEOUT(paused(host), kWait);
}

void TestControls::pauseAndResume() {
    auto host = playingHost(m_clip);
    QVERIFY(host);
    PlaybackControls* c = host->controls();
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.3, kWait);
    QVERIFY(!paused(*host));

    host->player()->togglePause();
    QTRY_VERIFY_WITH_TIMEOUT(paused(*host), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(c->shown().paused, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!c->playAction()->isChecked(), kWait);
    const double stopped = position(*host);
    QTest::qWait(600);
    QVERIFY(std::fabs(position(*host) - stopped) < 0.05);

    host->player()->togglePause();
    QTRY_VERIFY_WITH_TIMEOUT(!paused(*host), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > stopped + 0.3, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!c->shown().paused, kWait);
}

void TestControls::seekMovesPosition_data() {
    QTest::addColumn<bool>("withMetadata");
    QTest::newRow("as ffmpeg writes FLV") << true;
    QTest::newRow("no metadata, no index") << false;
}

void TestControls::seekMovesPosition() {
    QFETCH(bool, withMetadata);
    auto host = playingHost(withMetadata ? m_clip : m_noIndex);
    QVERIFY(host);
    PlaybackControls* c = host->controls();
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.2, kWait);
    pauseAndSettle(*host);
    QTRY_VERIFY_WITH_TIMEOUT(c->shown().duration > 15, kWait);

    host->player()->seekTo(11);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(position(*host) - 11) < 0.6, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(c->shown().position - 11) < 0.6, kWait);
    QVERIFY2(c->timeText().startsWith(QLatin1String("0:1")), qPrintable(c->timeText()));

    host->player()->seekBy(-5);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(position(*host) - 6) < 1.0, kWait);
    host->player()->seekTo(0);
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) < 0.3, kWait);
    host->player()->seekBy(5);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(position(*host) - 5) < 1.0, kWait);
}

void TestControls::volumeAndMuteReachMpvAndLast() {
    auto host = playingHost(m_clip);
    QVERIFY(host);
    PlaybackControls* c = host->controls();
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.2, kWait);
    QCOMPARE(volume(*host), 100.0);

    host->player()->setVolume(40);
    QTRY_COMPARE_WITH_TIMEOUT(volume(*host), 40.0, kWait);
    host->player()->setVolume(250); // the slider's scale ends at 100
    QTRY_COMPARE_WITH_TIMEOUT(volume(*host), 100.0, kWait);
    host->player()->setVolume(40);
    host->player()->setMuted(true);
    QTRY_VERIFY_WITH_TIMEOUT(muted(*host), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(volume(*host), 40.0, kWait);

    // Both stay for the next movie.
    load(*host, m_short);
    QTRY_VERIFY_WITH_TIMEOUT(host->player()->path() == m_short, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.2, kWait);
    QCOMPARE(volume(*host), 40.0);
    QVERIFY(muted(*host));
    QCOMPARE(c->shown().volume, 40.0);
    QVERIFY(c->shown().muted);

    host->player()->setMuted(false);
    QTRY_VERIFY_WITH_TIMEOUT(!muted(*host), kWait);
}

void TestControls::newMovieStartsPlayingAfterPause() {
    auto host = playingHost(m_clip);
    QVERIFY(host);
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.2, kWait);
    pauseAndSettle(*host);

    load(*host, m_noIndex);
    QTRY_VERIFY_WITH_TIMEOUT(host->player()->path() == m_noIndex, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!paused(*host), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.3, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(host->controls()->playAction()->isChecked(), kWait);
}

void TestControls::keysActInTheWindow_data() {
    QTest::addColumn<bool>("toWindow");
    QTest::newRow("keys to the window") << true;
    QTest::newRow("keys to the player") << false;
}

void TestControls::keysActInTheWindow() {
    QFETCH(bool, toWindow);
    int chooserCalls = 0;
    PlayerSetup setup;
    setup.appDir = QDir::toNativeSeparators(m_dir.path());
    setup.twipsPerPixelX = setup.twipsPerPixelY = 15;
    setup.engineOptions = kEngineOptions;
    setup.chooseFile = [&chooserCalls](QWidget*) {
        ++chooserCalls;
        return QString();
    };
    frmplayer window(setup);
    window.Form_Load(QString());
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    window.play_file(m_clip);
    PlaybackHost& host = *window.player;
    QTRY_VERIFY_WITH_TIMEOUT(position(host) > 0.3, kWait);
    QWidget* target = toWindow ? static_cast<QWidget*>(&window) : &host;

    QTest::keyClick(target, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(paused(host), kWait);
    QTest::qWait(200);
    const double start = position(host);

    QTest::keyClick(target, Qt::Key_Right);
    QTRY_VERIFY_WITH_TIMEOUT(position(host) > start + 4, kWait);
    QTest::keyClick(target, Qt::Key_Right);
    QTRY_VERIFY_WITH_TIMEOUT(position(host) > start + 9, kWait);
    const double later = position(host);
    QTest::keyClick(target, Qt::Key_Left);
    QTRY_VERIFY_WITH_TIMEOUT(position(host) < later - 4, kWait);
    QTest::keyClick(target, Qt::Key_Home);
    QTRY_VERIFY_WITH_TIMEOUT(position(host) < 0.3, kWait);

    // Steps stop at the top of the scale, and quick presses all count.
    QTest::keyClick(target, Qt::Key_Up);
    QTest::qWait(300);
    QCOMPARE(volume(host), 100.0);
    QTest::keyClick(target, Qt::Key_Down);
    QTest::keyClick(target, Qt::Key_Down);
    QTRY_COMPARE_WITH_TIMEOUT(volume(host), 90.0, kWait);
    QTest::keyClick(target, Qt::Key_Up);
    QTRY_COMPARE_WITH_TIMEOUT(volume(host), 95.0, kWait);

    QTest::keyClick(target, Qt::Key_M);
    QTRY_VERIFY_WITH_TIMEOUT(muted(host), kWait);
    QTest::keyClick(target, Qt::Key_M);
    QTRY_VERIFY_WITH_TIMEOUT(!muted(host), kWait);
    // Three quick presses leave it muted, however late the engine's reports come.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(target, Qt::Key_M);
    // The first of them already mutes; the end state needs the other two done as well.
    QTRY_VERIFY_WITH_TIMEOUT(muted(host), kWait);
    QTest::qWait(1000);
    QVERIFY(muted(host));
    QVERIFY(host.controls()->shown().muted);
    QTest::keyClick(target, Qt::Key_M);
    QTRY_VERIFY_WITH_TIMEOUT(!muted(host), kWait);

    QTest::keyClick(target, Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(!paused(host), kWait);

    // The menu's keys stay the menu's.
    QTest::keyClick(target, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(chooserCalls, 1);
    QTest::keyClick(target, Qt::Key_M, Qt::AltModifier);
    QTest::keyClick(target, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(window.mnuFile->isVisible(), 5000);
    QTest::keyClick(window.mnuFile, Qt::Key_Escape);
    QTRY_VERIFY_WITH_TIMEOUT(!window.mnuFile->isVisible(), 5000);
    QTest::qWait(200);
    QVERIFY(!muted(host));
    QVERIFY(!paused(host));

    // None of this went to the log.
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("log.txt"))));
}

void TestControls::playStartsOverAfterEndWithoutLoop() {
    auto host = playingHost(m_short);
    QVERIFY(host);
    PlaybackControls* c = host->controls();
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) > 0.1, kWait);
    host->player()->setLooping(false);
    // The clip ends and stays on its last picture.
    QTRY_VERIFY_WITH_TIMEOUT(atEnd(*host), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!c->playAction()->isChecked(), kWait);
    QVERIFY(position(*host) > 1.5);
    QVERIFY(!host->currentPicture().isNull());

    c->playAction()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!atEnd(*host), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!paused(*host), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(position(*host) < 1.5, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(c->playAction()->isChecked(), kWait);
}

void TestControls::nothingActsWithoutAMovie() {
    PlaybackHost host(kEngineOptions);
    host.resize(320, 240);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    PlaybackControls* c = host.controls();
    QVERIFY(!c->handleKey(Qt::Key_Space, {}, false));
    QVERIFY(!c->actions()->player());
    for (PlayerAction id :
         {PlayerAction::TogglePause, PlayerAction::SeekForward, PlayerAction::VolumeUp})
        c->actions()->action(id)->trigger();
    QVERIFY(!host.engine());
    QVERIFY(!c->playAction()->isEnabled());
    QVERIFY(!c->loopAction()->isEnabled());
    QTest::mouseClick(&host, Qt::RightButton, {}, QPoint(60, 60));
    QTRY_VERIFY_WITH_TIMEOUT(c->contextMenu()->isVisible(), 5000);
    c->rewindAction()->trigger();
    QVERIFY(!host.engine());
    c->contextMenu()->hide();
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    TestControls test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_controls.moc"
