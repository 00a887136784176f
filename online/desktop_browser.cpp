#include "online/desktop_browser.h"

#include "online/browser_command.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcessEnvironment>

namespace movarin::online {

namespace {

constexpr QStringView kHttpScheme = u"x-scheme-handler/http";

// Relative entries are invalid in the base-directory variables and are ignored.
QStringList absolute_dirs(const QString& list) {
    QStringList dirs;
    for (const QString& dir : list.split(u':', Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs.append(dir);
    }
    return dirs;
}

QString dir_or(const QString& value, const QString& fallback) {
    return QDir::isAbsolutePath(value) ? value : fallback;
}

// Key files are small; anything larger is not one.
std::optional<QString> read_text(const QString& file) {
    QFile in(file);
    if (in.size() > 1024 * 1024 || !in.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(in.readAll());
}

QString find_desktop_entry(const XdgDirs& dirs, const QString& id) {
    const QStringList relative = desktop_id_paths(id);
    for (const QString& dir : application_dirs(dirs)) {
        for (const QString& candidate : relative) {
            const QString file = QDir(dir).filePath(candidate);
            if (QFileInfo(file).isFile())
                return file;
        }
    }
    return {};
}

// Name[de_DE], then Name[de], then Name.
QString translated_name(const QString& text) {
    const QString locale = QLocale::system().name();
    QStringList keys{QStringLiteral("Name[%1]").arg(locale)};
    if (locale.contains(u'_'))
        keys << QStringLiteral("Name[%1]").arg(locale.section(u'_', 0, 0));
    keys << QStringLiteral("Name");
    for (const QString& key : keys) {
        if (const std::optional<QString> name = key_file_value(text, u"Desktop Entry", key))
            return *name;
    }
    return {};
}

// The command of an installed, visible entry that names a program we can find.
std::optional<BrowserCommand> entry_command(const XdgDirs& dirs, const QString& entryFile) {
    const std::optional<QString> text = read_text(entryFile);
    if (!text)
        return std::nullopt;
    const QStringView group = u"Desktop Entry";
    if (key_file_value(*text, group, u"Hidden").value_or(QString()) == u"true")
        return std::nullopt;
    std::optional<QStringList> arguments =
        split_exec(key_file_value(*text, group, u"Exec").value_or(QString()));
    // The format forbids "=" in the program; such a line is an assignment, not a command.
    if (!arguments || arguments->isEmpty() || arguments->first().contains(u'=') ||
        arguments->first().contains(u'%'))
        return std::nullopt;
    BrowserCommand command;
    const QString program = resolve_program(arguments->takeFirst(), dirs.path);
    command.commandLine = u'"' + program + u'"';
    // The cut must give back exactly this program; a path with a double quote would not be.
    if (program.isEmpty() || executable_from_command(command.commandLine, u'/') != program)
        return std::nullopt;
    command.arguments = *arguments;
    command.fields = {key_file_value(*text, group, u"Icon").value_or(QString()),
                      translated_name(*text), entryFile};
    return command;
}

} // namespace

XdgDirs XdgDirs::fromEnvironment() {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = env.value(QStringLiteral("HOME"));
    XdgDirs dirs;
    const QString homeDir = QDir::isAbsolutePath(home) ? home : QString();
    dirs.configHome = dir_or(env.value(QStringLiteral("XDG_CONFIG_HOME")),
                             homeDir.isEmpty() ? QString() : homeDir + QStringLiteral("/.config"));
    dirs.dataHome =
        dir_or(env.value(QStringLiteral("XDG_DATA_HOME")),
               homeDir.isEmpty() ? QString() : homeDir + QStringLiteral("/.local/share"));
    dirs.configDirs = absolute_dirs(env.value(QStringLiteral("XDG_CONFIG_DIRS")));
    if (dirs.configDirs.isEmpty())
        dirs.configDirs = {QStringLiteral("/etc/xdg")};
    dirs.dataDirs = absolute_dirs(env.value(QStringLiteral("XDG_DATA_DIRS")));
    if (dirs.dataDirs.isEmpty())
        dirs.dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    for (const QString& name :
         env.value(QStringLiteral("XDG_CURRENT_DESKTOP")).split(u':', Qt::SkipEmptyParts))
        dirs.desktops.append(name.toLower());
    dirs.path = absolute_dirs(env.value(QStringLiteral("PATH")));
    return dirs;
}

QStringList mimeapps_lists(const XdgDirs& dirs) {
    QStringList lists;
    const auto addDir = [&](const QString& dir) {
        if (dir.isEmpty())
            return;
        const QDir base(dir);
        for (const QString& desktop : dirs.desktops)
            lists.append(base.filePath(desktop + QStringLiteral("-mimeapps.list")));
        lists.append(base.filePath(QStringLiteral("mimeapps.list")));
    };
    addDir(dirs.configHome);
    for (const QString& dir : dirs.configDirs)
        addDir(dir);
    // The data directories' lists are deprecated but still honoured after the config ones.
    for (const QString& dir : application_dirs(dirs))
        addDir(dir);
    return lists;
}

QStringList application_dirs(const XdgDirs& dirs) {
    QStringList result;
    if (!dirs.dataHome.isEmpty())
        result.append(QDir(dirs.dataHome).filePath(QStringLiteral("applications")));
    for (const QString& dir : dirs.dataDirs)
        result.append(QDir(dir).filePath(QStringLiteral("applications")));
    return result;
}

QString resolve_program(const QString& program, const QStringList& path) {
    const auto executable = [](const QString& file) {
        const QFileInfo info(file);
        return info.isFile() && info.isExecutable();
    };
    if (program.contains(u'/'))
        return QDir::isAbsolutePath(program) && executable(program) ? QDir::cleanPath(program)
                                                                    : QString();
    if (program.isEmpty())
        return {};
    for (const QString& dir : path) {
        const QString candidate = QDir(dir).filePath(program);
        if (executable(candidate))
            return QDir::cleanPath(candidate);
    }
    return {};
}

std::optional<BrowserCommand> http_handler_command(const XdgDirs& dirs) {
    for (const QString& list : mimeapps_lists(dirs)) {
        const std::optional<QString> text = read_text(list);
        if (!text)
            continue;
        const std::optional<QString> ids =
            key_file_value(*text, u"Default Applications", kHttpScheme);
        if (!ids)
            continue;
        // A handler that is no longer installed, or cannot be read safely, gives way to the next.
        for (const QString& id : ids->split(u';', Qt::SkipEmptyParts)) {
            const QString entry = find_desktop_entry(dirs, id.trimmed());
            if (entry.isEmpty())
                continue;
            if (std::optional<BrowserCommand> command = entry_command(dirs, entry))
                return command;
        }
    }
    return std::nullopt;
}

} // namespace movarin::online
