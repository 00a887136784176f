#pragma once

#include "engine/player.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

namespace movarin {

// How pictures reach the screen: drawn by the GPU through OpenGL, or converted to RGB in memory
// and painted like any image.
enum class VideoOutput { Gl, Software };

// The path for a machine whose GL renderer calls itself `renderer` (empty: no GL context could
// be made), as `forced` asks: "software" always, "gl" wherever there is a context, otherwise
// ("auto", empty, anything else) GL only on a hardware renderer. A software rasterizer costs
// more than drawing in memory does.
VideoOutput choose_video_output(const QString& forced, const QString& renderer);
// Whether the machine has a device a GPU driver draws with; without one, any GL renderer is a
// software rasterizer, and auto need not load GL to know.
bool gpu_device_present();
// Whether this process may draw with GL, as far as can be told before the application is made:
// if not, it sets up no GL at all.
bool might_draw_with_gl();
// What a GL context says of itself: GL_RENDERER, GL_VERSION, GL_SHADING_LANGUAGE_VERSION and
// GL_MAX_TEXTURE_SIZE. An empty renderer: no context could be made.
struct GlContextFacts {
    QString renderer;
    QString version;
    QString glslVersion;
    int maxTextureSize = 0;
};
// Why GL cannot show video with such a context on a screen of `screen` device pixels, or empty
// when it can. The engine's renderer needs OpenGL 2.1 with GLSL 1.20, or OpenGL ES 2.0; every
// picture on the way to the screen, the window's own included, is a texture as large as the
// window, which full screen makes as large as the screen.
QString gl_shortfall(const GlContextFacts& facts, QSize screen);
// The facts of the application's shared GL context, or of a throw-away one.
GlContextFacts probe_gl_context();
// The choice for this process, made once from MOVARIN_VIDEO_OUTPUT and, in auto, the renderer;
// software wherever gl_shortfall finds one for the largest screen, which the engine's log
// category says. GL needs the application's shared context (Qt::AA_ShareOpenGLContexts, set
// before the application is made), so without it the answer is software. Call on the GUI
// thread, before any GL widget is made.
VideoOutput video_output();

// A player that also hands out its pictures: what the window needs to show a video, and all
// it knows of the engine. Pictures are drawn on the GUI thread when the engine says one is
// due, straight into the memory the caller paints with, so a frame is converted once and
// copied no further. Failures to create the engine or to load a file throw
// std::runtime_error; the other verbs never throw.
class VideoEngine : public Player {
    Q_OBJECT
public:
    using Player::Player;

    // Draw the current picture, stretched over size (device pixels), in the layout of `format`:
    // QImage::Format_RGB32, or Format_ARGB32_Premultiplied (opaque), which is what X11 backing
    // stores hold. The first call after frameDue takes the new frame; later ones draw the same
    // one again. A failed or empty draw, or another format, returns false or a null image.
    virtual bool renderInto(uchar* bits, QSize size, qsizetype bytesPerLine,
                            QImage::Format format = QImage::Format_RGB32) = 0;
    virtual QImage renderImage(QSize size) = 0;
    // Takes the due frame without drawing it: the engine waits for every due frame to be taken.
    virtual void skipFrame() = 0;

    // Frames the engine let go since the file started: late for the screen, or not decoded.
    struct FrameDrops {
        long long engine = 0;
        long long decoder = 0;
    };
    virtual FrameDrops frameDrops() const = 0;

    // Whether the engine draws on the GPU now; then renderTexture takes the place of the two
    // above. It turns false, once, if GL fails while playing (outputChanged says so).
    virtual bool drawsWithGl() const { return false; }
    // Draws the current picture into a texture of `size` device pixels, top row first, and
    // returns its name in the application's shared GL context group; 0 on failure. Like
    // renderInto, the first call after frameDue takes the new frame. Call on the GUI thread;
    // whichever context was current stays current.
    virtual unsigned renderTexture(QSize size) {
        Q_UNUSED(size);
        return 0;
    }

signals:
    // Natural display size of the current video, sent once per file and again if it changes.
    void videoSizeChanged(int width, int height);
    // A new picture is due now: draw it, or skip it.
    void frameDue();
    void fileStarted();
    void fileLoaded();
    // The current file could not be played, or stopped holding anything to play.
    void loadFailed(const QString& reason);
    // The current file plays without a picture (no video track, or none that decodes).
    void videoAbsent();
    // The current file, a sound file that plays without a picture, has this cover: `picture`
    // with at most a 4K screen's pixels, scaled down while it was decoded, and `size` the
    // cover's own size. After videoAbsent, once per file at most, whenever the cover is read.
    void coverFound(const QImage& picture, QSize size);
    // The engine stopped drawing with GL and draws in memory from now on.
    void outputChanged();
};

// The engine this build plays with. extraOptions: "name=value" pairs applied before start-up,
// after the engine's own. Asked for GL, it draws in memory where GL fails. Throws
// std::runtime_error when it cannot start.
std::unique_ptr<VideoEngine> make_video_engine(const QStringList& extraOptions = {},
                                               VideoOutput output = VideoOutput::Software);

} // namespace movarin
