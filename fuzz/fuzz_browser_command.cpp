// The cut of the browser's executable out of its command line, key-file values, Exec lines (their
// quoting and field codes) and desktop file IDs, on arbitrary text.

#include "fuzz/fuzz_input.h"
#include "online/browser_command.h"

#include <QString>
#include <QStringList>

namespace {

using namespace movarin::online;

QString referenceExecutable(const QString& line, QChar separator) {
    if (line.size() >= 2 && line[0] == u'"') {
        for (qsizetype i = 1; i < line.size(); ++i) {
            if (line[i] == u'"')
                return line.mid(1, i - 1);
        }
    }
    qsizetype last = -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == separator)
            last = i;
    }
    if (last < 0)
        return line;
    for (qsizetype i = last; i < line.size(); ++i) {
        if (line[i] == u' ')
            return line.left(i);
    }
    return line;
}

// A key-file value written so that reading it back gives exactly `value`.
QString escaped(const QString& value) {
    QString out;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u' ':
            out += QStringLiteral("\\s");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Arguments that an Exec line carries through unchanged: no blanks, quotes, escapes or field codes.
bool plainArgument(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'"' || c == u'\\' || c == u'%' ||
            c == u'\'' || c == u'`')
            return false;
    }
    return true;
}

// One argument quoted as the desktop entry format says: in double quotes, with ", `, $ and a
// backslash escaped by a backslash, and % doubled because field codes are read after unquoting.
QString execQuoted(const QString& argument) {
    QString out(u'"');
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += u'\\';
        if (c == u'%')
            out += u'%';
        out += c;
    }
    return out + u'"';
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto args = movarin::fuzz::fields(data, size);
    const auto text = [&](std::size_t i) {
        const std::string_view f = movarin::fuzz::field(args, i);
        return QString::fromUtf8(f.data(), qsizetype(f.size()));
    };
    const QString line = text(0);

    for (const QChar separator : {QChar(u'/'), QChar(u'\\')}) {
        const QString cut = executable_from_command(line, separator);
        FUZZ_CHECK(cut == referenceExecutable(line, separator), utf8(line));
        FUZZ_CHECK(cut.size() <= line.size(), utf8(line));
    }

    // The command line the desktop source hands on gives its program back whole.
    const QString program = text(1);
    if (!program.contains(u'"'))
        FUZZ_CHECK(executable_from_command(u'"' + program + u'"', u'/') == program, utf8(program));

    // Any list of arguments, quoted by the format's rules and written into a key file, reads
    // back as the same list; expanded, each stays one argument and the address comes last.
    QStringList arguments;
    for (std::size_t i = 1; i < args.size(); ++i)
        arguments << text(i);
    QStringList quoted;
    QStringList withCodes; // what the split hands on: quoting undone, "%%" still to expand
    bool plain = !arguments.isEmpty();
    for (const QString& argument : arguments) {
        quoted << execQuoted(argument);
        withCodes << QString(argument).replace(u'%', QStringLiteral("%%"));
        plain = plain && plainArgument(argument);
    }
    const std::optional<QString> exec =
        key_file_value(QStringLiteral("[Desktop Entry]\nExec=") + escaped(quoted.join(u' ')),
                       u"Desktop Entry", u"Exec");
    FUZZ_CHECK(exec, utf8(quoted.join(u' ')));
    const std::optional<QStringList> split = split_exec(*exec);
    FUZZ_CHECK(split && *split == withCodes, utf8(*exec));
    const QString address = text(0);
    FUZZ_CHECK(expand_field_codes(*split, address, {}) == QStringList(arguments) << address,
               utf8(*exec));
    // Plain words need no quotes at all.
    if (plain)
        FUZZ_CHECK(split_exec(arguments.join(u' ')) == arguments, utf8(arguments.join(u' ')));

    // Arbitrary lines: no crash, and an accepted line expands to a bounded list in which the
    // address, when no code places it, is the last argument.
    if (const std::optional<QStringList> any = split_exec(line)) {
        const QStringList expanded = expand_field_codes(*any, text(1), {text(2), text(3), text(4)});
        FUZZ_CHECK(expanded.size() <= 2 * any->size() + 1, utf8(line));
        bool placed = false;
        for (const QString& argument : *any) {
            for (const QChar code : {u'u', u'U', u'f', u'F'}) {
                QString withoutPercents = argument;
                withoutPercents.replace(QStringLiteral("%%"), QStringLiteral("__"));
                placed = placed || withoutPercents.contains(u'%' + QString(code));
            }
        }
        if (!placed)
            FUZZ_CHECK(!expanded.isEmpty() && expanded.last() == text(1), utf8(line));
    }

    // A value written with the format's escapes reads back unchanged, whatever lies around it.
    QString value;
    for (const QChar c : text(1)) {
        if (!c.isSpace() || c == u' ' || c == u'\t' || c == u'\n' || c == u'\r')
            value += c;
    }
    const QString file = QStringLiteral("[Other]\nExec=wrong\n\n# comment\n[Desktop Entry]\n"
                                        "Name=x\nExec[de]=localized\nExec = ") +
                         escaped(value) + QStringLiteral("\nExec=later\n");
    const auto read = key_file_value(file, u"Desktop Entry", u"Exec");
    FUZZ_CHECK(read && *read == value, utf8(value));
    (void)key_file_value(line, text(1), text(2));

    // No candidate path of a desktop file ID may leave the applications directory.
    const QStringList paths = desktop_id_paths(line);
    FUZZ_CHECK(paths.size() <= 512, utf8(line));
    for (const QString& path : paths) {
        FUZZ_CHECK(!path.startsWith(u'/') && !path.contains(u'\\'), utf8(line));
        FUZZ_CHECK(!path.contains(QStringLiteral("//")), utf8(line));
        // A trailing "/" (from a trailing hyphen) names a directory, which simply fails to open.
        const QStringList parts = path.split(u'/');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            FUZZ_CHECK(parts[i] != u"." && parts[i] != u"..", utf8(line));
            FUZZ_CHECK(!parts[i].isEmpty() || i == parts.size() - 1, utf8(line));
        }
        QString back = path;
        back.replace(u'/', u'-');
        FUZZ_CHECK(back == line, utf8(line));
    }
    return 0;
}
