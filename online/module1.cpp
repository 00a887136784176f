#include "online/module1.h"

#include "online/browser_command.h"

#include <QNetworkInterface>
#include <QProcess>

namespace movarin::Module1 {

QString browser_path;

namespace {
// What belongs with browser_path; read only while browser_path is set.
online::Browser found_browser;
} // namespace

online::Browser get_default_browser() {
    return get_default_browser(browser_command_line);
}

online::Browser get_default_browser(const std::function<online::BrowserCommand()>& source) {
    if (!browser_path.isEmpty() && found_browser.program == browser_path)
        return found_browser;
    const online::BrowserCommand command = source();
    browser_path = online::executable_from_command(command.commandLine, kPathSeparator);
    found_browser = online::Browser(browser_path);
    found_browser.arguments = command.arguments;
    found_browser.fields = command.fields;
    return found_browser;
}

std::optional<bool> reachability_answer(QNetworkInformation::Reachability reachability) {
    using R = QNetworkInformation::Reachability;
    switch (reachability) {
    case R::Online:
    case R::Site:
        return true;
    case R::Disconnected:
    case R::Local:
        return false;
    case R::Unknown:
        break;
    }
    return std::nullopt;
}

bool any_interface_connected(const std::vector<InterfaceState>& interfaces) {
    for (const InterfaceState& state : interfaces) {
        if (state.up && state.running && !state.loopback && state.hasAddress)
            return true;
    }
    return false;
}

bool is_online() noexcept {
    try {
        // The backend is loaded once per process; later calls reuse it.
        if (QNetworkInformation::instance() || QNetworkInformation::loadBackendByFeatures(
                                                   QNetworkInformation::Feature::Reachability)) {
            if (const QNetworkInformation* info = QNetworkInformation::instance()) {
                if (const std::optional<bool> answer = reachability_answer(info->reachability()))
                    return *answer;
            }
        }
        std::vector<InterfaceState> states;
        for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
            const auto flags = nic.flags();
            states.push_back({flags.testFlag(QNetworkInterface::IsUp),
                              flags.testFlag(QNetworkInterface::IsRunning),
                              flags.testFlag(QNetworkInterface::IsLoopBack),
                              !nic.addressEntries().isEmpty()});
        }
        return any_interface_connected(states);
    } catch (...) {
        return false;
    }
}

} // namespace movarin::Module1

namespace movarin::online {

void start_program(const QString& program, const QStringList& arguments) {
    if (program.isEmpty())
        return;
    QProcess::startDetached(program, arguments);
}

} // namespace movarin::online
