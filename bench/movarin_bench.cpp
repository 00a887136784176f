// The player as build/movarin starts it, with timing hooks the shipped program does not have.
//
//   movarin_bench first-frame FILE   prints "first-frame NS" (monotonic clock) when the first
//                                    video frame is painted, and "resize-ms R turn-ms T": from
//                                    the size arriving to the window having its new size, and
//                                    one empty turn of the event loop measured at that moment
//   movarin_bench play FILE SECONDS  plays, and from the first painted frame on measures
//                                    "cpu S video S rss KIB shown N" over SECONDS of wall time,
//                                    N being the distinct frames painted in that time
//
// Both play with no sound output, as the floor does: no sound device on the bench machine.
// MOVARIN_BENCH_OPTIONS adds engine options, for trying settings. MOVARIN_BENCH_SIZE=WxH plays at
// that size once the first frame is in, as a size the video reports would set it (the window has
// a fixed border: a person cannot drag it to a size of their own).

#include "app/start_up.h"
#include "bench/bench_clock.h"
#include "engine/mpv_engine.h"
#include "window/frmplayer.h"
#include "window/playback_controls.h"
#include "window/playback_host.h"

#include <QApplication>
#include <QMenuBar>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <utility>

using namespace movarin;

namespace {

void trace(const char* step);

class Probe : public QObject {
public:
    Probe(frmplayer& window, bool play, double seconds)
        : m_window(window), m_play(play), m_seconds(seconds) {}

    void attach() {
        m_window.installEventFilter(this);
        m_window.player->installEventFilter(this);
        VideoEngine* engine = m_window.player->engine();
        if (!engine) {
            std::fprintf(stderr, "no movie was loaded\n");
            std::exit(2);
        }
        // Queued calls from the engine arrive as meta-call events; the one that carries the
        // size is when the GUI learns it.
        engine->installEventFilter(this);
        connect(engine, &MpvEngine::frameDue, this, [this] {
            if (!m_frameDueSeen)
                trace("frame due");
            m_frameDueSeen = true;
        });
        connect(engine, &MpvEngine::videoSizeChanged, this, [this](int w, int h) {
            if (m_sizeAt != 0)
                return;
            trace("video size");
            m_sizeAt = m_lastCallAt;
            m_target = QSize(w, h);
            QTimer::singleShot(0, this, [this] { m_turnAt = bench::now_ns(); });
        });
        connect(m_window.player, &PlaybackHost::frameShown, this, [this] {
            if (m_firstFrameAt != 0)
                return;
            trace("first paint");
            m_firstFrameAt = bench::now_ns();
            // Report once the paint that draws it has been done and flushed.
            QTimer::singleShot(0, this, [this] { firstFramePainted(); });
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched == m_window.player && !m_rendered) {
            // The first frame drawn, pending or not: the engine's first frame comes before its
            // size, and is drawn when the size comes.
            QTimer::singleShot(0, this, [this] {
                if (!m_rendered && m_window.player->framesRendered() > 0) {
                    m_rendered = true;
                    trace("first drawn");
                }
            });
        }
        if (event->type() == QEvent::MetaCall && watched == m_window.player->engine()) {
            m_lastCallAt = bench::now_ns();
        } else if (event->type() == QEvent::Resize && watched == &m_window && m_sizeAt != 0 &&
                   m_resizedAt == 0) {
            const QSize size = static_cast<QResizeEvent*>(event)->size();
            if (size.width() == m_target.width() && size.height() >= m_target.height())
                m_resizedAt = bench::now_ns();
        }
        return false;
    }

private:
    void firstFramePainted() {
        if (!m_play) {
            std::printf("first-frame %lld\n", static_cast<long long>(m_firstFrameAt));
            waitForResize(0);
            return;
        }
        // MOVARIN_BENCH_FULLSCREEN=1 plays in full screen, as a user would with F.
        if (qEnvironmentVariableIntValue("MOVARIN_BENCH_FULLSCREEN") == 1)
            fillScreen(0);
        if (const QStringList size = qEnvironmentVariable("MOVARIN_BENCH_SIZE").split(u'x');
            size.size() == 2) {
            m_window.player_FSCommand(QStringLiteral("actualsizewidth"), size.at(0));
            m_window.player_FSCommand(QStringLiteral("actualsizeheight"), size.at(1));
        }
        m_cpuStart = bench::cpu_seconds();
        m_shownAtStart = m_window.player->framesShown();
        m_inPlaceAtStart = m_window.player->framesPaintedInPlace();
        m_renderedAtStart = m_window.player->framesRendered();
        m_videoStart = m_window.player->engine()->position();
        QTimer::singleShot(int(m_seconds * 1000), this, [this] {
            const double cpu = bench::cpu_seconds() - m_cpuStart;
            double video = m_window.player->engine()->position() - m_videoStart;
            if (video < 0) // looped
                video += m_window.player->engine()->duration();
            const MpvEngine::FrameDrops drops = m_window.player->engine()->frameDrops();
            const QSize picture =
                (QSizeF(m_window.player->size()) * m_window.player->devicePixelRatioF()).toSize();
            std::printf("cpu %.4f video %.4f rss %ld shown %d in-place %d rendered %d "
                        "engine-drops %lld decoder-drops %lld picture %dx%d\n",
                        cpu, video, bench::peak_rss_kib(),
                        int(m_window.player->framesShown() - m_shownAtStart),
                        int(m_window.player->framesPaintedInPlace() - m_inPlaceAtStart),
                        int(m_window.player->framesRendered() - m_renderedAtStart), drops.engine,
                        drops.decoder, picture.width(), picture.height());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    }

    // A window manager still taking the window on may undo an early full screen: press F until
    // the picture covers the screen (leaving first when the window only thinks it is full).
    void fillScreen(int tries) {
        const QSize screen = m_window.screen()->geometry().size();
        if (m_window.player->size() == screen || tries > 20)
            return;
        QTimer::singleShot(tries == 0 ? 500 : 400, this, [this, tries] {
            if (m_window.player->size() == m_window.screen()->geometry().size())
                return;
            const bool taken = m_window.player->controls()->handleKey(Qt::Key_F, {}, false);
            if (qEnvironmentVariableIsSet("MOVARIN_BENCH_SPAWN"))
                std::fprintf(stderr, "F %s, state %d, picture %dx%d\n", taken ? "taken" : "refused",
                             int(m_window.windowState()), m_window.player->width(),
                             m_window.player->height());
            fillScreen(tries + 1);
        });
    }

    void waitForResize(int tries) {
        if ((m_resizedAt != 0 && m_turnAt != 0) || tries > 500) {
            if (m_resizedAt == 0 || m_turnAt == 0) {
                std::printf("resize-ms nan turn-ms nan\n");
            } else {
                std::printf("resize-ms %.4f turn-ms %.4f\n", double(m_resizedAt - m_sizeAt) / 1e6,
                            double(m_turnAt - m_sizeAt) / 1e6);
            }
            std::fflush(stdout);
            QCoreApplication::exit(0);
            return;
        }
        QTimer::singleShot(10, this, [this, tries] { waitForResize(tries + 1); });
    }

    frmplayer& m_window;
    bool m_play;
    double m_seconds;
    std::int64_t m_lastCallAt = 0;
    std::int64_t m_sizeAt = 0;
    std::int64_t m_turnAt = 0;
    std::int64_t m_resizedAt = 0;
    std::int64_t m_firstFrameAt = 0;
    bool m_frameDueSeen = false;
    bool m_rendered = false;
    QSize m_target;
    long long m_shownAtStart = 0;
    long long m_inPlaceAtStart = 0;
    long long m_renderedAtStart = 0;
    double m_cpuStart = 0;
    double m_videoStart = 0;
};

} // namespace

namespace {
// MOVARIN_BENCH_SPAWN=<monotonic ns at exec> prints the start-up's steps to stderr.
void trace(const char* step) {
    static const qint64 spawn = qEnvironmentVariable("MOVARIN_BENCH_SPAWN").toLongLong();
    if (spawn != 0)
        std::fprintf(stderr, "%-14s %7.1f ms\n", step, double(bench::now_ns() - spawn) / 1e6);
}
} // namespace

int main(int argc, char* argv[]) {
    trace("main");
    set_up_allocator();
    allow_gl_video(); // as the program does, so MOVARIN_VIDEO_OUTPUT=gl is measured too
    QApplication app(argc, argv);
    trace("application");
    use_c_numeric_locale();
    const QStringList args = QApplication::arguments();
    const bool play = args.value(1) == QLatin1String("play");
    if (args.size() < 3 || (play && args.size() < 4)) {
        std::fprintf(stderr, "usage: movarin_bench first-frame FILE | play FILE SECONDS\n");
        return 2;
    }

    PlayerSetup setup;
    setup.engineOptions = noSoundOptions();
    // Engine settings to try without a rebuild: MOVARIN_BENCH_OPTIONS="name=value,name=value".
    setup.engineOptions +=
        qEnvironmentVariable("MOVARIN_BENCH_OPTIONS").split(u',', Qt::SkipEmptyParts);
    const auto window = start_player(args.at(2), setup);
    trace("loading");
    Probe probe(*window, play, play ? args.at(3).toDouble() : 0);
    probe.attach();
    window->show();
    trace("shown");
    return app.exec();
}
