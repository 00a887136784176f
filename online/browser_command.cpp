#include "online/browser_command.h"

namespace movarin::online {

QString executable_from_command(QStringView commandLine, QChar separator) {
    const qsizetype q1 = commandLine.indexOf(u'"');
    if (q1 == 0) {
        const qsizetype q2 = commandLine.indexOf(u'"', 1);
        if (q2 > 0)
            return commandLine.mid(1, q2 - 1).toString();
    }
    const qsizetype lastSeparator = commandLine.lastIndexOf(separator);
    if (lastSeparator >= 0) {
        const qsizetype blank = commandLine.indexOf(u' ', lastSeparator);
        if (blank >= 0)
            return commandLine.left(blank).toString();
    }
    return commandLine.toString();
}

namespace {

QString unescape_value(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case u's':
            out += u' ';
            break;
        case u'n':
            out += u'\n';
            break;
        case u't':
            out += u'\t';
            break;
        case u'r':
            out += u'\r';
            break;
        case u'\\':
            out += u'\\';
            break;
        default:
            // Unknown escapes (such as the Exec line's own \" ) pass on untouched.
            out += c;
            out += next;
        }
    }
    return out;
}

// Drops field codes from one argument; "%%" stands for a literal percent sign.
QString without_field_codes(const QString& argument) {
    QString out;
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument[i] == u'%' && i + 1 < argument.size()) {
            if (argument[i + 1] == u'%')
                out += u'%';
            ++i;
            continue;
        }
        out += argument[i];
    }
    return out;
}

} // namespace

std::optional<QString> key_file_value(QStringView content, QStringView group, QStringView key) {
    bool inGroup = false;
    for (QStringView line : content.tokenize(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inGroup = line.endsWith(u']') && line.mid(1, line.size() - 2) == group;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0 || line.left(equals).trimmed() != key)
            continue;
        return unescape_value(line.mid(equals + 1).trimmed());
    }
    return std::nullopt;
}

QStringList split_exec(QStringView exec) {
    QStringList raw;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == u'"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == u' ' || c == u'\t') {
            if (inArgument)
                raw.append(current);
            current.clear();
            inArgument = false;
        } else if (c == u'"') {
            quoted = true;
            inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        raw.append(current);

    QStringList arguments;
    for (const QString& argument : raw) {
        const QString cleaned = without_field_codes(argument);
        if (!cleaned.isEmpty() || !argument.startsWith(u'%'))
            arguments.append(cleaned);
    }
    return arguments;
}

QStringList desktop_id_paths(const QString& id) {
    if (id.isEmpty() || id.contains(u'/') || id.contains(u'\\') || id.startsWith(u'.') ||
        id.startsWith(u'-'))
        return {};
    QStringList paths{id};
    // Each hyphen may stand for a subdirectory; IDs with very many hyphens are taken literally.
    if (id.count(u'-') > 8)
        return paths;
    for (qsizetype i = 0; i < id.size(); ++i) {
        if (id[i] != u'-')
            continue;
        const qsizetype known = paths.size();
        for (qsizetype p = 0; p < known; ++p) {
            QString variant = paths[p];
            variant[i] = u'/';
            if (!variant.contains(QStringLiteral("//")) && !variant.contains(QStringLiteral("/.")))
                paths.append(variant);
        }
    }
    return paths;
}

QString quoted_command(const QString& program, const QStringList& arguments) {
    QString command = u'"' + program + u'"';
    for (const QString& argument : arguments)
        command += u' ' + argument;
    return command;
}

} // namespace movarin::online
