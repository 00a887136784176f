#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Text handling around the command line that opens http addresses. No file access here.
namespace movarin::online {

// The browser's executable out of its command line: the text between a leading pair of double
// quotes, otherwise everything before the first blank after the last separator, otherwise the
// whole text. Options that contain a separator therefore cut the path late; callers rely on the
// same cut for every shape of command line, so it is kept.
QString executable_from_command(QStringView commandLine, QChar separator);

// The value of `key` in `[group]` of a key file (desktop entries, mimeapps.list), with the
// format's escapes (\s \n \t \r \\) undone. Localized variants ("Exec[de]") are other keys.
std::optional<QString> key_file_value(QStringView content, QStringView group, QStringView key);

// An Exec line split into program and arguments: double-quoted arguments unquoted, field codes
// (%u, %U, %f, ...) removed, "%%" kept as "%". An argument that was only a field code vanishes.
QStringList split_exec(QStringView exec);

// Where a desktop file ID may lie below an applications directory: "a-b.desktop" is either
// "a-b.desktop" or "a/b.desktop". Empty for IDs that could leave the directory.
QStringList desktop_id_paths(const QString& id);

// The command line as the lookup hands it on: the program quoted, so that the executable
// comes back whole whatever blanks or separators its arguments hold.
QString quoted_command(const QString& program, const QStringList& arguments);

} // namespace movarin::online
