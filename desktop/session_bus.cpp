#include "desktop/session_bus.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>

namespace movarin {

// Without an address to go to, libdbus would try to start a bus of its own; a player has no
// business doing that.
bool session_bus_configured() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

namespace {

QByteArray session_bus_address() {
    const QByteArray set = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    return !set.isEmpty() ? set : "unix:path=" + qgetenv("XDG_RUNTIME_DIR") + "/bus";
}

// Whether a unix socket's server greets a client within `timeoutMs`: the first answer of the
// bus's handshake, which libdbus would wait for without end.
bool unix_bus_answers(const QByteArray& place, bool abstract, int timeoutMs) {
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const qsizetype offset = abstract ? 1 : 0;
    if (place.isEmpty() || place.size() + offset >= qsizetype(sizeof where.sun_path))
        return false;
    std::memcpy(where.sun_path + offset, place.constData(), std::size_t(place.size()));
    const auto length =
        socklen_t(offsetof(sockaddr_un, sun_path) + offset + place.size() + (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto waitFor = [&](short events) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            pollfd p{fd, events, 0};
            const int r = ::poll(&p, 1, int(left));
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return false;
        }
    };
    bool answered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&where), length) == 0 ||
        ((errno == EINPROGRESS || errno == EAGAIN) && waitFor(POLLOUT))) {
        const QByteArray greeting = QByteArray(1, '\0') + "AUTH EXTERNAL " +
                                    QByteArray::number(::getuid()).toHex() + "\r\n";
        QByteArray reply;
        if (::send(fd, greeting.constData(), std::size_t(greeting.size()), MSG_NOSIGNAL) ==
            ssize_t(greeting.size())) {
            while (!reply.contains('\n') && reply.size() < 512 && waitFor(POLLIN)) {
                char buffer[256];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR)))
                    break;
                if (n > 0)
                    reply.append(buffer, n);
            }
        }
        answered = reply.startsWith("OK ") || reply.startsWith("REJECTED");
    }
    ::close(fd);
    return answered;
}

// The bus answers at one of the places its address names. Transports other than unix sockets
// are left to libdbus.
bool bus_answers(const QByteArray& address, int timeoutMs) {
    for (const QByteArray& entry : address.split(';')) {
        const qsizetype colon = entry.indexOf(':');
        if (colon <= 0)
            continue;
        if (entry.left(colon) != "unix")
            return true;
        for (const QByteArray& pair : entry.mid(colon + 1).split(',')) {
            const qsizetype eq = pair.indexOf('=');
            const QByteArray key = pair.left(eq);
            const QByteArray value = QByteArray::fromPercentEncoding(pair.mid(eq + 1));
            if ((key == "path" || key == "abstract") &&
                unix_bus_answers(value, key == "abstract", timeoutMs))
                return true;
        }
    }
    return false;
}

} // namespace

bool session_bus_answers(int timeoutMs) {
    return session_bus_configured() && bus_answers(session_bus_address(), timeoutMs);
}

} // namespace movarin
