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
    // F, F11 or a double-click on the picture; the same key or Escape leaves.
    {PlayerAction::FullScreen, "fullScreen", "Full Screen", true, Qt::Key_F, false, true, nullptr,
     Qt::Key_F11, [](PlayerView& v, bool checked) { v.setFullScreen(checked); }},
    {PlayerAction::LeaveFullScreen, "leaveFullScreen", nullptr, false, Qt::Key_Escape, false, false,
     nullptr, 0, [](PlayerView& v, bool) { v.setFullScreen(false); }},
};

} // namespace

std::span<const PlayerActionRow> player_action_table() {
    return kTable;
}

PlayerAction key_action(int qtKey, bool ctrlAltOrMeta, bool shift, bool autoRepeat) {
    if (ctrlAltOrMeta || shift || qtKey == 0)
        return PlayerAction::None;
    for (const PlayerActionRow& row : kTable)
        if (row.key == qtKey || (row.otherKey != 0 && row.otherKey == qtKey))
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
        connect(action, &QAction::triggered, this, [this, &row](bool checked) {
            if (row.act && m_player)
                row.act(*m_player, checked);
            if (row.viewAct && m_view)
                row.viewAct(*m_view, checked);
            sync(); // the player's report and the view set the marks
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

void PlayerActions::setView(PlayerView* view) {
    m_view = view;
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
    if (id == PlayerAction::None)
        return false;
    sync();
    QAction* a = action(id);
    // Escape outside full screen is anybody else's.
    if (!a->isEnabled())
        return false;
    a->trigger();
    return true;
}

void PlayerActions::sync() {
    for (std::size_t i = 0; i < m_actions.size(); ++i)
        m_actions[i]->setEnabled(kTable[i].act ? bool(m_player) : m_view != nullptr);
    const bool full = m_view && m_view->fullScreen();
    action(PlayerAction::FullScreen)->setChecked(full);
    action(PlayerAction::LeaveFullScreen)->setEnabled(full);
    const bool playing = m_player && m_player->status() == PlaybackStatus::Playing;
    action(PlayerAction::Play)->setChecked(playing);
    action(PlayerAction::Loop)->setChecked(m_player ? m_player->looping() : true);
}

} // namespace movarin
