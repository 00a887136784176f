#pragma once

#include "online/browser_command.h"

#include <QString>
#include <QStringList>

#include <optional>

// The desktop's default handler for http addresses, found through the freedesktop
// MIME-applications lists and desktop entries.
namespace movarin::online {

struct XdgDirs {
    QString configHome;
    QStringList configDirs;
    QString dataHome;
    QStringList dataDirs;
    // XDG_CURRENT_DESKTOP's names, lower case, most specific first.
    QStringList desktops;
    // Directories searched for a program named without a directory.
    QStringList path;

    // The process's environment with the base-directory defaults filled in.
    static XdgDirs fromEnvironment();
};

// The mimeapps.list files in the order they are consulted: the user's before the system's,
// desktop-specific lists before the general one in each directory.
QStringList mimeapps_lists(const XdgDirs& dirs);

// The applications directories where desktop entries are looked up, in order.
QStringList application_dirs(const XdgDirs& dirs);

// A program named in an Exec line as an absolute path of an executable file; empty when it is
// neither absolute nor found in a directory of `path`.
QString resolve_program(const QString& program, const QStringList& path);

// The first installed default handler for x-scheme-handler/http that can be started safely:
// its program made absolute and quoted as the command line, its Exec arguments and fields.
std::optional<BrowserCommand> http_handler_command(const XdgDirs& dirs);

} // namespace movarin::online
