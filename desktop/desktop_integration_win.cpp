#include "desktop/desktop_integration.h"

#include "desktop/screensaver_hold_win.h"

#include <QPointer>

namespace movarin {

struct DesktopIntegration::Impl {
    ExecutionStateHold hold;
    QPointer<Player> player;
};

DesktopIntegration::DesktopIntegration(Window, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>()) {}

DesktopIntegration::~DesktopIntegration() = default;

void DesktopIntegration::setPlayer(Player* player) {
    if (d->player == player)
        return;
    if (d->player)
        disconnect(d->player, nullptr, this, nullptr);
    d->player = player;
    if (!player) {
        d->hold.want(false);
        return;
    }
    hold_while_picture_moves(player, this, [this] { return &d->hold; });
}

QString DesktopIntegration::mprisServiceName() const {
    return {};
}

// Nobody on Windows is told of full screen: there is no MPRIS there.
void DesktopIntegration::windowStateChanged() {}

} // namespace movarin
