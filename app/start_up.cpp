#include "app/start_up.h"

#include "about/version.h"
#include "desktop/desktop_integration.h"
#include "desktop/session_bus.h"
#include "engine/large_blocks.h"
#include "engine/path_bytes.h"
#include "engine/video_engine.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"
#include "window/player_actions.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QIcon>

#include <clocale>
#include <utility>

namespace movarin {

void use_c_numeric_locale() {
    std::setlocale(LC_NUMERIC, "C");
}

void set_up_allocator() {
    large_blocks::keep_one_arena();
    large_blocks::use_huge_pages();
}

void leave_a_silent_session_bus() {
    if (session_bus_configured() && !session_bus_answers(500))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:"); // an address libdbus refuses at once
}

void allow_gl_video() {
    if (might_draw_with_gl())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

void identify_application() {
    QApplication::setApplicationName(QString::fromLatin1(about::kProductName));
    QApplication::setApplicationVersion(QString::fromLatin1(about::kVersionText));
    QApplication::setDesktopFileName(QStringLiteral("movarin"));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/movarin-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

namespace {

// Tells the desktop each time the window enters or leaves full screen, whoever asked for it.
class WindowStateWatch : public QObject {
public:
    explicit WindowStateWatch(DesktopIntegration* desktop) : QObject(desktop), m_desktop(desktop) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowStateChange)
            m_desktop->windowStateChanged();
        return QObject::eventFilter(watched, event);
    }

private:
    DesktopIntegration* m_desktop;
};

// As F does: through the window's own action, so the window decides how.
void set_full_screen(frmplayer& window, bool on) {
    PlayerActions* actions = window.player->controls()->actions();
    actions->sync();
    QAction* full = actions->action(PlayerAction::FullScreen);
    if (full->isEnabled() && full->isChecked() != on)
        full->trigger();
}

} // namespace

DesktopIntegration* attach_desktop(frmplayer& window) {
    DesktopIntegration::Window seen;
    seen.raise = [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    };
    seen.quit = [&window] { window.close(); };
    seen.open = [&window](const QByteArray& path) {
        window.openFile(std::string(path.constData(), std::size_t(path.size())));
    };
    seen.fullScreen = [&window] { return window.isFullScreen(); };
    seen.setFullScreen = [&window](bool on) { set_full_screen(window, on); };
    auto* desktop = new DesktopIntegration(std::move(seen), &window);
    QObject::connect(window.player, &PlaybackHost::playerCreated, desktop,
                     &DesktopIntegration::setPlayer);
    window.installEventFilter(new WindowStateWatch(desktop));
    return desktop;
}

std::unique_ptr<frmplayer> start_player(const QString& commandTail, const PlayerSetup& setup) {
    EarlyEngine early = start_engine_early(commandTail, setup.engineOptions);
    identify_application();
    auto window = std::make_unique<frmplayer>(setup);
    attach_desktop(*window);
    window->player->adoptEngine(std::move(early));
    window->Form_Load(commandTail);
    return window;
}

QString command_tail(const QStringList& arguments) {
    return arguments.mid(1).join(u' ');
}

QString command_tail(int argc, const char* const* argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    return from_path_bytes(tail);
}

} // namespace movarin
