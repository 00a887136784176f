#pragma once

#include <QString>
#include <QStringList>

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

// The command line of the first installed default handler for x-scheme-handler/http, with its
// program made absolute and quoted; empty when there is none.
QString http_handler_command(const XdgDirs& dirs);

} // namespace movarin::online
