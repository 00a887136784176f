#pragma once

#include "desktop/desktop_integration.h"
#include "engine/player.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <cstdint>
#include <initializer_list>

namespace movarin {

inline const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString kMprisName = QStringLiteral("org.mpris.MediaPlayer2.movarin");

// The name MPRIS gives a playback status.
QString mpris_playback_status(PlaybackStatus status);

// Microseconds, as MPRIS counts time; out-of-range and unknown values read 0.
std::int64_t to_microseconds(double seconds);

// What OpenUri plays: the local file an absolute file: URI names, its path byte for byte. Any
// other URI is refused with the D-Bus error `error` and a message that says why.
struct UriTarget {
    QByteArray path;
    QString error;
    QString message;
};
UriTarget local_file_of_uri(const QString& uri);

// The object at /org/mpris/MediaPlayer2, with its two interfaces (org.mpris.MediaPlayer2 and its
// .Player) as adaptors made with it. It sees every call first, as a virtual object does, only to
// refuse a LoopStatus that MPRIS does not define and a URI it cannot open: neither a property
// setter nor an adaptor's slot can answer with an error.
// Registered with SubPath, whose bit Qt also reads as ExportAdaptors, it hands everything else on
// to the adaptors.
class MprisObject : public QDBusVirtualObject {
public:
    MprisObject(QDBusConnection bus, DesktopIntegration::Window window);

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    Player* player() const { return m_player; }
    const DesktopIntegration::Window& window() const { return m_window; }
    PlayerState state() const { return m_player ? m_player->state() : PlayerState(); }
    bool hasFile() const { return !state().path.isEmpty(); }

    void setPlayer(Player* player);
    // The player has no stopped state that keeps its file: MPRIS's Stop pauses at the start and
    // reads "Stopped" until anything plays again, and Play then starts from the beginning.
    void stop();
    void play();
    bool stopped() const { return m_stopped && hasFile(); }
    // Announces the window's full screen to the desktop when it changed.
    void windowStateChanged();
    QDBusObjectPath trackId() const;
    QVariantMap metadata() const;
    // MPRIS's value for a property of the player interface, by name.
    QVariant playerProperty(const QString& name) const;

private:
    bool openUri(const QDBusMessage& message, const QDBusConnection& connection);
    bool refuseLoopStatus(const QDBusMessage& message, const QDBusConnection& connection);
    // A file the player opened before MPRIS joined counts as a track too.
    void followTrack();
    // Several changes at once (a new file) go out as one signal.
    void changed(std::initializer_list<const char*> names);
    void flush();

    QDBusConnection m_bus;
    DesktopIntegration::Window m_window;
    QPointer<Player> m_player;
    QString m_trackPath;
    quint64 m_track = 0;
    bool m_stopped = false;
    bool m_fullScreen = false;
    QSet<QString> m_changed;
    QTimer m_flush;
};

} // namespace movarin
