#pragma once

#include "log/error_log.h"
#include "online/update_check.h"
#include "window/twips.h"

#include <QMainWindow>
#include <QMargins>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QAction;
class QMenu;

namespace movarin {

class PlaybackHost;
class FullView;

// What the window takes from its surroundings; tests replace any of it.
struct PlayerSetup {
    // The directory that holds the executable, with the platform's own separators.
    QString appDir;
    // Twips per pixel; 0 means the screen's (1440 / logical DPI).
    double twipsPerPixelX = 0;
    double twipsPerPixelY = 0;
    // Extra engine options, "name=value" (tests use noSoundOptions()).
    QStringList engineOptions;
    // Asks the user for a file; returns an empty string on Cancel.
    std::function<QString(QWidget* parent)> chooseFile;
    // How Update and View Website reach outside; members left empty are the real ones.
    online::OnlineSeams online;
    // Scheme and host of the update service; empty means the maker's server.
    QString updateServiceBase;
};

// The program's main window: a menu bar over the playback host.
class frmplayer : public QMainWindow {
    Q_OBJECT
public:
    explicit frmplayer(PlayerSetup setup, QWidget* parent = nullptr);
    ~frmplayer() override;

    // Runs once before the window is first shown.
    void Form_Load(const QString& commandTail);
    void play_file(const QString& filename);
    // Plays a file chosen elsewhere (the desktop's OpenUri) as File > Open plays the one chosen
    // there; the path byte for byte, taken as it is.
    void openFile(const std::string& path);
    void write_log(std::string_view text) const;

    // Position and size in twips, frame and menu bar included. The position is where the frame
    // stands now: the user may have moved it since the program last placed it.
    float Left() const { return placed().left; }
    float Top() const { return placed().top; }
    float Width() const { return m_twips.width; }
    float Height() const { return m_twips.height; }
    void setLeft(float twips);
    void setTop(float twips);
    void setWidth(float twips);
    void setHeight(float twips);
    double twipsPerPixelX() const { return m_tppX; }
    double twipsPerPixelY() const { return m_tppY; }
    const online::UpdateCheck& updateCheck() const { return *m_update; }

    // The video area (see "Inherited names" in the README).
    PlaybackHost* player = nullptr;
    // Storage for texts only: the last reported width and height, and the last chosen path.
    QString Text1 = QStringLiteral("Text1");
    QString Text2 = QStringLiteral("Text2");
    QString txtfile;

    QMenu* mnuFile = nullptr;
    QAction* mnuopen = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuabout = nullptr;
    QAction* mnuupdate = nullptr;
    QAction* mnuwebsite = nullptr;

public slots:
    void mnuopen_Click();
    void mnuExit_Click();
    void mnuabout_Click();
    void mnuupdate_Click();
    void mnuwebsite_Click();
    void player_FSCommand(const QString& command, const QString& args);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenu();
    void applyGeometry();
    void placeWindow();
    void moveHome();
    twips::WindowTwips placed() const;
    // The frame around the window as the window system reports it now.
    QMargins windowFrame() const;
    // Watches, for a while, for the frame the window manager puts around the window; once it is
    // known the frame is put where the twips say, and with `refit` the video fitted again to
    // the room the frame leaves.
    void settleWhenFramed(bool refit);
    void trySettle();
    void refitToTexts();
    void restoreAfterFullView(std::optional<QPoint> frame);
    log::LogWriter logWriter() const;
    QString addressFor(const std::string& videoPath) const;

    PlayerSetup m_setup;
    double m_tppX = 15;
    double m_tppY = 15;
    twips::WindowTwips m_twips;
    // The frame has been put where the twips say once the window manager framed it; from then on
    // a frame standing elsewhere was moved by the user.
    bool m_settled = false;
    bool m_settleRefit = false;
    bool m_exposed = false;
    int m_settleTicks = 0;
    int m_framedTicks = 0;
    int m_resizedTicks = 0;
    // The frame's top-left edges when the window was last placed, and what this window manager
    // needs taken off the place asked for (some read it as the frame's, not the inner area's).
    twips::PixelPoint m_placedWith;
    twips::PixelPoint m_placeShift;
    QTimer m_settleTimer;
    QWidget* m_videoArea = nullptr;
    FullView* m_fullView = nullptr;
    online::OnlineSeams m_online;
    std::unique_ptr<online::UpdateCheck> m_update;
};

} // namespace movarin
