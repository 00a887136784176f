#pragma once

#include "online/browser_command.h"

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

// The default browser's executable, kept once a lookup has found one (with the arguments that
// go with it). Only get_default_browser reads or writes it (tests empty it to start afresh).
extern QString browser_path;

// How the platform opens http addresses: the registry's http open command on Windows (the
// address is then the program's one argument; default_browser_registry.cpp), the desktop's
// default http handler elsewhere (default_browser_xdg.cpp). An empty command line when there is
// none.
online::BrowserCommand browser_command_line();

// The default browser, or one with an empty program. A found browser is cached for the process;
// a failed lookup is tried again on the next call. Failures of the source pass to the caller.
online::Browser get_default_browser();
online::Browser get_default_browser(const std::function<online::BrowserCommand()>& source);

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

// Starts `program` detached with `arguments`, no shell in between. The outcome is not examined:
// a browser that fails to start is not the player's failure.
void start_program(const QString& program, const QStringList& arguments);

} // namespace movarin::online
