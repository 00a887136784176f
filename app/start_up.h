#pragma once

#include <QString>
#include <QStringList>

namespace movarin {

// libmpv refuses to start unless numbers are formatted the C way; call right after the
// QApplication exists (it adopts the user's locale).
void use_c_numeric_locale();

// The command tail: the arguments after the program name that Qt did not take, joined by
// single blanks and never split again, so an unquoted path with blanks arrives whole.
QString command_tail(const QStringList& arguments);
// The same from the raw arguments that QApplication left (it removes its own options), each
// taken byte for byte, so that a file name which is not valid UTF-8 survives.
QString command_tail(int argc, const char* const* argv);

} // namespace movarin
