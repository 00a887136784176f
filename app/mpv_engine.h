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
// Events are read on a thread of their own and rendering runs on another, so the GUI thread
// never waits for the player core while it is busy drawing. Everything reaches the GUI thread
// as queued signals. Failures to create the engine or to load a file throw std::runtime_error;
// the other verbs never throw.
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

    // Size, in device pixels, of the images that frameRendered delivers. An empty size stops
    // rendering.
    void setTargetSize(QSize deviceSize);
    // Renders the current picture once more, even if nothing changed.
    void requestFrame();

    // Frames the engine let go since the file started: late for the screen, or not decoded.
    struct FrameDrops {
        long long engine = 0;
        long long decoder = 0;
    };
    FrameDrops frameDrops() const;

signals:
    // Natural display size of the current video, sent once per file and again if it changes.
    void videoSizeChanged(int width, int height);
    void frameRendered(const QImage& frame);
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
