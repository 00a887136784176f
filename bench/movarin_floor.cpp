// The floor the player is measured against: the playback engine alone, no window.
//
//   movarin_floor first-frame FILE   renders the first frame through the same software render
//                                    path, at the size the player starts with, then at the
//                                    video's size; prints "first-frame NS" when it has one
//   movarin_floor play FILE SECONDS  decodes with no video output and prints
//                                    "cpu S video S rss KIB" over SECONDS once playback runs

#include "bench/bench_clock.h"
#include "engine/mpv_engine.h"
#include "window/twips.h"

#include <QCoreApplication>
#include <QTimer>

#include <clocale>
#include <cstdio>

using namespace movarin;

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QStringList args = QCoreApplication::arguments();
    const bool play = args.value(1) == QLatin1String("play");
    if (args.size() < 3 || (play && args.size() < 4)) {
        std::fprintf(stderr, "usage: movarin_floor first-frame FILE | play FILE SECONDS\n");
        return 2;
    }

    QStringList options = noSoundOptions();
    if (play)
        options << noVideoOutputOption();
    MpvEngine engine(options);

    if (!play) {
        static QSize size(twips::kDesignVideoWidth, twips::kDesignVideoHeight);
        QObject::connect(&engine, &MpvEngine::videoSizeChanged, &engine,
                         [](int w, int h) { size = QSize(w, h); });
        QObject::connect(&engine, &MpvEngine::frameDue, &engine, [&engine] {
            if (engine.renderImage(size).isNull())
                return;
            std::printf("first-frame %lld\n", static_cast<long long>(bench::now_ns()));
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    } else {
        const double seconds = args.at(3).toDouble();
        auto* poll = new QTimer(&engine);
        QObject::connect(poll, &QTimer::timeout, &engine, [&engine, poll, seconds] {
            const double position = engine.position();
            if (position <= 0)
                return;
            poll->stop();
            const double cpuStart = bench::cpu_seconds();
            QTimer::singleShot(int(seconds * 1000), &engine, [&engine, cpuStart, position] {
                const double cpu = bench::cpu_seconds() - cpuStart;
                double video = engine.position() - position;
                if (video < 0)
                    video += engine.duration();
                std::printf("cpu %.4f video %.4f rss %ld\n", cpu, video, bench::peak_rss_kib());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        });
        poll->start(10);
    }
    engine.load(args.at(2));
    return app.exec();
}
