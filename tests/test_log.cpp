#include "log/error_log.h"

#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

using namespace movarin::log;

namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::string readAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int hyphensAtStart(std::string_view text) {
    int n = 0;
    while (n < int(text.size()) && text[n] == '-')
        ++n;
    return n;
}

} // namespace

class TestLog : public QObject {
    Q_OBJECT
private slots:
    void timeStamp_data() {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("second");
        QTest::addColumn<QString>("expected");
        QTest::newRow("morning") << 2007 << 3 << 5 << 9 << 7 << 3 << "05-03-07-09-07-03";
        QTest::newRow("midnight") << 2010 << 1 << 1 << 0 << 5 << 9 << "01-01-10-00-05-09";
        QTest::newRow("afternoon") << 2006 << 10 << 28 << 14 << 3 << 22 << "28-10-06-14-03-22";
        QTest::newRow("last second") << 2099 << 12 << 31 << 23 << 59 << 59 << "31-12-99-23-59-59";
        QTest::newRow("year 2000") << 2000 << 2 << 29 << 12 << 0 << 0 << "29-02-00-12-00-00";
    }
    void timeStamp() {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(int, second);
        QFETCH(QString, expected);
        const std::string stamp = time_stamp(at(year, month, day, hour, minute, second));
        QCOMPARE(QString::fromStdString(stamp), expected);
        QCOMPARE(stamp.size(), std::size_t(17));
    }

    void frames_data() {
        QTest::addColumn<int>("procedure");
        QTest::addColumn<int>("headingHyphens");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("trailer");
        const QString t31(31, u'-'), t27(27, u'-'), t26(26, u'-');
        QTest::newRow("Form_Load")
            << int(Procedure::FormLoad) << 35 << "Error while loading form : " << t31;
        QTest::newRow("play_file")
            << int(Procedure::PlayFile) << 28 << "Error while playing the movie : " << t27;
        QTest::newRow("player_FSCommand")
            << int(Procedure::PlayerFSCommand) << 28
            << "Error while taking the actual width and height of the movie: " << (" " + t27);
        QTest::newRow("mnuopen_Click")
            << int(Procedure::MnuOpenClick) << 35 << "Error while clicking Open menu : " << t31;
        QTest::newRow("Form_OLEDragDrop")
            << int(Procedure::FormOLEDragDrop) << 28
            << "Error while dragging the file into the player: " << (" " + t27);
        QTest::newRow("mnuupdate_Click") << int(Procedure::MnuUpdateClick) << 28
                                         << "Error while clicking the update menu : " << t26;
        QTest::newRow("mnuwebsite_Click")
            << int(Procedure::MnuWebsiteClick) << 28
            << "Error while clicking the Website menu : " << (" " + t27);
        QTest::newRow("mnuabout_Click")
            << int(Procedure::MnuAboutClick) << 35 << "Error while clicking about menu : " << t31;
    }
    void frames() {
        QFETCH(int, procedure);
        QFETCH(int, headingHyphens);
        QFETCH(QString, words);
        QFETCH(QString, trailer);
        const RecordFrame frame = record_frame(Procedure(procedure));
        QCOMPARE(hyphensAtStart(frame.heading), headingHyphens);
        QCOMPARE(QString::fromStdString(std::string(frame.heading.substr(headingHyphens))), words);
        QCOMPARE(QString::fromStdString(std::string(frame.trailer)), trailer);
    }

    void recordLayout() {
        const std::string record =
            error_record(Procedure::FormLoad, at(2006, 10, 28, 14, 3, 22), "D");
        QCOMPARE(QString::fromStdString(record),
                 QString(35, u'-') + "Error while loading form : 28-10-06-14-03-22" +
                     QString(31, u'-') + "\r\nD");
        // An empty description still ends the first line.
        const std::string empty =
            error_record(Procedure::MnuUpdateClick, at(2010, 1, 1, 0, 5, 9), "");
        QVERIFY(empty.ends_with("01-01-10-00-05-09" + std::string(26, '-') + "\r\n"));
    }

    void writeLogCreatesAndAppends() {
        QTemporaryDir dir;
        const auto file = log_file_in(dir.path().toStdString());
        QVERIFY(!std::filesystem::exists(file));
        write_log(file, "first");
        write_log(file, error_record(Procedure::PlayFile, at(2010, 1, 1, 0, 5, 9), ""));
        QCOMPARE(QString::fromStdString(readAll(file)),
                 "first\r\n" + QString(28, u'-') +
                     "Error while playing the movie : 01-01-10-00-05-09" + QString(27, u'-') +
                     "\r\n\r\n");
    }

    void writeLogSurvivesDeletion() {
        QTemporaryDir dir;
        const auto file = log_file_in(dir.path().toStdString());
        write_log(file, "one");
        std::filesystem::remove(file);
        write_log(file, "two");
        QCOMPARE(QString::fromStdString(readAll(file)), QString("two\r\n"));
    }

    void writeLogDropsSilently() {
        QTemporaryDir dir;
        // A directory where the file should be: opening fails, nothing is thrown.
        const auto file = log_file_in(dir.path().toStdString());
        std::filesystem::create_directory(file);
        write_log(file, "lost");
        QVERIFY(std::filesystem::is_directory(file));
        // A directory that does not exist.
        write_log(std::filesystem::path(dir.path().toStdString()) / "missing" / "log.txt", "lost");
        QVERIFY(
            !std::filesystem::exists(std::filesystem::path(dir.path().toStdString()) / "missing"));
    }

    void writeLogReadOnlyDirectory() {
        if (geteuid() == 0)
            QSKIP("root writes into read-only directories");
        QTemporaryDir dir;
        std::filesystem::permissions(dir.path().toStdString(),
                                     std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_exec);
        const auto file = log_file_in(dir.path().toStdString());
        write_log(file, "lost");
        QVERIFY(!std::filesystem::exists(file));
        std::filesystem::permissions(dir.path().toStdString(), std::filesystem::perms::owner_all);
    }

    void trapWritesOneRecordAndKeepsEarlierWork() {
        std::vector<std::string> written;
        int steps = 0;
        trap(
            Procedure::PlayerFSCommand, [&](std::string_view t) { written.emplace_back(t); },
            [&] {
                ++steps;
                throw std::runtime_error("Type mismatch");
                ++steps;
            });
        QCOMPARE(steps, 1);
        QCOMPARE(written.size(), std::size_t(1));
        QVERIFY(written[0].starts_with(std::string(28, '-') + "Error while taking"));
        QVERIFY(written[0].ends_with(" " + std::string(27, '-') + "\r\nType mismatch"));

        written.clear();
        trap(
            Procedure::FormLoad, [&](std::string_view t) { written.emplace_back(t); },
            [] { throw 42; });
        QCOMPARE(written.size(), std::size_t(1));
        QVERIFY(written[0].ends_with("\r\nUnknown error"));

        written.clear();
        trap(
            Procedure::FormLoad, [&](std::string_view t) { written.emplace_back(t); }, [] {});
        QVERIFY(written.empty());
    }

    void trapSurvivesFailingWriter() {
        bool ran = false;
        trap(
            Procedure::FormLoad, [](std::string_view) { throw std::runtime_error("disk"); },
            [&] {
                ran = true;
                throw std::runtime_error("x");
            });
        QVERIFY(ran);
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "test_log.moc"
