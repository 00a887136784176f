// The built program started as a user starts it: everything after its name is the path, even
// words that look like Qt's own options, while Qt's environment variables still count.
#include "test_media.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

constexpr int kWait = 20000;

// The files under `dir` that the process holds open, by name.
QStringList openFilesIn(qint64 pid, const QString& dir) {
    QStringList names;
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    for (int fd = 0; fd < 256; ++fd) {
        const QString target = QFile::symLinkTarget(fds + u'/' + QString::number(fd));
        if (target.startsWith(dir + u'/'))
            names << target.mid(dir.size() + 1);
    }
    return names;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_video;

private slots:
    void initTestCase() {
        m_video = movarin::testing::makeSparkFlv(m_dir.path());
        QVERIFY(!m_video.isEmpty());
    }

    void tailIsThePath_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("plays");
        QTest::newRow("-reverse") << QStringList{"-reverse"} << "-reverse";
        QTest::newRow("-style fusion x.flv")
            << QStringList{"-style", "fusion", "x.flv"} << "-style fusion x.flv";
        // Qt would take -platform and fail for want of an X display; QT_QPA_PLATFORM still counts.
        QTest::newRow("-platform xcb x.flv")
            << QStringList{"-platform", "xcb", "x.flv"} << "-platform xcb x.flv";
    }
    void tailIsThePath() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, plays);
        const QString dir = m_dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(dir));
        // The file a Qt that took its options would play instead.
        QVERIFY(QFile::copy(m_video, dir + "/x.flv"));
        QVERIFY(QFile::copy(m_video, dir + u'/' + plays));

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("DISPLAY");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(dir);
        program.start(MOVARIN_BINARY_DIR "/movarin", arguments);
        QVERIFY(program.waitForStarted());
        const qint64 pid = program.processId();
        QStringList seen;
        const bool opened = QTest::qWaitFor(
            [&] {
                seen = openFilesIn(pid, QDir(dir).canonicalPath());
                return !seen.isEmpty() || program.state() == QProcess::NotRunning;
            },
            kWait);
        const bool ran = program.state() == QProcess::Running;
        program.terminate();
        program.waitForFinished(5000);
        QVERIFY2(ran, program.readAllStandardError().constData());
        QVERIFY2(opened, "the program opened no file in its folder");
        QCOMPARE(seen, QStringList{plays});
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
