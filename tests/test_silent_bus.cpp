// A session bus that accepts connections and never answers (a stopped or hung daemon), started by
// the test itself: the window, its menus and the picture come up at once, and the program ends.

#include "app/start_up.h"
#include "desktop/desktop_integration.h"
#include "desktop/session_bus.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using namespace movarin;

namespace {

// Takes every connection and says nothing, for as long as the test runs.
void serveSilently(int listener) {
    for (;;)
        if (::accept(listener, nullptr, nullptr) < 0 && errno != EINTR)
            return;
}

QString g_silentBus;

} // namespace

class TestSilentBus : public QObject {
    Q_OBJECT
private slots:
    void desktopServicesDoNotWait() {
        QVERIFY(!g_silentBus.isEmpty());
        QCOMPARE(qgetenv("DBUS_SESSION_BUS_ADDRESS"), g_silentBus.toUtf8());
        QElapsedTimer clock;
        clock.start();
        {
            DesktopIntegration desktop({});
            QVERIFY(desktop.mprisServiceName().isEmpty());
        }
        qInfo("desktop services made and gone in %lld ms", clock.elapsed());
        QVERIFY(clock.elapsed() < 500);
        QVERIFY(!session_bus_answers(300));
    }

    void windowMenusAndPictureComeUp() {
        QElapsedTimer clock;
        clock.start();
        leave_a_silent_session_bus();
        const qint64 judged = clock.elapsed();

        QTemporaryDir dir;
        // The engine's own choice of sound output, which probes outputs that may use the bus.
        PlayerSetup setup = testing::playerSetupIn(dir.path());
        setup.engineOptions.clear();
        const auto window =
            start_player(QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv"), setup);
        int frames = 0;
        connect(window->player, &PlaybackHost::frameShown, this, [&frames] { ++frames; });
        window->show();
        const qint64 shown = clock.elapsed();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY_WITH_TIMEOUT(frames > 0, 10000);
        qInfo("bus judged silent in %lld ms, window shown at %lld ms, first frame at %lld ms",
              judged, shown, clock.elapsed());
        QVERIFY(judged < 1000);
        QVERIFY(shown < 2000);
        QVERIFY(!window->menuBar()->actions().isEmpty());
        window->menuBar()->actions().first()->menu()->popup(window->mapToGlobal(QPoint(0, 0)));
        QTRY_VERIFY(window->menuBar()->actions().first()->menu()->isVisible());
        window->menuBar()->actions().first()->menu()->close();
        // What the program starts goes without the bus too.
        QCOMPARE(qgetenv("DBUS_SESSION_BUS_ADDRESS"), QByteArray("disabled:"));
    }
};

int main(int argc, char* argv[]) {
    // The silent bus, before anything could look for the desktop's.
    static QTemporaryDir socketDir;
    const QByteArray path = socketDir.filePath(QStringLiteral("bus")).toUtf8();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    std::strncpy(where.sun_path, path.constData(), sizeof where.sun_path - 1);
    if (listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
        ::listen(listener, 64) == 0) {
        g_silentBus = QStringLiteral("unix:path=") + QString::fromUtf8(path);
        qputenv("DBUS_SESSION_BUS_ADDRESS", g_silentBus.toUtf8());
        std::thread(serveSilently, listener).detach();
    }
    QApplication app(argc, argv);
    use_c_numeric_locale();
    TestSilentBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_silent_bus.moc"
