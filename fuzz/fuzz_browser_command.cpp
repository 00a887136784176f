// The cut of the browser's executable out of its command line, key-file values, Exec lines and
// desktop file IDs, on arbitrary text.

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
        if (c == u' ' || c == u'\t' || c == u'"' || c == u'\\' || c == u'%')
            return false;
    }
    return true;
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

    // The quoted form the lookup hands on gives its program back whole.
    const QString program = text(1);
    QStringList arguments;
    for (std::size_t i = 2; i < args.size(); ++i)
        arguments << text(i);
    const QString command = quoted_command(program, arguments);
    if (!program.contains(u'"')) {
        FUZZ_CHECK(executable_from_command(command, u'/') == program, utf8(command));
        bool plain = plainArgument(program);
        for (const QString& argument : arguments)
            plain = plain && plainArgument(argument);
        if (plain)
            FUZZ_CHECK(split_exec(command) == QStringList{program} + arguments, utf8(command));
    }
    (void)split_exec(line);

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
