#pragma once

#include "window/player_view.h"

#include <QObject>
#include <QPointer>
#include <Qt>

#include <span>
#include <vector>

class QAction;
class QMenu;

namespace movarin {

class Player;

enum class PlayerAction {
    None,
    TogglePause,
    SeekBack,
    SeekForward,
    VolumeUp,
    VolumeDown,
    ToggleMute,
    ToStart,
    Play,
    Loop,
    Rewind,
    Forward,
    Back,
    FullScreen,
    LeaveFullScreen
};

// Every player action: how it is reached and what it does.
struct PlayerActionRow {
    PlayerAction id;
    // The QAction's object name.
    const char* name;
    // Its entry in the right-click menu, which lists the entries in the table's order; null when
    // it has none.
    const char* menuText;
    bool separatorBefore;
    // A Qt key pressed alone; 0 when none.
    int key;
    // Whether a held key acts again: a held Space or M would flicker.
    bool repeats;
    bool checkable;
    // What it does to the player; null for the view's actions.
    void (*act)(Player& player, bool checked);
    // A second key for the same action; 0 when none.
    int otherKey = 0;
    // What it does to the view; null for the player's actions.
    void (*viewAct)(PlayerView& view, bool checked) = nullptr;
};
std::span<const PlayerActionRow> player_action_table();

// Which action a key press stands for. Keys with Ctrl, Alt or Meta belong to the menu bar and its
// shortcuts; with Shift they are left alone as well.
PlayerAction key_action(int qtKey, bool ctrlAltOrMeta, bool shift, bool autoRepeat);

// The table's actions, acting on one player and one view; each is disabled while what it acts on
// is missing, and leaving full screen while the view is not.
class PlayerActions : public QObject {
    Q_OBJECT
public:
    explicit PlayerActions(QObject* parent = nullptr);

    void setPlayer(Player* player);
    Player* player() const { return m_player; }
    void setView(PlayerView* view);

    QAction* action(PlayerAction id) const;
    void addMenuEntriesTo(QMenu* menu) const;
    // Triggers the action a key press stands for; false when it stands for none or nothing plays.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat);
    // Sets the marks and the enabled state from what the player last reported.
    void sync();

private:
    QPointer<Player> m_player;
    PlayerView* m_view = nullptr;
    std::vector<QAction*> m_actions; // in the table's order
};

} // namespace movarin
