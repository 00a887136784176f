#include "engine/engine_log.h"

#include <string_view>

namespace movarin {

Q_LOGGING_CATEGORY(lcEngine, "movarin.engine", QtFatalMsg)

namespace detail {

const char* engine_log_level() {
    return lcEngine().isWarningEnabled() || lcEngine().isCriticalEnabled() ? "warn" : "no";
}

void engine_log_message(const char* level, const char* prefix, const char* text) {
    std::string_view line = text ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    const QString message =
        QStringLiteral("[%1] %2").arg(QString::fromUtf8(prefix ? prefix : ""),
                                      QString::fromUtf8(line.data(), qsizetype(line.size())));
    const std::string_view kind = level ? level : "";
    if (kind == "fatal" || kind == "error")
        qCCritical(lcEngine).noquote() << message;
    else
        qCWarning(lcEngine).noquote() << message;
}

} // namespace detail
} // namespace movarin
