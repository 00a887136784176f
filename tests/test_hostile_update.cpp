// Hostile update servers on 127.0.0.1: each Update click must end, with at most one log record,
// without a crash, while the window goes on painting the video it plays.

#include "engine/mpv_engine.h"
#include "online/update_check.h"
#include "window/frmplayer.h"
#include "window/playback_host.h"

#include "test_online_server.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <clocale>
#include <memory>
#include <random>
#include <sys/socket.h>

using namespace movarin;
using namespace std::chrono_literals;

namespace {

const QString kSample = QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv");

enum class Behaviour {
    Huge,
    HugeUnannounced,
    Drip,
    RedirectLoop,
    ResetMidBody,
    RawGarbage,
    GarbageBody,
    FileRedirect,
    GzipBomb,
    GzipCorrupt
};

// Misbehaves in one way on every request; counts what it was asked, and stops every loop of its
// own after a bounded number of steps.
class HostileServer : public QObject {
public:
    explicit HostileServer(Behaviour behaviour) : m_behaviour(behaviour) {
        // 64 MiB of digits in about 64 KiB, made before the click so that making it stalls
        // nothing; the corrupt one is cut off and damaged midway.
        if (behaviour == Behaviour::GzipBomb || behaviour == Behaviour::GzipCorrupt)
            m_gzipBody = gzipped(QByteArray(64 << 20, '1'));
        if (behaviour == Behaviour::GzipCorrupt) {
            m_gzipBody.truncate(m_gzipBody.size() / 2);
            for (qsizetype i = 200; i < m_gzipBody.size(); i += 97)
                m_gzipBody[i] = char(~m_gzipBody[i]);
        }
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_buffers[socket] += socket->readAll();
                    if (m_buffers[socket].contains("\r\n\r\n")) {
                        m_buffers.remove(socket);
                        ++m_requests;
                        respond(socket);
                    }
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listening() const { return m_server.isListening(); }
    QString base() const {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }
    int requests() const { return m_requests; }

private:
    static QByteArray head(const QByteArray& status, qint64 length) {
        QByteArray text = "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\n";
        if (length >= 0)
            text += "Content-Length: " + QByteArray::number(length) + "\r\n";
        return text + "Connection: close\r\n\r\n";
    }

    static QByteArray noise(qsizetype size) {
        std::mt19937 random(7);
        QByteArray bytes(size, Qt::Uninitialized);
        for (char& c : bytes)
            c = char(random());
        return bytes;
    }

    // Closing with a zero linger time sends a reset instead of an orderly end.
    static void reset(QTcpSocket* socket) {
        const linger hard{1, 0};
        setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        socket->abort();
    }

    void respond(QTcpSocket* socket) {
        const QPointer<QTcpSocket> alive(socket);
        switch (m_behaviour) {
        case Behaviour::Huge:
            socket->write(head("200 OK", 8 << 20));
            sendInChunks(alive, QByteArray(8 << 20, '1'));
            break;
        case Behaviour::HugeUnannounced:
            socket->write(head("200 OK", -1));
            sendInChunks(alive, QByteArray(6 << 20, '7'));
            break;
        case Behaviour::Drip:
            socket->write(head("200 OK", 1000));
            drip(alive, 0);
            break;
        case Behaviour::RedirectLoop:
            socket->write("HTTP/1.1 302 Found\r\nLocation: /clips/Movarin/version.txt\r\n"
                          "Content-Length: 0\r\n\r\n");
            break;
        case Behaviour::ResetMidBody:
            socket->write(head("200 OK", 4000) + QByteArray(100, '2'));
            socket->flush();
            QTimer::singleShot(200, socket, [alive] {
                if (alive)
                    reset(alive);
            });
            break;
        case Behaviour::RawGarbage:
            socket->write(noise(64 * 1024));
            socket->disconnectFromHost();
            break;
        case Behaviour::GarbageBody:
            socket->write(head("200 OK", 4096) + noise(4096));
            socket->disconnectFromHost();
            break;
        case Behaviour::FileRedirect:
            socket->write("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\n"
                          "Content-Length: 0\r\n\r\n");
            break;
        case Behaviour::GzipBomb:
        case Behaviour::GzipCorrupt: {
            QByteArray text = head("200 OK", m_gzipBody.size());
            text.insert(text.indexOf("\r\n") + 2, "Content-Encoding: gzip\r\n");
            socket->write(text + m_gzipBody);
            socket->disconnectFromHost();
            break;
        }
        }
    }

    void sendInChunks(QPointer<QTcpSocket> socket, QByteArray rest) {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        const QByteArray chunk = rest.left(256 * 1024);
        socket->write(chunk);
        rest.remove(0, chunk.size());
        if (rest.isEmpty()) {
            socket->disconnectFromHost();
            return;
        }
        QTimer::singleShot(5, this, [this, socket, rest] { sendInChunks(socket, rest); });
    }

    // One digit a second, for at most 30 seconds; then the connection ends short of the length.
    void drip(QPointer<QTcpSocket> socket, int sent) {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        if (sent == 30) {
            socket->disconnectFromHost();
            return;
        }
        socket->write("1");
        QTimer::singleShot(1000, this, [this, socket, sent] { drip(socket, sent + 1); });
    }

    Behaviour m_behaviour;
    QByteArray m_gzipBody;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    int m_requests = 0;
};

int countOf(const QByteArray& text, const QByteArray& what) {
    return int(text.count(what));
}

} // namespace

class TestHostileUpdate : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { std::setlocale(LC_NUMERIC, "C"); }

    void clickEndsQuietly_data() {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<int>("minRecords");
        QTest::addColumn<int>("maxRecords");
        QTest::addColumn<int>("requestsAtMost");
        QTest::newRow("8 MiB body") << int(Behaviour::Huge) << 0 << 1 << 1;
        QTest::newRow("6 MiB body without a length")
            << int(Behaviour::HugeUnannounced) << 0 << 1 << 1;
        QTest::newRow("one byte a second") << int(Behaviour::Drip) << 0 << 1 << 1;
        // Moves on the same service are followed up to ten times, a few more where it retries.
        QTest::newRow("redirect loop") << int(Behaviour::RedirectLoop) << 1 << 1 << 30;
        // Reset while the body comes, the network layer may ask once more (seen once in ten runs).
        QTest::newRow("reset mid-body") << int(Behaviour::ResetMidBody) << 0 << 1 << 2;
        // The network layer retries a request whose answer it cannot read, a few times.
        QTest::newRow("binary garbage instead of HTTP")
            << int(Behaviour::RawGarbage) << 0 << 1 << 5;
        // Random bytes are not a version text: a failed fetch, not "the latest version".
        QTest::newRow("binary garbage as the version")
            << int(Behaviour::GarbageBody) << 1 << 1 << 1;
        QTest::newRow("redirect to file:") << int(Behaviour::FileRedirect) << 1 << 1 << 1;
        QTest::newRow("gzip bomb") << int(Behaviour::GzipBomb) << 1 << 1 << 1;
        QTest::newRow("corrupt gzip") << int(Behaviour::GzipCorrupt) << 1 << 1 << 1;
    }
    void clickEndsQuietly() {
        QFETCH(int, behaviour);
        QFETCH(int, minRecords);
        QFETCH(int, maxRecords);
        QFETCH(int, requestsAtMost);
        HostileServer server{Behaviour(behaviour)};
        QVERIFY(server.listening());

        QTemporaryDir appDir;
        QList<online::Message> shown;
        int launches = 0;
        PlayerSetup setup = testing::playerSetupIn(appDir.path());
        setup.updateServiceBase = server.base();
        setup.online.isOnline = [] { return true; };
        setup.online.defaultBrowser = [] { return QStringLiteral("/bin/true"); };
        setup.online.launch = [&launches](const QString&, const QStringList&) { ++launches; };
        setup.online.show = [&shown](online::Message m) {
            shown << m;
            return true;
        };
        setup.online.transferTimeout = 3s;
        frmplayer window(setup);
        window.Form_Load(kSample);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        int frames = 0;
        connect(window.player, &PlaybackHost::frameShown, this, [&frames] { ++frames; });
        QTRY_VERIFY_WITH_TIMEOUT(frames > 0, 20000);

        // The click runs its own event loop; the video must keep arriving and being painted.
        QElapsedTimer beat;
        beat.start();
        qint64 longestStall = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, this,
                [&] { longestStall = std::max(longestStall, beat.restart()); });
        heartbeat.start(10);
        const int framesBefore = frames;
        QElapsedTimer clock;
        clock.start();
        window.mnuupdate_Click();
        const qint64 took = clock.elapsed();
        heartbeat.stop();

        qInfo("ended after %lld ms, %d request(s), messages %d, %d frames meanwhile", took,
              server.requests(), int(shown.size()), frames - framesBefore);
        // Nothing may hold the click past the 3-second time-out (plus the machine's slack).
        QVERIFY2(took < 6000, "the click did not end in time");
        QVERIFY2(longestStall < 1500,
                 qPrintable(QStringLiteral("stalled %1 ms").arg(longestStall)));
        // A painted frame every few hundred milliseconds at the least, while the click lasted.
        if (took > 1000)
            QVERIFY2(
                frames - framesBefore >= int(took / 400),
                qPrintable(
                    QStringLiteral("%1 frames in %2 ms").arg(frames - framesBefore).arg(took)));
        QVERIFY(server.requests() >= 1 && server.requests() <= requestsAtMost);

        QFile log(appDir.filePath(QStringLiteral("log.txt")));
        const QByteArray text = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        const int records = countOf(text, "Error while clicking the update menu : ");
        if (records)
            qInfo("recorded: %s", text.trimmed().split('\n').last().constData());
        QVERIFY2(records >= minRecords && records <= maxRecords, text.constData());
        QCOMPARE(countOf(text, "Error while"), records);
        // A failed fetch shows nothing; an answer that is no number is "the latest version".
        if (records == 1)
            QVERIFY(shown.isEmpty());
        else
            QCOMPARE(shown, QList<online::Message>{online::Message::Latest});
        QCOMPARE(launches, 0);

        // The check is over: the next click asks the server again.
        const int before = server.requests();
        window.mnuupdate_Click();
        QVERIFY(server.requests() > before);
    }
};

QTEST_MAIN(TestHostileUpdate)
#include "test_hostile_update.moc"
