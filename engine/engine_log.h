#pragma once

#include <QLoggingCategory>

namespace movarin {

// The engine's own log messages, warnings and worse, for finding out why a real file misbehaves:
// off unless QT_LOGGING_RULES turns it on ("movarin.engine=true"). Never written to log.txt,
// which holds only what the program itself traps.
Q_DECLARE_LOGGING_CATEGORY(lcEngine)

namespace detail {
// The level to ask the engine for: "warn" while the category would show anything, else "no",
// so that nothing is formatted for nobody.
const char* engine_log_level();
// One engine message, as the engine's level word, module prefix and text give it.
void engine_log_message(const char* level, const char* prefix, const char* text);
} // namespace detail

} // namespace movarin
