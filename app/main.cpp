#include "app/frmplayer.h"

#include <QApplication>
#include <QStringList>

#include <clocale>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // libmpv refuses to start under a locale whose decimal point is not ".".
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Movarin"));

    // The command tail is one path, never split: arguments Qt did not take, joined by blanks.
    const QString tail = QApplication::arguments().mid(1).join(u' ');

    movarin::frmplayer window{movarin::PlayerSetup{}};
    window.Form_Load(tail);
    window.show();
    return app.exec();
}
