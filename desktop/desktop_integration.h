#pragma once

#include "engine/player.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QDBusConnection;

namespace movarin {

// What the desktop sees of the player. On Linux, over the session bus: the MPRIS2 interfaces
// (org.mpris.MediaPlayer2.movarin) for media keys and desktop widgets, and the screensaver held
// off while a video plays. Without a session bus, or without a screensaver service on it, it
// does nothing and says nothing. The bus is looked for off the GUI thread: a bus that does not
// answer delays nothing, and MPRIS joins when it does. On Windows the screensaver and the
// display's sleep are held off while a video plays, and there is no MPRIS.
class DesktopIntegration : public QObject {
    Q_OBJECT
public:
    struct Window {
        std::function<void()> raise;
        std::function<void()> quit;
        // Plays a local file as File > Open does; the path byte for byte.
        std::function<void(const QByteArray& path)> open;
        std::function<bool()> fullScreen;
        std::function<void(bool on)> setFullScreen;
    };
    explicit DesktopIntegration(Window window, QObject* parent = nullptr);
    // Releases the screensaver and leaves the bus.
    ~DesktopIntegration() override;

    // Starts following `player`; until then the desktop sees a stopped player with no file.
    void setPlayer(Player* player);

    // The bus name taken for MPRIS; empty when none could be, and on Windows.
    QString mprisServiceName() const;

    // The window entered or left full screen.
    void windowStateChanged();

private:
    // The session bus's: once it has answered, MPRIS and the screensaver hold join.
    void attach(QDBusConnection bus);
    void requestName(int attempt);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace movarin
