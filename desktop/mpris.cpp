#include "desktop/mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QUrl>

#include <cmath>
#include <utility>

namespace movarin {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

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

namespace {

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

MprisObject::MprisObject(QDBusConnection bus, DesktopIntegration::Window window)
    : m_bus(std::move(bus)), m_window(std::move(window)) {
    m_flush.setSingleShot(true);
    connect(&m_flush, &QTimer::timeout, this, [this] { flush(); });
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

bool MprisObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
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

void MprisObject::setPlayer(Player* player) {
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
    connect(player, &Player::durationChanged, this, [this] { changed({"Metadata", "CanSeek"}); });
    connect(player, &Player::volumeChanged, this, [this] { changed({"Volume"}); });
    connect(player, &Player::loopingChanged, this, [this] { changed({"LoopStatus"}); });
    connect(player, &Player::seeked, this, [this](double seconds) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kMprisPath, kPlayerInterface, QStringLiteral("Seeked"));
        signal << qlonglong(to_microseconds(seconds));
        m_bus.send(signal);
    });
    changed(
        {"PlaybackStatus", "Metadata", "Volume", "LoopStatus", "CanPlay", "CanPause", "CanSeek"});
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
    QDBusMessage signal =
        QDBusMessage::createSignal(kMprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << values << QStringList();
    m_bus.send(signal);
}

} // namespace movarin

#include "mpris.moc"
