#include "engine/video_engine.h"

#include "engine/engine_log.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QRegularExpression>
#include <QScreen>
#include <QVersionNumber>

namespace movarin {

VideoOutput choose_video_output(const QString& forced, const QString& renderer) {
    const QString asked = forced.trimmed().toLower();
    if (asked == u"software" || renderer.trimmed().isEmpty())
        return VideoOutput::Software;
    if (asked == u"gl")
        return VideoOutput::Gl;
    for (const char* rasterizer :
         {"llvmpipe", "softpipe", "swrast", "software rasterizer", "software renderer"})
        if (renderer.contains(QLatin1String(rasterizer), Qt::CaseInsensitive))
            return VideoOutput::Software;
    return VideoOutput::Gl;
}

bool gpu_device_present() {
#ifdef Q_OS_LINUX
    // Every Linux GPU driver that draws GL offers a DRM render node, or NVIDIA's own device.
    const QStringList nodes =
        QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System);
    return !nodes.isEmpty() || QFileInfo::exists(QStringLiteral("/dev/nvidia0"));
#else
    return true;
#endif
}

namespace {

// Whether the renderer's name decides, as in auto; otherwise the path is set by the variable.
bool choiceNeedsRenderer(const QString& forced) {
    return choose_video_output(forced, QStringLiteral("llvmpipe")) !=
           choose_video_output(forced, QStringLiteral("GPU"));
}

} // namespace

bool might_draw_with_gl() {
    const QString forced = qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT");
    if (choose_video_output(forced, QStringLiteral("GPU")) == VideoOutput::Software)
        return false;
    return !choiceNeedsRenderer(forced) || gpu_device_present();
}

namespace {

struct GlVersion {
    QVersionNumber number;
    bool es = false;
};

// "4.5 (Compatibility Profile) Mesa 22.3.6", "OpenGL ES 3.2 Mesa", "1.20", "OpenGL ES GLSL ES
// 1.00": the first "major.minor", the minor read as written ("1.20" is 1.20, not 1.2).
GlVersion readGlVersion(const QString& text) {
    static const QRegularExpression number(QStringLiteral("(\\d+)\\.(\\d+)"));
    const QRegularExpressionMatch found = number.match(text);
    if (!found.hasMatch())
        return {};
    return {QVersionNumber(found.captured(1).toInt(), found.captured(2).toInt()),
            text.contains(QLatin1String("OpenGL ES"))};
}

bool versionsSuffice(const GlContextFacts& facts) {
    const GlVersion gl = readGlVersion(facts.version);
    const GlVersion glsl = readGlVersion(facts.glslVersion);
    if (gl.number.isNull() || glsl.number.isNull())
        return false;
    if (gl.es)
        return gl.number >= QVersionNumber(2, 0) && glsl.number >= QVersionNumber(1, 0);
    return gl.number >= QVersionNumber(2, 1) && glsl.number >= QVersionNumber(1, 20);
}

} // namespace

QString gl_shortfall(const GlContextFacts& facts, QSize screen) {
    if (facts.renderer.trimmed().isEmpty())
        return QStringLiteral("no OpenGL context");
    if (!versionsSuffice(facts))
        return QStringLiteral("OpenGL \"%1\" with GLSL \"%2\" is less than OpenGL 2.1 with GLSL "
                              "1.20, or OpenGL ES 2.0")
            .arg(facts.version, facts.glslVersion);
    if (facts.maxTextureSize <= 0 || screen.width() > facts.maxTextureSize ||
        screen.height() > facts.maxTextureSize)
        return QStringLiteral("the screen, %1x%2 pixels, is larger than OpenGL's texture limit "
                              "of %3")
            .arg(screen.width())
            .arg(screen.height())
            .arg(facts.maxTextureSize);
    return {};
}

namespace {

QString glText(QOpenGLFunctions* f, GLenum name) {
    const auto* text = f->glGetString(name);
    return text ? QString::fromLatin1(reinterpret_cast<const char*>(text)) : QString();
}

} // namespace

GlContextFacts probe_gl_context() {
    if (!QGuiApplication::instance())
        return {};
    // The application's shared context is asked where there is one: a context less to make,
    // and the one every GL widget shares.
    QOpenGLContext own;
    QOpenGLContext* context = QOpenGLContext::globalShareContext();
    if (!context || !context->isValid()) {
        if (!own.create())
            return {};
        context = &own;
    }
    QOffscreenSurface surface;
    surface.setFormat(context->format());
    surface.create();
    if (!surface.isValid() || !context->makeCurrent(&surface))
        return {};
    QOpenGLFunctions* f = context->functions();
    GlContextFacts facts{glText(f, GL_RENDERER), glText(f, GL_VERSION),
                         glText(f, GL_SHADING_LANGUAGE_VERSION)};
    f->glGetIntegerv(GL_MAX_TEXTURE_SIZE, &facts.maxTextureSize);
    context->doneCurrent();
    return facts;
}

namespace {

// In device pixels: full screen makes the window that large.
QSize largestScreen() {
    QSize largest;
    for (const QScreen* screen : QGuiApplication::screens())
        largest = largest.expandedTo(screen->geometry().size() * screen->devicePixelRatio());
    return largest;
}

VideoOutput chooseOnce() {
    const QString forced = qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT");
    // Even a forced GL path needs a context to draw in, shared with the windows'; without one
    // the window could not be composed at all.
    const QOpenGLContext* shared = QOpenGLContext::globalShareContext();
    if (!shared || !shared->isValid() || !might_draw_with_gl())
        return VideoOutput::Software;
    const GlContextFacts facts = probe_gl_context();
    if (choose_video_output(forced, facts.renderer) == VideoOutput::Software)
        return VideoOutput::Software;
    // A widget shown on a context that cannot compose it crashes or stays black, so a context
    // short of what the picture needs is found out before any is made.
    const QString shortfall = gl_shortfall(facts, largestScreen());
    if (shortfall.isEmpty())
        return VideoOutput::Gl;
    qCWarning(lcEngine).noquote()
        << QStringLiteral("Drawing in memory, not with OpenGL: %1").arg(shortfall);
    return VideoOutput::Software;
}

} // namespace

VideoOutput video_output() {
    static const VideoOutput chosen = chooseOnce();
    return chosen;
}

} // namespace movarin
