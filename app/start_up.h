#pragma once

#include <QString>
#include <QStringList>

namespace movarin {

// libmpv refuses to start unless numbers are formatted the C way; call right after the
// QApplication exists (it adopts the user's locale).
void use_c_numeric_locale();

// One allocator arena for the whole process; call first thing in main, before any thread starts.
// The decoder, render and GUI threads would each get an arena of their own, and frame-sized
// blocks freed in one are never reused by another, which showed as several MiB of peak memory.
void use_one_allocator_arena();

// The program's name, version, desktop entry and window icon, as the desktop shows them; call
// right after the QApplication exists.
void identify_application();

// The command tail: the arguments after the program name that Qt did not take, joined by
// single blanks and never split again, so an unquoted path with blanks arrives whole.
QString command_tail(const QStringList& arguments);
// The same from the raw arguments that QApplication left (it removes its own options), each
// taken byte for byte, so that a file name which is not valid UTF-8 survives.
QString command_tail(int argc, const char* const* argv);

} // namespace movarin
