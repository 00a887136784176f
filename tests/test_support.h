#pragma once

#include "app/start_up.h"
#include "window/frmplayer.h"

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTest>

#include <sys/resource.h>

// What the test programs share instead of each keeping a copy.
namespace movarin::testing {

// A player window's set-up for tests: its application directory (and so its log.txt) in
// `appDir`, a fixed twips per pixel instead of the screen's, no sound output, and an Open
// dialog that answers Cancel.
PlayerSetup playerSetupIn(const QString& appDir, double twipsPerPixel = 15);

// The whole file, or nothing when it cannot be read.
QByteArray readFile(const QString& path);
// What the player has logged in `appDir` so far.
QByteArray logOf(const QString& appDir);
// How often `what` stands in `text`, overlapping hits included.
int countOf(const QByteArray& text, const QByteArray& what);

// Writes a file for a test, making its folders; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& content, bool executable = false);

// Seconds of CPU used, user and system: by this process, or as getrusage's `who` says.
double cpuSeconds(int who = RUSAGE_SELF);

// Runs dbus-send against the player's MPRIS object on the session bus with the event loop
// turning, so a player in this process can answer; returns what it printed, or "failed: ...".
QString mprisSend(const QStringList& args, int waitMs = 20000);
// A property of the player's MPRIS object, and a call of its player interface, the same way.
QString mprisProperty(const QString& name,
                      const QString& interface = QStringLiteral("org.mpris.MediaPlayer2.Player"));
QString mprisPlayerCall(const QString& method, const QStringList& args = {});

// A session bus of the test program's own: started before Qt could look for the desktop's (it
// sets DBUS_SESSION_BUS_ADDRESS), ended with the object. `address` is empty where dbus-daemon
// could not start.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    QString address;

private:
    long m_pid = 0;
};

// A test program's main on a session bus of its own (see PrivateBus), whose address goes to
// `busAddress` before the test runs in an application with C numbers.
template <typename Test> int execOnPrivateBus(int argc, char* argv[], QString& busAddress) {
    const PrivateBus bus;
    busAddress = bus.address;
    QApplication app(argc, argv);
    use_c_numeric_locale();
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace movarin::testing
