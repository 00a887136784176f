#include "about/version.h"
#include "app/start_up.h"
#include "window/frmplayer.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace {

// Only a tail that is exactly "--version" asks for the version; any other is a path to play.
bool asks_for_version(const QString& tail) {
    return tail == QLatin1String("--version");
}

int print_version() {
    std::printf("%s %s\n", movarin::about::kProductName, movarin::about::kVersionText);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Answered before any window system is opened, so it works without a display.
    if (argc == 2 && std::string(argv[1]) == "--version")
        return print_version();

    movarin::set_up_allocator();
    movarin::leave_a_silent_session_bus();
    QApplication app(argc, argv);
    movarin::use_c_numeric_locale();

    const QString tail = movarin::command_tail(argc, argv);
    // Qt's own options (-platform and the like) may have stood before it.
    if (asks_for_version(tail))
        return print_version();

    const auto window = movarin::start_player(tail, movarin::PlayerSetup{});
    window->show();
    return app.exec();
}
