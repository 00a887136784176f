// The log when log.txt is not an ordinary writable file: a trapped failure must still end
// quietly, the window must go on working, and a later record must land once the file is usable.

#include "engine/mpv_engine.h"
#include "log/error_log.h"
#include "test_support.h"
#include "window/frmplayer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace movarin;
namespace fs = std::filesystem;

namespace {

using testing::countOf;
using testing::playerSetupIn;

QByteArray readAll(const fs::path& file) {
    return testing::readFile(QString::fromStdString(file.string()));
}

const QByteArray kFitHeading = "Error while taking the actual width and height";

// Runs `body` in a child process, as an unprivileged user when we are root (root writes through
// any permission bits), and with an alarm so that a blocked write shows up as a failure rather
// than a hung test. Returns the child's wait status.
int inChild(const std::function<void()>& body, int seconds) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(unsigned(seconds));
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

} // namespace

class TestHostileLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { std::setlocale(LC_NUMERIC, "C"); }

    void windowSurvivesUnusableLog_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("directory") << "directory";
        QTest::newRow("disk full") << "disk full";
        QTest::newRow("dangling link into a missing directory") << "dangling";
        QTest::newRow("named pipe nobody reads") << "fifo";
    }
    void windowSurvivesUnusableLog() {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const fs::path appDir = dir.path().toStdString();
        const fs::path log = log::log_file_in(appDir);
        if (kind == "directory") {
            fs::create_directory(log);
        } else if (kind == "disk full") {
            if (!fs::exists("/dev/full"))
                QSKIP("no /dev/full here");
            fs::create_symlink("/dev/full", log);
        } else if (kind == "dangling") {
            fs::create_symlink(appDir / "missing" / "log.txt", log);
        } else {
            QCOMPARE(mkfifo(log.c_str(), 0600), 0);
        }

        frmplayer window(playerSetupIn(QString::fromStdString(appDir.string())));
        // Two trapped failures: neither may hang, throw or change the window.
        QElapsedTimer clock;
        clock.start();
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("wide"));
        window.player_FSCommand(QStringLiteral("actualsizeheight"), QStringLiteral("tall"));
        QVERIFY2(clock.elapsed() < 2000, "writing the record blocked the window");
        QCOMPARE(window.Text1, QStringLiteral("Text1"));
        // Nothing was created in place of what was there.
        QVERIFY(!fs::exists(appDir / "missing"));
        if (kind == "directory")
            QVERIFY(fs::is_directory(log));
        if (kind == "fifo")
            QVERIFY(fs::is_fifo(log));

        // The handler still works after the failed records.
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("320"));
        window.player_FSCommand(QStringLiteral("actualsizeheight"), QStringLiteral("240"));
        QCOMPARE(window.Width(), 320.0f * 15);
        QCOMPARE(window.Height(), 240.0f * 15 + 650);
    }

    void recordAfterDeletionCreatesTheFileAgain() {
        QTemporaryDir dir;
        const fs::path log = log::log_file_in(dir.path().toStdString());
        frmplayer window(playerSetupIn(dir.path()));
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("x"));
        QCOMPARE(countOf(readAll(log), kFitHeading), 1);
        fs::remove(log);
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("y"));
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("z"));
        const QByteArray text = readAll(log);
        QCOMPARE(countOf(text, kFitHeading), 2);
        QCOMPARE(countOf(text, "\r\n"), 4);
        // Replaced by a directory, then removed again: the next record still lands.
        fs::remove(log);
        fs::create_directory(log);
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("lost"));
        fs::remove(log);
        window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("kept"));
        QCOMPARE(countOf(readAll(log), kFitHeading), 1);
    }

    void readOnlyLogKeepsItsContent_data() {
        QTest::addColumn<bool>("readOnlyDirectory");
        QTest::newRow("read-only file") << false;
        QTest::newRow("read-only file in a read-only directory") << true;
    }
    void readOnlyLogKeepsItsContent() {
        QFETCH(bool, readOnlyDirectory);
        QTemporaryDir dir;
        const fs::path appDir = dir.path().toStdString();
        const fs::path log = log::log_file_in(appDir);
        log::write_log(log, "earlier record");
        fs::permissions(log,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        // The unprivileged child must be able to reach the file to be refused by it.
        fs::permissions(appDir, readOnlyDirectory ? fs::perms(0555) : fs::perms(0777));

        const int status = inChild(
            [&] {
                log::write_log(log, "must be dropped");
                log::trap(
                    log::Procedure::PlayFile,
                    [&](std::string_view text) { log::write_log(log, text); },
                    [] { throw std::runtime_error("load failed"); });
            },
            10);
        fs::permissions(appDir, fs::perms::owner_all);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(QStringLiteral("child ended with status %1").arg(status)));
        QCOMPARE(readAll(log), QByteArray("earlier record\r\n"));
    }
};

QTEST_MAIN(TestHostileLog)
#include "test_hostile_log.moc"
