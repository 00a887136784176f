// The engine under a German number format, where the decimal point is a comma.
#include "app/start_up.h"
#include "engine/mpv_engine.h"
#include "test_media.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>

using namespace movarin;

class TestLocale : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        // QApplication has adopted LC_ALL from the environment by now.
        QCOMPARE(QString(std::localeconv()->decimal_point), QString(","));
    }

    void engineNeedsCNumbers() {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, MpvEngine{noSoundOptions()});
        use_c_numeric_locale();
        MpvEngine engine(noSoundOptions());
        QSignalSpy sizes(&engine, &MpvEngine::videoSizeChanged);
        const QString clip = testing::makeSparkFlv(m_dir.path());
        QVERIFY(!clip.isEmpty());
        engine.load(clip);
        QTRY_COMPARE_WITH_TIMEOUT(sizes.count(), 1, 20000);
        std::setlocale(LC_NUMERIC, "");
    }

    // The real program, started as a user would under that locale: it must play, not log.
    void programStartsUnderGermanLocale() {
        const QString exe = m_dir.filePath("movarin");
        QVERIFY(QFile::copy(MOVARIN_BINARY_DIR "/movarin", exe));
        QFile::setPermissions(exe, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
        const QString clip = testing::makeSparkFlv(m_dir.path(), "clip.flv", 2);
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "de_DE.UTF-8");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(exe, {clip});
        QVERIFY(program.waitForStarted());
        QTest::qWait(3000);
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        program.waitForFinished();
        QVERIFY2(!QFile::exists(m_dir.filePath("log.txt")), "the program logged a failure");
    }
};

QTEST_MAIN(TestLocale)
#include "test_locale.moc"
