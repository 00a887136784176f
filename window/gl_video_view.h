#pragma once

#include <QOpenGLTextureBlitter>
#include <QOpenGLWidget>

namespace movarin {

class VideoEngine;

// The picture as the engine draws it on the GPU, laid over the whole playback host under its
// control bar. Mouse events and drops pass through to the host, as if the picture were the
// host's own painting. Each new frame is drawn once, in the engine's GL context, and copied
// here at device resolution; repaints (the bar over it, a resize) copy the same texture again.
class GlVideoView : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit GlVideoView(QWidget* parent = nullptr);
    ~GlVideoView() override;

    void setEngine(VideoEngine* engine) { m_engine = engine; }
    // A new frame is due: take it at the next paint.
    void showNewFrame();
    // The widget's size in device pixels, as Qt rounds it.
    QSize deviceSize() const;

signals:
    // After a paint that took a frame from the engine; `newFrame` when that was a due one.
    void frameDrawn(bool newFrame);

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void releaseGl();

    VideoEngine* m_engine = nullptr;
    QOpenGLTextureBlitter m_blitter;
    unsigned m_texture = 0;
    unsigned long long m_serial = 0;
    unsigned long long m_drawnSerial = 0;
    QSize m_drawnSize;
};

} // namespace movarin
