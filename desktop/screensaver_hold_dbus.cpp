#include "desktop/screensaver_hold_dbus.h"

#include "desktop/session_bus.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace movarin {

namespace {

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                          kScreenSaverService, method);
}

} // namespace

DbusScreenSaverHold::~DbusScreenSaverHold() {
    m_wanted = false;
    if (m_pending) {
        QDBusPendingCallWatcher* pending = std::exchange(m_pending, nullptr);
        pending->waitForFinished();
        takeCookie(*pending);
        delete pending;
    }
    if (m_cookie)
        m_bus.call(call(QStringLiteral("UnInhibit")) << *std::exchange(m_cookie, {}), QDBus::Block,
                   kBusCallTimeoutMs);
}

void DbusScreenSaverHold::want(bool on) {
    if (on != m_wanted) {
        m_wanted = on;
        m_asked = false;
    }
    settle();
}

// A refusal is not asked again until the next time the screensaver is wanted off.
void DbusScreenSaverHold::settle() {
    if (m_pending)
        return; // settled when the answer comes
    if (m_wanted && !m_cookie && !m_asked) {
        m_asked = true;
        inhibit();
    } else if (!m_wanted && m_cookie) {
        m_bus.asyncCall(call(QStringLiteral("UnInhibit")) << *std::exchange(m_cookie, {}),
                        kBusCallTimeoutMs);
    }
}

void DbusScreenSaverHold::inhibit() {
    QDBusMessage message = call(QStringLiteral("Inhibit"));
    message << QCoreApplication::applicationName() << QStringLiteral("Playing a video");
    m_pending = new QDBusPendingCallWatcher(m_bus.asyncCall(message, kBusCallTimeoutMs), this);
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

void DbusScreenSaverHold::takeCookie(const QDBusPendingCall& call) {
    // No service, or one that refused: nothing is held and nothing needs saying.
    const QDBusPendingReply<uint> reply = call;
    if (reply.isValid())
        m_cookie = reply.value();
}

} // namespace movarin
