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

// What the field codes %i, %c and %k of a desktop entry stand for.
struct ExecFields {
    QString icon;
    QString name;
    QString entryFile;
};

// An Exec value (its key-file escapes already undone) split into program and arguments with the
// quoting undone; field codes stay as written, for expand_field_codes. Nothing when the line
// breaks the format's rules: an unclosed quote, an unknown field code, or an unquoted ' ` or \,
// which other readers take as quoting, so the line could mean a different command to them.
std::optional<QStringList> split_exec(QStringView exec);

// The arguments with their field codes replaced: the first of %u %U %f %F by `address` as one
// argument (any later one is dropped), %i by "--icon" and the icon (or nothing), %c by the name,
// %k by the entry's file, %% by "%"; the deprecated codes vanish, and so does an argument that
// was only codes expanding to nothing. Without a code for the address, it becomes the last
// argument.
QStringList expand_field_codes(const QStringList& arguments, const QString& address,
                               const ExecFields& fields);

// Where a desktop file ID may lie below an applications directory: "a-b.desktop" is either
// "a-b.desktop" or "a/b.desktop". Empty for IDs that could leave the directory.
QStringList desktop_id_paths(const QString& id);

// The default browser as its source describes it: a command line from which the cut rule takes
// the program, and the arguments that follow it as an Exec line writes them.
struct BrowserCommand {
    BrowserCommand() = default;
    // A bare command line, as the registry has it: the program gets the address alone.
    BrowserCommand(QString line) : commandLine(std::move(line)) {}
    QString commandLine;
    QStringList arguments{QStringLiteral("%u")};
    ExecFields fields;
};

// The default browser ready to start.
struct Browser {
    Browser() = default;
    Browser(QString path) : program(std::move(path)) {}
    QString program;
    QStringList arguments{QStringLiteral("%u")};
    ExecFields fields;

    QStringList argumentsFor(const QString& address) const {
        return expand_field_codes(arguments, address, fields);
    }
};

} // namespace movarin::online
