// Broken and hostile inputs loaded one after another into one running window: the window must
// keep answering, log nothing for a file it cannot play, and still play and fit the next good file.

#include "engine/mpv_engine.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <clocale>
#include <memory>
#include <random>
#include <sys/stat.h>

using namespace movarin;

namespace {

const QString kSample = QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv");
constexpr int kSampleWidth = 320;
constexpr int kSampleHeight = 240;

// Longest time the event loop may go without running a 10 ms timer. Generous, because the
// machine is shared and sanitizer builds run several times slower.
constexpr qint64 kMaxStallMs = 1500;

struct BrokenInput {
    QString name;
    QString path;
};

} // namespace

class TestHostileVideo : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void brokenInputsLeaveTheWindowWorking();

private:
    void writeFile(const QString& name, const QByteArray& bytes);
    // Waits until the engine has given its verdict on the last load: a frame, or a failure.
    bool settle(int timeoutMs);
    bool waitForFit(int timeoutMs);

    QTemporaryDir m_appDir;
    QTemporaryDir m_media;
    QByteArray m_sample;
    std::vector<BrokenInput> m_inputs;
    std::unique_ptr<frmplayer> m_window;
    QTimer m_heartbeat;
    QElapsedTimer m_sinceBeat;
    qint64 m_longestStall = 0;
    int m_frames = 0;
    bool m_failed = false;
};

void TestHostileVideo::writeFile(const QString& name, const QByteArray& bytes) {
    QFile file(m_media.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
    m_inputs.push_back({name, file.fileName()});
}

void TestHostileVideo::initTestCase() {
    std::setlocale(LC_NUMERIC, "C");
    QVERIFY(m_appDir.isValid() && m_media.isValid());
    QFile sample(kSample);
    QVERIFY2(sample.open(QIODevice::ReadOnly), qPrintable(kSample));
    m_sample = sample.readAll();
    QVERIFY(m_sample.size() > 10000);

    // Cut inside the file header, inside the first tags and deep into the stream.
    for (const qsizetype cut : {qsizetype(3), qsizetype(9), qsizetype(13), qsizetype(200),
                                qsizetype(2000), m_sample.size() / 3, m_sample.size() - 7})
        writeFile(QStringLiteral("cut-%1.flv").arg(cut), m_sample.left(cut));

    std::mt19937 random(20240607);
    for (const int flips : {1, 40, 4000}) {
        QByteArray damaged = m_sample;
        for (int i = 0; i < flips; ++i) {
            const auto at = qsizetype(random() % std::uint32_t(damaged.size()));
            damaged[at] = char(damaged[at] ^ char(1u << (random() % 8)));
        }
        writeFile(QStringLiteral("flipped-%1.flv").arg(flips), damaged);
    }
    QByteArray header = m_sample;
    header[5] = char(0xff); // flags: claims every kind of stream
    header[8] = char(0x7f); // data offset far past the end of the file
    writeFile(QStringLiteral("bad-header.flv"), header);

    writeFile(QStringLiteral("empty.flv"), QByteArray());
    writeFile(QStringLiteral("notes.flv"), QByteArray("This is a shopping list, not a video.\n"));
    QByteArray noise(256 * 1024, Qt::Uninitialized);
    for (char& c : noise)
        c = char(random());
    writeFile(QStringLiteral("noise.flv"), noise);

    QVERIFY(QDir(m_media.path()).mkdir(QStringLiteral("a folder.flv")));
    m_inputs.push_back({QStringLiteral("directory"), m_media.filePath("a folder.flv")});
    const QString pipe = m_media.filePath(QStringLiteral("pipe.flv"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    m_inputs.push_back({QStringLiteral("named pipe nobody writes"), pipe});
    m_inputs.push_back({QStringLiteral("missing"), m_media.filePath("no such file.flv")});
    m_inputs.push_back({QStringLiteral("missing, hostile name"),
                        m_media.filePath(QStringLiteral("gone & #1 100% \u00e9t\u00e9.flv"))});
    m_inputs.push_back({QStringLiteral("blank"), QStringLiteral("   ")});
}

bool TestHostileVideo::settle(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    const int framesBefore = m_frames;
    m_failed = false;
    // A verdict, or at least a few turns of the loop for inputs the engine quietly ignores.
    while (clock.elapsed() < timeoutMs) {
        QTest::qWait(20);
        if (m_failed || m_frames > framesBefore + 1)
            return true;
    }
    return false;
}

bool TestHostileVideo::waitForFit(int timeoutMs) {
    return QTest::qWaitFor(
        [this] {
            return m_window->Text1 == QString::number(kSampleWidth) &&
                   m_window->Text2 == QString::number(kSampleHeight);
        },
        timeoutMs);
}

void TestHostileVideo::brokenInputsLeaveTheWindowWorking() {
    PlayerSetup setup = testing::playerSetupIn(m_appDir.path());
    QString chosen;
    setup.chooseFile = [&chosen](QWidget*) { return chosen; };
    m_window = std::make_unique<frmplayer>(setup);
    m_window->Form_Load(QString());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    PlaybackHost* host = m_window->player;
    connect(host, &PlaybackHost::frameShown, this, [this] { ++m_frames; });

    m_sinceBeat.start();
    connect(&m_heartbeat, &QTimer::timeout, this,
            [this] { m_longestStall = std::max(m_longestStall, m_sinceBeat.restart()); });
    m_heartbeat.start(10);

    // A good file first, so that every broken one replaces a playing video.
    m_window->play_file(kSample);
    QVERIFY(waitForFit(20000));
    QVERIFY(host->engine());
    connect(host->engine(), &MpvEngine::loadFailed, this, [this] { m_failed = true; });

    for (const BrokenInput& input : m_inputs) {
        const QString path = input.path;
        m_window->play_file(path);
        const bool verdict = settle(4000);
        qInfo("%s: %s", qPrintable(input.name),
              verdict ? (m_failed ? "refused" : "played what it could") : "no verdict in 4 s");
        QVERIFY2(m_longestStall < kMaxStallMs,
                 qPrintable(QStringLiteral("%1: event loop stalled for %2 ms")
                                .arg(input.name)
                                .arg(m_longestStall)));
        QVERIFY2(!QFile::exists(m_appDir.filePath("log.txt")),
                 qPrintable(input.name + " was logged"));
        // Still at home, as every load leaves it.
        QCOMPARE(m_window->Left(), 2900.0f);
        QCOMPARE(m_window->Top(), 2000.0f);
    }

    // Undo the last fit, then open the good file the way the user would: the size texts are
    // emptied first, so the fit below can only come from the new file.
    m_window->setWidth(380 * 15);
    m_window->setHeight(311 * 15 + 650);
    chosen = kSample;
    m_window->mnuopen_Click();
    QVERIFY(m_window->Text1.isEmpty() && m_window->Text2.isEmpty());
    QVERIFY(waitForFit(20000));
    QCOMPARE(m_window->Width(), float(kSampleWidth * 15));
    QCOMPARE(m_window->Height(), float(kSampleHeight * 15 + 650));
    QCOMPARE(host->size(), QSize(kSampleWidth, kSampleHeight));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->centralWidget()->size(), QSize(kSampleWidth, kSampleHeight),
                              5000);
    const int frames = m_frames;
    QTRY_VERIFY_WITH_TIMEOUT(m_frames > frames + 3, 10000);
    QVERIFY(host->failureText().isEmpty());
    QVERIFY(!host->currentPicture().isNull());

    // A good file whose name holds the characters a movie address leaves unescaped.
    const QString hostileName =
        m_media.filePath(QStringLiteral("clip & #2 100% caf\u00e9 \u6620\u753b.flv"));
    QVERIFY(QFile::copy(kSample, hostileName));
    QSignalSpy sizes(host, &PlaybackHost::FSCommand);
    m_window->play_file(hostileName);
    QTRY_VERIFY_WITH_TIMEOUT(sizes.count() >= 2, 20000);
    QCOMPARE(sizes.at(0).at(1).toString(), QString::number(kSampleWidth));
    QCOMPARE(sizes.at(1).at(1).toString(), QString::number(kSampleHeight));
    const int framesNow = m_frames;
    QTRY_VERIFY_WITH_TIMEOUT(m_frames > framesNow + 3, 10000);
    QVERIFY(host->failureText().isEmpty());

    QVERIFY2(m_longestStall < kMaxStallMs,
             qPrintable(QStringLiteral("event loop stalled for %1 ms").arg(m_longestStall)));
    QVERIFY(!QFile::exists(m_appDir.filePath("log.txt")));
    m_heartbeat.stop();
    m_window.reset();
}

QTEST_MAIN(TestHostileVideo)
#include "test_hostile_video.moc"
