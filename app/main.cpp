#include "app/frmplayer.h"
#include "app/start_up.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    movarin::use_c_numeric_locale();
    QApplication::setApplicationName(QStringLiteral("Movarin"));

    movarin::frmplayer window{movarin::PlayerSetup{}};
    window.Form_Load(movarin::command_tail(QApplication::arguments()));
    window.show();
    return app.exec();
}
