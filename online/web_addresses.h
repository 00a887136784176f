#pragma once

#include <QString>

namespace movarin::online {

// The maker's domain, fixed when the program is configured.
QString web_domain();

// What View Website hands the browser: the bare domain, no scheme, host or path.
QString website_address();

// Scheme and host of the update service on the maker's server, port 80.
QString update_service_base();

// The two documents of the update service under a base such as "http://www.example.com".
QString version_address(const QString& serviceBase);
QString update_page_address(const QString& serviceBase);

} // namespace movarin::online
