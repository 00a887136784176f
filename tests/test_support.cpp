#include "test_support.h"

#include "engine/mpv_engine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace movarin::testing {

PlayerSetup playerSetupIn(const QString& appDir, double twipsPerPixel) {
    PlayerSetup setup;
    setup.appDir = QDir::toNativeSeparators(appDir);
    setup.twipsPerPixelX = setup.twipsPerPixelY = twipsPerPixel;
    setup.engineOptions = noSoundOptions();
    setup.chooseFile = [](QWidget*) { return QString(); };
    return setup;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray logOf(const QString& appDir) {
    return readFile(QDir(appDir).filePath(QStringLiteral("log.txt")));
}

int countOf(const QByteArray& text, const QByteArray& what) {
    if (what.isEmpty())
        return 0;
    int n = 0;
    for (qsizetype at = text.indexOf(what); at >= 0; at = text.indexOf(what, at + 1))
        ++n;
    return n;
}

void writeFile(const QString& path, const QByteArray& content, bool executable) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(content), content.size());
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace movarin::testing
