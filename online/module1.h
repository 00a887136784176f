#pragma once

#include <QNetworkInformation>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

// Process-wide helpers of the online services: the default browser and the connectivity test.
namespace movarin::Module1 {

// The separator that the browser's command line uses between directories.
#ifdef Q_OS_WIN
inline constexpr QChar kPathSeparator = u'\\';
#else
inline constexpr QChar kPathSeparator = u'/';
#endif

// The default browser's executable, kept once a lookup has found one. Only get_default_browser
// reads or writes it (tests empty it to start afresh).
extern QString browser_path;

// The command line the platform uses to open http addresses: the registry's http open
// command on Windows, the desktop's default http handler elsewhere. Empty when there is none.
QString browser_command_line();

// The default browser's executable, or empty text. A found path is cached for the process;
// a failed lookup is tried again on the next call. Failures of the source pass to the caller.
QString get_default_browser();
QString get_default_browser(const std::function<QString()>& commandLineSource);

// True when the machine counts as connected. Never throws; on any failure it says "not
// connected".
bool is_online() noexcept;

// What the network-information backend's reachability says; nothing when it does not know.
std::optional<bool> reachability_answer(QNetworkInformation::Reachability reachability);

struct InterfaceState {
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool hasAddress = false;
};

// The answer without a backend: some interface is up, running, not loopback and addressed.
bool any_interface_connected(const std::vector<InterfaceState>& interfaces);

} // namespace movarin::Module1

namespace movarin::online {

// Starts `program` detached with `argument` as its one argument. The outcome is not examined:
// a browser that fails to start is not the player's failure.
void start_program(const QString& program, const QString& argument);

} // namespace movarin::online
