#include "engine/player.h"

#include <utility>

namespace movarin {

void Player::report(const PlayerState& next) {
    if (next == m_state)
        return;
    const PlayerState old = std::exchange(m_state, next);
    // Listeners read the whole new state, whichever signal they follow.
    if (old.status() != next.status())
        emit statusChanged(next.status());
    if (old.position != next.position)
        emit positionChanged(next.position);
    if (old.duration != next.duration)
        emit durationChanged(next.duration);
    if (old.volume != next.volume)
        emit volumeChanged(next.volume);
    if (old.muted != next.muted)
        emit mutedChanged(next.muted);
    if (old.looping != next.looping)
        emit loopingChanged(next.looping);
    if (old.hasVideo != next.hasVideo)
        emit hasVideoChanged(next.hasVideo);
    if (old.path != next.path || old.title != next.title)
        emit mediaChanged();
    emit stateChanged();
}

} // namespace movarin
