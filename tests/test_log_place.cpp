// Where the log lands for a program run by a normal user: beside the executable where that folder
// can be written, else in the user's state folder, with the same bytes. The records are written by
// a copy of this program, started as `nobody` through setpriv from the folder under test.

#include "test_support.h"
#include "window/frmplayer.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using namespace movarin;
using testing::readFile;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// Written raw beside a trapped record: bytes that are no valid UTF-8 must come out unchanged.
const QByteArray kRawText = "raw \xff\xfe caf\xc3\xa9 \t end";

// The child: a player window whose application folder is the one this copy lies in, one trapped
// failure and one raw line, as the program writes them.
int writeRecords(int argc, char** argv) {
    QApplication app(argc, argv);
    frmplayer window(testing::playerSetupIn(QCoreApplication::applicationDirPath()));
    window.player_FSCommand(QStringLiteral("actualsizewidth"), QStringLiteral("wide"));
    window.write_log(std::string_view(kRawText.constData(), std::size_t(kRawText.size())));
    return 0;
}

QByteArray withoutTimeStamps(QByteArray text) {
    static const QRegularExpression stamp(QStringLiteral(R"(\d\d-\d\d-\d\d-\d\d-\d\d-\d\d)"));
    return QString::fromLatin1(text).replace(stamp, QStringLiteral("<time>")).toLatin1();
}

struct Owner {
    uid_t uid = 0;
    mode_t mode = 0;
};

Owner ownerOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {uid_t(-1), 0};
    return {info.st_uid, mode_t(info.st_mode & 07777)};
}

} // namespace

class TestLogPlace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void landsWhereTheUserCanWrite_data();
    void landsWhereTheUserCanWrite();

private:
    // Runs the copy in `appDir` as nobody, with HOME and XDG_STATE_HOME as given ("-" unsets).
    void runAsNobody(const QString& appDir, const QString& home, const QString& stateHome);

    QString m_setpriv;
    // A log written beside a writable executable: what every other place must hold too.
    QByteArray m_reference;
};

void TestLogPlace::initTestCase() {
    if (geteuid() != 0)
        QSKIP("needs root to start a process as nobody");
    m_setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!m_setpriv.isEmpty(), "setpriv is missing (util-linux)");
}

void TestLogPlace::runAsNobody(const QString& appDir, const QString& home,
                               const QString& stateHome) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    if (stateHome == QLatin1String("-"))
        env.remove(QStringLiteral("XDG_STATE_HOME"));
    else
        env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome);
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(m_setpriv,
                {QStringLiteral("--reuid=%1").arg(kNobody),
                 QStringLiteral("--regid=%1").arg(kNogroup), QStringLiteral("--clear-groups"),
                 QDir(appDir).filePath(QStringLiteral("writer")),
                 QStringLiteral("--write-records")});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAll().constData());
}

void TestLogPlace::landsWhereTheUserCanWrite_data() {
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<bool>("readOnlyLogThere");
    // "-" leaves XDG_STATE_HOME unset; "<base>" stands for a folder of the test.
    QTest::addColumn<QString>("stateHome");
    QTest::addColumn<bool>("homeWritable");
    // Relative to the test's base folder; empty: the record is dropped.
    QTest::addColumn<QString>("expected");

    QTest::newRow("writable folder: beside the executable")
        << true << false << "-" << true << "app/log.txt";
    QTest::newRow("read-only folder: the default state folder")
        << false << false << "-" << true << "home/.local/state/movarin/log.txt";
    QTest::newRow("read-only folder: XDG_STATE_HOME")
        << false << false << "<base>/home/xdg state" << true << "home/xdg state/movarin/log.txt";
    QTest::newRow("read-only folder: relative XDG_STATE_HOME is ignored")
        << false << false << "state" << true << "home/.local/state/movarin/log.txt";
    QTest::newRow("writable folder, read-only log.txt: the state folder")
        << true << true << "-" << true << "home/.local/state/movarin/log.txt";
    QTest::newRow("read-only folder, read-only home: dropped quietly")
        << false << false << "-" << false << "";
}

void TestLogPlace::landsWhereTheUserCanWrite() {
    QFETCH(bool, folderWritable);
    QFETCH(bool, readOnlyLogThere);
    QFETCH(QString, stateHome);
    QFETCH(bool, homeWritable);
    QFETCH(QString, expected);

    QTemporaryDir base;
    QVERIFY(base.isValid());
    QDir dir(base.path());
    // nobody must be able to reach every folder below this one.
    QVERIFY(QFile::setPermissions(base.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::ExeOther));
    QVERIFY(dir.mkdir(QStringLiteral("app")) && dir.mkdir(QStringLiteral("home")));
    const QString appDir = dir.filePath(QStringLiteral("app"));
    const QString home = dir.filePath(QStringLiteral("home"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(),
                        QDir(appDir).filePath(QStringLiteral("writer"))));
    const QByteArray earlier = "earlier record\r\n";
    if (readOnlyLogThere) {
        testing::writeFile(QDir(appDir).filePath(QStringLiteral("log.txt")), earlier);
        QCOMPARE(::chmod(QFile::encodeName(appDir + "/log.txt").constData(), 0444), 0);
    }
    // Root's folders: 0777 lets nobody write, 0555 only read and enter.
    QCOMPARE(::chmod(QFile::encodeName(appDir).constData(), folderWritable ? 0777 : 0555), 0);
    if (homeWritable)
        QCOMPARE(::chown(QFile::encodeName(home).constData(), kNobody, kNogroup), 0);
    else
        QCOMPARE(::chmod(QFile::encodeName(home).constData(), 0555), 0);
    if (stateHome.startsWith(QLatin1String("<base>")))
        stateHome.replace(QLatin1String("<base>"), base.path());

    // Twice: the second run appends to the file and folders the first one made.
    runAsNobody(appDir, home, stateHome);
    if (QTest::currentTestFailed())
        return;
    runAsNobody(appDir, home, stateHome);
    if (QTest::currentTestFailed())
        return;

    QStringList logs;
    QDirIterator it(base.path(), {QStringLiteral("log.txt")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        logs << dir.relativeFilePath(it.next());
    if (readOnlyLogThere) {
        logs.removeAll(QStringLiteral("app/log.txt"));
        QCOMPARE(readFile(appDir + "/log.txt"), earlier);
    }
    if (expected.isEmpty()) {
        QVERIFY2(logs.isEmpty(), qPrintable(logs.join(u' ')));
        return;
    }
    QCOMPARE(logs, QStringList{expected});

    const QString logPath = dir.filePath(expected);
    const QByteArray text = readFile(logPath);
    QCOMPARE(testing::countOf(text, "Error while taking the actual width and height"), 2);
    QCOMPARE(testing::countOf(text, kRawText + "\r\n"), 2);
    if (m_reference.isEmpty() && expected == QLatin1String("app/log.txt"))
        m_reference = text;
    // Byte for byte what the program writes beside itself, but for the time of day.
    QVERIFY(!m_reference.isEmpty());
    QCOMPARE(withoutTimeStamps(text), withoutTimeStamps(m_reference));

    // The user's own files; the folders the program made are the user's alone.
    QCOMPARE(ownerOf(logPath).uid, kNobody);
    if (expected.contains(QLatin1String("/state/movarin/"))) {
        const QString folder = QFileInfo(logPath).absolutePath();
        QCOMPARE(ownerOf(folder).uid, kNobody);
        QCOMPARE(ownerOf(folder).mode, mode_t(0700));
        if (expected.startsWith(QLatin1String("home/")))
            QCOMPARE(ownerOf(home + "/.local").mode, mode_t(0700));
    }
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--write-records") == 0)
        return writeRecords(argc, argv);
    QApplication app(argc, argv);
    TestLogPlace test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_log_place.moc"
