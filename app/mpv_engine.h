#pragma once

#include "app/player.h"

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

// Whether the engine's loop setting means "loop": it reads "inf", a count, or "no"/false.
bool loop_enabled(const std::string& text);
bool loop_enabled(std::int64_t count);

// The one owner of libmpv, and the player that plays through it: nothing else includes an mpv
// header or uses mpv's names for its commands, properties and options.
// Events are read on a thread of their own and reach the GUI thread as queued signals. Pictures
// are drawn on the GUI thread when the engine says one is due, straight into the memory the
// caller paints with, so a frame is converted once and copied no further. Failures to create
// the engine or to load a file throw std::runtime_error; the other verbs never throw.
class MpvEngine : public Player {
    Q_OBJECT
public:
    // extraOptions: "name=value" pairs applied before start-up, after the engine's own.
    explicit MpvEngine(const QStringList& extraOptions = {}, QObject* parent = nullptr);
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

    // Draw the current picture, stretched over size (device pixels), in the layout of `format`:
    // QImage::Format_RGB32, or Format_ARGB32_Premultiplied (opaque), which is what X11 backing
    // stores hold. The first call after frameDue takes the new frame; later ones draw the same
    // one again. A failed or empty draw, or another format, returns false or a null image.
    bool renderInto(uchar* bits, QSize size, qsizetype bytesPerLine,
                    QImage::Format format = QImage::Format_RGB32);
    QImage renderImage(QSize size);
    // Takes the due frame without drawing it: the engine waits for every due frame to be taken.
    void skipFrame();

    // Frames the engine let go since the file started: late for the screen, or not decoded.
    struct FrameDrops {
        long long engine = 0;
        long long decoder = 0;
    };
    FrameDrops frameDrops() const;

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

private:
    void onProperty(int which, const QVariant& value);
    void setHasVideo(bool hasVideo);
    void command(const QStringList& args);
    void setPropertyAsync(const char* name, const QVariant& value);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace movarin
