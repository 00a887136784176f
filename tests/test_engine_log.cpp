// The engine's own messages go to the movarin.engine category when asked for, and nowhere when
// not; log.txt never gets them.

#include "window/frmplayer.h"
#include "window/playback_host.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

#include <clocale>

using namespace movarin;

namespace {

QMutex g_lock;
QStringList g_engineMessages;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (context.category && QLatin1String(context.category) == QLatin1String("movarin.engine")) {
        QMutexLocker lock(&g_lock);
        g_engineMessages << QStringLiteral("%1 %2").arg(
            type == QtCriticalMsg ? "critical" : "warning", text);
        return;
    }
    g_previous(type, context, text);
}

QStringList engineMessages() {
    QMutexLocker lock(&g_lock);
    return g_engineMessages;
}

} // namespace

class TestEngineLog : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { g_previous = qInstallMessageHandler(collect); }
    void cleanupTestCase() { qInstallMessageHandler(g_previous); }
    void engineMessagesOnlyWhenAskedFor_data();
    void engineMessagesOnlyWhenAskedFor();
};

void TestEngineLog::engineMessagesOnlyWhenAskedFor_data() {
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("expectCritical");
    QTest::newRow("default") << QString() << false;
    QTest::newRow("turned on") << QStringLiteral("movarin.engine=true") << true;
    QTest::newRow("warnings only") << QStringLiteral("movarin.engine.warning=true") << false;
}

void TestEngineLog::engineMessagesOnlyWhenAskedFor() {
    QFETCH(QString, rules);
    QFETCH(bool, expectCritical);
    QLoggingCategory::setFilterRules(rules);
    {
        QMutexLocker lock(&g_lock);
        g_engineMessages.clear();
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Text in a video's clothing: the engine opens it and says, at error level, why it cannot.
    const QString bad = dir.filePath(QStringLiteral("notes.mp4"));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();

    PlayerSetup setup;
    setup.appDir = QDir::toNativeSeparators(dir.path());
    setup.twipsPerPixelX = setup.twipsPerPixelY = 15;
    setup.engineOptions = {QStringLiteral("ao=null")};
    frmplayer window(setup);
    window.Form_Load(QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.play_file(bad);
    QTRY_VERIFY_WITH_TIMEOUT(!window.player->failureText().isEmpty(), 20000);
    QTest::qWait(300); // messages still on their way would land in the next row

    // The file's fault is an error, so warnings alone show none of it.
    const QStringList messages = engineMessages();
    const QStringList critical = messages.filter(QStringLiteral("critical "));
    QVERIFY2(critical.isEmpty() != expectCritical, qPrintable(messages.join(u'\n')));
    if (!expectCritical)
        QVERIFY2(rules.contains(QLatin1String("warning")) || messages.isEmpty(),
                 qPrintable(messages.join(u'\n')));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("log.txt"))));
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    TestEngineLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_engine_log.moc"
