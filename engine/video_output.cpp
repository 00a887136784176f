#include "engine/video_engine.h"

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

QString probe_gl_renderer() {
    if (!QGuiApplication::instance())
        return {};
    QOpenGLContext context;
    if (!context.create())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return {};
    const auto* text = context.functions()->glGetString(GL_RENDERER);
    QString renderer = text ? QString::fromLatin1(reinterpret_cast<const char*>(text)) : QString();
    context.doneCurrent();
    return renderer;
}

VideoOutput video_output() {
    static std::optional<VideoOutput> chosen;
    if (!chosen) {
        const QString forced = qEnvironmentVariable("MOVARIN_VIDEO_OUTPUT");
        const QOpenGLContext* shared = QOpenGLContext::globalShareContext();
        // Even a forced GL path needs a context to draw in; without one the window could not
        // be composed at all. The probe is skipped where software is asked for.
        chosen = choose_video_output(forced, QStringLiteral("any")) == VideoOutput::Software ||
                         !shared || !shared->isValid()
                     ? VideoOutput::Software
                     : choose_video_output(forced, probe_gl_renderer());
    }
    return *chosen;
}

} // namespace movarin
