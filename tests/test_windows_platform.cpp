// What is Windows' own, run under wine: the default browser from the registry, the log beside the
// executable and its per-user fallback, the display-sleep hold, files and pipes of the FLV bridge.
#include "desktop/screensaver_hold_win.h"
#include "engine/flv_stream_io.h"
#include "log/error_log.h"
#include "online/module1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

#include <thread>

using namespace movarin;

namespace {

const wchar_t kHttpCommand[] = L"http\\shell\\open\\command";

// The http open command as the test wants it: absent, a key without a value, or a value.
enum class Key { Missing, NoValue, Value };

void setHttpCommand(Key shape, const QString& value) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kHttpCommand);
    if (shape == Key::Missing)
        return;
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CLASSES_ROOT, kHttpCommand, 0, nullptr, 0, KEY_WRITE, nullptr,
                             &key, nullptr),
             LONG(ERROR_SUCCESS));
    if (shape == Key::Value) {
        const std::wstring text = value.toStdWString();
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       DWORD((text.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestWindowsPlatform : public QObject {
    Q_OBJECT
private slots:
    void browserFromRegistry_data() {
        QTest::addColumn<int>("shape");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("program");
        QTest::newRow("quoted path")
            << int(Key::Value) << R"("C:\Program Files\Web Browser\browse.exe" -nohome)"
            << R"(C:\Program Files\Web Browser\browse.exe)";
        QTest::newRow("unquoted path")
            << int(Key::Value) << R"(C:\PROGRA~1\WEBBRO~1\BROWSE.EXE -url "%1")"
            << R"(C:\PROGRA~1\WEBBRO~1\BROWSE.EXE)";
        QTest::newRow("outside the code page")
            << int(Key::Value) << QStringLiteral("\"C:\\Программы\\瀏覽器.exe\" \"%1\"")
            << QStringLiteral("C:\\Программы\\瀏覽器.exe");
        QTest::newRow("missing key") << int(Key::Missing) << QString() << QString();
        QTest::newRow("key without a value") << int(Key::NoValue) << QString() << QString();
    }
    void browserFromRegistry() {
        QFETCH(int, shape);
        QFETCH(QString, value);
        QFETCH(QString, program);
        setHttpCommand(Key(shape), value);
        Module1::browser_path.clear();
        QCOMPARE(Module1::browser_command_line().commandLine, shape == int(Key::Value) ? value : "");
        QCOMPARE(Module1::get_default_browser().program, program);
        // Found once, kept: a later change is not seen; not found, looked for again.
        setHttpCommand(Key::Value, R"("C:\Other\other.exe")");
        QCOMPARE(Module1::get_default_browser().program,
                 program.isEmpty() ? R"(C:\Other\other.exe)" : program);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kHttpCommand);
    }

    // Records end in CR LF, in log.txt beside the executable.
    void logBesideTheExecutable() {
        const QString here = QCoreApplication::applicationDirPath();
        QFile::remove(here + "/log.txt");
        log::write_app_log(QDir::toNativeSeparators(here).toStdWString(), "first\r\nline two");
        log::write_app_log(QDir::toNativeSeparators(here).toStdWString(), "second");
        QCOMPARE(readAll(here + "/log.txt"), QByteArray("first\r\nline two\r\nsecond\r\n"));
        QFile::remove(here + "/log.txt");
    }

    // Where log.txt refuses writing, records go to %LOCALAPPDATA%\Movarin\log.txt.
    void logFallsBackWhereRefused() {
        QTemporaryDir app;
        QTemporaryDir local;
        qputenv("LOCALAPPDATA", QDir::toNativeSeparators(local.path()).toUtf8());
        const std::filesystem::path dir = QDir::toNativeSeparators(app.path()).toStdWString();
        log::write_app_log(dir, "first");
        SetFileAttributesW((dir / L"log.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        const HANDLE probe = CreateFileW((dir / L"log.txt").c_str(), FILE_APPEND_DATA, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
        CloseHandle(probe);
        if (probe != INVALID_HANDLE_VALUE) {
            SetFileAttributesW((dir / L"log.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
            QSKIP("A read-only file takes appends here (wine run by root): no refusal to provoke");
        }
        log::write_app_log(dir, "moved");
        SetFileAttributesW((dir / L"log.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
        QCOMPARE(readAll(app.filePath("log.txt")), QByteArray("first\r\n"));
        QCOMPARE(readAll(local.filePath("Movarin/log.txt")), QByteArray("moved\r\n"));
    }

    void fallbackFileFromLocalAppData() {
        QTemporaryDir local;
        qputenv("LOCALAPPDATA", QDir::toNativeSeparators(local.path()).toUtf8());
        QCOMPARE(QString::fromStdWString(log::state_log_file().wstring()),
                 QDir::toNativeSeparators(local.filePath("Movarin/log.txt")));
        qunsetenv("LOCALAPPDATA"); // then the known folder, which every profile has
        QVERIFY(log::state_log_file().wstring().ends_with(L"\\Movarin\\log.txt"));
        QVERIFY(log::state_log_file().is_absolute());
    }

    void executionStateHeldWhileWanted() {
        ExecutionStateHold hold;
        hold.want(true);
        QVERIFY(hold.held());
        // The call answers with the state it replaces: the one the hold set.
        const EXECUTION_STATE held = SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED |
                                                             ES_SYSTEM_REQUIRED);
        QVERIFY(held & ES_DISPLAY_REQUIRED);
        hold.want(false);
        QVERIFY(!hold.held());
        QCOMPARE(SetThreadExecutionState(ES_CONTINUOUS) & ES_DISPLAY_REQUIRED, EXECUTION_STATE(0));
    }

    void regularFileRead() {
        const QString sample = QStringLiteral(MOVARIN_SOURCE_DIR "/samples/sample.flv");
        const detail::StopFlags flags(nullptr);
        const auto file = detail::openRegularFile(sample.toStdString(), flags);
        QVERIFY(file);
        QCOMPARE(qint64(file->size()), QFileInfo(sample).size());
        std::uint8_t head[3] = {};
        QCOMPARE(file->readAt(0, head, 3), std::int64_t(3));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(head), 3), QByteArray("FLV"));
        QCOMPARE(file->readAt(file->size() + 10, head, 3), std::int64_t(0));
        QVERIFY(!detail::openRegularFile(QDir::tempPath().toStdString(), flags));
    }

    // Read as it comes until the writer goes; a cancelled wait ends with -1.
    void namedPipeRead() {
        const std::string name = "\\\\.\\pipe\\movarin-test-" + std::to_string(GetCurrentProcessId());
        const HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1,
                                               4096, 4096, 0, nullptr);
        QVERIFY(server != INVALID_HANDLE_VALUE);
        QVERIFY(detail::isNamedPipe(name));
        detail::StopFlags flags(nullptr);
        const auto pipe = detail::openNamedPipe(name, flags);
        QVERIFY(pipe);
        std::thread writer([server] {
            Sleep(200);
            DWORD written = 0;
            WriteFile(server, "FLV\x01", 4, &written, nullptr);
            FlushFileBuffers(server);
            CloseHandle(server);
        });
        std::uint8_t buffer[16] = {};
        QCOMPARE(pipe->read(buffer, sizeof buffer), std::int64_t(4));
        QCOMPARE(pipe->read(buffer, sizeof buffer), std::int64_t(0));
        writer.join();
        QVERIFY(!detail::openNamedPipe(name, flags));
    }
};

QTEST_GUILESS_MAIN(TestWindowsPlatform)
#include "test_windows_platform.moc"
