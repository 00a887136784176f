#include "app/start_up.h"

#include <clocale>

namespace movarin {

void use_c_numeric_locale() {
    std::setlocale(LC_NUMERIC, "C");
}

QString command_tail(const QStringList& arguments) {
    return arguments.mid(1).join(u' ');
}

} // namespace movarin
