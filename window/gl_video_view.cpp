#include "window/gl_video_view.h"

#include "engine/video_engine.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>

namespace movarin {

GlVideoView::GlVideoView(QWidget* parent) : QOpenGLWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

GlVideoView::~GlVideoView() {
    if (context()) {
        // The base class destroys the context after this object has become a base: the
        // handler for that must not run on what is left of it.
        disconnect(context(), nullptr, this, nullptr);
        makeCurrent();
        releaseGl();
        doneCurrent();
    }
}

void GlVideoView::releaseGl() {
    if (m_blitter.isCreated())
        m_blitter.destroy();
    m_texture = 0;
}

void GlVideoView::showNewFrame() {
    ++m_serial;
    update();
}

QSize GlVideoView::deviceSize() const {
    const qreal dpr = devicePixelRatioF();
    return QSize(qRound(width() * dpr), qRound(height() * dpr));
}

void GlVideoView::initializeGL() {
    m_blitter.create();
    // A context lost with its window takes the blitter with it; a new one makes its own.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        makeCurrent();
        releaseGl();
        doneCurrent();
    });
}

void GlVideoView::paintGL() {
    QOpenGLFunctions* f = context()->functions();
    const QSize device = deviceSize();
    const bool due = m_serial != m_drawnSerial;
    const bool drawing = m_engine && m_engine->drawsWithGl() && !device.isEmpty();
    if (drawing && (due || device != m_drawnSize || !m_texture)) {
        m_texture = m_engine->renderTexture(device);
        m_drawnSerial = m_serial;
        m_drawnSize = device;
        // The engine drew in a context of its own; this one's target is bound again.
        f->glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
        f->glViewport(0, 0, device.width(), device.height());
        if (m_texture)
            emit frameDrawn(due);
    }
    if (!drawing || !m_texture || !m_blitter.isCreated()) {
        f->glClearColor(0, 0, 0, 1);
        f->glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    f->glDisable(GL_BLEND);
    m_blitter.bind();
    const QRect target(QPoint(), device);
    m_blitter.blit(m_texture, QOpenGLTextureBlitter::targetTransform(target, target),
                   QOpenGLTextureBlitter::OriginTopLeft);
    m_blitter.release();
}

} // namespace movarin
