#include "engine/mpv_engine.h"
#include "online/module1.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"

#include "test_online_server.h"
#include "test_support.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

using namespace movarin;
using online::Message;
using testing::writeFile;

namespace {

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct Launches {
    QList<QStringList> calls;
    void operator()(const QString& program, const QStringList& arguments) {
        calls.append(QStringList{program} + arguments);
    }
};

// Answers the next message box that appears over `window` by pressing `button`.
void answerNextBox(QWidget* window, QMessageBox::StandardButton button, QStringList* seen) {
    auto* poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        const auto boxes = window->findChildren<QMessageBox*>();
        if (boxes.isEmpty() || !boxes.first()->isVisible())
            return;
        QMessageBox* box = boxes.first();
        *seen << box->windowTitle() << box->text() << QString::number(int(box->icon()));
        poll->deleteLater();
        box->button(button)->click();
    });
    poll->start(20);
}

} // namespace

class TestOnlineWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_appDir;
    QString logFile() const { return m_appDir.filePath("log.txt"); }

    PlayerSetup setup() const {
        // The screen's own twips per pixel, as the real window has them.
        return testing::playerSetupIn(m_appDir.path(), 0);
    }

private slots:
    void init() {
        QFile::remove(logFile());
        QFile::remove(m_appDir.filePath("version.txt"));
        Module1::browser_path.clear();
    }

    void websiteOpensDefaultBrowserOfTheDesktop() {
        QTemporaryDir desktop;
        const QString bin = desktop.filePath("bin");
        writeFile(bin + "/fake-browser", "#!/bin/sh\n", true);
        writeFile(desktop.filePath("config/mimeapps.list"),
                  "[Default Applications]\nx-scheme-handler/http=fake.desktop;\n");
        writeFile(desktop.filePath("share/applications/fake.desktop"),
                  "[Desktop Entry]\nType=Application\nExec=fake-browser --new-window %u\n");
        qputenv("XDG_CONFIG_HOME", desktop.filePath("config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", desktop.filePath("none").toUtf8());
        qputenv("XDG_DATA_HOME", desktop.filePath("share").toUtf8());
        qputenv("XDG_DATA_DIRS", desktop.filePath("none").toUtf8());
        qputenv("PATH", bin.toUtf8() + ":" + qgetenv("PATH"));

        Launches launches;
        PlayerSetup s = setup();
        s.online.launch = std::ref(launches);
        frmplayer window(std::move(s));
        window.mnuwebsite->trigger();
        // Its own options are kept, the address takes the place of %u.
        const QList<QStringList> expected{
            {bin + "/fake-browser", "--new-window", EXPECTED_WEB_DOMAIN}};
        QCOMPARE(launches.calls, expected);
        // Found once, kept for the process: a changed desktop is not looked at again.
        QVERIFY(QFile::remove(desktop.filePath("config/mimeapps.list")));
        window.mnuwebsite->trigger();
        QCOMPARE(launches.calls.size(), 2);
        QCOMPARE(launches.calls[1][0], bin + "/fake-browser");
        QVERIFY(!QFile::exists(logFile()));

        // No handler at all: nothing starts, nothing is logged.
        Module1::browser_path.clear();
        window.mnuwebsite->trigger();
        QCOMPARE(launches.calls.size(), 2);
        QVERIFY(!QFile::exists(logFile()));
    }

    // View Website really starts what the desktop entry says. $DIR stands for the fake
    // desktop's folder in the entry and in the recorded lines.
    void websiteStartsTheEntrysCommand_data() {
        QTest::addColumn<QByteArray>("exec");
        QTest::addColumn<QString>("recordFile");
        QTest::addColumn<QStringList>("recorded");
        const QString site = EXPECTED_WEB_DOMAIN;
        QTest::newRow("own arguments plus the address")
            << QByteArray("fake-browser --new-window \"--profile=$DIR/My Profile\" 100%% %u")
            << "argv.txt"
            << QStringList{"mark=", "[--new-window]", "[--profile=$DIR/My Profile]", "[100%]",
                           "[" + site + "]"};
        QTest::newRow("env with an assignment")
            << QByteArray("/usr/bin/env MOVARIN_MARK=1 fake-browser %U") << "argv.txt"
            << QStringList{"mark=1", "[" + site + "]"};
        QTest::newRow("quoted program with a blank, no field code")
            << QByteArray("\"$DIR/My Apps/fake-browser\" --x") << "argv.txt"
            << QStringList{"mark=", "[--x]", "[" + site + "]"};
        // The file holds \\$0: one backslash after the key file's escapes, then the quoting.
        QTest::newRow("sh -c runs its quoted string")
            << QByteArray("sh -c \"echo ran \\\\$0 >'$DIR/sh.txt'\" %u") << "sh.txt"
            << QStringList{"ran " + site};
    }
    void websiteStartsTheEntrysCommand() {
        QFETCH(QByteArray, exec);
        QFETCH(QString, recordFile);
        QFETCH(QStringList, recorded);
        QTemporaryDir desktop;
        const QString dir = desktop.path();
        const QByteArray browser = "#!/bin/sh\nout='" + dir.toUtf8() +
                                   "/argv.txt'\n{ printf 'mark=%s\\n' \"$MOVARIN_MARK\"; "
                                   "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } "
                                   ">\"$out.part\" && mv \"$out.part\" \"$out\"\n";
        writeFile(dir + "/bin/fake-browser", browser, true);
        writeFile(dir + "/My Apps/fake-browser", browser, true);
        writeFile(dir + "/config/mimeapps.list",
                  "[Default Applications]\nx-scheme-handler/http=fake.desktop;\n");
        writeFile(dir + "/share/applications/fake.desktop",
                  "[Desktop Entry]\nType=Application\nExec=" + exec.replace("$DIR", dir.toUtf8()) +
                      "\n");
        // What the broken reading ran: a file named like the address in the current folder.
        const QString cwd = dir + "/cwd";
        writeFile(cwd + "/" + EXPECTED_WEB_DOMAIN,
                  "#!/bin/sh\ntouch '" + dir.toUtf8() + "/wrong'\n", true);
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(cwd));
        qputenv("XDG_CONFIG_HOME", (dir + "/config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", (dir + "/none").toUtf8());
        qputenv("XDG_DATA_HOME", (dir + "/share").toUtf8());
        qputenv("XDG_DATA_DIRS", (dir + "/none").toUtf8());
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", (dir + "/bin:").toUtf8() + path);

        {
            frmplayer window(setup());
            window.mnuwebsite->trigger();
        }
        QDir::setCurrent(before);
        qputenv("PATH", path);
        const QString record = dir + "/" + recordFile;
        QTRY_VERIFY_WITH_TIMEOUT(readFile(record).endsWith(u'\n'), 20000);
        QCOMPARE(readFile(record).split(u'\n', Qt::SkipEmptyParts),
                 recorded.replaceInStrings("$DIR", dir));
        QVERIFY(!QFile::exists(dir + "/wrong"));
        QVERIFY(!QFile::exists(logFile()));
    }

    void websiteFailureIsLogged() {
        PlayerSetup s = setup();
        s.online.defaultBrowser = []() -> QString { throw std::runtime_error("no desktop"); };
        frmplayer window(std::move(s));
        window.mnuwebsite->trigger();
        const QRegularExpression record("^-{28}Error while clicking the Website menu : "
                                        "\\d\\d(-\\d\\d){5} -{27}\r\nno desktop\r\n$");
        QVERIFY2(record.match(readFile(logFile())).hasMatch(), qPrintable(readFile(logFile())));
    }

    void unreachableServerLogsOneRecord() {
        int shown = 0;
        PlayerSetup s = setup();
        s.updateServiceBase = QStringLiteral("http://127.0.0.1:%1").arg(closed_port());
        s.online.isOnline = [] { return true; };
        s.online.show = [&](Message) {
            ++shown;
            return true;
        };
        frmplayer window(std::move(s));
        window.mnuupdate->trigger();
        QCOMPARE(shown, 0);
        const QString log = readFile(logFile());
        const QRegularExpression record("^-{28}Error while clicking the update menu : "
                                        "\\d\\d(-\\d\\d){5}-{26}\r\n[^\r\n]+\r\n$");
        QVERIFY2(record.match(log).hasMatch(), qPrintable(log));
    }

    void notConnectedShowsTheRealBox() {
        PlayerSetup s = setup();
        s.online.isOnline = [] { return false; };
        frmplayer window(std::move(s));
        window.show();
        QStringList seen;
        answerNextBox(&window, QMessageBox::Ok, &seen);
        window.mnuupdate->trigger();
        QCOMPARE(seen, (QStringList{"Movarin",
                                    "Unable to connect to the remote host,Please check your "
                                    "internet connection",
                                    QString::number(int(QMessageBox::Information))}));
        QVERIFY(!QFile::exists(logFile()));
    }

    void promptAnsweredThroughTheRealBox_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void promptAnsweredThroughTheRealBox() {
        QFETCH(bool, yes);
        LocalHttpServer server;
        server.answer(200, " 2.0 ");
        writeFile(m_appDir.filePath("version.txt"), "1.0");
        Launches launches;
        PlayerSetup s = setup();
        s.updateServiceBase = server.base();
        s.online.isOnline = [] { return true; };
        s.online.defaultBrowser = [] { return QStringLiteral("/usr/bin/some-browser"); };
        s.online.launch = std::ref(launches);
        frmplayer window(std::move(s));
        window.show();
        QStringList seen;
        answerNextBox(&window, yes ? QMessageBox::Yes : QMessageBox::No, &seen);
        window.mnuupdate->trigger();
        QCOMPARE(seen, (QStringList{"Movarin",
                                    "There is a new update available, would you like to download "
                                    "latest version?",
                                    QString::number(int(QMessageBox::NoIcon))}));
        const QList<QStringList> expected{
            {"/usr/bin/some-browser", server.base() + "/clips/Movarin/update.php"}};
        QCOMPARE(launches.calls, yes ? expected : QList<QStringList>{});
        QVERIFY(!QFile::exists(logFile()));
    }

    void videoKeepsPlayingWhileTheServerIsSilent() {
        LocalHttpServer server;
        server.hold(true);
        int shown = 0;
        PlayerSetup s = setup();
        s.updateServiceBase = server.base();
        s.online.isOnline = [] { return true; };
        s.online.show = [&](Message) { return ++shown, false; };
        s.online.transferTimeout = std::chrono::milliseconds(1500);
        frmplayer window(std::move(s));
        window.show();
        window.play_file(QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv"));
        QSignalSpy frames(window.player, &PlaybackHost::frameShown);
        QVERIFY(frames.wait(10000));

        bool secondReturned = false;
        QTimer::singleShot(300, &window, [&] {
            QVERIFY(window.updateCheck().StillExecuting());
            window.mnuupdate->trigger(); // a second click while the first waits
            secondReturned = true;
        });
        const qsizetype before = frames.size();
        window.mnuupdate->trigger();
        const qsizetype during = frames.size() - before;
        QVERIFY(secondReturned);
        QVERIFY2(during >= 5, qPrintable(QString::number(during)));
        QCOMPARE(server.requests(), 1);
        QCOMPARE(shown, 0);
        // The time-out became exactly one record.
        const QString log = readFile(logFile());
        QCOMPARE(log.count(QStringLiteral("Error while clicking the update menu : ")), 1);
        QVERIFY2(log.contains("No answer"), qPrintable(log));
        QVERIFY(!window.updateCheck().StillExecuting());
    }
};

QTEST_MAIN(TestOnlineWindow)
#include "test_online_window.moc"
