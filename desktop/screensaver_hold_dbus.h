#pragma once

#include "desktop/screensaver_hold.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>

class QDBusPendingCall;
class QDBusPendingCallWatcher;

namespace movarin {

// Holds the desktop's screensaver (org.freedesktop.ScreenSaver) off while wanted. Calls never
// wait on the GUI thread, except the last release, so that it reaches the bus before the program
// ends. Without the service, or with one that refuses, it holds nothing and says nothing.
class DbusScreenSaverHold : public ScreenSaverHold {
public:
    explicit DbusScreenSaverHold(QDBusConnection bus) : m_bus(std::move(bus)) {}
    ~DbusScreenSaverHold() override;

    void want(bool on) override;

private:
    void settle();
    void inhibit();
    void takeCookie(const QDBusPendingCall& call);

    QDBusConnection m_bus;
    bool m_wanted = false;
    bool m_asked = false;
    std::optional<uint> m_cookie;
    QDBusPendingCallWatcher* m_pending = nullptr;
};

} // namespace movarin
