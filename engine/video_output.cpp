#include "engine/video_engine.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <optional>

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

QString probe_gl_renderer() {
    if (!QGuiApplication::instance())
        return {};
    // The application's shared context is asked where there is one: a context less to make.
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
    const auto* text = context->functions()->glGetString(GL_RENDERER);
    QString renderer = text ? QString::fromLatin1(reinterpret_cast<const char*>(text)) : QString();
    context->doneCurrent();
    return renderer;
}

VideoOutput video_output() {
    static std::optional<VideoOutput> chosen;
    if (!chosen) {
        const QString forced = qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT");
        // Even a forced GL path needs a context to draw in, shared with the windows'; without
        // one the window could not be composed at all.
        const QOpenGLContext* shared = QOpenGLContext::globalShareContext();
        QString renderer;
        if (shared && shared->isValid())
            renderer = !choiceNeedsRenderer(forced) ? QStringLiteral("not asked")
                       : gpu_device_present()       ? probe_gl_renderer()
                                                    : QString();
        chosen = choose_video_output(forced, renderer);
    }
    return *chosen;
}

} // namespace movarin
