#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace movarin {

class DesktopIntegration;
class frmplayer;
struct PlayerSetup;

// libmpv refuses to start unless numbers are formatted the C way; call right after the
// QApplication exists (it adopts the user's locale).
void use_c_numeric_locale();

// The allocator as the program wants it; call first thing in main, before any thread starts.
// One arena for the whole process: the decoder, render and GUI threads would each get one of
// their own, and frame-sized blocks freed in one are never reused by another, which showed as
// several MiB of peak memory. And huge pages for large blocks (see large_blocks.h).
void set_up_allocator();

// A session bus that accepts and never answers would hold whoever connects to it for ever: Qt's
// menu bar and accessibility on the GUI thread, the engine's sound output probing, and the exit,
// which waits for the bus library's thread. Where the bus does not greet a client within half a
// second the program, and what it starts, goes without one. Call in main before any thread runs.
void leave_a_silent_session_bus();

// Lets the engine draw pictures through GL in a context of its own that the window's shares.
// Call before the QApplication is made; does nothing where software is asked for or where auto
// finds no GPU device, so that path loads no GL at start.
void allow_gl_video();

// The program's name, version, desktop entry and window icon, as the desktop shows them; call
// right after the QApplication exists.
void identify_application();

// Lets the desktop see and steer the window's player (MPRIS, the screensaver), from the first
// player the window creates on; owned by the window. Call before the window plays anything.
DesktopIntegration* attach_desktop(frmplayer& window);

// The window as the program starts it for a command tail: the file the tail names starts
// opening first, as that takes longer than building the window, then the window is built, takes
// over that engine and loads the tail. Call right after the QApplication exists and numbers are
// formatted the C way.
std::unique_ptr<frmplayer> start_player(const QString& commandTail, const PlayerSetup& setup);

// The command tail: the arguments after the program name, joined by single blanks and never
// split again, so an unquoted path with blanks arrives whole.
QString command_tail(const QStringList& arguments);
// The same from the raw arguments, each taken byte for byte, so that a file name which is not
// valid UTF-8 survives.
QString command_tail(int argc, const char* const* argv);

} // namespace movarin
