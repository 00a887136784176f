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

constexpr QStringView kFieldCodes = u"fFuUdDnNickvm%";
constexpr QStringView kAddressCodes = u"fFuU";

bool valid_field_codes(QStringView argument) {
    for (qsizetype i = 0; i < argument.size(); ++i) {
        if (argument[i] != u'%')
            continue;
        if (++i == argument.size() || !kFieldCodes.contains(argument[i]))
            return false;
    }
    return true;
}

bool is_address_code(QStringView argument) {
    return argument.size() == 2 && argument[0] == u'%' && kAddressCodes.contains(argument[1]);
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

std::optional<QStringList> split_exec(QStringView exec) {
    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            const bool escape =
                c == u'\\' && i + 1 < exec.size() && QStringView(u"\"`$\\").contains(exec[i + 1]);
            if (escape)
                current += exec[++i];
            else if (c == u'"')
                quoted = false;
            else
                current += c;
        } else if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
        } else if (c == u'"') {
            quoted = true;
            inArgument = true;
        } else if (c == u'\'' || c == u'`' || c == u'\\') {
            return std::nullopt;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments.append(current);
    for (const QString& argument : std::as_const(arguments)) {
        if (!valid_field_codes(argument))
            return std::nullopt;
    }
    return arguments;
}

QStringList expand_field_codes(const QStringList& arguments, const QString& address,
                               const ExecFields& fields) {
    QStringList out;
    bool addressPlaced = false;
    for (const QString& argument : arguments) {
        // The format allows one address code; the first counts and later ones are dropped,
        // so no program gets the address twice.
        if (is_address_code(argument)) {
            if (!addressPlaced)
                out.append(address);
            addressPlaced = true;
            continue;
        }
        if (argument == u"%i") {
            if (!fields.icon.isEmpty())
                out << QStringLiteral("--icon") << fields.icon;
            continue;
        }
        QString expanded;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            if (argument[i] != u'%' || i + 1 == argument.size()) {
                expanded += argument[i];
                continue;
            }
            const QChar code = argument[++i];
            if (kAddressCodes.contains(code)) {
                if (!addressPlaced)
                    expanded += address;
                addressPlaced = true;
            } else if (code == u'%') {
                expanded += u'%';
            } else if (code == u'c') {
                expanded += fields.name;
            } else if (code == u'k') {
                expanded += fields.entryFile;
            }
            // %i inside an argument cannot become two arguments; it and the deprecated codes go.
        }
        if (!expanded.isEmpty() || argument.isEmpty())
            out.append(expanded);
    }
    if (!addressPlaced)
        out.append(address);
    return out;
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

} // namespace movarin::online
