#include "window/player_actions.h"

#include "engine/player.h"
#include "window/control_bar_state.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace movarin {

namespace {

using controls::kKeySeekSeconds;
using controls::kMenuSeekSeconds;
using controls::kVolumeStep;

const PlayerActionRow kTable[] = {
    // id, name, menu entry, separator before, key, repeats, checkable, what it does
    {PlayerAction::Play, "play", "Play", false, 0, false, true,
     [](Player& p, bool checked) { checked ? p.play() : p.pause(); }},
    {PlayerAction::Loop, "loop", "Loop", false, 0, false, true,
     [](Player& p, bool checked) { p.setLooping(checked); }},
    {PlayerAction::Rewind, "rewind", "Rewind", true, 0, false, false,
     [](Player& p, bool) { p.seekTo(0); }},
    {PlayerAction::Forward, "forward", "Forward", false, 0, false, false,
     [](Player& p, bool) { p.seekBy(kMenuSeekSeconds); }},
    {PlayerAction::Back, "back", "Back", false, 0, false, false,
     [](Player& p, bool) { p.seekBy(-kMenuSeekSeconds); }},
    {PlayerAction::TogglePause, "togglePause", nullptr, false, Qt::Key_Space, false, false,
     [](Player& p, bool) { p.togglePause(); }},
    {PlayerAction::SeekBack, "seekBack", nullptr, false, Qt::Key_Left, true, false,
     [](Player& p, bool) { p.seekBy(-kKeySeekSeconds); }},
    {PlayerAction::SeekForward, "seekForward", nullptr, false, Qt::Key_Right, true, false,
     [](Player& p, bool) { p.seekBy(kKeySeekSeconds); }},
    {PlayerAction::VolumeUp, "volumeUp", nullptr, false, Qt::Key_Up, true, false,
     [](Player& p, bool) { p.changeVolume(kVolumeStep); }},
    {PlayerAction::VolumeDown, "volumeDown", nullptr, false, Qt::Key_Down, true, false,
     [](Player& p, bool) { p.changeVolume(-kVolumeStep); }},
    {PlayerAction::ToggleMute, "toggleMute", nullptr, false, Qt::Key_M, false, false,
     [](Player& p, bool) { p.toggleMute(); }},
    {PlayerAction::ToStart, "toStart", nullptr, false, Qt::Key_Home, false, false,
     [](Player& p, bool) { p.seekTo(0); }},
};

} // namespace

std::span<const PlayerActionRow> player_action_table() {
    return kTable;
}

PlayerAction key_action(int qtKey, bool ctrlAltOrMeta, bool shift, bool autoRepeat) {
    if (ctrlAltOrMeta || shift || qtKey == 0)
        return PlayerAction::None;
    for (const PlayerActionRow& row : kTable)
        if (row.key == qtKey)
            return autoRepeat && !row.repeats ? PlayerAction::None : row.id;
    return PlayerAction::None;
}

PlayerActions::PlayerActions(QObject* parent) : QObject(parent) {
    for (const PlayerActionRow& row : kTable) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(row.name));
        if (row.menuText)
            action->setText(QString::fromLatin1(row.menuText));
        action->setCheckable(row.checkable);
        // Keys reach the actions through handleKey, never as shortcuts: the menu bar's own keys
        // must win, and the menu shows no key texts.
        connect(action, &QAction::triggered, this, [this, act = row.act](bool checked) {
            if (m_player)
                act(*m_player, checked);
            sync(); // the player's report sets the marks
        });
        m_actions.push_back(action);
    }
    sync();
}

void PlayerActions::setPlayer(Player* player) {
    if (m_player == player)
        return;
    if (m_player)
        disconnect(m_player, nullptr, this, nullptr);
    m_player = player;
    if (player)
        connect(player, &Player::stateChanged, this, &PlayerActions::sync);
    sync();
}

QAction* PlayerActions::action(PlayerAction id) const {
    for (std::size_t i = 0; i < m_actions.size(); ++i)
        if (kTable[i].id == id)
            return m_actions[i];
    return nullptr;
}

void PlayerActions::addMenuEntriesTo(QMenu* menu) const {
    for (std::size_t i = 0; i < m_actions.size(); ++i) {
        if (!kTable[i].menuText)
            continue;
        if (kTable[i].separatorBefore)
            menu->addSeparator();
        menu->addAction(m_actions[i]);
    }
}

bool PlayerActions::handleKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat) {
    const PlayerAction id =
        key_action(key, modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier),
                   modifiers & Qt::ShiftModifier, autoRepeat);
    if (id == PlayerAction::None || !m_player)
        return false;
    action(id)->trigger();
    return true;
}

void PlayerActions::sync() {
    for (QAction* a : m_actions)
        a->setEnabled(m_player);
    const bool playing = m_player && m_player->status() == PlaybackStatus::Playing;
    action(PlayerAction::Play)->setChecked(playing);
    action(PlayerAction::Loop)->setChecked(m_player ? m_player->looping() : true);
}

} // namespace movarin
