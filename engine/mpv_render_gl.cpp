#include "engine/engine_log.h"
#include "engine/mpv_engine_impl.h"
#include "engine/mpv_properties.h"
#include "engine/render_display.h"

#include <mpv/render_gl.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>

#include <vector>

namespace movarin {

namespace detail {

struct GlTarget {
    QOpenGLContext context;
    QOffscreenSurface surface;
    std::unique_ptr<QOpenGLFramebufferObject> frame;
};

void GlTargetDeleter::operator()(GlTarget* target) const {
    delete target;
}

} // namespace detail

namespace {

// Makes the engine's context current for a while, then puts back whatever was current: the
// caller may be a widget in the middle of its own GL painting.
class CurrentGl {
public:
    explicit CurrentGl(detail::GlTarget& target)
        : m_target(target), m_before(QOpenGLContext::currentContext()),
          m_beforeSurface(m_before ? m_before->surface() : nullptr),
          m_ok(target.context.isValid() && target.context.makeCurrent(&target.surface)) {}
    ~CurrentGl() {
        if (m_before && m_beforeSurface)
            m_before->makeCurrent(m_beforeSurface);
        else if (m_ok)
            m_target.context.doneCurrent();
    }
    CurrentGl(const CurrentGl&) = delete;
    CurrentGl& operator=(const CurrentGl&) = delete;
    bool ok() const { return m_ok; }

private:
    detail::GlTarget& m_target;
    QOpenGLContext* m_before;
    QSurface* m_beforeSurface;
    bool m_ok;
};

void* glFunction(void*, const char* name) {
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? reinterpret_cast<void*>(context->getProcAddress(name)) : nullptr;
}

} // namespace

bool MpvEngine::Impl::createGlRenderer() {
    QOpenGLContext* shared = QOpenGLContext::globalShareContext();
    if (!QGuiApplication::instance() || !shared)
        return false; // a texture no window can draw is no use
    auto target = std::unique_ptr<detail::GlTarget, detail::GlTargetDeleter>(new detail::GlTarget);
    target->context.setShareContext(shared);
    target->context.setFormat(shared->format());
    if (!target->context.create() || !target->context.areSharing(&target->context, shared))
        return false;
    target->surface.setFormat(target->context.format());
    target->surface.create();
    if (!target->surface.isValid())
        return false;
    CurrentGl current(*target);
    if (!current.ok())
        return false;

    mpv_opengl_init_params init{&glFunction, nullptr};
    std::vector<mpv_render_param> params = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &init},
    };
    // Hardware decoding hands frames to GL through the display connection where it can.
    detail::add_display_param(params);
    params.push_back({MPV_RENDER_PARAM_INVALID, nullptr});
    mpv_render_context* context = nullptr;
    if (mpv_render_context_create(&context, core.get(), params.data()) < 0)
        return false;
    gl = std::move(target);
    renderContext.reset(context);
    renderingOnGpu = true;
    mpv_render_context_set_update_callback(context, &Impl::onRenderUpdate, this);
    // Where the driver offers no interop, decoding stays in software, silently.
    mpv_set_property_string(core.get(), "hwdec", "auto-safe");
    return true;
}

unsigned MpvEngine::Impl::renderGl(QSize size, bool skip) {
    if (!renderingOnGpu || !gl || (!skip && size.isEmpty()))
        return 0;
    unsigned texture = 0;
    bool failed = false;
    {
        CurrentGl current(*gl);
        if (!current.ok())
            failed = true;
        else if (skip) {
            int skipRendering = 1;
            mpv_render_param params[] = {
                {MPV_RENDER_PARAM_SKIP_RENDERING, &skipRendering},
                {MPV_RENDER_PARAM_INVALID, nullptr},
            };
            mpv_render_context_render(renderContext.get(), params);
        } else {
            if (!gl->frame || gl->frame->size() != size)
                gl->frame = std::make_unique<QOpenGLFramebufferObject>(size);
            int noBlock = 0;
            int flip = 0;
            mpv_opengl_fbo fbo{static_cast<int>(gl->frame->handle()), size.width(), size.height(),
                               0};
            mpv_render_param params[] = {
                {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
                {MPV_RENDER_PARAM_FLIP_Y, &flip},
                {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &noBlock},
                {MPV_RENDER_PARAM_INVALID, nullptr},
            };
            if (!gl->frame->isValid() ||
                mpv_render_context_render(renderContext.get(), params) < 0) {
                failed = true;
            } else {
                // Drawn in one context and read in another: it must be complete before that.
                gl->context.functions()->glFlush();
                texture = gl->frame->texture();
            }
        }
    }
    if (failed) {
        qCWarning(lcEngine).noquote()
            << QStringLiteral("Drawing in memory from now on: OpenGL failed to draw %1x%2 pixels")
                   .arg(size.width())
                   .arg(size.height());
        fallBackToSoftware();
    }
    return texture;
}

void MpvEngine::Impl::releaseRenderer() {
    if (gl) {
        CurrentGl current(*gl);
        renderContext.reset();
        gl->frame.reset();
    }
    renderContext.reset();
    gl.reset();
}

void MpvEngine::Impl::fallBackToSoftware() {
    if (!renderingOnGpu)
        return;
    // Freeing the GL renderer while it shows video would take the video track down for good, so
    // the track is let go first and chosen again for the memory renderer: it plays on from where
    // it was. Meanwhile the missing track is no file without a picture.
    std::int64_t track = detail::track_number(core.get(), "vid");
    reattachingVideo = true;
    mpv_set_property_string(core.get(), "vid", "no");
    releaseRenderer();
    mpv_set_property_string(core.get(), "hwdec", "no");
    createRenderer();
    // Drawn in memory, the picture must come turned upright before the renderer sees it.
    if (!rotationWatched) {
        watchForRotation();
        applyUprightFilter();
    }
    if (track > 0)
        mpv_set_property(core.get(), "vid", MPV_FORMAT_INT64, &track);
    reattachingVideo = false;
    post([this] { emit q->outputChanged(); });
}

void MpvEngine::loseGl() {
    d->fallBackToSoftware();
}

} // namespace movarin
