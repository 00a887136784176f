#include "desktop/desktop_integration.h"

#include "desktop/mpris.h"
#include "desktop/screensaver_hold_dbus.h"
#include "desktop/session_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

#include <mutex>
#include <optional>
#include <thread>

namespace movarin {

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
        if (!session_bus_answers(kBusCallTimeoutMs))
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
    d->screenSaver = std::make_unique<DbusScreenSaverHold>(bus);
    auto mpris = std::make_unique<MprisObject>(bus, d->window);
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
    auto* pending =
        new QDBusPendingCallWatcher(d->bus->asyncCall(request, kBusCallTimeoutMs), this);
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
    hold_while_picture_moves(player, this, [this] { return d->screenSaver.get(); });
}

QString DesktopIntegration::mprisServiceName() const {
    return d->serviceName;
}

void DesktopIntegration::windowStateChanged() {
    if (d->mpris)
        d->mpris->windowStateChanged();
}

} // namespace movarin
