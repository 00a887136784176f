// The player window on a real X server under a window manager, driven with xdotool as a user
// drives it: a drop from another program, moving the window, the first show and full screen.
// What the window manager holds of the window is read back with xprop.
#include "about/frmabout.h"
#include "about/placement.h"
#include "about_driver.h"
#include "app/start_up.h"
#include "engine/player.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"
#include "window/window_manager.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QtTest>

#include <cstdio>
#include <memory>

using namespace movarin;

namespace {

constexpr int kWait = 20000;
const QPoint kSourceAt(900, 700);

// A small window that drags a file when pressed, and keeps what its drop target told it.
class DragSource : public QWidget {
public:
    DragSource(Qt::DropActions offered, Qt::DropAction preferred, QUrl url)
        : m_offered(offered), m_preferred(preferred), m_url(std::move(url)) {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        setGeometry(QRect(kSourceAt, QSize(60, 60)));
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls({m_url});
        drag->setMimeData(data);
        told = int(drag->exec(m_offered, m_preferred));
    }

public:
    int told = -1;

private:
    Qt::DropActions m_offered;
    Qt::DropAction m_preferred;
    QUrl m_url;
};

// Runs while this program's events are served: the window must answer the drag meanwhile.
bool xdotool(const QStringList& args) {
    QProcess tool;
    tool.start("xdotool", args);
    if (!tool.waitForStarted())
        return false;
    if (!QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, kWait))
        return false;
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QString point(QPoint p) {
    return QString::number(p.x()) + u' ' + QString::number(p.y());
}

QString property(const QWidget& w, const char* name);

// The window manager has framed the window, or said that its frame is none. Asked of the window
// system each time: a widget's own copy of its frame can lag behind.
bool framed(const QWidget& w) {
    return w.windowHandle() && (!w.windowHandle()->frameMargins().isNull() ||
                                property(w, "_NET_FRAME_EXTENTS").contains(" = "));
}

// Full-screen round trips per test row: a few where CI's time is short.
int rounds() {
    const int asked = qEnvironmentVariableIntValue("MOVARIN_TEST_ROUNDS");
    return asked > 0 ? asked : 10;
}

// Where the frame stands on the screen as the window system last reported it: its top-left
// corner, border and title bar included.
QPoint frameAt(const QWidget& w) {
    return w.windowHandle()->framePosition();
}

const QPoint kHome(193, 133); // 2900, 2000 twips at 15 twips to the pixel

// A property of the window as the window manager and the window system hold it, as xprop prints
// it; empty when xprop fails.
QString property(const QWidget& w, const char* name) {
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(w.winId()), QString::fromLatin1(name)});
    if (!xprop.waitForFinished(kWait) || xprop.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(xprop.readAllStandardOutput());
}

bool fullScreenState(const QWidget& w) {
    return property(w, "_NET_WM_STATE").contains("_NET_WM_STATE_FULLSCREEN");
}

// The window's size hints say it cannot be resized: minimum and maximum both `size`.
bool fixedHints(const QWidget& w, QSize size) {
    const QString hints = property(w, "WM_NORMAL_HINTS");
    const QString text = QStringLiteral("%1 by %2").arg(size.width()).arg(size.height());
    return hints.contains("minimum size: " + text) && hints.contains("maximum size: " + text);
}

// Where the About window must come for a player window at `left`, `top` twips.
QPoint aboutPlaceFor(float left, float top, const frmplayer& w) {
    const about::TwipsPoint at = about::form_load_position({left, top, w.Width(), w.Height()});
    return {twips::to_pixels(at.left, 15), twips::to_pixels(at.top, 15)};
}

// Opens About from the menu and returns where its window stood on the screen; closes it again.
QPoint aboutOpensAt(frmplayer& w) {
    QPoint at(-1, -1);
    const bool closed = testing::driveModalAbout(
        &w, [&] { w.mnuabout->trigger(); },
        [&](about::frmabout* about) {
            at = about->windowHandle()->framePosition();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        });
    return closed ? at : QPoint(-1, -1);
}

// Moves the window as a user does: `how` 0 asks the window manager from another program, 1
// drags the title bar with the mouse. Returns once the window stands somewhere else.
bool userMoves(QWidget& w, int how, QPoint to) {
    const QPoint before = frameAt(w);
    if (how == 0) {
        if (!xdotool({"windowmove", QString::number(w.winId()), QString::number(to.x()),
                      QString::number(to.y())}))
            return false;
    } else {
        const QPoint grip = before + QPoint(60, 8); // on the title bar, clear of its buttons
        const QPoint by = to - before;
        const QString steps = "mousemove " + point(grip) + " mousedown 1 sleep 0.2 mousemove " +
                              point(grip + by / 2) + " sleep 0.2 mousemove " + point(grip + by) +
                              " sleep 0.2 mouseup 1";
        if (!xdotool(steps.split(u' ')))
            return false;
    }
    if (!QTest::qWaitFor([&] { return frameAt(w) != before; }, kWait))
        return false;
    QTest::qWait(300); // the window manager's last word on the move
    return true;
}

} // namespace

class TestWindowDesktop : public QObject {
    Q_OBJECT
    QTemporaryDir m_media;
    QString m_spark;
    QString m_tall;
    std::unique_ptr<QTemporaryDir> m_appDir;

    std::unique_ptr<frmplayer> shownWindow(const QString& tail = QString()) {
        auto w = std::make_unique<frmplayer>(testing::playerSetupIn(m_appDir->path()));
        w->Form_Load(tail);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()) || !QTest::qWaitFor([&] { return framed(*w); }))
            return nullptr;
        QTest::qWait(300); // whatever the window manager still does to a new window
        return w;
    }

private slots:
    void initTestCase() {
        use_c_numeric_locale();
        m_spark = testing::makeSparkFlv(m_media.path());
        m_tall = testing::makeH264Flv(m_media.path(), 300, 1400, "tall.flv", 3);
        QVERIFY(!m_spark.isEmpty() && !m_tall.isEmpty());
        QVERIFY2(xdotool({"getmouselocation"}), "xdotool is needed");
        // Without a window manager nothing here means what it should; it may still be starting.
        QVERIFY2(QTest::qWaitFor([] { return x_window_manager_running(0); }, 10000),
                 "no window manager runs on this display");
    }
    void init() { m_appDir = std::make_unique<QTemporaryDir>(); }

    // Started without a file, the frame (not the area inside it) stands at home from the first
    // show, and the first load leaves it there instead of making it jump.
    void firstShowPutsTheFrameAtHome() {
        auto w = shownWindow();
        QVERIFY(w);
        QCOMPARE(frameAt(*w), kHome);
        QCOMPARE(w->Left(), 2900.0f);
        QCOMPARE(w->Top(), 2000.0f);
        QPoint movedTo = kHome;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (frameAt(*w) != kHome)
                movedTo = frameAt(*w);
        });
        watch.start(5);
        w->play_file(m_spark);
        QTRY_COMPARE_WITH_TIMEOUT(w->centralWidget()->size(), QSize(320, 240), kWait);
        QTest::qWait(300);
        QCOMPARE(movedTo, kHome);
        QCOMPARE(frameAt(*w), kHome);
        QCOMPARE(w->Left(), 2900.0f);
        QCOMPARE(w->Top(), 2000.0f);
    }

    // A video reported before the window manager framed the window was fitted to a room that
    // took no frame into account; once the frame is known it is fitted again, and the frame
    // stands at home with all of the window on the screen. From the command line the report
    // comes whenever the engine is ready: before or after the frame, as it happens.
    void tallVideoStandsWhole_data() {
        QTest::addColumn<int>("when");
        QTest::newRow("reported before the first show") << 0;
        QTest::newRow("reported after it") << 1;
        QTest::newRow("from the command line, 1") << 2;
        QTest::newRow("from the command line, 2") << 2;
        QTest::newRow("from the command line, 3") << 2;
    }
    void tallVideoStandsWhole() {
        QFETCH(int, when);
        auto w = std::make_unique<frmplayer>(testing::playerSetupIn(m_appDir->path()));
        const auto report = [&] {
            w->player_FSCommand("actualsizewidth", "300");
            w->player_FSCommand("actualsizeheight", "1400");
        };
        w->Form_Load(when == 2 ? m_tall : QString());
        if (when == 0)
            report();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        if (when == 1)
            report();
        QTRY_COMPARE_WITH_TIMEOUT(w->Text2, QString("1400"), kWait);
        const QRect room = w->screen()->availableGeometry();
        QTRY_COMPARE_WITH_TIMEOUT(w->windowHandle()->frameGeometry().bottom(), room.bottom(),
                                  kWait);
        QTest::qWait(300); // nothing moves it later
        const QRect frame = w->windowHandle()->frameGeometry();
        qInfo("frame %d,%d %dx%d in a room of %dx%d", frame.x(), frame.y(), frame.width(),
              frame.height(), room.width(), room.height());
        QCOMPARE(frame.topLeft(), kHome);
        QVERIFY(room.contains(frame));
        // The picture keeps the video's shape within a pixel's rounding.
        const QSize picture = w->player->size();
        QVERIFY(std::abs(picture.width() * 1400 - picture.height() * 300) <= 1400);
        QCOMPARE(w->Left(), 2900.0f);
        QCOMPARE(w->Top(), 2000.0f);
    }

    // Full screen in and out ten times in a row (or MOVARIN_TEST_ROUNDS), at home and where the
    // user put the window: the window manager grants the state (the fixed size let go first) and
    // gives the window the whole screen; afterwards the size is fixed again and the frame stands at
    // the very pixel it left, however the frame's extents changed meanwhile.
    void fullScreenComesBack_data() {
        QTest::addColumn<bool>("moved");
        QTest::newRow("at home") << false;
        QTest::newRow("moved by the user") << true;
    }
    void fullScreenComesBack() {
        QFETCH(bool, moved);
        auto w = shownWindow();
        QVERIFY(w);
        w->player_FSCommand("actualsizewidth", "320");
        w->player_FSCommand("actualsizeheight", "240");
        if (moved)
            QVERIFY(userMoves(*w, 0, QPoint(611, 407)));
        QTest::qWait(300);
        const QPoint before = frameAt(*w);
        const QSize size = w->size();
        QVERIFY(fixedHints(*w, size));
        const QRect screen = w->screen()->geometry();
        QAction* full = w->player->controls()->fullScreenAction();
        for (int round = 1; round <= rounds(); ++round) {
            full->trigger();
            QTRY_VERIFY2_WITH_TIMEOUT(fullScreenState(*w), qPrintable(QString::number(round)),
                                      kWait);
            QTRY_COMPARE_WITH_TIMEOUT(w->windowHandle()->frameGeometry(), screen, kWait);
            QTRY_COMPARE_WITH_TIMEOUT(w->geometry(), screen, kWait);
            // Given, not taken back a moment later.
            QTest::qWait(250);
            QVERIFY2(fullScreenState(*w), qPrintable(QString::number(round)));
            QVERIFY(w->isFullScreen());

            full->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!fullScreenState(*w), kWait);
            QTRY_COMPARE_WITH_TIMEOUT(frameAt(*w), before, kWait);
            QTest::qWait(250);
            QCOMPARE(frameAt(*w), before);
            QCOMPARE(w->size(), size);
            QVERIFY(fixedHints(*w, size));
            QVERIFY(!w->isFullScreen());
        }
        // Home stays exactly 2900, 2000 twips; a place the user chose is its pixels in twips.
        QCOMPARE(w->Left(), moved ? float(before.x() * 15) : 2900.0f);
        QCOMPARE(w->Top(), moved ? float(before.y() * 15) : 2000.0f);
    }

    // The user moves the window: Left and Top follow it, so About opens centred on where the
    // window is now, and placed anew on each opening; a late size report refits the window
    // where it stands; the next load brings it home again, exactly.
    void aboutFollowsTheMovedWindow_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("moved by another program") << 0;
        QTest::newRow("title bar dragged") << 1;
    }
    void aboutFollowsTheMovedWindow() {
        QFETCH(int, how);
        auto w = shownWindow();
        QVERIFY(w);
        // 2952.5 and 3482.5 twips: the home place, before anything moved.
        QCOMPARE(aboutOpensAt(*w), QPoint(197, 232));

        QVERIFY(userMoves(*w, how, QPoint(700, 500)));
        const QPoint moved = frameAt(*w);
        QVERIFY2(
            qAbs(moved.x() - 700) < 30 && qAbs(moved.y() - 500) < 30,
            qPrintable(QStringLiteral("the window went to %1,%2").arg(moved.x()).arg(moved.y())));
        QCOMPARE(w->Left(), float(moved.x() * 15));
        QCOMPARE(w->Top(), float(moved.y() * 15));
        const QPoint about = aboutOpensAt(*w);
        qInfo("frame moved to %d,%d; About opened at %d,%d", moved.x(), moved.y(), about.x(),
              about.y());
        QCOMPARE(about, aboutPlaceFor(moved.x() * 15, moved.y() * 15, *w));

        QVERIFY(userMoves(*w, how, QPoint(300, 250)));
        const QPoint again = frameAt(*w);
        QCOMPARE(aboutOpensAt(*w), aboutPlaceFor(again.x() * 15, again.y() * 15, *w));

        // The movie reports its size late: the window takes it where the user put it.
        w->player_FSCommand("actualsizewidth", "320");
        w->player_FSCommand("actualsizeheight", "240");
        QCOMPARE(w->centralWidget()->size(), QSize(320, 240));
        QTest::qWait(300);
        QCOMPARE(frameAt(*w), again);
        QCOMPARE(w->Left(), float(again.x() * 15));

        w->play_file(m_spark);
        QTRY_COMPARE_WITH_TIMEOUT(frameAt(*w), kHome, kWait);
        QCOMPARE(w->Left(), 2900.0f);
        QCOMPARE(w->Top(), 2000.0f);
        QCOMPARE(aboutOpensAt(*w), aboutPlaceFor(2900, 2000, *w));
    }

    // Another program drags a file onto the window: it plays, and the source is told nothing was
    // copied or moved (the X drop protocol may only carry that as Copy). A source that offers only
    // Move, and is told Move, deletes the file that now plays.
    void dropFromAnotherProgram_data() {
        QTest::addColumn<int>("offered");
        QTest::addColumn<int>("preferred");
        QTest::newRow("copy or move")
            << int(Qt::CopyAction | Qt::MoveAction) << int(Qt::CopyAction);
        QTest::newRow("move only") << int(Qt::MoveAction) << int(Qt::MoveAction);
        QTest::newRow("link only") << int(Qt::LinkAction) << int(Qt::LinkAction);
        QTest::newRow("all, move preferred")
            << int(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction) << int(Qt::MoveAction);
    }
    void dropFromAnotherProgram() {
        QFETCH(int, offered);
        QFETCH(int, preferred);
        QProcess player;
        player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        player.start(MOVARIN_BINARY_DIR "/movarin", QStringList{});
        QVERIFY(player.waitForStarted());
        QTest::qWait(3000); // framed and shown at home
        DragSource source(Qt::DropActions(offered), Qt::DropAction(preferred),
                          QUrl::fromLocalFile(m_spark));
        source.show();
        QVERIFY(QTest::qWaitForWindowExposed(&source));
        const QPoint target(193 + 150, 133 + 150);
        const QPoint grip = kSourceAt + QPoint(30, 30);
        const QString steps = "mousemove " + point(grip) + " mousedown 1 sleep 0.3 mousemove " +
                              point(grip + QPoint(20, 20)) + " sleep 0.3 mousemove " +
                              point(target) + " sleep 0.3 mousemove " +
                              point(target + QPoint(5, 5)) + " sleep 0.5 mouseup 1";
        QProcess tool;
        tool.start("xdotool", steps.split(u' '));
        QVERIFY(QTest::qWaitFor([&] { return source.told >= 0; }, kWait));
        const bool plays = QTest::qWaitFor(
            [&] {
                const QString fds = QStringLiteral("/proc/%1/fd/").arg(player.processId());
                for (int fd = 0; fd < 256; ++fd)
                    if (QFile::symLinkTarget(fds + QString::number(fd)) == m_spark)
                        return true;
                return false;
            },
            kWait);
        player.terminate();
        player.waitForFinished(5000);
        tool.waitForFinished(5000);
        qInfo("source offered %d, was told %d", offered, source.told);
        QVERIFY(source.told == Qt::IgnoreAction || source.told == Qt::CopyAction);
        QVERIFY2(plays, "the dropped file does not play");
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestWindowDesktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_desktop.moc"
