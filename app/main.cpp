#include "about/version.h"
#include "app/start_up.h"
#include "engine/gl_drivers.h"
#include "window/frmplayer.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace {

int print_version() {
    std::printf("%s %s\n", movarin::about::kProductName, movarin::about::kVersionText);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Only a tail that is exactly "--version" asks for the version; any other is a path to play.
    // Answered before any window system is opened, so it works without a display.
    if (argc == 2 && std::string(argv[1]) == "--version")
        return print_version();

    movarin::set_up_allocator();
    movarin::leave_a_silent_session_bus();
    // Qt sees the program name only: the whole tail is the path, so "-reverse" or "-style x"
    // name a file too. Qt still reads its environment (QT_QPA_PLATFORM and the like).
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    movarin::allow_gl_video();
    QApplication app(qtArgc, qtArgv);
    movarin::use_c_numeric_locale();

    const QString tail = movarin::command_tail(argc, argv);
    const auto window = movarin::start_player(tail, movarin::PlayerSetup{});
    window->show();
    const int status = app.exec();
    movarin::keep_gl_drivers_loaded();
    return status;
}
