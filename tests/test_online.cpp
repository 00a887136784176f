#include "online/browser_command.h"
#include "online/desktop_browser.h"
#include "online/module1.h"
#include "online/update_check.h"
#include "online/update_decision.h"
#include "online/version_body.h"
#include "online/web_addresses.h"

#include "test_online_server.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

using namespace movarin;
using namespace movarin::online;
using movarin::testing::writeFile;

Q_DECLARE_METATYPE(movarin::online::Message)
Q_DECLARE_METATYPE(QList<movarin::online::Message>)

namespace {

// A desktop laid out below one temporary directory: user and system config and data trees.
struct FakeDesktop {
    QTemporaryDir root;
    XdgDirs dirs;

    FakeDesktop() {
        const QString r = root.path();
        dirs.configHome = r + "/home/config";
        dirs.configDirs = {r + "/etc/xdg"};
        dirs.dataHome = r + "/home/share";
        dirs.dataDirs = {r + "/usr/share"};
        dirs.path = {r + "/bin"};
    }
    QString bin(const QString& name) {
        const QString path = root.path() + "/bin/" + name;
        writeFile(path, "#!/bin/sh\n", true);
        return path;
    }
    void list(const QString& file, const QByteArray& handlers) {
        writeFile(file, "[Added Associations]\nx-scheme-handler/http=ignored.desktop;\n\n"
                        "[Default Applications]\ntext/html=other.desktop\n"
                        "x-scheme-handler/http=" +
                            handlers + "\n");
    }
    void entry(const QString& relative, const QByteArray& body) {
        writeFile(dirs.dataHome + "/applications/" + relative, "[Desktop Entry]\n" + body);
    }
};

// What the update check did to the outside world.
struct Outside {
    bool online = true;
    bool answerYes = false;
    QString browser = QStringLiteral("/opt/browse/browse");
    QList<Message> shown;
    QList<QStringList> launched;

    OnlineSeams seams(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        OnlineSeams s;
        s.isOnline = [this] { return online; };
        s.defaultBrowser = [this] { return browser; };
        s.launch = [this](const QString& p, const QStringList& a) {
            launched.append(QStringList{p} + a);
        };
        s.show = [this](Message m) {
            shown.append(m);
            return answerYes;
        };
        s.transferTimeout = timeout;
        return s;
    }
};

QString failureOf(UpdateCheck& check) {
    try {
        check.run();
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

} // namespace

class TestOnline : public QObject {
    Q_OBJECT
private slots:
    void executableFromCommand_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("path");
        const QChar bs(u'\\'), sl(u'/');
        QTest::newRow("quoted") << "\"C:\\Program Files\\Web Browser\\browse.exe\" -nohome" << bs
                                << "C:\\Program Files\\Web Browser\\browse.exe";
        QTest::newRow("short names") << "C:\\PROGRA~1\\WEBBRO~1\\BROWSE.EXE -url \"%1\"" << bs
                                     << "C:\\PROGRA~1\\WEBBRO~1\\BROWSE.EXE";
        QTest::newRow("blank in dir") << "C:\\Program Files\\Web\\browse.exe -new" << bs
                                      << "C:\\Program Files\\Web\\browse.exe";
        QTest::newRow("separator in options") << "C:\\Web\\browse.exe -profile D:\\profile dir"
                                              << bs << "C:\\Web\\browse.exe -profile D:\\profile";
        QTest::newRow("quote not first")
            << " \"C:\\Web\\browse.exe\" -a" << bs << " \"C:\\Web\\browse.exe\"";
        QTest::newRow("unclosed quote")
            << "\"C:\\Web\\browse.exe -a" << bs << "\"C:\\Web\\browse.exe";
        QTest::newRow("no separator") << "browse.exe -a" << bs << "browse.exe -a";
        QTest::newRow("no blank after")
            << "C:\\Program Files\\browse.exe" << bs << "C:\\Program Files\\browse.exe";
        QTest::newRow("empty quotes") << "\"\" -a" << bs << "";
        QTest::newRow("empty") << "" << bs << "";
        QTest::newRow("/ quoted") << "\"/opt/Web Browser/browse\" --nohome" << sl
                                  << "/opt/Web Browser/browse";
        QTest::newRow("/ placeholder") << "/usr/bin/browse --url \"%s\"" << sl << "/usr/bin/browse";
        QTest::newRow("/ blank in dir") << "/opt/My Web/browse --new" << sl << "/opt/My Web/browse";
        QTest::newRow("/ separator in options") << "/usr/bin/browse --profile /home/u/p dir" << sl
                                                << "/usr/bin/browse --profile /home/u/p";
        QTest::newRow("/ unclosed quote") << "\"/usr/bin/browse --x" << sl << "\"/usr/bin/browse";
        QTest::newRow("/ no separator") << "browse --x" << sl << "browse --x";
        QTest::newRow("/ on a \\ command")
            << "C:\\Web\\browse.exe -a" << sl << "C:\\Web\\browse.exe -a";
    }
    void executableFromCommand() {
        QFETCH(QString, command);
        QFETCH(QChar, separator);
        QFETCH(QString, path);
        QCOMPARE(executable_from_command(command, separator), path);
    }

    // Each answer the fetch can get, judged without a server: what it follows, what it takes,
    // and what it refuses with which words for the log.
    void judgesEachAnswer_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("expected"); // "move URL", "body TEXT" or "error TEXT"
        QTest::newRow("plain") << "" << "body 1.00";
        QTest::newRow("server error page") << "status 404, error 203" << "body 1.00";
        QTest::newRow("connection refused") << "error 1" << "error refused";
        QTest::newRow("moved on the service") << "status 301, location /v2.txt"
                                              << "move http://www.example.org/v2.txt";
        QTest::newRow("moved to another port")
            << "status 302, location http://www.example.org:8080/v.txt" << "error not the same";
        QTest::newRow("moved to a file") << "status 307, location file:///etc/passwd"
                                         << "error not the same";
        QTest::newRow("moved once too often")
            << "status 308, location /v.txt, moves 10" << "error moved more than 10 times";
        QTest::newRow("move without a place") << "status 301" << "body 1.00";
        QTest::newRow("too large") << "too large" << "error larger than 1 MiB";
        QTest::newRow("too late") << "timed out" << "error within 2.5 seconds";
        QTest::newRow("cut short") << "length 10" << "error cut short after 4 of 10 bytes";
        QTest::newRow("length right") << "length 4" << "body 1.00";
        QTest::newRow("unknown coding") << "coding br" << "error (from http://www.example.org";
        QTest::newRow("binary") << "binary" << "error is not text";
    }
    void judgesEachAnswer() {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        FetchAnswer a;
        a.asked = a.current = QUrl(QStringLiteral("http://www.example.org/clips/v.txt"));
        a.timeout = std::chrono::milliseconds(2500);
        a.status = 200;
        a.bytes = "1.00";
        for (const QString& part : change.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
            const QString value = part.section(u' ', 1);
            if (part.startsWith("status"))
                a.status = value.toInt();
            else if (part.startsWith("error")) {
                a.error = QNetworkReply::NetworkError(value.toInt());
                a.errorText = a.error == QNetworkReply::ConnectionRefusedError
                                  ? QStringLiteral("Connection refused")
                                  : QStringLiteral("Not found");
            } else if (part.startsWith("location"))
                a.location = value.toUtf8();
            else if (part.startsWith("moves"))
                a.moves = value.toInt();
            else if (part == "too large")
                a.tooLarge = true;
            else if (part == "timed out")
                a.timedOut = true;
            else if (part.startsWith("length"))
                a.contentLength = value.toLongLong();
            else if (part.startsWith("coding"))
                a.contentEncoding = value.toUtf8();
            else if (part == "binary")
                a.bytes = QByteArray(4096, '\0');
        }
        QString got;
        try {
            const FetchStep step = judge_answer(a);
            got = step.move.isValid() ? "move " + step.move.toString()
                                      : "body " + QString::fromLatin1(step.body);
        } catch (const std::runtime_error& e) {
            got = "error " + QString::fromUtf8(e.what());
        }
        const QString kind = expected.section(u' ', 0, 0);
        QVERIFY2(got.startsWith(kind + ' ') &&
                     got.contains(expected.section(u' ', 1), Qt::CaseInsensitive),
                 qPrintable(got));
    }

    void defaultBrowserIsCachedOnceFound() {
        Module1::browser_path.clear();
        int lookups = 0;
        QString command;
        const auto source = [&] {
            ++lookups;
            return command;
        };
        QCOMPARE(Module1::get_default_browser(source).program, QString());
        QCOMPARE(Module1::get_default_browser(source).program, QString());
        QCOMPARE(lookups, 2); // nothing found: every call looks again
        command = QStringLiteral("\"/opt/b/browse\" --new %u");
        const Browser found = Module1::get_default_browser(source);
        QCOMPARE(found.program, QStringLiteral("/opt/b/browse"));
        // A registry-style command line: its options are not read, the address goes alone.
        QCOMPARE(found.argumentsFor("x.com"), QStringList{"x.com"});
        command = QStringLiteral("/usr/bin/other");
        QCOMPARE(Module1::get_default_browser(source).program, QStringLiteral("/opt/b/browse"));
        QCOMPARE(lookups, 3);
        // A desktop entry's arguments are kept with the cached program.
        Module1::browser_path.clear();
        BrowserCommand entry(QStringLiteral("\"/opt/My Web/run\""));
        entry.arguments = {"--new-window", "%u"};
        QCOMPARE(Module1::get_default_browser([&] { return entry; }).program, "/opt/My Web/run");
        QCOMPARE(Module1::get_default_browser(source).argumentsFor("x.com"),
                 (QStringList{"--new-window", "x.com"}));
        Module1::browser_path.clear();
        // The lookup has no trap of its own.
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, Module1::get_default_browser([]() -> QString {
                                     throw std::runtime_error("broken");
                                 }));
    }

    void keyFileValue_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // null: absent
        const QString entry = "# comment\n[Other]\nExec=wrong\n[Desktop Entry]\nName=B\n";
        QTest::newRow("plain") << entry + "Exec=browse %u\n"
                               << "Exec"
                               << "browse %u";
        QTest::newRow("other group only") << entry << "Exec" << QString();
        QTest::newRow("blanks around =") << entry + "Exec  =  browse\n"
                                         << "Exec"
                                         << "browse";
        QTest::newRow("localized is another key") << entry + "Exec[de]=x\n"
                                                  << "Exec" << QString();
        QTest::newRow("escapes") << entry + "Exec=a\\sb \\\\\"q\\\\\"\\tz"
                                 << "Exec"
                                 << "a b \\\"q\\\"\tz";
        QTest::newRow("CR LF") << "[Desktop Entry]\r\nExec=browse\r\nName=B\r\n"
                               << "Exec"
                               << "browse";
        QTest::newRow("empty value") << entry + "Exec=\n"
                                     << "Exec"
                                     << "";
    }
    void keyFileValue() {
        QFETCH(QString, content);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const std::optional<QString> found = key_file_value(content, u"Desktop Entry", key);
        QCOMPARE(found.has_value(), !value.isNull());
        if (found)
            QCOMPARE(*found, value);
    }

    // Exec values as a desktop file writes them: the key file's escapes come off first, then
    // the quoting. `refused`: a line that must not be run.
    void splitExec_data() {
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QStringList>("arguments");
        const QStringList refused{"(refused)"};
        QTest::newRow("field code") << QByteArray("browse %u") << QStringList{"browse", "%u"};
        QTest::newRow("a list of files")
            << QByteArray("fooview %F") << QStringList{"fooview", "%F"};
        QTest::newRow("quoted program, option")
            << QByteArray("\"/opt/My Web/run\" --new-window %U")
            << QStringList{"/opt/My Web/run", "--new-window", "%U"};
        QTest::newRow("sh -c") << QByteArray("sh -c \"exec browse --x \\\\$0\" %u")
                               << QStringList{"sh", "-c", "exec browse --x $0", "%u"};
        QTest::newRow("env with an assignment")
            << QByteArray("/usr/bin/env FOO=1 /usr/bin/browse %u")
            << QStringList{"/usr/bin/env", "FOO=1", "/usr/bin/browse", "%u"};
        QTest::newRow("quoted argument with blanks")
            << QByteArray("browse \"--profile=/home/u/My Profile\" %u")
            << QStringList{"browse", "--profile=/home/u/My Profile", "%u"};
        QTest::newRow("escaped quote")
            << QByteArray("\"/opt/a\\\"b/browse\" %u") << QStringList{"/opt/a\"b/browse", "%u"};
        // Four backslashes in the file stand for one literal backslash in a quoted argument.
        QTest::newRow("literal backslash")
            << QByteArray("x \"a\\\\\\\\b\"") << QStringList{"x", "a\\b"};
        QTest::newRow("literal dollar")
            << QByteArray("x \"\\\\$HOME\"") << QStringList{"x", "$HOME"};
        QTest::newRow("escaped backtick")
            << QByteArray("x \"\\`id\\`\"") << QStringList{"x", "`id`"};
        QTest::newRow("other backslash kept")
            << QByteArray("x \"a\\\\qb\"") << QStringList{"x", "a\\qb"};
        QTest::newRow("quotes inside a word")
            << QByteArray("x --class=\"A B\"c") << QStringList{"x", "--class=A Bc"};
        QTest::newRow("%% and codes inside")
            << QByteArray("browse --url=%u 100%% %i %c")
            << QStringList{"browse", "--url=%u", "100%%", "%i", "%c"};
        QTest::newRow("blanks, tabs, \\s")
            << QByteArray("  browse \t -x\\s-y  ") << QStringList{"browse", "-x", "-y"};
        QTest::newRow("empty quoted argument")
            << QByteArray("browse \"\"") << QStringList{"browse", ""};
        QTest::newRow("nothing") << QByteArray("  ") << QStringList{};
        QTest::newRow("unclosed quote") << QByteArray("browse \"--x %u") << refused;
        QTest::newRow("unknown field code") << QByteArray("browse %z") << refused;
        QTest::newRow("lone percent") << QByteArray("browse 100%") << refused;
        QTest::newRow("single quotes") << QByteArray("sh -c 'browse x' %u") << refused;
        QTest::newRow("unquoted backslash") << QByteArray("browse a\\\\ b") << refused;
        QTest::newRow("unquoted backtick") << QByteArray("browse `id`") << refused;
    }
    void splitExec() {
        QFETCH(QByteArray, written);
        QFETCH(QStringList, arguments);
        const std::optional<QString> exec =
            key_file_value(QString::fromUtf8("[Desktop Entry]\nExec=" + written + "\n"),
                           u"Desktop Entry", u"Exec");
        QVERIFY(exec);
        const std::optional<QStringList> split = split_exec(*exec);
        QCOMPARE(split.has_value(), arguments != QStringList{"(refused)"});
        if (split)
            QCOMPARE(*split, arguments);
    }

    void expandFieldCodes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("expanded");
        const QString a = "x.com";
        QTest::newRow("%u") << QStringList{"--new-window", "%u"} << a
                            << QStringList{"--new-window", a};
        QTest::newRow("%U %f %F alike: only the first counts")
            << QStringList{"%U", "%f", "%F"} << a << QStringList{a};
        QTest::newRow("%U and %u: once")
            << QStringList{"%U", "--x", "%u"} << a << QStringList{a, "--x"};
        QTest::newRow("inside first, then alone")
            << QStringList{"--url=%u", "%U"} << a << QStringList{"--url=x.com"};
        QTest::newRow("alone first, then inside")
            << QStringList{"%f", "--file=%f%u"} << a << QStringList{a, "--file="};
        QTest::newRow("inside an argument")
            << QStringList{"--url=%u"} << a << QStringList{"--url=x.com"};
        QTest::newRow("no code: appended")
            << QStringList{"--new-window"} << a << QStringList{"--new-window", a};
        QTest::newRow("address stays one argument")
            << QStringList{"%u", "-x"} << "a b\"c %u" << QStringList{"a b\"c %u", "-x"};
        QTest::newRow("sh -c: the address is $0")
            << QStringList{"-c", "exec browse \"$0\"", "%u"} << a
            << QStringList{"-c", "exec browse \"$0\"", a};
        QTest::newRow("%i with an icon")
            << QStringList{"%i", "%u"} << a << QStringList{"--icon", "web", a};
        QTest::newRow("%c one argument, expanded once")
            << QStringList{"%c", "%u"} << a << QStringList{"My %u Web", a};
        QTest::newRow("%k") << QStringList{"--entry=%k", "%k"} << a
                            << QStringList{"--entry=/apps/w.desktop", "/apps/w.desktop", a};
        QTest::newRow("%%") << QStringList{"100%%", "%%u"} << a << QStringList{"100%", "%u", a};
        QTest::newRow("deprecated codes vanish")
            << QStringList{"%d", "%D", "%n", "%N", "%v", "%m", "x%dy", "%u"} << a
            << QStringList{"xy", a};
        QTest::newRow("empty argument kept") << QStringList{""} << a << QStringList{"", a};
    }
    void expandFieldCodes() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, address);
        QFETCH(QStringList, expanded);
        QCOMPARE(expand_field_codes(arguments, address, {"web", "My %u Web", "/apps/w.desktop"}),
                 expanded);
        // Without an icon or an entry file those codes leave nothing behind.
        if (arguments.startsWith("%i"))
            QCOMPARE(expand_field_codes(arguments, address, {}), QStringList{address});
    }

    // Our own desktop entry, read and expanded as the browser launch reads any entry: a file
    // manager's "Open with" must hand the program the whole name as its one argument, because
    // everything after the program's name is taken as one path.
    void ownEntryPassesOnePath() {
        QFile file(QStringLiteral(MOVARIN_BINARY_DIR "/resources/movarin.desktop"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::optional<QString> exec =
            key_file_value(QString::fromUtf8(file.readAll()), u"Desktop Entry", u"Exec");
        QVERIFY(exec);
        const std::optional<QStringList> split = split_exec(*exec);
        QVERIFY(split && split->size() >= 2);
        QCOMPARE(split->first(), QStringLiteral("movarin"));
        const QStringList arguments = split->mid(1);
        for (const QString& name :
             {QStringLiteral("/v/clip.flv"), QStringLiteral("/home/u/My Videos/a  b .flv"),
              QStringLiteral("rel ative \"q\" 'q' $HOME `id` %f %u.flv"),
              QStringLiteral("/v/\u00e9t\u00e9 \u2014 \u0416.flv")})
            QCOMPARE(expand_field_codes(arguments, name, {"movarin", "Movarin", file.fileName()}),
                     QStringList{name});
    }

    void desktopIdPaths() {
        QCOMPARE(desktop_id_paths("browse.desktop"), QStringList{"browse.desktop"});
        QCOMPARE(desktop_id_paths("a-b-c.desktop"),
                 (QStringList{"a-b-c.desktop", "a/b-c.desktop", "a-b/c.desktop", "a/b/c.desktop"}));
        QCOMPARE(desktop_id_paths("a-.desktop"), QStringList{"a-.desktop"});
        for (const char* unsafe : {"../x.desktop", "x/y.desktop", "-x.desktop", ".x", ""})
            QVERIFY2(desktop_id_paths(unsafe).isEmpty(), unsafe);
    }

    void mimeappsListOrder() {
        XdgDirs dirs;
        dirs.configHome = "/h/config";
        dirs.configDirs = {"/etc/xdg", "/etc/xdg2"};
        dirs.dataHome = "/h/share";
        dirs.dataDirs = {"/usr/share"};
        dirs.desktops = {"gnome"};
        QCOMPARE(mimeapps_lists(dirs),
                 (QStringList{"/h/config/gnome-mimeapps.list", "/h/config/mimeapps.list",
                              "/etc/xdg/gnome-mimeapps.list", "/etc/xdg/mimeapps.list",
                              "/etc/xdg2/gnome-mimeapps.list", "/etc/xdg2/mimeapps.list",
                              "/h/share/applications/gnome-mimeapps.list",
                              "/h/share/applications/mimeapps.list",
                              "/usr/share/applications/gnome-mimeapps.list",
                              "/usr/share/applications/mimeapps.list"}));
    }

    void handlerFromUserList() {
        FakeDesktop d;
        const QString browse = d.bin("browse");
        d.list(d.dirs.configHome + "/mimeapps.list", "gone.desktop;browse.desktop;");
        d.entry("browse.desktop", "Name=Web\nName[de]=Netz\nIcon=web\n"
                                  "Exec=browse --new-window \"--class=A B\" %u\n");
        const std::optional<BrowserCommand> command = http_handler_command(d.dirs);
        QVERIFY(command);
        QCOMPARE(command->commandLine, '"' + browse + '"');
        QCOMPARE(executable_from_command(command->commandLine, u'/'), browse);
        QCOMPARE(command->arguments, (QStringList{"--new-window", "--class=A B", "%u"}));
        QCOMPARE(command->fields.icon, QStringLiteral("web"));
        QCOMPARE(command->fields.entryFile, d.dirs.dataHome + "/applications/browse.desktop");
    }

    static QString commandOf(const XdgDirs& dirs) {
        return http_handler_command(dirs).value_or(BrowserCommand()).commandLine;
    }

    void handlerPrecedence() {
        FakeDesktop d;
        const QString user = d.bin("user-browse");
        const QString xfce = d.bin("xfce-browse");
        const QString system = d.bin("system-browse");
        d.entry("user.desktop", "Exec=user-browse %u\n");
        d.entry("vendor/xfce.desktop", "Exec=" + xfce.toUtf8() + " %u\n");
        d.entry("system.desktop", "Exec=system-browse\n");
        d.list(d.dirs.configDirs[0] + "/mimeapps.list", "system.desktop");
        QCOMPARE(commandOf(d.dirs), '"' + system + '"'); // no user choice
        d.list(d.dirs.configHome + "/mimeapps.list", "user.desktop");
        QCOMPARE(commandOf(d.dirs), '"' + user + '"'); // the user's before the system's
        d.list(d.dirs.configHome + "/xfce-mimeapps.list", "vendor-xfce.desktop");
        QCOMPARE(commandOf(d.dirs), '"' + user + '"'); // not this desktop
        d.dirs.desktops = {"xfce"};
        QCOMPARE(commandOf(d.dirs), '"' + xfce + '"');
    }

    void handlerSkipsWhatCannotRun() {
        FakeDesktop d;
        const QString good = d.bin("good");
        d.entry("hidden.desktop", "Exec=good\nHidden=true\n");
        d.entry("missing.desktop", "Exec=no-such-program %u\n");
        d.entry("relative.desktop", "Exec=bin/good\n");
        d.entry("noexec.desktop", "Name=x\n");
        // A program whose path holds a double quote: the cut would name another program.
        const QString quoted = d.bin("we\"ird");
        d.entry("quote.desktop",
                "Exec=\"" + QString(quoted).replace("\"", "\\\"").toUtf8() + "\" %u\n");
        d.entry("assignment.desktop", "Exec=FOO=1 good %u\n");
        d.entry("unknown-code.desktop", "Exec=good %z\n");
        d.entry("unclosed.desktop", "Exec=good \"--x %u\n");
        d.entry("shell-quotes.desktop", "Exec=good 'a b'\n");
        const QByteArray bad = "hidden.desktop;missing.desktop;relative.desktop;noexec.desktop;"
                               "quote.desktop;assignment.desktop;unknown-code.desktop;"
                               "unclosed.desktop;shell-quotes.desktop";
        d.list(d.dirs.configHome + "/mimeapps.list", bad);
        QCOMPARE(http_handler_command(d.dirs).has_value(), false);
        d.entry("spaced.desktop", "Exec=\"" + good.toUtf8() + "\" --profile /a/b c %u\n");
        d.list(d.dirs.configHome + "/mimeapps.list", bad + ";spaced.desktop");
        const std::optional<BrowserCommand> command = http_handler_command(d.dirs);
        QVERIFY(command);
        QCOMPARE(executable_from_command(command->commandLine, u'/'), good);
        QCOMPARE(command->arguments, (QStringList{"--profile", "/a/b", "c", "%u"}));
    }

    void trimBlanks() {
        QCOMPARE(trim_blanks(u"  1.3  "), QStringLiteral("1.3"));
        // Only blanks: tabs and line breaks are part of the text.
        QCOMPARE(trim_blanks(u" \t1.3\r\n "), QStringLiteral("\t1.3\r\n"));
        QCOMPARE(trim_blanks(u"1 3\n"), QStringLiteral("1 3\n"));
        QCOMPARE(trim_blanks(u"   "), QString());
    }

    void isNumeric_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("decimal");
        QTest::addColumn<bool>("numeric");
        QTest::newRow("1.3") << "1.3"
                             << "." << true;
        QTest::newRow("integer") << "2"
                                 << "." << true;
        QTest::newRow("signs") << "-1.5"
                               << "." << true;
        QTest::newRow("plus") << "+.5"
                              << "." << true;
        QTest::newRow("trailing point") << "5."
                                        << "." << true;
        QTest::newRow("exponent") << "1.2E-3"
                                  << "." << true;
        QTest::newRow("comma in de") << "1,3"
                                     << "," << true;
        QTest::newRow("C form in de") << "1.3"
                                      << "," << true;
        QTest::newRow("comma in C") << "1,3"
                                    << "." << false;
        QTest::newRow("two points") << "1.2.3"
                                    << "." << false;
        QTest::newRow("point alone") << "."
                                     << "." << false;
        QTest::newRow("bare exponent") << "1e"
                                       << "." << false;
        QTest::newRow("line break after") << "1.3\n"
                                          << "." << true;
        QTest::newRow("CR LF, tab, blank around") << "\t 1.3\r\n"
                                                  << "." << true;
        QTest::newRow("line break inside") << "1.\n3"
                                           << "." << false;
        QTest::newRow("only a line break") << "\r\n"
                                           << "." << false;
        QTest::newRow("NUL after") << QString::fromLatin1("1.3\0", 4) << "." << false;
        QTest::newRow("start of heading before") << "\x01"
                                                    "1.3"
                                                 << "." << false;
        QTest::newRow("inner blank") << "1 3"
                                     << "." << false;
        QTest::newRow("html") << "<html>"
                              << "." << false;
        QTest::newRow("hex") << "0x10"
                             << "." << false;
        QTest::newRow("infinity") << "inf"
                                  << "." << false;
        QTest::newRow("empty") << ""
                               << "." << false;
    }
    void isNumeric() {
        QFETCH(QString, text);
        QFETCH(QString, decimal);
        QFETCH(bool, numeric);
        NumberForm user;
        user.decimal = decimal;
        QCOMPARE(is_numeric(text, user), numeric);
    }

    void decision_data() {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("local");
        QTest::addColumn<bool>("offer");
        QTest::newRow("same") << "1.3"
                              << "1.3" << false;
        QTest::newRow("blanks around remote") << "  1.3 "
                                              << "1.3" << false;
        QTest::newRow("blanks around local") << "1.3"
                                             << " 1.3  " << false;
        // Only blanks are trimmed: a line break makes the texts differ, and a remote text with
        // one around its number is still a number.
        QTest::newRow("local line break") << "1.3"
                                          << "1.3\r\n"
                                          << true;
        QTest::newRow("local LF, remote 1.00") << "1.00"
                                               << "1.00\n"
                                               << true;
        QTest::newRow("remote LF, same number") << "1.3\n"
                                                << "1.3" << true;
        QTest::newRow("same line breaks on both") << "1.3\r\n"
                                                  << " 1.3\r\n"
                                                  << false;
        QTest::newRow("remote LF, newer") << "1.5\n"
                                          << "1.00" << true;
        QTest::newRow("remote CR LF, newer") << "1.5\r\n"
                                             << "1.00" << true;
        QTest::newRow("tabs around") << "\t1.3\t"
                                     << " 1.3\n"
                                     << true;
        QTest::newRow("only a line break remote") << "\n"
                                                  << "1.3" << false;
        // A stray control character makes a text that is no number.
        QTest::newRow("NUL after the number") << QString::fromLatin1("1.4\0", 4) << "1.3" << false;
        QTest::newRow("start of heading") << "\x01"
                                             "1.4"
                                          << "1.3" << false;
        QTest::newRow("same NUL on both")
            << QString::fromLatin1("1.4\0", 4) << QString::fromLatin1("1.4\0", 4) << false;
        QTest::newRow("lower is offered too") << "1.2"
                                              << "1.3" << true;
        QTest::newRow("empty remote") << ""
                                      << "1.3" << false;
        QTest::newRow("blank remote") << "   "
                                      << "" << false;
        QTest::newRow("not a number") << "<html>404</html>"
                                      << "1.3" << false;
        QTest::newRow("no local version") << "1.3"
                                          << "" << true;
        QTest::newRow("case counts") << "1E3"
                                     << "1e3" << true;
    }
    void decision() {
        QFETCH(QString, remote);
        QFETCH(QString, local);
        QFETCH(bool, offer);
        QCOMPARE(decide(remote, local, NumberForm{}) == Verdict::OfferUpdate, offer);
    }

    void messageBoxes_data() {
        QTest::addColumn<Message>("message");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("prompt");
        QTest::newRow("not connected")
            << Message::NotConnected
            << "Unable to connect to the remote host,Please check your internet connection"
            << false;
        QTest::newRow("latest") << Message::Latest << "You are using the latest version!" << false;
        QTest::newRow("prompt")
            << Message::UpdatePrompt
            << "There is a new update available, would you like to download latest version?"
            << true;
    }
    void messageBoxes() {
        QFETCH(Message, message);
        QFETCH(QString, text);
        QFETCH(bool, prompt);
        QWidget owner;
        const auto box = make_message_box(message, &owner);
        QCOMPARE(box->windowTitle(), QStringLiteral("Movarin"));
        QCOMPARE(box->text(), text);
        QCOMPARE(box->parentWidget(), &owner);
        QCOMPARE(box->icon(), prompt ? QMessageBox::NoIcon : QMessageBox::Information);
        QCOMPARE(box->standardButtons(),
                 prompt ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
        QCOMPARE(box->defaultButton(), box->button(prompt ? QMessageBox::Yes : QMessageBox::Ok));
    }

    void connectivity() {
        using R = QNetworkInformation::Reachability;
        QCOMPARE(Module1::reachability_answer(R::Online), std::optional<bool>(true));
        QCOMPARE(Module1::reachability_answer(R::Site), std::optional<bool>(true));
        QCOMPARE(Module1::reachability_answer(R::Local), std::optional<bool>(false));
        QCOMPARE(Module1::reachability_answer(R::Disconnected), std::optional<bool>(false));
        QCOMPARE(Module1::reachability_answer(R::Unknown), std::optional<bool>());
        using S = Module1::InterfaceState;
        QVERIFY(!Module1::any_interface_connected({}));
        QVERIFY(!Module1::any_interface_connected({S{true, true, true, true}}));   // loopback
        QVERIFY(!Module1::any_interface_connected({S{true, false, false, true}})); // not running
        QVERIFY(!Module1::any_interface_connected({S{false, true, false, true}})); // down
        QVERIFY(!Module1::any_interface_connected({S{true, true, false, false}})); // no address
        QVERIFY(Module1::any_interface_connected(
            {S{true, true, true, true}, S{true, true, false, true}}));
    }

    void addresses() {
        QCOMPARE(version_address("http://www.x.com"),
                 QStringLiteral("http://www.x.com/clips/Movarin/version.txt"));
        QCOMPARE(update_page_address("http://www.x.com"),
                 QStringLiteral("http://www.x.com/clips/Movarin/update.php"));
        QCOMPARE(update_service_base(), "http://www." + website_address());
        QVERIFY(!website_address().contains(u'/'));
    }

    void updateCheck_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("remote");
        QTest::addColumn<QByteArray>("local"); // null: no version.txt
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("hasBrowser");
        QTest::addColumn<Message>("shown");
        QTest::addColumn<bool>("launched");
        using M = Message;
        QTest::newRow("same") << 200 << QByteArray("1.3") << QByteArray("1.3") << true << true
                              << M::Latest << false;
        QTest::newRow("blanks around") << 200 << QByteArray("  1.3  ") << QByteArray("1.3") << true
                                       << true << M::Latest << false;
        QTest::newRow("newer, yes") << 200 << QByteArray("1.4") << QByteArray("1.3") << true << true
                                    << M::UpdatePrompt << true;
        QTest::newRow("lower, no") << 200 << QByteArray("1.2") << QByteArray("1.3") << false << true
                                   << M::UpdatePrompt << false;
        QTest::newRow("yes, no browser") << 200 << QByteArray("1.4") << QByteArray("1.3") << true
                                         << false << M::UpdatePrompt << false;
        // Line breaks are part of the texts compared, not of the number.
        QTest::newRow("remote line break") << 200 << QByteArray("1.3\n") << QByteArray("1.3")
                                           << true << true << M::UpdatePrompt << true;
        QTest::newRow("local line break") << 200 << QByteArray("1.00") << QByteArray("1.00\r\n")
                                          << false << true << M::UpdatePrompt << false;
        QTest::newRow("the same line break") << 200 << QByteArray("1.3\n") << QByteArray("1.3\n")
                                             << true << true << M::Latest << false;
        QTest::newRow("remote line break, newer")
            << 200 << QByteArray("1.5\n") << QByteArray("1.00\n") << true << true << M::UpdatePrompt
            << true;
        QTest::newRow("empty body")
            << 200 << QByteArray("") << QByteArray("1.3") << true << true << M::Latest << false;
        QTest::newRow("404 page") << 404 << QByteArray("<html><body>404 Not Found</body></html>")
                                  << QByteArray("1.3") << true << true << M::Latest << false;
        QTest::newRow("404 numeric body") << 404 << QByteArray("7") << QByteArray("1.3") << true
                                          << true << M::UpdatePrompt << true;
        QTest::newRow("no version.txt")
            << 200 << QByteArray("1.3") << QByteArray() << true << true << M::UpdatePrompt << true;
        QTest::newRow("empty version.txt") << 200 << QByteArray("1.3") << QByteArray("") << true
                                           << true << M::UpdatePrompt << true;
    }
    void updateCheck() {
        QFETCH(int, status);
        QFETCH(QByteArray, remote);
        QFETCH(QByteArray, local);
        QFETCH(bool, yes);
        QFETCH(bool, hasBrowser);
        QFETCH(Message, shown);
        QFETCH(bool, launched);
        LocalHttpServer server;
        QVERIFY(server.listening());
        server.answer(status, remote);
        QTemporaryDir appDir;
        if (!local.isNull())
            writeFile(appDir.filePath("version.txt"), local);
        Outside outside;
        outside.answerYes = yes;
        if (!hasBrowser)
            outside.browser.clear();
        UpdateCheck check(server.base(), appDir.path(), outside.seams());
        QCOMPARE(failureOf(check), QString());
        QCOMPARE(server.paths(), QStringList{"/clips/Movarin/version.txt"});
        QCOMPARE(outside.shown, QList<Message>{shown});
        QCOMPARE(outside.launched.size(), launched ? 1 : 0);
        if (launched)
            QCOMPARE(outside.launched[0],
                     (QStringList{outside.browser, server.base() + "/clips/Movarin/update.php"}));
        QVERIFY(!check.StillExecuting());
    }

    void logSafeText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        QTest::newRow("plain and accented") << "http://h/été?a=1"
                                            << "http://h/été?a=1";
        QTest::newRow("right-to-left override")
            << QString::fromUtf8("/\u202Etxt.exe") << "/%E2%80%AEtxt.exe";
        QTest::newRow("zero-width space, byte order mark")
            << QString::fromUcs4(U"a\u200Bb\uFEFF") << "a%E2%80%8Bb%EF%BB%BF";
        QTest::newRow("tag character beyond the first plane")
            << QString::fromUcs4(U"x\U000E0041y") << "x%F3%A0%81%81y";
        QTest::newRow("line separator, tab, escape")
            << QString::fromUtf8("a\u2028b\t\x1b") << "a%E2%80%A8b%09%1B";
    }
    void logSafeText() {
        QFETCH(QString, text);
        QFETCH(QString, logged);
        QCOMPARE(log_safe_text(text), logged);
    }

    // What the version address answers, and how the check ends. In headers, $BASE and $PORT
    // stand for the local server. `failure`: part of the recorded error; empty when none.
    void fetchRules_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QList<Message>>("shown");
        QTest::addColumn<int>("requests");
        using M = Message;
        const QList<M> none, latest{M::Latest}, prompt{M::UpdatePrompt};
        const QString moved = "which is not the same http service";
        const QByteArray gz = "Content-Encoding: gzip\r\n";
        QTest::newRow("move on the same service")
            << 302 << QByteArray("Location: /moved/version.txt\r\n") << QByteArray() << "" << prompt
            << 2;
        QTest::newRow("absolute move on the same service")
            << 301 << QByteArray("Location: $BASE/moved/version.txt\r\n") << QByteArray() << ""
            << prompt << 2;
        QTest::newRow("move to file:") << 302 << QByteArray("Location: file:///etc/hostname\r\n")
                                       << QByteArray() << moved << none << 1;
        QTest::newRow("move to another host")
            << 302 << QByteArray("Location: http://localhost:$PORT/moved/version.txt\r\n")
            << QByteArray() << moved << none << 1;
        // What the log shows of an address stays in the order it was written.
        QTest::newRow("move with a right-to-left override")
            << 302 << QByteArray("Location: http://other.invalid/%E2%80%AEtxt.exe\r\n")
            << QByteArray() << "other.invalid/%E2%80%AEtxt.exe" << none << 1;
        QTest::newRow("move with format characters in host and query")
            << 302
            << QByteArray(
                   "Location: http://x%E2%80%8B.invalid/a?%EF%BB%BF=%F3%A0%80%81%E2%80%A8\r\n")
            << QByteArray() << moved << none << 1;
        QTest::newRow("move to https")
            << 307 << QByteArray("Location: https://127.0.0.1:$PORT/moved/version.txt\r\n")
            << QByteArray() << moved << none << 1;
        QTest::newRow("move to another port")
            << 302 << QByteArray("Location: http://127.0.0.1:1/moved/version.txt\r\n")
            << QByteArray() << moved << none << 1;
        QTest::newRow("gzip") << 200 << gz << gzipped("1.4") << "" << prompt << 1;
        QTest::newRow("x-gzip") << 200 << QByteArray("Content-Encoding: X-Gzip\r\n")
                                << gzipped("1.3") << "" << latest << 1;
        QTest::newRow("deflate, zlib stream") << 200 << QByteArray("Content-Encoding: deflate\r\n")
                                              << qCompress("1.4").mid(4) << "" << prompt << 1;
        QTest::newRow("deflate, bare") << 200 << QByteArray("Content-Encoding: deflate\r\n")
                                       << gzipped("1.4").mid(10).chopped(8) << "" << prompt << 1;
        QTest::newRow("gzip cut short")
            << 200 << gz << gzipped(QByteArray(4000, '1')).chopped(12) << "cut short" << none << 1;
        QByteArray corrupt = gzipped("1.4");
        corrupt[11] = char(corrupt[11] ^ 0x5a);
        QTest::newRow("gzip corrupt") << 200 << gz << corrupt << "corrupt" << none << 1;
        QTest::newRow("not gzip at all")
            << 200 << gz << QByteArray("1.4") << "corrupt" << none << 1;
        QTest::newRow("gzip then more") << 200 << gz << gzipped("1.4") + "1.5"
                                        << "followed by other data" << none << 1;
        QTest::newRow("gzip bomb") << 200 << gz << gzipped(QByteArray(kMaxVersionBytes + 1, '1'))
                                   << "more than 1 MiB" << none << 1;
        QTest::newRow("gzip of exactly 1 MiB")
            << 200 << gz << gzipped(QByteArray(kMaxVersionBytes, '1')) << "" << prompt << 1;
        QTest::newRow("a coding not asked for")
            << 200 << QByteArray("Content-Encoding: br\r\n") << QByteArray("1.4")
            << "content coding" << none << 1;
        // A short body is decided by the rules whatever its bytes; a stray control character
        // makes it no number.
        QTest::newRow("NUL byte") << 200 << QByteArray() << QByteArray("1.4\0", 4) << "" << latest
                                  << 1;
        QTest::newRow("start of heading") << 200 << QByteArray()
                                          << QByteArray("\x01"
                                                        "1.4")
                                          << "" << latest << 1;
        QTest::newRow("escape character")
            << 200 << QByteArray() << QByteArray("\x1b[31m1.4") << "" << latest << 1;
        QTest::newRow("NUL at the largest answer")
            << 200 << QByteArray() << QByteArray(kMaxAnswerWithControls, '\0') << "" << latest << 1;
        QTest::newRow("binary beyond it")
            << 200 << QByteArray() << QByteArray(kMaxAnswerWithControls + 1, '\0') << "not text"
            << none << 1;
        QTest::newRow("gzip of a binary")
            << 200 << gz << gzipped(QByteArray(100000, '\x01')) << "not text" << none << 1;
        QTest::newRow("long text is no binary")
            << 200 << QByteArray() << QByteArray(100000, 'x') << "" << latest << 1;
        // Local "1.3": the line break makes the texts differ, and the number is new.
        QTest::newRow("CR LF after the same number")
            << 200 << QByteArray() << QByteArray("1.3\r\n") << "" << prompt << 1;
        QTest::newRow("tab, form feed, 8-bit")
            << 200 << QByteArray() << QByteArray("\t1.3\f\xe9") << "" << latest << 1;
        QTest::newRow("400 page is an answer")
            << 400 << QByteArray() << QByteArray("7") << "" << prompt << 1;
        QTest::newRow("503 page is an answer")
            << 503 << QByteArray() << QByteArray("<html>busy</html>") << "" << latest << 1;
    }
    void fetchRules() {
        QFETCH(int, status);
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, body);
        QFETCH(QString, failure);
        QFETCH(QList<Message>, shown);
        QFETCH(int, requests);
        LocalHttpServer server;
        QVERIFY(server.listening());
        const QString port = server.base().section(u':', -1);
        headers.replace("$BASE", server.base().toUtf8()).replace("$PORT", port.toUtf8());
        server.route("/clips/Movarin/version.txt", status, headers, body);
        server.answer(200, "1.4"); // wherever a followed move leads
        QTemporaryDir appDir;
        writeFile(appDir.filePath("version.txt"), "1.3");
        Outside outside;
        UpdateCheck check(server.base(), appDir.path(), outside.seams());
        const QString error = failureOf(check);
        for (const char32_t c : error.toUcs4())
            QVERIFY2(QChar::category(c) != QChar::Other_Format &&
                         QChar::category(c) != QChar::Other_Control &&
                         QChar::category(c) != QChar::Separator_Line,
                     qPrintable(QString::number(uint(c), 16) + " in " + error));
        if (failure.isEmpty())
            QCOMPARE(error, QString());
        else
            QVERIFY2(error.contains(failure), qPrintable(error));
        QCOMPARE(outside.shown, shown);
        QCOMPARE(server.requests(), requests);
        QVERIFY(!check.StillExecuting());
    }

    void notConnectedSendsNothing() {
        LocalHttpServer server;
        Outside outside;
        outside.online = false;
        UpdateCheck check(server.base(), QDir::tempPath(), outside.seams());
        QCOMPARE(failureOf(check), QString());
        QCOMPARE(outside.shown, QList<Message>{Message::NotConnected});
        QTest::qWait(50);
        QCOMPARE(server.requests(), 0);
    }

    void closedPortFails() {
        Outside outside;
        UpdateCheck check(QStringLiteral("http://127.0.0.1:%1").arg(closed_port()),
                          QDir::tempPath(), outside.seams());
        QVERIFY(!failureOf(check).isEmpty());
        QVERIFY(outside.shown.isEmpty());
        QVERIFY(!check.StillExecuting());
    }

    void silentServerTimesOutWhileEventsFlow() {
        LocalHttpServer server;
        server.hold(true);
        Outside outside;
        UpdateCheck check(server.base(), QDir::tempPath(),
                          outside.seams(std::chrono::milliseconds(400)));
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);
        QElapsedTimer clock;
        clock.start();
        const QString failure = failureOf(check);
        const qint64 waited = clock.elapsed();
        QVERIFY2(failure.contains("No answer"), qPrintable(failure));
        QVERIFY2(waited >= 395 && waited < 5000, qPrintable(QString::number(waited)));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks))); // the loop kept running
        QVERIFY(outside.shown.isEmpty());
        QCOMPARE(server.requests(), 1);
    }

    void tricklingServerMeetsTheDeadline() {
        LocalHttpServer server;
        server.answer(200, QByteArray(200, '1'));
        server.trickle(50);
        Outside outside;
        UpdateCheck check(server.base(), QDir::tempPath(),
                          outside.seams(std::chrono::milliseconds(400)));
        QElapsedTimer clock;
        clock.start();
        const QString failure = failureOf(check);
        // Bytes keep arriving, yet the transfer as a whole gets no more than its time.
        QVERIFY2(failure.contains("No answer"), qPrintable(failure));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(outside.shown.isEmpty());
    }

    void secondClickDuringFetchReturnsAtOnce() {
        LocalHttpServer server;
        server.answer(200, "1.3");
        server.hold(true);
        QTemporaryDir appDir;
        writeFile(appDir.filePath("version.txt"), "1.3");
        Outside outside;
        UpdateCheck check(server.base(), appDir.path(), outside.seams());
        bool secondDone = false;
        QTimer::singleShot(150, [&] {
            QVERIFY(check.StillExecuting());
            QCOMPARE(failureOf(check), QString());
            secondDone = true;
            QVERIFY(outside.shown.isEmpty());
            server.release();
        });
        QCOMPARE(failureOf(check), QString());
        QVERIFY(secondDone);
        QCOMPARE(server.requests(), 1);
        QCOMPARE(outside.shown, QList<Message>{Message::Latest});
    }

    void oversizedAnswerFails_data() {
        QTest::addColumn<bool>("withLength");
        QTest::newRow("announced") << true;
        QTest::newRow("streamed") << false;
    }
    void oversizedAnswerFails() {
        QFETCH(bool, withLength);
        LocalHttpServer server;
        server.answer(200, QByteArray(kMaxVersionBytes + 1, '1'), withLength);
        Outside outside;
        UpdateCheck check(server.base(), QDir::tempPath(), outside.seams());
        QVERIFY(failureOf(check).contains("larger than 1 MiB"));
        QVERIFY(outside.shown.isEmpty());
        // Exactly the limit is still read.
        server.answer(200, QByteArray(kMaxVersionBytes, '1'), withLength);
        QCOMPARE(failureOf(check), QString());
        QCOMPARE(outside.shown, QList<Message>{Message::UpdatePrompt});
    }

    void unreadableVersionFileFails() {
        LocalHttpServer server;
        server.answer(200, "1.3");
        QTemporaryDir appDir;
        QVERIFY(QDir(appDir.path()).mkdir("version.txt"));
        Outside outside;
        UpdateCheck check(server.base(), appDir.path(), outside.seams());
        QVERIFY(failureOf(check).contains("version.txt"));
        QVERIFY(outside.shown.isEmpty());
    }

    // Last: after QCoreApplication::exit() no further event loop of this process runs.
    void quittingDuringFetchEndsQuietly() {
        LocalHttpServer server;
        server.hold(true);
        Outside outside;
        UpdateCheck check(server.base(), QDir::tempPath(), outside.seams());
        QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
        QCOMPARE(failureOf(check), QString());
        QVERIFY(outside.shown.isEmpty());
        QVERIFY(!check.StillExecuting());
        QCOMPARE(server.requests(), 1);
    }
};

QTEST_MAIN(TestOnline)
#include "test_online.moc"
