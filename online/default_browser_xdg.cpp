#include "online/desktop_browser.h"
#include "online/module1.h"

namespace movarin::Module1 {

online::BrowserCommand browser_command_line() {
    return online::http_handler_command(online::XdgDirs::fromEnvironment())
        .value_or(online::BrowserCommand());
}

} // namespace movarin::Module1
