// The control bar, its keys and its menu over a fake player: which input asks for which verb,
// and what the bar shows of what the player reports. No engine, so it runs in a moment.

#include "app/control_bar_state.h"
#include "app/playback_controls.h"
#include "app/player.h"
#include "app/player_actions.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QtTest>

#include <cmath>

using namespace movarin;

namespace {

// Records the verbs it is asked for and changes nothing until told to report.
class FakePlayer : public Player {
public:
    struct Call {
        QString verb;
        double value = 0;
    };
    std::vector<Call> calls;

    void set(const PlayerState& state) { report(state); }

    void load(const QString&) override { note(__func__); }
    void play() override { note(__func__); }
    void pause() override { note(__func__); }
    void togglePause() override { note(__func__); }
    void seekTo(double s) override { note(__func__, s); }
    void seekBy(double s) override { note(__func__, s); }
    void setVolume(double v) override { note(__func__, v); }
    void changeVolume(double by) override { note(__func__, by); }
    void setMuted(bool m) override { note(__func__, m); }
    void toggleMute() override { note(__func__); }
    void setLooping(bool l) override { note(__func__, l); }

private:
    void note(const char* verb, double value = 0) {
        calls.push_back({QString::fromLatin1(verb) + "()", value});
    }
};

constexpr double kDuration = 200;

PlayerState stateNamed(const QString& name) {
    PlayerState s;
    s.path = QStringLiteral("/videos/clip.flv");
    s.title = QStringLiteral("clip.flv");
    s.duration = kDuration;
    s.position = 42;
    s.volume = 80;
    s.hasVideo = true;
    if (name == "paused")
        s.paused = true;
    else if (name == "at end")
        s.atEnd = s.paused = true;
    else if (name == "not looping")
        s.looping = false;
    else if (name == "muted")
        s.muted = true;
    return s;
}

void sendKey(QWidget* to, int key, Qt::KeyboardModifiers mods, bool repeat) {
    QKeyEvent press(QEvent::KeyPress, key, mods, QString(), repeat);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, QString(), repeat);
    QApplication::sendEvent(to, &release);
}

int keyNamed(const QString& name) {
    const QKeySequence sequence = QKeySequence::fromString(name);
    return sequence.isEmpty() ? 0 : sequence[0].key();
}

} // namespace

Q_DECLARE_METATYPE(PlayerState)

class TestPlayerBar : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void inputAsksForVerb_data();
    void inputAsksForVerb();
    void barShowsWhatThePlayerReports();
    void withoutPlayerNothingIsTaken();

private:
    // One input, written as a line: "key Right", "key M ctrl", "key Space held",
    // "menu Play", "click playbutton", "click seekbar 0.5", "drag seekbar 0.1 0.25".
    void perform(const QString& input);
    QPoint onBar(controls::Rect part, double fraction) const;

    std::unique_ptr<QWidget> m_window;
    QWidget* m_host = nullptr;
    PlaybackControls* m_bar = nullptr;
    std::unique_ptr<FakePlayer> m_player;
};

void TestPlayerBar::init() {
    m_window = std::make_unique<QWidget>();
    m_window->resize(400, 300);
    m_host = new QWidget(m_window.get());
    m_host->setGeometry(0, 0, 400, 300);
    m_bar = new PlaybackControls(m_host);
    m_player = std::make_unique<FakePlayer>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestPlayerBar::cleanup() {
    m_window.reset();
    m_player.reset();
}

QPoint TestPlayerBar::onBar(controls::Rect part, double fraction) const {
    return QPoint(part.x + int(std::lround(fraction * (part.width - 1))), part.y + part.height / 2);
}

void TestPlayerBar::perform(const QString& input) {
    const QStringList words = input.split(u' ');
    const QString kind = words.value(0);
    if (kind == "key") {
        Qt::KeyboardModifiers mods;
        if (words.contains("ctrl"))
            mods |= Qt::ControlModifier;
        if (words.contains("alt"))
            mods |= Qt::AltModifier;
        if (words.contains("shift"))
            mods |= Qt::ShiftModifier;
        sendKey(m_window.get(), keyNamed(words.value(1)), mods, words.contains("held"));
        return;
    }
    if (kind == "menu") {
        for (QAction* action : m_bar->contextMenu()->actions())
            if (action->text() == words.value(1))
                return action->trigger();
        QFAIL(qPrintable("no menu entry " + words.value(1)));
    }
    // The bar shows on a move over the host, and takes presses on its parts.
    QMouseEvent move(QEvent::MouseMove, QPointF(200, 100), QPointF(200, 100), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_host, &move);
    QVERIFY(m_bar->isVisible());
    const controls::BarLayout l = m_bar->barLayout();
    const QString partName = words.value(1);
    const controls::Rect part = partName == "playbutton"   ? l.play
                                : partName == "mutebutton" ? l.mute
                                : partName == "seekbar"    ? l.seek
                                                           : l.volume;
    QVERIFY(!part.empty());
    const QPoint from = onBar(part, words.value(2, "0.5").toDouble());
    QTest::mousePress(m_bar, Qt::LeftButton, {}, from);
    QPoint to = from;
    if (kind == "drag") {
        to = onBar(part, words.value(3).toDouble());
        QMouseEvent drag(QEvent::MouseMove, to, m_bar->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_bar, &drag);
    }
    QTest::mouseRelease(m_bar, Qt::LeftButton, {}, to);
}

void TestPlayerBar::inputAsksForVerb_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("calls");
    const QStringList none;
    QTest::newRow("space") << "playing"
                           << "key Space" << QStringList{"togglePause()"};
    QTest::newRow("space while paused") << "paused"
                                        << "key Space" << QStringList{"togglePause()"};
    QTest::newRow("held space") << "playing"
                                << "key Space held" << none;
    QTest::newRow("left") << "playing"
                          << "key Left" << QStringList{"seekBy(-5)"};
    QTest::newRow("held right") << "playing"
                                << "key Right held" << QStringList{"seekBy(5)"};
    QTest::newRow("up") << "playing"
                        << "key Up" << QStringList{"changeVolume(5)"};
    QTest::newRow("held down") << "playing"
                               << "key Down held" << QStringList{"changeVolume(-5)"};
    QTest::newRow("m") << "playing"
                       << "key M" << QStringList{"toggleMute()"};
    QTest::newRow("held m") << "playing"
                            << "key M held" << none;
    QTest::newRow("home") << "paused"
                          << "key Home" << QStringList{"seekTo(0)"};
    QTest::newRow("ctrl+o is the menu bar's") << "playing"
                                              << "key O ctrl" << none;
    QTest::newRow("alt+m is a mnemonic") << "playing"
                                         << "key M alt" << none;
    QTest::newRow("ctrl+right") << "playing"
                                << "key Right ctrl" << none;
    QTest::newRow("shift+left") << "playing"
                                << "key Left shift" << none;
    QTest::newRow("other letter") << "playing"
                                  << "key F" << none;
    QTest::newRow("menu play while playing") << "playing"
                                             << "menu Play" << QStringList{"pause()"};
    QTest::newRow("menu play while paused") << "paused"
                                            << "menu Play" << QStringList{"play()"};
    QTest::newRow("menu play at the end") << "at end"
                                          << "menu Play" << QStringList{"play()"};
    QTest::newRow("menu loop off") << "playing"
                                   << "menu Loop" << QStringList{"setLooping(0)"};
    QTest::newRow("menu loop on") << "not looping"
                                  << "menu Loop" << QStringList{"setLooping(1)"};
    QTest::newRow("menu rewind") << "playing"
                                 << "menu Rewind" << QStringList{"seekTo(0)"};
    QTest::newRow("menu forward") << "playing"
                                  << "menu Forward" << QStringList{"seekBy(10)"};
    QTest::newRow("menu back") << "playing"
                               << "menu Back" << QStringList{"seekBy(-10)"};
    QTest::newRow("play button") << "playing"
                                 << "click playbutton" << QStringList{"togglePause()"};
    QTest::newRow("play button at the end") << "at end"
                                            << "click playbutton" << QStringList{"togglePause()"};
    QTest::newRow("mute button") << "muted"
                                 << "click mutebutton" << QStringList{"toggleMute()"};
    QTest::newRow("seek bar middle") << "playing"
                                     << "click seekbar 0.5" << QStringList{"seekTo(100)"};
    QTest::newRow("seek bar start") << "paused"
                                    << "click seekbar 0" << QStringList{"seekTo(0)"};
    QTest::newRow("seek bar end") << "playing"
                                  << "click seekbar 1" << QStringList{"seekTo(200)"};
    QTest::newRow("seek drag") << "playing"
                               << "drag seekbar 0.1 0.25"
                               << QStringList{"seekTo(20)", "seekTo(50)"};
    QTest::newRow("volume quarter")
        << "playing"
        << "click volumebar 0.25" << QStringList{"setVolume(25)", "setVolume(25)"};
    QTest::newRow("volume drag to top")
        << "playing"
        << "drag volumebar 0.5 1"
        << QStringList{"setVolume(50)", "setVolume(100)", "setVolume(100)"};
}

void TestPlayerBar::inputAsksForVerb() {
    QFETCH(QString, state);
    QFETCH(QString, input);
    QFETCH(QStringList, calls);
    m_player->set(stateNamed(state));
    m_bar->attach(m_player.get());
    perform(input);
    if (QTest::currentTestFailed())
        return;

    QStringList verbs;
    for (const auto& call : m_player->calls)
        verbs << call.verb;
    QStringList expectedVerbs;
    for (const QString& call : calls)
        expectedVerbs << call.section(u'(', 0, 0) + "()";
    QCOMPARE(verbs, expectedVerbs);
    // Pointer positions are whole pixels: a value within one pixel's worth is the one meant.
    for (std::size_t i = 0; i < m_player->calls.size(); ++i) {
        const double expected = calls.at(int(i)).section(u'(', 1).chopped(1).toDouble();
        const double actual = m_player->calls[i].value;
        QVERIFY2(std::fabs(actual - expected) <= 1.5,
                 qPrintable(QStringLiteral("%1 %2").arg(verbs.at(int(i))).arg(actual)));
    }
    // A key taken as the player's shows the bar; one left alone does not.
    if (input.startsWith("key"))
        QCOMPARE(m_bar->isVisible(), !calls.isEmpty());
}

void TestPlayerBar::barShowsWhatThePlayerReports() {
    m_bar->attach(m_player.get());
    QAction* play = m_bar->playAction();
    QAction* loop = m_bar->loopAction();
    for (QAction* action : m_bar->contextMenu()->actions())
        QVERIFY(action->isSeparator() || action->isEnabled());

    m_player->set(stateNamed("playing"));
    QVERIFY(play->isChecked());
    QVERIFY(loop->isChecked());
    QCOMPARE(m_bar->timeText(), QStringLiteral("0:42 / 3:20"));

    m_player->set(stateNamed("paused"));
    QVERIFY(!play->isChecked());
    m_player->set(stateNamed("at end"));
    QVERIFY(!play->isChecked());
    m_player->set(stateNamed("not looping"));
    QVERIFY(play->isChecked());
    QVERIFY(!loop->isChecked());

    // A triggered mark only lasts until the player reports: it shows what plays, not the click.
    m_player->set(stateNamed("playing"));
    play->trigger();
    QCOMPARE(m_player->calls.size(), std::size_t(1));
    QVERIFY(play->isChecked());

    PlayerState nothing;
    m_player->set(nothing);
    QVERIFY(!play->isChecked());
    QCOMPARE(m_bar->timeText(), QStringLiteral("0:00 / 0:00"));
}

void TestPlayerBar::withoutPlayerNothingIsTaken() {
    QVERIFY(!m_bar->handleKey(Qt::Key_Space, {}, false));
    QVERIFY(!m_bar->handleKey(Qt::Key_Left, {}, false));
    for (QAction* action : m_bar->contextMenu()->actions())
        QVERIFY(action->isSeparator() || !action->isEnabled());
    QMouseEvent move(QEvent::MouseMove, QPointF(200, 100), QPointF(200, 100), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_host, &move);
    QVERIFY(!m_bar->isVisible());

    // Once a player is there the same key is taken; a player that goes away takes nothing along.
    m_bar->attach(m_player.get());
    QVERIFY(m_bar->handleKey(Qt::Key_Space, {}, false));
    QCOMPARE(m_player->calls.size(), std::size_t(1));
    m_player.reset();
    QVERIFY(!m_bar->handleKey(Qt::Key_Space, {}, false));
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TestPlayerBar test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_player_bar.moc"
