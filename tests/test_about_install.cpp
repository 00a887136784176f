// What an install puts on a desktop: the program, its desktop entry, metainfo, manual page and
// icons, all carrying the one project version; and the committed Windows icon file.
#include "engine/player.h"
#include "window/player_actions.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QKeySequence>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <set>
#include <utility>

namespace {

// The environment variables the program's own code reads, found in its sources.
QStringList variablesReadByTheCode() {
    const QRegularExpression read(QStringLiteral(
        R"re((?:qEnvironmentVariable\w*|getenv|qgetenv|env\.value)\((?:QStringLiteral\()?"(\w+)")re"));
    QStringList names;
    for (const char* room :
         {"about", "app", "common", "desktop", "engine", "flv", "log", "online", "window"}) {
        QDirIterator files(QStringLiteral(MOVARIN_SOURCE_DIR "/") + room,
                           {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                return {QStringLiteral("<unreadable %1>").arg(file.fileName())};
            for (const auto& m : read.globalMatch(QString::fromUtf8(file.readAll())))
                if (!names.contains(m.captured(1)))
                    names << m.captured(1);
        }
    }
    return names;
}

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("<timed out>");
    }
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll());
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "1.00" from the project() line of CMakeLists.txt, worked out here on its own: major, a point,
// the minor number in two digits.
QString projectVersionText() {
    const QString cmake =
        QString::fromUtf8(contents(QStringLiteral(MOVARIN_SOURCE_DIR "/CMakeLists.txt")));
    const auto match =
        QRegularExpression(QStringLiteral(R"(project\(\w+ VERSION (\d+)\.(\d+))")).match(cmake);
    if (!match.hasMatch())
        return {};
    return QStringLiteral("%1.%2")
        .arg(match.captured(1).toInt())
        .arg(match.captured(2).toInt(), 2, 10, QChar(u'0'));
}

constexpr char kAppStreamId[] = "com.movarinplayer.movarin";

} // namespace

class TestAboutInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void executable();
    void desktopEntry();
    void oneVersionEverywhere();
    void metainfo();
    void manualPage();
    void icons_data();
    void icons();
    void windowsIcon();

private:
    QTemporaryDir m_prefix;
};

void TestAboutInstall::initTestCase() {
    QVERIFY(m_prefix.isValid());
    int code = -1;
    const QString out = run(QStringLiteral(MOVARIN_CMAKE_COMMAND),
                            {QStringLiteral("--install"), QStringLiteral(MOVARIN_BINARY_DIR),
                             QStringLiteral("--prefix"), m_prefix.path()},
                            &code);
    QVERIFY2(code == 0, qPrintable(out));
}

void TestAboutInstall::executable() {
    const QFileInfo program(m_prefix.filePath(QStringLiteral("bin/movarin")));
    QVERIFY(program.isFile());
    QVERIFY(program.isExecutable());
    int code = -1;
    // The installed program names itself without opening any window.
    QCOMPARE(run(program.filePath(), {QStringLiteral("--version")}, &code),
             QStringLiteral("Movarin 1.00\n"));
    QCOMPARE(code, 0);

    // The installed version the update check compares with, without a line end.
    QFile version(m_prefix.filePath(QStringLiteral("bin/version.txt")));
    QVERIFY(version.open(QIODevice::ReadOnly));
    QCOMPARE(version.readAll(), QByteArray("1.00"));
}

void TestAboutInstall::desktopEntry() {
    const QString path = m_prefix.filePath(QStringLiteral("share/applications/movarin.desktop"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    QVERIFY(lines.contains(QStringLiteral("Name=Movarin")));
    QVERIFY(lines.contains(QStringLiteral("Exec=movarin %f")));
    QVERIFY(lines.contains(QStringLiteral("Icon=movarin")));
    QVERIFY(lines.contains(QStringLiteral("Categories=AudioVideo;Video;Player;")));
    QVERIFY(
        lines.filter(QRegularExpression("^MimeType=video/x-flv;video/flv;.*video/mp4;")).size() ==
        1);

    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing (desktop-file-utils)");
    int code = -1;
    const QString out = run(validator, {path}, &code);
    QVERIFY2(code == 0 && out.trimmed().isEmpty(), qPrintable(out));
}

void TestAboutInstall::oneVersionEverywhere() {
    const QString version = projectVersionText();
    QVERIFY(!version.isEmpty());
    QCOMPARE(run(m_prefix.filePath(QStringLiteral("bin/movarin")), {QStringLiteral("--version")}),
             QStringLiteral("Movarin %1\n").arg(version));
    QCOMPARE(QString::fromLatin1(contents(m_prefix.filePath(QStringLiteral("bin/version.txt")))),
             version);

    const QString metainfo = QString::fromUtf8(contents(
        m_prefix.filePath(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(kAppStreamId))));
    QVERIFY(metainfo.contains(QStringLiteral("<release version=\"%1\"").arg(version)));
    const QString manual =
        QString::fromUtf8(contents(m_prefix.filePath(QStringLiteral("share/man/man1/movarin.1"))));
    QVERIFY(manual.startsWith(QStringLiteral(".TH MOVARIN 1 ")));
    QVERIFY(manual.section(u'\n', 0, 0).contains(QStringLiteral("\"Movarin %1\"").arg(version)));

    // What a Windows build would carry, made from the same number.
    const QString rc =
        QString::fromUtf8(contents(QStringLiteral(MOVARIN_BINARY_DIR "/resources/movarin.rc")));
    const QStringList parts = version.split(u'.');
    const QString numeric =
        QStringLiteral("%1, %2, 0, 0").arg(parts[0].toInt()).arg(parts[1].toInt());
    QVERIFY2(rc.contains(QStringLiteral("FILEVERSION ") + numeric), qPrintable(rc));
    QVERIFY(rc.contains(QStringLiteral("PRODUCTVERSION ") + numeric));
    QVERIFY(rc.contains(QStringLiteral("VALUE \"FileVersion\", \"%1\"").arg(version)));
    QVERIFY(rc.contains(QStringLiteral("VALUE \"ProductVersion\", \"%1\"").arg(version)));
    QVERIFY(!rc.contains(u'@'));
}

void TestAboutInstall::metainfo() {
    const QString path =
        m_prefix.filePath(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(kAppStreamId));
    QVERIFY(QFileInfo(path).isFile());
    const QString text = QString::fromUtf8(contents(path));
    // It names the desktop entry that an install puts beside it.
    QVERIFY(text.contains(
        QStringLiteral("<launchable type=\"desktop-id\">movarin.desktop</launchable>")));
    QVERIFY(QFileInfo(m_prefix.filePath(QStringLiteral("share/applications/movarin.desktop")))
                .isFile());

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    QVERIFY2(!validator.isEmpty(), "appstreamcli is missing (appstream)");
    int code = -1;
    const QString out = run(validator,
                            {QStringLiteral("validate"), QStringLiteral("--no-net"),
                             QStringLiteral("--pedantic"), path},
                            &code);
    QVERIFY2(code == 0, qPrintable(out));
    // Errors and warnings fail; notes ("I:", "P:") about style do not, but there are none today
    // beyond the plain-http home page.
    for (const QString& line : out.split(u'\n')) {
        QVERIFY2(!line.startsWith(QStringLiteral("E:")) && !line.startsWith(QStringLiteral("W:")) &&
                     !line.startsWith(QStringLiteral("P:")),
                 qPrintable(out));
    }
}

void TestAboutInstall::manualPage() {
    const QString path = m_prefix.filePath(QStringLiteral("share/man/man1/movarin.1"));
    QVERIFY(QFileInfo(path).isFile());
    const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
    QVERIFY2(!groff.isEmpty(), "groff is missing (groff-base)");
    // -ww turns on every warning; a well-formed page gives none.
    int code = -1;
    QString out = run(groff,
                      {QStringLiteral("-man"), QStringLiteral("-Tutf8"), QStringLiteral("-ww"),
                       QStringLiteral("-z"), path},
                      &code);
    QVERIFY2(code == 0 && out.trimmed().isEmpty(), qPrintable(out));
    // One long line, unhyphenated, so that no name is broken.
    out = run(groff, {"-man", "-Tascii", "-rLL=1000n", "-rHY=0", path}, &code);
    QCOMPARE(code, 0);
    out.remove(QRegularExpression(QStringLiteral(".\b"))); // overstrike for bold and underline
    out = out.simplified();
    QStringList wanted = {"movarin - play a video in a window",
                          "--version",
                          "log.txt",
                          "version.txt",
                          "Ctrl+O",
                          "Ctrl+E",
                          "Double-click",
                          "Right click",
                          "Dropping a file",
                          "About",
                          "Alt+Up",
                          "Backspace",
                          "mimeapps.list"};
    // Every key and right-click entry the player has, and every variable the code reads.
    for (const movarin::PlayerActionRow& row : movarin::player_action_table()) {
        for (int key : {row.key, row.otherKey})
            if (key != 0)
                wanted << (key == Qt::Key_Escape ? "Escape" : QKeySequence(key).toString());
        if (row.menuText)
            wanted << row.menuText;
    }
    wanted << variablesReadByTheCode();
    QVERIFY(wanted.contains("MOVARIN_VIDEO_OUTPUT") && wanted.contains("F11"));
    for (const QString& name : std::as_const(wanted))
        QVERIFY2(out.contains(name), qPrintable(name));
    QVERIFY(!out.contains(u'@'));
}

void TestAboutInstall::icons_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("size");
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QTest::addRow("%dx%d", size, size)
            << QStringLiteral("share/icons/hicolor/%1x%1/apps/movarin.png").arg(size) << size;
    }
}

void TestAboutInstall::icons() {
    QFETCH(QString, file);
    QFETCH(int, size);
    const QImage icon(m_prefix.filePath(file));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());
    // Rounded tile: the corner is see-through, the middle is not.
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);
}

void TestAboutInstall::windowsIcon() {
    QVERIFY(QFileInfo(
                m_prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/movarin.svg")))
                .isFile());

    QFile file(QStringLiteral(MOVARIN_SOURCE_DIR "/resources/movarin.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    QVERIFY(ico.size() > 6);
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(ico.constData() + at); };
    const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(ico.constData() + at); };
    QCOMPARE(u16(2), quint16(1)); // an icon, not a cursor
    const int count = u16(4);
    QVERIFY(ico.size() >= 6 + 16 * count);

    std::set<std::pair<int, int>> found; // size, bits per pixel
    for (int i = 0; i < count; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int width = quint8(ico[entry]);
        const int height = quint8(ico[entry + 1]);
        const int bits = u16(entry + 6);
        const quint32 bytes = u32(entry + 8);
        const quint32 offset = u32(entry + 12);
        QCOMPARE(width, height);
        QVERIFY(qsizetype(offset) + qsizetype(bytes) <= ico.size());
        // The image's own header must say the same.
        QCOMPARE(qFromLittleEndian<qint32>(ico.constData() + offset + 4), width);
        QCOMPARE(u16(offset + 14), quint16(bits));
        found.insert({width, bits});
    }
    const std::set<std::pair<int, int>> wanted{{16, 8}, {16, 32}, {32, 8}, {32, 32}};
    QVERIFY(found == wanted);

    // And a reader other than ours takes every image in it.
    QImageReader reader(file.fileName());
    QCOMPARE(reader.imageCount(), count);
    for (int i = 0; i < count; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
    }
}

QTEST_MAIN(TestAboutInstall)
#include "test_about_install.moc"
