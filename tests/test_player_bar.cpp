// The control bar, its keys and its menu over a fake player: which input asks for which verb,
// and what the bar shows of what the player reports. No engine, so it runs in a moment.

#include "engine/player.h"
#include "fake_player.h"
#include "window/playback_controls.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QtTest>

#include <cmath>
#include <functional>

using namespace movarin;
using movarin::testing::FakePlayer;

namespace {

PlayerState stateNamed(const QString& name) {
    PlayerState s;
    s.path = QStringLiteral("/videos/clip.flv");
    s.duration = 100;
    s.position = 42;
    s.volume = 80;
    s.hasVideo = true;
    s.paused = name == "paused" || name == "at end";
    s.atEnd = name == "at end";
    s.looping = name != "not looping";
    return s;
}

struct Row {
    const char* state;
    // "key NAME [ctrl|alt|shift|held]", "menu ENTRY", "click PART AT", "drag PART FROM TO"
    const char* input;
    const char* calls;
};
const Row kRows[] = {
    {"playing", "key Space", "togglePause()"},
    {"playing", "key Left", "seekBy(-5)"},
    {"playing", "key Right held", "seekBy(5)"},
    {"playing", "key Up", "changeVolume(5)"},
    {"playing", "key Down held", "changeVolume(-5)"},
    {"playing", "key M", "toggleMute()"},
    {"playing", "key M held", ""},
    {"paused", "key Home", "seekTo(0)"},
    {"playing", "key O ctrl", ""},
    {"playing", "menu Play", "pause()"},
    {"paused", "menu Play", "play()"},
    {"at end", "menu Play", "play()"},
    {"playing", "menu Loop", "setLooping(0)"},
    {"not looping", "menu Loop", "setLooping(1)"},
    {"playing", "menu Rewind", "seekTo(0)"},
    {"playing", "menu Forward", "seekBy(10)"},
    {"playing", "menu Back", "seekBy(-10)"},
    {"playing", "click play 0.5", "togglePause()"},
    {"playing", "click mute 0.5", "toggleMute()"},
    {"playing", "click seek 0.5", "seekTo(50)"},
    {"playing", "drag seek 0.1 0.25", "seekTo(10) seekTo(25)"},
    {"playing", "drag volume 0 1", "setVolume(0) setVolume(100) setVolume(100)"},
    {"playing", "click volume 0.25", "setVolume(25) setVolume(25) setVolume(25)"},
};

} // namespace

class TestPlayerBar : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void inputAsksForVerb_data();
    void inputAsksForVerb();
    void barShowsWhatThePlayerReports();
    void barRepaintsOnlyWhenItsPictureChanges();
    void barShowsOnMoveAndHidesAfterTimeOut();
    void rightClickShowsTheMenu();

private:
    void perform(const QStringList& words);

    std::unique_ptr<QWidget> m_window;
    QWidget* m_host = nullptr;
    PlaybackControls* m_bar = nullptr;
    FakePlayer* m_player = nullptr;
};

void TestPlayerBar::init() {
    m_window = std::make_unique<QWidget>();
    m_window->resize(400, 300);
    m_host = new QWidget(m_window.get());
    m_host->setGeometry(0, 0, 400, 300);
    m_bar = new PlaybackControls(m_host);
    m_player = new FakePlayer;
    m_player->setParent(m_window.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestPlayerBar::perform(const QStringList& words) {
    if (words[0] == "key") {
        Qt::KeyboardModifiers mods;
        mods.setFlag(Qt::ControlModifier, words.contains("ctrl"));
        mods.setFlag(Qt::AltModifier, words.contains("alt"));
        mods.setFlag(Qt::ShiftModifier, words.contains("shift"));
        const int key = QKeySequence::fromString(words[1])[0].key();
        QKeyEvent press(QEvent::KeyPress, key, mods, QString(), words.contains("held"));
        QApplication::sendEvent(m_window.get(), &press);
        return;
    }
    if (words[0] == "menu") {
        for (QAction* action : m_bar->contextMenu()->actions())
            if (action->text() == words[1])
                action->trigger();
        return;
    }
    // The bar shows on a move over the host, and takes presses on its parts.
    QMouseEvent move(QEvent::MouseMove, QPointF(200, 100), QPointF(200, 100), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_host, &move);
    QVERIFY(m_bar->isVisible());
    const controls::BarLayout l = m_bar->barLayout();
    const controls::Rect part = words[1] == "play"   ? l.play
                                : words[1] == "mute" ? l.mute
                                : words[1] == "seek" ? l.seek
                                                     : l.volume;
    QVERIFY(!part.empty());
    const auto at = [&](const QString& fraction) {
        return QPoint(part.x + int(std::lround(fraction.toDouble() * (part.width - 1))),
                      part.y + part.height / 2);
    };
    const QPoint to = at(words.value(words[0] == "drag" ? 3 : 2));
    QTest::mousePress(m_bar, Qt::LeftButton, {}, at(words[2]));
    QMouseEvent drag(QEvent::MouseMove, to, m_bar->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(m_bar, &drag);
    QTest::mouseRelease(m_bar, Qt::LeftButton, {}, to);
}

void TestPlayerBar::inputAsksForVerb_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("calls");
    for (const Row& row : kRows)
        QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(row.state, row.input)))
            << row.state << row.input << row.calls;
}

void TestPlayerBar::inputAsksForVerb() {
    QFETCH(QString, state);
    QFETCH(QString, input);
    QFETCH(QString, calls);
    m_player->set(stateNamed(state));
    m_bar->attach(m_player);
    perform(input.split(u' '));
    QCOMPARE(m_player->calls.join(u' '), calls);
    // A key taken as the player's shows the bar; one left alone goes on to the window.
    if (input.startsWith("key"))
        QCOMPARE(m_bar->isVisible(), !calls.isEmpty());
}

void TestPlayerBar::barShowsWhatThePlayerReports() {
    QAction* play = m_bar->playAction();
    QAction* loop = m_bar->loopAction();
    QVERIFY(!play->isEnabled()); // nothing to act on yet
    m_bar->attach(m_player);
    const std::tuple<const char*, bool, bool> marks[] = {
        {"playing", true, true},
        {"paused", false, true},
        {"at end", false, true},
        {"not looping", true, false},
    };
    for (const auto& [name, playing, looping] : marks) {
        m_player->set(stateNamed(name));
        QVERIFY2(play->isEnabled() && play->isChecked() == playing, name);
        QVERIFY2(loop->isChecked() == looping, name);
    }
    QCOMPARE(m_bar->timeText(), QStringLiteral("0:42 / 1:40"));
    // A click's mark lasts only until the player reports: it shows what plays.
    m_player->set(stateNamed("playing"));
    play->trigger();
    QCOMPARE(m_player->calls, QStringList{"pause()"});
    QVERIFY(play->isChecked());
    // A player that goes away takes the keys with it.
    delete m_player;
    QVERIFY(!m_bar->handleKey(Qt::Key_Space, {}, false));
}

// Counts the paints a widget gets.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

void TestPlayerBar::barRepaintsOnlyWhenItsPictureChanges() {
    // The engine reports the position with every frame; a bar repainted for each of them
    // repaints the picture under it too. Reports that change nothing it draws must not.
    struct Change {
        const char* name;
        std::function<void(PlayerState&)> apply;
        bool repaints;
    };
    const Change changes[] = {
        {"position, by a hair", [](PlayerState& s) { s.position += 1e-4; }, false},
        {"position, to the next second", [](PlayerState& s) { s.position += 1; }, true},
        {"pause", [](PlayerState& s) { s.paused = true; }, true},
        {"at end", [](PlayerState& s) { s.atEnd = true; }, true},
        {"mute", [](PlayerState& s) { s.muted = true; }, true},
        {"volume, by a hair", [](PlayerState& s) { s.volume += 1e-4; }, false},
        {"volume, by a step", [](PlayerState& s) { s.volume -= 5; }, true},
        {"duration", [](PlayerState& s) { s.duration = 200; }, true},
        {"looping", [](PlayerState& s) { s.looping = !s.looping; }, false},
        {"path", [](PlayerState& s) { s.path = QStringLiteral("/videos/other.flv"); }, false},
    };
    m_bar->attach(m_player);
    QMouseEvent move(QEvent::MouseMove, QPointF(200, 100), QPointF(200, 100), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(m_host, &move);
    QVERIFY(m_bar->isVisible());
    PaintCounter counter;
    m_bar->installEventFilter(&counter);
    for (const Change& change : changes) {
        const PlayerState base = stateNamed("playing");
        m_player->set(base);
        QCoreApplication::processEvents();
        counter.paints = 0;
        PlayerState next = base;
        change.apply(next);
        m_player->set(next);
        QCoreApplication::processEvents();
        QVERIFY2((counter.paints > 0) == change.repaints, change.name);
    }
    // A run of frames moves the knob now and then, not on every report.
    m_player->set(stateNamed("playing"));
    QCoreApplication::processEvents();
    counter.paints = 0;
    PlayerState s = stateNamed("playing");
    for (int frame = 0; frame < 30; ++frame) {
        s.position += 1.0 / 30; // a second in all
        m_player->set(s);
        QCoreApplication::processEvents();
    }
    QVERIFY2(counter.paints > 0 && counter.paints < 10,
             qPrintable(QString::number(counter.paints)));
}

void TestPlayerBar::barShowsOnMoveAndHidesAfterTimeOut() {
    const auto moveTo = [this](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, m_host->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(m_host, &move);
    };
    qint64 now = 10'000;
    m_bar->setClock([&now] { return now; });
    // Nothing to control yet: the pointer shows nothing.
    moveTo({100, 100});
    QVERIFY(!m_bar->isVisible());

    m_player->set(stateNamed("playing"));
    m_bar->attach(m_player);
    moveTo({120, 110});
    QVERIFY(m_bar->isVisible());
    QCOMPARE(m_bar->geometry(),
             QRect(0, 300 - PlaybackControls::kBarHeight, 400, PlaybackControls::kBarHeight));
    // Two seconds of the clock after the last movement, not of the event loop.
    now += 1999;
    m_bar->updateVisibility();
    QVERIFY(m_bar->isVisible());
    moveTo({130, 110});
    now += 1999;
    m_bar->updateVisibility();
    QVERIFY(m_bar->isVisible());
    now += 1;
    m_bar->updateVisibility();
    QVERIFY(!m_bar->isVisible());

    // The bar follows the host's size, and leaving hides it at once.
    m_host->resize(300, 200);
    moveTo({150, 190});
    QVERIFY(m_bar->isVisible());
    QCOMPARE(m_bar->geometry(),
             QRect(0, 200 - PlaybackControls::kBarHeight, 300, PlaybackControls::kBarHeight));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(m_host, &leave);
    QVERIFY(!m_bar->isVisible());

    // With the real clock, the timer hides it without any further event.
    m_bar->setClock({});
    m_bar->setHideDelay(300);
    moveTo({160, 120});
    QVERIFY(m_bar->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!m_bar->isVisible(), 5000);
}

void TestPlayerBar::rightClickShowsTheMenu() {
    m_player->set(stateNamed("not looping"));
    m_bar->attach(m_player);
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(60, 60),
                            m_host->mapToGlobal(QPoint(60, 60)));
    QApplication::sendEvent(m_host, &click);
    QMenu* menu = m_bar->contextMenu();
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 5000);
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text();
    QCOMPARE(texts, QStringList({"Play", "Loop", "Rewind", "Forward", "Back", "Full Screen"}));
    // Its marks are what plays when it opens.
    QVERIFY(m_bar->playAction()->isChecked());
    QVERIFY(!m_bar->loopAction()->isChecked());
    menu->hide();
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TestPlayerBar test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_player_bar.moc"
