#include "desktop/desktop_integration.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace movarin {

bool should_inhibit_screensaver(PlaybackStatus status, bool hasVideo) {
    return status == PlaybackStatus::Playing && hasVideo;
}

QString mpris_playback_status(PlaybackStatus status) {
    switch (status) {
    case PlaybackStatus::Playing:
        return QStringLiteral("Playing");
    case PlaybackStatus::Paused:
        return QStringLiteral("Paused");
    case PlaybackStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

std::int64_t to_microseconds(double seconds) {
    // Far beyond any video, and well inside what the conversion can hold.
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > 1e12)
        return 0;
    return static_cast<std::int64_t>(std::llround(seconds * 1e6));
}

namespace {

const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kMprisName = QStringLiteral("org.mpris.MediaPlayer2.movarin");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
constexpr int kCallTimeoutMs = 2000;

} // namespace

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

namespace {

// Holds the screensaver off while wanted. Calls never wait on the GUI thread, except the last
// release, so that it reaches the bus before the program ends.
class ScreenSaverHold : public QObject {
public:
    explicit ScreenSaverHold(QDBusConnection bus) : m_bus(std::move(bus)) {}
    ~ScreenSaverHold() override {
        m_wanted = false;
        if (m_pending) {
            QDBusPendingCallWatcher* pending = std::exchange(m_pending, nullptr);
            pending->waitForFinished();
            takeCookie(*pending);
            delete pending;
        }
        if (m_cookie)
            m_bus.call(call(QStringLiteral("UnInhibit")) << *std::exchange(m_cookie, {}),
                       QDBus::Block, kCallTimeoutMs);
    }

    void want(bool on) {
        if (on != m_wanted) {
            m_wanted = on;
            m_asked = false;
        }
        settle();
    }

private:
    // A refusal is not asked again until the next time the screensaver is wanted off.
    void settle() {
        if (m_pending)
            return; // settled when the answer comes
        if (m_wanted && !m_cookie && !m_asked) {
            m_asked = true;
            inhibit();
        } else if (!m_wanted && m_cookie) {
            m_bus.asyncCall(call(QStringLiteral("UnInhibit")) << *std::exchange(m_cookie, {}),
                            kCallTimeoutMs);
        }
    }

    static QDBusMessage call(const QString& method) {
        return QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                              kScreenSaverService, method);
    }

    void inhibit() {
        QDBusMessage message = call(QStringLiteral("Inhibit"));
        message << QCoreApplication::applicationName() << QStringLiteral("Playing a video");
        m_pending = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kCallTimeoutMs), this);
        connect(m_pending, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* done) {
                    if (done != m_pending)
                        return;
                    m_pending = nullptr;
                    takeCookie(*done);
                    done->deleteLater();
                    settle(); // it may have been released meanwhile
                });
    }

    void takeCookie(const QDBusPendingCall& call) {
        // No service, or one that refused: nothing is held and nothing needs saying.
        const QDBusPendingReply<uint> reply = call;
        if (reply.isValid())
            m_cookie = reply.value();
    }

    QDBusConnection m_bus;
    bool m_wanted = false;
    bool m_asked = false;
    std::optional<uint> m_cookie;
    QDBusPendingCallWatcher* m_pending = nullptr;
};

// The object at /org/mpris/MediaPlayer2; the two adaptors below are its interfaces. It sees every
// call first, as a virtual object does, only to refuse a LoopStatus that MPRIS does not define:
// a property setter cannot answer with an error. Registered with SubPath, whose bit Qt also reads
// as ExportAdaptors, it hands everything else on to the adaptors.
class MprisObject : public QDBusVirtualObject {
public:
    MprisObject(QDBusConnection bus, DesktopIntegration::Window window)
        : m_bus(std::move(bus)), m_window(std::move(window)) {
        m_flush.setSingleShot(true);
        connect(&m_flush, &QTimer::timeout, this, [this] { flush(); });
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QVariantList args = message.arguments();
        if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties") ||
            message.member() != QLatin1String("Set") || args.size() != 3 ||
            (args[0].toString() != kPlayerInterface && !args[0].toString().isEmpty()) ||
            args[1].toString() != QLatin1String("LoopStatus"))
            return false;
        const QVariant value = args[2].value<QDBusVariant>().variant();
        if (value.metaType() == QMetaType::fromType<QString>() &&
            QStringList{"None", "Track", "Playlist"}.contains(value.toString()))
            return false;
        connection.send(message.createErrorReply(
            QDBusError::InvalidArgs, QStringLiteral("LoopStatus is None, Track or Playlist")));
        return true;
    }

    Player* player() const { return m_player; }
    const DesktopIntegration::Window& window() const { return m_window; }
    PlayerState state() const { return m_player ? m_player->state() : PlayerState(); }
    bool hasFile() const { return !state().path.isEmpty(); }

    void setPlayer(Player* player) {
        if (m_player)
            disconnect(m_player, nullptr, this, nullptr);
        m_player = player;
        if (!player)
            return;
        connect(player, &Player::statusChanged, this, [this] {
            changed({"PlaybackStatus", "CanPlay", "CanPause", "CanSeek"});
        });
        connect(player, &Player::mediaChanged, this, [this] {
            if (!state().path.isEmpty() && state().path != m_trackPath) {
                m_trackPath = state().path;
                ++m_track;
            }
            changed({"Metadata", "CanPlay", "CanPause", "CanSeek"});
        });
        connect(player, &Player::durationChanged, this, [this] {
            changed({"Metadata", "CanSeek"});
        });
        connect(player, &Player::volumeChanged, this, [this] { changed({"Volume"}); });
        connect(player, &Player::loopingChanged, this, [this] { changed({"LoopStatus"}); });
        connect(player, &Player::seeked, this, [this](double seconds) {
            QDBusMessage signal =
                QDBusMessage::createSignal(kMprisPath, kPlayerInterface, QStringLiteral("Seeked"));
            signal << qlonglong(to_microseconds(seconds));
            m_bus.send(signal);
        });
        changed({"PlaybackStatus", "Metadata", "Volume", "LoopStatus", "CanPlay", "CanPause",
                 "CanSeek"});
    }

    QDBusObjectPath trackId() const {
        if (!hasFile() || m_track == 0)
            return QDBusObjectPath(kNoTrack);
        return QDBusObjectPath(QStringLiteral("/org/movarin/track/%1").arg(m_track));
    }

    QVariantMap metadata() const {
        const PlayerState s = state();
        QVariantMap map;
        map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId()));
        if (s.path.isEmpty())
            return map;
        if (s.duration > 0)
            map.insert(QStringLiteral("mpris:length"), qlonglong(to_microseconds(s.duration)));
        const QFileInfo file(s.path);
        map.insert(QStringLiteral("xesam:url"),
                   QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded));
        map.insert(QStringLiteral("xesam:title"), s.title.isEmpty() ? file.fileName() : s.title);
        return map;
    }

    // MPRIS's value for a property of the player interface, by name.
    QVariant playerProperty(const QString& name) const {
        const PlayerState s = state();
        if (name == "PlaybackStatus")
            return mpris_playback_status(s.status());
        if (name == "LoopStatus")
            return s.looping ? QStringLiteral("Track") : QStringLiteral("None");
        if (name == "Metadata")
            return metadata();
        if (name == "Volume")
            return s.volume / 100.0;
        if (name == "CanPlay" || name == "CanPause")
            return hasFile();
        if (name == "CanSeek")
            return hasFile() && s.duration > 0;
        return {};
    }

private:
    // Several changes at once (a new file) go out as one signal.
    void changed(std::initializer_list<const char*> names) {
        for (const char* name : names)
            m_changed.insert(QString::fromLatin1(name));
        if (!m_flush.isActive())
            m_flush.start(0);
    }

    void flush() {
        QVariantMap values;
        for (const QString& name : std::as_const(m_changed))
            values.insert(name, playerProperty(name));
        m_changed.clear();
        QDBusMessage signal = QDBusMessage::createSignal(
            kMprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << values << QStringList();
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    DesktopIntegration::Window m_window;
    QPointer<Player> m_player;
    QString m_trackPath;
    quint64 m_track = 0;
    QSet<QString> m_changed;
    QTimer m_flush;
};

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(bool Fullscreen READ no)
    Q_PROPERTY(bool CanSetFullscreen READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    explicit MprisRootAdaptor(MprisObject* object) : QDBusAbstractAdaptor(object), m_o(object) {}

    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QStringLiteral("Movarin"); }
    QString desktopEntry() const { return QStringLiteral("movarin"); }
    QStringList uriSchemes() const { return {QStringLiteral("file")}; }
    QStringList mimeTypes() const { return {QStringLiteral("video/x-flv")}; }

public slots:
    void Raise() {
        if (m_o->window().raise)
            m_o->window().raise();
    }
    void Quit() {
        // After the answer has gone out: the window may take the program with it.
        QTimer::singleShot(0, m_o, [o = m_o] {
            if (o->window().quit)
                o->window().quit();
        });
    }

private:
    MprisObject* m_o;
};

class MprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ rate)
    Q_PROPERTY(double MaximumRate READ rate)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(double Volume READ volume WRITE setVolume)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPlay)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayerAdaptor(MprisObject* object) : QDBusAbstractAdaptor(object), m_o(object) {}

    QString playbackStatus() const { return m_o->playerProperty("PlaybackStatus").toString(); }
    QString loopStatus() const { return m_o->playerProperty("LoopStatus").toString(); }
    void setLoopStatus(const QString& status) {
        // "Playlist" means the same as "Track" for a player of one file at a time.
        if (Player* p = m_o->player())
            p->setLooping(status != QLatin1String("None"));
    }
    double rate() const { return 1.0; }
    void setRate(double) {}
    QVariantMap metadata() const { return m_o->metadata(); }
    double volume() const { return m_o->playerProperty("Volume").toDouble(); }
    void setVolume(double volume) {
        if (Player* p = m_o->player(); p && std::isfinite(volume))
            p->setVolume(volume * 100.0);
    }
    qlonglong position() const { return to_microseconds(m_o->state().position); }
    bool yes() const { return true; }
    bool no() const { return false; }
    bool canPlay() const { return m_o->hasFile(); }
    bool canSeek() const { return m_o->playerProperty("CanSeek").toBool(); }

public slots:
    void Next() {}
    void Previous() {}
    void Play() {
        if (Player* p = playing())
            p->play();
    }
    void Pause() {
        if (Player* p = playing())
            p->pause();
    }
    void PlayPause() {
        if (Player* p = playing())
            p->togglePause();
    }
    // There is no stopped state that keeps the file open: stopping pauses at the start.
    void Stop() {
        if (Player* p = playing()) {
            p->pause();
            p->seekTo(0);
        }
    }
    void Seek(qlonglong offset) {
        if (Player* p = playing(); p && canSeek())
            p->seekBy(double(offset) / 1e6);
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        Player* p = playing();
        // A stale track or a place outside the file is ignored, as MPRIS asks.
        if (!p || !canSeek() || track != m_o->trackId() || position < 0 ||
            position > to_microseconds(p->duration()))
            return;
        p->seekTo(double(position) / 1e6);
    }
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    Player* playing() const { return m_o->hasFile() ? m_o->player() : nullptr; }
    MprisObject* m_o;
};

} // namespace

// Between the constructor and the thread that looks for the bus: the thread posts its result
// only while the integration still exists, and the destructor waits for no thread.
struct BusSearch {
    std::mutex mutex;
    DesktopIntegration* owner = nullptr;
};

struct DesktopIntegration::Impl {
    std::optional<QDBusConnection> bus;
    std::unique_ptr<ScreenSaverHold> screenSaver;
    std::unique_ptr<MprisObject> mpris;
    Window window;
    QString serviceName;
    QPointer<Player> player;
    std::shared_ptr<BusSearch> search;
};

DesktopIntegration::DesktopIntegration(Window window, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>()) {
    d->window = std::move(window);
    if (!session_bus_configured())
        return;
    // A bus that accepts and never answers would hold whoever connects for ever, and the bus
    // library waits for that connection at exit too: it is only used once it has answered.
    d->search = std::make_shared<BusSearch>();
    d->search->owner = this;
    std::thread([search = d->search] {
        if (!session_bus_answers(kCallTimeoutMs))
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        std::lock_guard lock(search->mutex);
        if (search->owner)
            QMetaObject::invokeMethod(
                search->owner, [owner = search->owner, bus] { owner->attach(bus); },
                Qt::QueuedConnection);
    }).detach();
}

void DesktopIntegration::attach(QDBusConnection bus) {
    d->bus = bus;
    d->screenSaver = std::make_unique<ScreenSaverHold>(bus);
    auto mpris = std::make_unique<MprisObject>(bus, d->window);
    new MprisRootAdaptor(mpris.get());
    new MprisPlayerAdaptor(mpris.get());
    // A second window of the same program finds the path taken and stays off the bus.
    if (bus.registerVirtualObject(kMprisPath, mpris.get(), QDBusConnection::SubPath)) {
        d->mpris = std::move(mpris);
        requestName(0);
    }
    Player* player = std::exchange(d->player, nullptr);
    setPlayer(player);
}

// A second program takes a name of its own, as MPRIS has it. Asked without waiting: the bus
// answered a moment ago, which says nothing about the next moment.
void DesktopIntegration::requestName(int attempt) {
    const QString name =
        attempt == 0
            ? kMprisName
            : kMprisName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    constexpr uint kDoNotQueue = 4;
    constexpr uint kPrimaryOwner = 1;
    request << name << kDoNotQueue;
    auto* pending = new QDBusPendingCallWatcher(d->bus->asyncCall(request, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, name, attempt](QDBusPendingCallWatcher* done) {
                done->deleteLater();
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isValid() && reply.value() == kPrimaryOwner)
                    d->serviceName = name;
                else if (attempt == 0)
                    requestName(1);
                else if (d->mpris) {
                    d->bus->unregisterObject(kMprisPath);
                    d->mpris.reset();
                }
            });
}

DesktopIntegration::~DesktopIntegration() {
    if (d->search) {
        std::lock_guard lock(d->search->mutex);
        d->search->owner = nullptr;
    }
    d->screenSaver.reset();
    if (d->mpris) {
        if (!d->serviceName.isEmpty())
            d->bus->unregisterService(d->serviceName);
        d->bus->unregisterObject(kMprisPath);
    }
}

void DesktopIntegration::setPlayer(Player* player) {
    if (d->player == player)
        return;
    if (d->player)
        disconnect(d->player, nullptr, this, nullptr);
    d->player = player;
    if (d->mpris)
        d->mpris->setPlayer(player);
    if (!player || !d->screenSaver)
        return;
    const auto follow = [this] {
        if (d->player && d->screenSaver)
            d->screenSaver->want(
                should_inhibit_screensaver(d->player->status(), d->player->hasVideo()));
    };
    connect(player, &Player::statusChanged, this, follow);
    connect(player, &Player::hasVideoChanged, this, follow);
    follow();
}

QString DesktopIntegration::mprisServiceName() const {
    return d->serviceName;
}

} // namespace movarin

#include "desktop_integration.moc"
