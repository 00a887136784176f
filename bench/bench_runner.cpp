// Runs the player and its floors in turn, several times, and prints and saves the table.
//
//   bench_runner --bin DIR --sample FILE --hd FILE --out DIR [--runs N] [--cpu-runs N]
//                [--seconds S]
//
// Every figure is set beside a floor measured in the same run, alternating player and floor,
// because the machine is shared and absolute times drift.

#include "bench/bench_clock.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

namespace {

using Values = std::map<QString, double>;

// Runs one program to its end and reads the "name value" pairs it printed; the runner's own
// clock at the start goes in as "spawn".
std::optional<Values> runOnce(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const std::int64_t spawn = movarin::bench::now_ns();
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        std::fprintf(stderr, "%s %s: no result in %d ms\n", qPrintable(program),
                     qPrintable(args.join(' ')), timeoutMs);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s %s: failed with code %d\n", qPrintable(program),
                     qPrintable(args.join(' ')), process.exitCode());
        return std::nullopt;
    }
    Values values{{QStringLiteral("spawn"), double(spawn)}};
    const QStringList words = QString::fromLocal8Bit(process.readAllStandardOutput())
                                  .split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < words.size(); i += 2)
        values[words.at(i)] = words.at(i + 1).toDouble();
    return values;
}

double median(std::vector<double> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Row {
    QString figure;
    QString unit;
    double movarin;
    double floor;
    QString goal;
    double goalRatio; // 0: none
    int runs;
};

QString number(double v, int decimals) {
    return std::isnan(v) ? QStringLiteral("n/a") : QString::number(v, 'f', decimals);
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(' ', 0, 2);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption binOption("bin", "Directory of the bench programs.", "dir");
    const QCommandLineOption sampleOption("sample", "File for the first frame.", "file");
    const QCommandLineOption hdOption("hd", "1280x720 H.264 file for CPU and memory.", "file");
    const QCommandLineOption outOption("out", "Directory for the CSV file.", "dir");
    const QCommandLineOption runsOption("runs", "Runs of the first-frame figures.", "n", "10");
    const QCommandLineOption cpuRunsOption("cpu-runs", "Runs of the playing figures.", "n", "3");
    const QCommandLineOption secondsOption("seconds", "Seconds of video per playing run.", "s",
                                           "20");
    parser.addOptions(
        {binOption, sampleOption, hdOption, outOption, runsOption, cpuRunsOption, secondsOption});
    parser.process(app);
    const QDir bin(parser.value(binOption));
    const QString player = bin.filePath(QStringLiteral("movarin_bench"));
    const QString floor = bin.filePath(QStringLiteral("movarin_floor"));
    const QString sample = parser.value(sampleOption);
    const QString hd = parser.value(hdOption);
    const int runs = parser.value(runsOption).toInt();
    const int cpuRuns = parser.value(cpuRunsOption).toInt();
    const QString seconds = parser.value(secondsOption);
    const QString loadBefore = loadAverage();

    std::vector<double> startPlayer, startFloor, resize, turn;
    for (int i = 0; i < runs; ++i) {
        std::fprintf(stderr, "first frame, run %d of %d\n", i + 1, runs);
        if (auto v = runOnce(player, {"first-frame", sample}, 60000)) {
            startPlayer.push_back(((*v)["first-frame"] - (*v)["spawn"]) / 1e6);
            resize.push_back(v->count("resize-ms") ? (*v)["resize-ms"] : std::nan(""));
            turn.push_back(v->count("turn-ms") ? (*v)["turn-ms"] : std::nan(""));
        }
        if (auto v = runOnce(floor, {"first-frame", sample}, 60000))
            startFloor.push_back(((*v)["first-frame"] - (*v)["spawn"]) / 1e6);
    }

    std::vector<double> cpuPlayer, cpuFloor, rssPlayer, rssFloor;
    const int playTimeout = int(seconds.toDouble() * 1000) + 60000;
    for (int i = 0; i < cpuRuns; ++i) {
        std::fprintf(stderr, "playing %s s of 720p, run %d of %d\n", qPrintable(seconds), i + 1,
                     cpuRuns);
        if (auto v = runOnce(player, {"play", hd, seconds}, playTimeout)) {
            cpuPlayer.push_back((*v)["cpu"] / (*v)["video"]);
            rssPlayer.push_back((*v)["rss"] / 1024);
        }
        if (auto v = runOnce(floor, {"play", hd, seconds}, playTimeout)) {
            cpuFloor.push_back((*v)["cpu"] / (*v)["video"]);
            rssFloor.push_back((*v)["rss"] / 1024);
        }
    }

    const std::vector<Row> rows = {
        {"start to first frame", "ms", median(startPlayer), median(startFloor), "<= 1.3 x", 1.3,
         int(startPlayer.size())},
        {"CPU while playing 720p", "cpu s / video s", median(cpuPlayer), median(cpuFloor), "<= 2 x",
         2.0, int(cpuPlayer.size())},
        {"size known to window resized", "ms (floor: one loop turn)", median(resize), median(turn),
         "<= 1 turn", 0, int(resize.size())},
        {"peak resident memory, 720p", "MiB", median(rssPlayer), median(rssFloor), "-", 0,
         int(rssPlayer.size())},
    };

    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("xcb"));
    const QString loadAfter = loadAverage();
    QTextStream out(stdout);
    out << QStringLiteral("%1 | %2 | %3 | %4 | %5 | %6\n")
               .arg("figure", -30)
               .arg("movarin", 10)
               .arg("floor", 10)
               .arg("ratio", 7)
               .arg("goal", -10)
               .arg("unit, runs");
    for (const Row& row : rows) {
        const double ratio = row.movarin / row.floor;
        out << QStringLiteral("%1 | %2 | %3 | %4 | %5 | %6, %7\n")
                   .arg(row.figure, -30)
                   .arg(number(row.movarin, 3), 10)
                   .arg(number(row.floor, 3), 10)
                   .arg(number(ratio, 2), 7)
                   .arg(row.goal, -10)
                   .arg(row.unit)
                   .arg(row.runs);
    }
    out << "platform " << platform << ", load average before " << loadBefore << ", after "
        << loadAfter << "\n";
    out.flush();

    const QDir outDir(parser.value(outOption));
    outDir.mkpath(QStringLiteral("."));
    const QDateTime now = QDateTime::currentDateTime();
    const QString path =
        outDir.filePath(now.toString(QStringLiteral("yyyy-MM-dd-HHmm")) + QStringLiteral(".csv"));
    QFile csv(path);
    if (!csv.open(QIODevice::WriteOnly | QIODevice::Text)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    QTextStream c(&csv);
    c << "date,figure,movarin,floor,ratio,goal,unit,runs,platform,load_before,load_after\n";
    for (const Row& row : rows) {
        c << now.toString(Qt::ISODate) << ",\"" << row.figure << "\"," << number(row.movarin, 4)
          << ',' << number(row.floor, 4) << ',' << number(row.movarin / row.floor, 3) << ",\""
          << row.goal << "\",\"" << row.unit << "\"," << row.runs << ',' << platform << ",\""
          << loadBefore << "\",\"" << loadAfter << "\"\n";
    }
    std::fprintf(stderr, "saved %s\n", qPrintable(path));
    return 0;
}
