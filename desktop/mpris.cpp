#include "desktop/mpris.h"

#include "desktop/mime_types.h"

#include <QDBusAbstractAdaptor>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QUrl>

#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

namespace movarin {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

bool is_call(const QDBusMessage& message, const QString& interface, const char* member,
             qsizetype arguments) {
    return (message.interface() == interface || message.interface().isEmpty()) &&
           message.member() == QLatin1String(member) && message.arguments().size() == arguments;
}

} // namespace

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

UriTarget local_file_of_uri(const QString& uri) {
    const QUrl url(uri, QUrl::StrictMode);
    // MPRIS hands over URIs only: a bare path is refused, not guessed at.
    if (!url.isValid() || url.scheme().isEmpty())
        return {{},
                QDBusError::errorString(QDBusError::InvalidArgs),
                QStringLiteral("Not a URI: %1").arg(uri)};
    if (url.scheme() != QLatin1String("file"))
        return {{},
                QDBusError::errorString(QDBusError::NotSupported),
                QStringLiteral("Only file: URIs open here, not %1").arg(uri)};
    // Bytes, not text: a file name need not be valid UTF-8.
    const QByteArray path =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const bool local = url.host().isEmpty() || url.host() == QLatin1String("localhost");
    if (!local || !path.startsWith('/') || path.contains('\0') || url.hasQuery() ||
        url.hasFragment())
        return {{},
                QDBusError::errorString(QDBusError::InvalidArgs),
                QStringLiteral("Not a file on this machine: %1").arg(uri)};
    return {path, {}, {}};
}

namespace {

class MprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(bool Fullscreen READ fullScreen WRITE setFullScreen)
    Q_PROPERTY(bool CanSetFullscreen READ canSetFullScreen)
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
    QStringList mimeTypes() const {
        QStringList types;
        for (const char* type : kSupportedMimeTypes)
            types << QString::fromLatin1(type);
        return types;
    }
    bool fullScreen() const { return m_o->window().fullScreen && m_o->window().fullScreen(); }
    bool canSetFullScreen() const { return bool(m_o->window().setFullScreen); }
    void setFullScreen(bool on) {
        if (m_o->window().setFullScreen)
            m_o->window().setFullScreen(on);
    }

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
    void Play() { m_o->play(); }
    void Pause() {
        if (Player* p = playing())
            p->pause();
    }
    void PlayPause() {
        if (m_o->stopped())
            m_o->play();
        else if (Player* p = playing())
            p->togglePause();
    }
    void Stop() { m_o->stop(); }
    void Seek(qlonglong offset) {
        Player* p = playing();
        // Past the end MPRIS means the next track, and there is none.
        if (!p || !canSeek() || to_microseconds(p->position()) + offset > position_limit(p))
            return;
        p->seekBy(double(offset) / 1e6);
    }
    void SetPosition(const QDBusObjectPath& track, qlonglong position) {
        Player* p = playing();
        // A stale track or a place outside the file is ignored, as MPRIS asks.
        if (!p || !canSeek() || track != m_o->trackId() || position < 0 ||
            position > position_limit(p))
            return;
        p->seekTo(double(position) / 1e6);
    }
    // Only reached with a URI that MprisObject has checked and opened.
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong position);

private:
    Player* playing() const { return m_o->hasFile() ? m_o->player() : nullptr; }
    static qlonglong position_limit(const Player* p) { return to_microseconds(p->duration()); }
    MprisObject* m_o;
};

} // namespace

MprisObject::MprisObject(QDBusConnection bus, DesktopIntegration::Window window)
    : m_bus(std::move(bus)), m_window(std::move(window)) {
    m_fullScreen = m_window.fullScreen && m_window.fullScreen();
    m_flush.setSingleShot(true);
    connect(&m_flush, &QTimer::timeout, this, [this] { flush(); });
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

bool MprisObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (is_call(message, kPlayerInterface, "OpenUri", 1))
        return openUri(message, connection);
    return refuseLoopStatus(message, connection);
}

bool MprisObject::openUri(const QDBusMessage& message, const QDBusConnection& connection) {
    const QVariant argument = message.arguments().constFirst();
    if (argument.metaType() != QMetaType::fromType<QString>())
        return false;
    UriTarget target = local_file_of_uri(argument.toString());
    std::error_code unreadable;
    if (target.error.isEmpty() && !std::filesystem::exists(target.path.toStdString(), unreadable))
        target = {{},
                  QStringLiteral("org.freedesktop.DBus.Error.FileNotFound"),
                  QStringLiteral("No such file: %1").arg(argument.toString())};
    if (target.error.isEmpty() && !m_window.open)
        target = {{},
                  QDBusError::errorString(QDBusError::NotSupported),
                  QStringLiteral("There is no window to play it in")};
    if (!target.error.isEmpty()) {
        connection.send(message.createErrorReply(target.error, target.message));
        return true;
    }
    m_window.open(target.path);
    connection.send(message.createReply());
    return true;
}

bool MprisObject::refuseLoopStatus(const QDBusMessage& message, const QDBusConnection& connection) {
    const QVariantList args = message.arguments();
    if (message.interface() != kPropertiesInterface || message.member() != QLatin1String("Set") ||
        args.size() != 3 ||
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

void MprisObject::setPlayer(Player* player) {
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    if (!player)
        return;
    connect(player, &Player::statusChanged, this, [this](PlaybackStatus status) {
        if (status == PlaybackStatus::Playing)
            m_stopped = false;
        changed({"PlaybackStatus", "CanPlay", "CanPause", "CanSeek"});
    });
    connect(player, &Player::mediaChanged, this, [this] {
        followTrack();
        changed({"Metadata", "CanPlay", "CanPause", "CanSeek", "PlaybackStatus"});
    });
    connect(player, &Player::durationChanged, this, [this] { changed({"Metadata", "CanSeek"}); });
    connect(player, &Player::volumeChanged, this, [this] { changed({"Volume"}); });
    connect(player, &Player::loopingChanged, this, [this] { changed({"LoopStatus"}); });
    connect(player, &Player::seeked, this, [this](double seconds) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kMprisPath, kPlayerInterface, QStringLiteral("Seeked"));
        signal << qlonglong(to_microseconds(seconds));
        m_bus.send(signal);
    });
    followTrack();
    changed(
        {"PlaybackStatus", "Metadata", "Volume", "LoopStatus", "CanPlay", "CanPause", "CanSeek"});
}

void MprisObject::followTrack() {
    if (state().path.isEmpty() || state().path == m_trackPath)
        return;
    m_trackPath = state().path;
    ++m_track;
    // A new file is not stopped, whatever the last one was.
    m_stopped = false;
}

void MprisObject::stop() {
    if (!hasFile())
        return;
    m_player->pause();
    m_player->seekTo(0);
    m_stopped = true;
    changed({"PlaybackStatus"});
}

void MprisObject::play() {
    if (!hasFile())
        return;
    if (stopped())
        m_player->seekTo(0);
    m_player->play();
}

void MprisObject::windowStateChanged() {
    const bool full = m_window.fullScreen && m_window.fullScreen();
    if (full == m_fullScreen)
        return;
    m_fullScreen = full;
    QDBusMessage signal = QDBusMessage::createSignal(kMprisPath, kPropertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << kRootInterface << QVariantMap{{QStringLiteral("Fullscreen"), full}} << QStringList();
    m_bus.send(signal);
}

QDBusObjectPath MprisObject::trackId() const {
    if (!hasFile() || m_track == 0)
        return QDBusObjectPath(kNoTrack);
    return QDBusObjectPath(QStringLiteral("/org/movarin/track/%1").arg(m_track));
}

QVariantMap MprisObject::metadata() const {
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

QVariant MprisObject::playerProperty(const QString& name) const {
    const PlayerState s = state();
    if (name == "PlaybackStatus")
        return mpris_playback_status(stopped() ? PlaybackStatus::Stopped : s.status());
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

void MprisObject::changed(std::initializer_list<const char*> names) {
    for (const char* name : names)
        m_changed.insert(QString::fromLatin1(name));
    if (!m_flush.isActive())
        m_flush.start(0);
}

void MprisObject::flush() {
    QVariantMap values;
    for (const QString& name : std::as_const(m_changed))
        values.insert(name, playerProperty(name));
    m_changed.clear();
    QDBusMessage signal = QDBusMessage::createSignal(kMprisPath, kPropertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << values << QStringList();
    m_bus.send(signal);
}

} // namespace movarin

#include "mpris.moc"
