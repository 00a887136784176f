#include "online/web_addresses.h"

namespace movarin::online {

QString web_domain() {
    return QStringLiteral(MOVARIN_WEB_DOMAIN);
}

QString website_address() {
    return web_domain();
}

QString update_service_base() {
    return QStringLiteral("http://www.") + web_domain();
}

QString version_address(const QString& serviceBase) {
    return serviceBase + QStringLiteral("/clips/Movarin/version.txt");
}

QString update_page_address(const QString& serviceBase) {
    return serviceBase + QStringLiteral("/clips/Movarin/update.php");
}

} // namespace movarin::online
