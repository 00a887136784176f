#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace movarin {

// The one owner of libmpv: nothing else includes an mpv header.
// Events are read on a thread of their own and rendering runs on another, so the GUI thread
// never waits for the player core while it is busy drawing. Everything reaches the GUI thread
// as queued signals. Failures to create or command the engine throw std::runtime_error.
class MpvEngine : public QObject {
    Q_OBJECT
public:
    // extraOptions: "name=value" pairs applied before start-up (tests pass "ao=null").
    explicit MpvEngine(const QStringList& extraOptions = {}, QObject* parent = nullptr);
    ~MpvEngine() override;

    MpvEngine(const MpvEngine&) = delete;
    MpvEngine& operator=(const MpvEngine&) = delete;

    // Replaces whatever plays and starts playing the file at once.
    void loadFile(const QString& path);

    // Size, in device pixels, of the images that frameRendered delivers. An empty size stops
    // rendering.
    void setTargetSize(QSize deviceSize);
    // Renders the current picture once more, even if nothing changed.
    void requestFrame();

    // Synchronous property access, for the controls and for tests.
    QVariant property(const char* name) const;
    void setProperty(const char* name, const QVariant& value);
    // Fire-and-forget commands and properties that may take the core a while.
    void commandAsync(const QStringList& args);
    void setPropertyAsync(const char* name, const QVariant& value);
    // Delivers propertyChanged(name, value) whenever the property changes.
    void observe(const char* name);

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
    void propertyChanged(const QString& name, const QVariant& value);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace movarin
