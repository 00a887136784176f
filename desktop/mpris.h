#pragma once

#include "desktop/desktop_integration.h"
#include "engine/player.h"

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

// The object at /org/mpris/MediaPlayer2, with its two interfaces (org.mpris.MediaPlayer2 and its
// .Player) as adaptors made with it. It sees every call first, as a virtual object does, only to
// refuse a LoopStatus that MPRIS does not define: a property setter cannot answer with an error.
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
    QDBusObjectPath trackId() const;
    QVariantMap metadata() const;
    // MPRIS's value for a property of the player interface, by name.
    QVariant playerProperty(const QString& name) const;

private:
    // Several changes at once (a new file) go out as one signal.
    void changed(std::initializer_list<const char*> names);
    void flush();

    QDBusConnection m_bus;
    DesktopIntegration::Window m_window;
    QPointer<Player> m_player;
    QString m_trackPath;
    quint64 m_track = 0;
    QSet<QString> m_changed;
    QTimer m_flush;
};

} // namespace movarin
