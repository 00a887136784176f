#include "desktop/screensaver_hold.h"

namespace movarin {

bool should_inhibit_screensaver(PlaybackStatus status, bool hasVideo) {
    return status == PlaybackStatus::Playing && hasVideo;
}

void hold_while_picture_moves(Player* player, QObject* context,
                              std::function<ScreenSaverHold*()> hold) {
    const auto follow = [player, hold = std::move(hold)] {
        if (ScreenSaverHold* held = hold())
            held->want(should_inhibit_screensaver(player->status(), player->hasVideo()));
    };
    QObject::connect(player, &Player::statusChanged, context, follow);
    QObject::connect(player, &Player::hasVideoChanged, context, follow);
    follow();
}

} // namespace movarin
