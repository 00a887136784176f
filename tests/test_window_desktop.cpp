// The player window on a real X server under a window manager, driven with xdotool as a user
// drives it: a drop from another program, moving the window, and the first show.
#include "about/frmabout.h"
#include "about_driver.h"
#include "app/start_up.h"
#include "engine/player.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
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

// The window manager has framed the window.
bool framed(const QWidget& w) {
    return w.frameGeometry().size() != w.geometry().size();
}

} // namespace

class TestWindowDesktop : public QObject {
    Q_OBJECT
    QTemporaryDir m_media;
    QString m_spark;
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
        QVERIFY(!m_spark.isEmpty());
        QVERIFY2(xdotool({"getmouselocation"}), "xdotool is needed");
        // Without a window manager nothing here means what it should.
        QWidget probe;
        probe.show();
        QVERIFY(QTest::qWaitForWindowExposed(&probe));
        QVERIFY2(QTest::qWaitFor([&] { return framed(probe); }, 10000),
                 "no window manager frames windows on this display");
    }
    void init() { m_appDir = std::make_unique<QTemporaryDir>(); }

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
