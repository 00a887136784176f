#pragma once

#include "engine/video_engine.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <string>

namespace movarin {

// Engine options for callers on machines with no sound device (tests, benchmarks), and for
// those that want no pictures at all.
QStringList noSoundOptions();
QString noVideoOutputOption();

// The one owner of libmpv, and the player that plays through it: nothing else includes an mpv
// header or uses mpv's names for its commands, properties and options. Events are read on a
// thread of their own and reach the GUI thread as queued signals.
class MpvEngine : public VideoEngine {
    Q_OBJECT
public:
    // extraOptions: "name=value" pairs applied before start-up, after the engine's own.
    // output: GL is tried first, and drawing in memory taken where any GL step fails.
    explicit MpvEngine(const QStringList& extraOptions = {},
                       VideoOutput output = VideoOutput::Software, QObject* parent = nullptr);
    ~MpvEngine() override;

    MpvEngine(const MpvEngine&) = delete;
    MpvEngine& operator=(const MpvEngine&) = delete;

    void load(const QString& path) override;
    void play() override;
    void pause() override;
    void togglePause() override;
    void seekTo(double seconds) override;
    void seekBy(double seconds) override;
    void setVolume(double volume) override;
    void changeVolume(double by) override;
    void setMuted(bool muted) override;
    void toggleMute() override;
    void setLooping(bool looping) override;

    bool renderInto(uchar* bits, QSize size, qsizetype bytesPerLine,
                    QImage::Format format = QImage::Format_RGB32) override;
    QImage renderImage(QSize size) override;
    void skipFrame() override;
    FrameDrops frameDrops() const override;
    bool drawsWithGl() const override;
    unsigned renderTexture(QSize size) override;
    // What a failed GL step while playing does: drawing moves to memory and playing goes on.
    // Tests call it, as no GL context can be lost on purpose.
    void loseGl();

private:
    void onProperty(int which, const QVariant& value);
    void setHasVideo(bool hasVideo);
    void command(const QStringList& args);
    void setPropertyAsync(const char* name, const QVariant& value);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace movarin
