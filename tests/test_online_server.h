#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

// A small HTTP/1.1 server on 127.0.0.1 that answers every GET with one prepared response.
class LocalHttpServer : public QObject {
public:
    LocalHttpServer() {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    bool listening() const { return m_server.isListening(); }
    QString base() const {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }

    void answer(int status, QByteArray body, bool sendLength = true) {
        m_status = status;
        m_body = std::move(body);
        m_sendLength = sendLength;
    }
    // A different answer for one path; `headers` are whole lines, each ending in CR LF.
    void route(const QString& path, int status, QByteArray headers, QByteArray body) {
        m_routes.insert(path, {status, std::move(headers), std::move(body)});
    }
    // The body goes out one byte per interval, the way a stalling server sends it.
    void trickle(int intervalMs) { m_trickleMs = intervalMs; }
    // Held requests get no answer until release().
    void hold(bool on) { m_hold = on; }
    void release() {
        for (const QPointer<QTcpSocket>& socket : std::as_const(m_held)) {
            if (socket)
                respond(socket);
        }
        m_held.clear();
    }

    int requests() const { return int(m_paths.size()); }
    const QStringList& paths() const { return m_paths; }

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                QByteArray& buffer = m_buffers[socket];
                buffer += socket->readAll();
                if (!buffer.contains("\r\n\r\n"))
                    return;
                const QString path = QString::fromLatin1(buffer.split(' ').value(1));
                m_paths.append(path);
                m_buffers.remove(socket);
                if (m_routes.contains(path))
                    respondRoute(socket, m_routes.value(path));
                else if (m_hold)
                    m_held.append(socket);
                else
                    respond(socket);
            });
        }
    }

    struct Route {
        int status = 200;
        QByteArray headers;
        QByteArray body;
    };

    static void respondRoute(QTcpSocket* socket, const Route& route) {
        socket->write("HTTP/1.1 " + QByteArray::number(route.status) +
                      " Answer\r\nConnection: close\r\n" + route.headers + "Content-Length: " +
                      QByteArray::number(route.body.size()) + "\r\n\r\n" + route.body);
        socket->disconnectFromHost();
    }

    void respond(QTcpSocket* socket) {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_status) +
                          (m_status == 200 ? " OK" : " Not Found") +
                          "\r\nContent-Type: text/html\r\nConnection: close\r\n";
        if (m_sendLength)
            head += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        if (m_trickleMs <= 0) {
            socket->write(head + "\r\n" + m_body);
            socket->disconnectFromHost();
            return;
        }
        socket->write(head + "\r\n");
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket,
                         [socket, timer, body = m_body, sent = qsizetype(0)]() mutable {
                             if (sent >= body.size()) {
                                 timer->stop();
                                 socket->disconnectFromHost();
                                 return;
                             }
                             socket->write(body.mid(sent++, 1));
                         });
        timer->start(m_trickleMs);
    }

    QTcpServer m_server;
    int m_status = 200;
    QByteArray m_body;
    bool m_sendLength = true;
    bool m_hold = false;
    int m_trickleMs = 0;
    QList<QPointer<QTcpSocket>> m_held;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QString, Route> m_routes;
    QStringList m_paths;
};

// `data` as a gzip member: qCompress's zlib stream without its wrapping, in a gzip frame.
inline QByteArray gzipped(const QByteArray& data) {
    const QByteArray zlib = qCompress(data, 9).mid(4); // drops qCompress's length prefix
    quint32 crc = 0xffffffffu;
    for (const char c : data) {
        crc ^= uchar(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    out += zlib.mid(2, zlib.size() - 6); // the deflate data between header and checksum
    for (const quint32 word : {crc, quint32(data.size())}) {
        for (int i = 0; i < 4; ++i)
            out += char((word >> (8 * i)) & 0xff);
    }
    return out;
}

// A port on 127.0.0.1 where nothing listens.
inline quint16 closed_port() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
