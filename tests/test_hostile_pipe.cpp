// Named pipes written by the test itself, played in a window with the real engine: a pipe whose
// writer waited to be read and delivers a whole file ends on its last picture, stopped, with
// nothing left running; and a pipe of endless zeros after an FLV header is refused within
// seconds, let go, and costs bounded work.
#include "app/start_up.h"
#include "engine/mpv_engine.h"
#include "test_media.h"
#include "test_support.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace movarin;

namespace {

constexpr int kWait = 20000;
// Longest any writer here goes on; the zeros would otherwise flow as long as somebody reads.
constexpr qint64 kWriterLimitMs = 30000;

// Writes into a named pipe from a thread of its own, as `cat file > pipe` does: it waits in
// open() for a reader, writes `bytes`, then, with `zeros`, zeros until nobody reads any more.
class PipeWriter {
public:
    PipeWriter(const QString& path, QByteArray bytes, bool zeros)
        : m_path(QFile::encodeName(path)) {
        m_thread = std::thread([this, bytes = std::move(bytes), zeros] { run(bytes, zeros); });
    }
    ~PipeWriter() {
        m_stop = true;
        // A writer still waiting for a reader is let go by one that comes and goes.
        if (!opened) {
            const int fd = ::open(m_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            m_thread.join();
            if (fd >= 0)
                ::close(fd);
        } else {
            m_thread.join();
        }
    }
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;

    std::atomic<bool> opened{false};
    std::atomic<bool> done{false};
    std::atomic<qint64> written{0};
    // errno of the write that failed: EPIPE once the reader has closed the pipe.
    std::atomic<int> error{0};
    // The thread's own CPU time, in seconds, once done.
    std::atomic<double> cpu{0};

private:
    void run(const QByteArray& bytes, bool zeros) {
        const int fd = ::open(m_path.constData(), O_WRONLY | O_CLOEXEC);
        opened = true;
        QElapsedTimer clock;
        clock.start();
        const QByteArray block(64 * 1024, '\0');
        for (qsizetype at = 0; fd >= 0 && !m_stop && clock.elapsed() < kWriterLimitMs;) {
            const bool head = at < bytes.size();
            if (!head && !zeros)
                break;
            const char* from = head ? bytes.constData() + at : block.constData();
            const qsizetype n =
                head ? std::min<qsizetype>(bytes.size() - at, block.size()) : block.size();
            const ssize_t r = ::write(fd, from, std::size_t(n));
            if (r < 0) {
                error = errno;
                break;
            }
            at += r;
            written += r;
        }
        if (fd >= 0)
            ::close(fd);
        cpu = testing::cpuSeconds(RUSAGE_THREAD);
        done = true;
    }

    QByteArray m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The player's share of one core over `ms`, as the process spends it.
double cpuShareOver(int ms) {
    QElapsedTimer clock;
    clock.start();
    const double before = testing::cpuSeconds(RUSAGE_SELF);
    QTest::qWait(ms);
    return (testing::cpuSeconds(RUSAGE_SELF) - before) / (double(clock.elapsed()) / 1000);
}

QString g_busAddress;

} // namespace

class TestHostilePipe : public QObject {
    Q_OBJECT
    QTemporaryDir m_appDir;
    QTemporaryDir m_dir;
    QString m_matroska;
    std::unique_ptr<frmplayer> m_window;
    int m_frames = 0;

    frmplayer& window() {
        m_window = std::make_unique<frmplayer>(testing::playerSetupIn(m_appDir.path()));
        m_window->Form_Load(QString());
        m_window->show();
        if (!g_busAddress.isEmpty())
            attach_desktop(*m_window);
        m_frames = 0;
        connect(m_window->player, &PlaybackHost::frameShown, this, [this] { ++m_frames; });
        return *m_window;
    }

    QString makePipe(const QString& name) {
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        return mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    }

private slots:
    void initTestCase() {
        use_c_numeric_locale();
        // A writer whose reader went must hear of it from write(), not die of it.
        std::signal(SIGPIPE, SIG_IGN);
        QVERIFY(m_appDir.isValid() && m_dir.isValid());
        m_matroska = m_dir.filePath("clip.mkv");
        QVERIFY(testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=3",
                                    "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                    "yuv420p", m_matroska}));
    }

    void cleanup() { m_window.reset(); }

    // `cat file > pipe`, started before the player opens it: the writer is not let go by a look
    // at the file, delivers all of it, and the picture plays. At the end the last picture stays,
    // the time stands, the player says it has stopped, and nothing keeps a core busy: a pipe
    // cannot be played again, so it is not looped however the loop is set.
    void endedPipeKeepsItsLastPicture_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::newRow("FLV") << QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv")
                             << QSize(320, 240);
        QTest::newRow("Matroska") << m_matroska << QSize(160, 120);
    }
    void endedPipeKeepsItsLastPicture() {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        const QByteArray bytes = testing::readFile(file);
        QVERIFY(bytes.size() > 10000);
        const QString pipe = makePipe(QStringLiteral("ended.") + QFileInfo(file).suffix());
        QVERIFY(!pipe.isEmpty());
        PipeWriter writer(pipe, bytes, false);
        frmplayer& w = window();
        QTest::qWait(300);
        QVERIFY(!writer.opened); // waiting in open() for a reader

        w.play_file(pipe);
        const Player* player = w.player->player();
        QTRY_VERIFY_WITH_TIMEOUT(w.player->size() == size && m_frames > 3, kWait);
        // Seeks in a pipe find nothing to jump to, and playing goes on.
        w.player->controls()->backAction()->trigger();
        w.player->controls()->rewindAction()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(writer.done, kWait);
        QCOMPARE(writer.error.load(), 0);
        QCOMPARE(writer.written.load(), bytes.size());
        QVERIFY(player->looping());

        QTRY_VERIFY_WITH_TIMEOUT(player->atEnd(), kWait);
        QCOMPARE(player->status(), PlaybackStatus::Stopped);
        QVERIFY(w.player->failureText().isEmpty());
        QVERIFY(testing::colourful(w.player->currentPicture()));
        if (!g_busAddress.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(
                testing::mprisProperty("PlaybackStatus").contains("\"Stopped\""), kWait);
        QTest::qWait(300);
        const double position = player->position();
        const QString time = w.player->controls()->timeText();
        QVERIFY(position > 1.0);
        const double share = cpuShareOver(2000);
        qInfo("CPU after the pipe ended: %.1f %% of one core", share * 100);
        // Generous for a loaded 2-core machine; the loop it guards against took over 100 %.
        QVERIFY2(share < 0.20, qPrintable(QString::number(share * 100) + " %"));
        QCOMPARE(player->position(), position);
        QCOMPARE(w.player->controls()->timeText(), time);

        // Play has nothing more to play: the end and its picture stay, and nothing starts.
        w.player->controls()->playAction()->trigger();
        const double afterPlay = cpuShareOver(1500);
        qInfo("CPU after Play at the end: %.1f %% of one core", afterPlay * 100);
        QVERIFY2(afterPlay < 0.20, qPrintable(QString::number(afterPlay * 100) + " %"));
        QVERIFY(player->atEnd());
        QCOMPARE(player->position(), position);
        QVERIFY(testing::colourful(w.player->currentPicture()));
        QVERIFY(player->looping()); // the setting stays for the files after it

        // The file after it loops again: past its middle, then back at its start.
        w.play_file(file);
        QTRY_VERIFY_WITH_TIMEOUT(player->path() == file && player->position() > 2.0, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(player->position() < 1.0, kWait);
        QVERIFY(!player->atEnd());
        QVERIFY(!QFile::exists(m_appDir.filePath("log.txt")));
    }

    // A pipe nobody writes keeps the engine waiting, not the window: closing it is quick.
    void closingWhileNobodyWrites() {
        const QString pipe = makePipe(QStringLiteral("silent.flv"));
        QVERIFY(!pipe.isEmpty());
        window().play_file(pipe);
        QTest::qWait(1000);
        QVERIFY(m_window->player->failureText().isEmpty());
        QElapsedTimer clock;
        clock.start();
        m_window.reset();
        qInfo("window and engine gone %lld ms after closing", clock.elapsed());
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    // An FLV header, then zeros for as long as anybody reads: a bounded amount is read, the
    // player says it cannot play it, and the pipe is let go, so the writer hears that nobody
    // reads any more.
    void endlessZerosAreRefused() {
        const QString pipe = makePipe(QStringLiteral("zeros.flv"));
        QVERIFY(!pipe.isEmpty());
        const QByteArray header("FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00", 13);
        PipeWriter writer(pipe, header, true);
        frmplayer& w = window();
        QElapsedTimer clock;
        clock.start();
        const double cpuBefore = testing::cpuSeconds(RUSAGE_SELF);
        w.play_file(pipe);
        QTRY_VERIFY_WITH_TIMEOUT(w.player->failureText() == "Cannot play zeros.flv", 10000);
        const qint64 refusedAfter = clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(writer.done, 5000);
        const double player = testing::cpuSeconds(RUSAGE_SELF) - cpuBefore - writer.cpu;
        qInfo("\"Cannot play\" after %lld ms; %.0f MiB read, %.2f s of CPU to the pipe's close",
              refusedAfter, double(writer.written) / (1 << 20), player);
        QCOMPARE(writer.error.load(), EPIPE);
        QVERIFY2(refusedAfter < 5000, "a few seconds at most, on a loaded machine");
        // The reader's limit on a run of garbage, and what the pipe and the engine hold.
        QVERIFY2(writer.written < (100 << 20), qPrintable(QString::number(writer.written)));
        const double share = cpuShareOver(2000);
        qInfo("CPU after the refusal: %.1f %% of one core", share * 100);
        QVERIFY2(share < 0.20, qPrintable(QString::number(share * 100) + " %"));
        QVERIFY(!QFile::exists(m_appDir.filePath("log.txt")));
    }
};

int main(int argc, char* argv[]) {
    return testing::execOnPrivateBus<TestHostilePipe>(argc, argv, g_busAddress);
}

#include "test_hostile_pipe.moc"
