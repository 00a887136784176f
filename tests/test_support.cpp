#include "test_support.h"

#include "engine/mpv_engine.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace movarin::testing {

PlayerSetup playerSetupIn(const QString& appDir, double twipsPerPixel) {
    PlayerSetup setup;
    setup.appDir = QDir::toNativeSeparators(appDir);
    setup.twipsPerPixelX = setup.twipsPerPixelY = twipsPerPixel;
    setup.engineOptions = noSoundOptions();
    setup.chooseFile = [](QWidget*) { return QString(); };
    return setup;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray logOf(const QString& appDir) {
    return readFile(QDir(appDir).filePath(QStringLiteral("log.txt")));
}

int countOf(const QByteArray& text, const QByteArray& what) {
    if (what.isEmpty())
        return 0;
    int n = 0;
    for (qsizetype at = text.indexOf(what); at >= 0; at = text.indexOf(what, at + 1))
        ++n;
    return n;
}

void writeFile(const QString& path, const QByteArray& content, bool executable) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), content.size());
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString mprisSend(const QStringList& args, int waitMs) {
    QProcess send;
    send.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&send, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    send.start(QStringLiteral("dbus-send"),
               QStringList{"--session", "--print-reply", "--reply-timeout=10000",
                           "--dest=org.mpris.MediaPlayer2.movarin", "/org/mpris/MediaPlayer2"} +
                   args);
    if (!send.waitForStarted(5000))
        return QStringLiteral("failed: dbus-send did not start");
    loop.exec();
    const QString out = QString::fromUtf8(send.readAll());
    return send.state() == QProcess::NotRunning && send.exitCode() == 0 ? out : "failed: " + out;
}

QString mprisProperty(const QString& name, const QString& interface) {
    return mprisSend(
        {"org.freedesktop.DBus.Properties.Get", "string:" + interface, "string:" + name});
}

QString mprisPlayerCall(const QString& method, const QStringList& args) {
    return mprisSend(QStringList{"org.mpris.MediaPlayer2.Player." + method} + args);
}

PrivateBus::PrivateBus() {
    if (FILE* daemon = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r")) {
        char line[512] = {};
        if (std::fgets(line, sizeof line, daemon))
            address = QString::fromLocal8Bit(line).trimmed();
        if (std::fgets(line, sizeof line, daemon))
            m_pid = std::atol(line);
        pclose(daemon);
    }
    if (!address.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
}

PrivateBus::~PrivateBus() {
    if (m_pid > 0)
        ::kill(pid_t(m_pid), SIGTERM);
}

} // namespace movarin::testing
