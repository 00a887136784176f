#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class QPainter;

namespace movarin {

class VideoEngine;
class GlVideoView;
class PlaybackControls;
class Player;

// An engine already opening the file a command names, started before the window is built:
// opening a file takes the engine longer than building the window takes the GUI, so this way
// both are ready at about the same time.
struct EarlyEngine {
    EarlyEngine();
    EarlyEngine(EarlyEngine&&) noexcept;
    EarlyEngine& operator=(EarlyEngine&&) noexcept;
    ~EarlyEngine();

    std::unique_ptr<VideoEngine> engine;
    // The file it opens, as the host names it once the same tail reaches it.
    QString videoPath;
};

// Starts one for a command tail, with the options the host is given; none for a tail that names
// nothing, or when the engine fails (the window's own attempt then fails and reports why).
// Call once the QApplication exists and numbers are formatted the C way.
EarlyEngine start_engine_early(const QString& commandTail, const QStringList& engineOptions);

// The window's `player`: shows the video named by a movie address, stretched over the host's
// whole extent, and reports the video's natural size through FSCommand.
class PlaybackHost : public QWidget {
    Q_OBJECT
public:
    explicit PlaybackHost(QStringList engineOptions = {}, QWidget* parent = nullptr);
    ~PlaybackHost() override;

    // Loads the file that the address's "filename" key names, replacing whatever plays.
    // Throws when the engine cannot be created or commanded.
    void setMovie(const QString& address);
    QString movie() const { return m_movie; }
    // Takes over an engine started early, made with this host's options, for the first movie:
    // if that is the early engine's file, it goes on opening it; otherwise it loads the movie.
    void adoptEngine(EarlyEngine early);

    // Pixels of the window's video area; the top edge always stays at 0.
    void setWidth(float pixels);
    void setHeight(float pixels);
    void setLeft(float pixels);
    // Letterboxed over the whole of its parent, following the parent's size, with the shape of
    // the extent the three above set; put back at that extent when turned off.
    void setFillParent(bool fill);
    bool fillsParent() const { return m_fill; }

    // Null until the first movie is set.
    VideoEngine* engine() const { return m_engine.get(); }
    Player* player() const;
    // What the last failed load said, empty while the current file plays.
    QString failureText() const { return m_failure; }
    // The current file plays sound only, without a cover.
    bool audioOnly() const { return m_audioOnly; }
    // The current file plays sound and shows its cover.
    bool showsCover() const { return !m_cover.isNull(); }
    // The picture the host shows, drawn again at its size in device pixels; null while it shows
    // none (nothing loaded, a notice, a new file before its size is known).
    QImage currentPicture();
    // New frames painted since the host was made, and how many of them were drawn straight into
    // the window's backing store.
    long long framesShown() const { return m_framesShown; }
    long long framesPaintedInPlace() const { return m_framesInPlace; }
    // Whole frames drawn into the window's backing store, repaints of a frame included.
    long long framesRendered() const { return m_framesRendered; }
    // The bar, keys and right-click menu laid over the picture.
    PlaybackControls* controls() const { return m_controls; }
    // The picture is on screen through GL now (the engine draws on the GPU).
    bool showsGlPicture() const;

signals:
    void FSCommand(const QString& command, const QString& args);
    void frameShown();
    // The first movie was set and the player behind it is there from now on.
    void playerCreated(Player* player);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // `made`: an engine to take instead of making one.
    void ensureEngine(std::unique_ptr<VideoEngine> made = nullptr);
    void onVideoSize(int width, int height);
    void onFrameDue();
    bool showsPicture() const;
    QSize deviceSize() const;
    bool paintInPlace(QPainter& painter, const QPaintEvent& event);
    QRect overPicture() const;
    void keepUnderChildren(const QImage& store, const QTransform& toDevice, const QRect& target);
    bool paintUnderChildren(QPainter& painter, const QPaintEvent& event);
    void forgetPictures();
    void onFailure();
    void onNoVideo();
    void onCover(const QImage& picture, QSize size);
    // The cover's area in the window, and the cover drawn at its place in it.
    QSize coverArea() const;
    void paintCover(QPainter& painter) const;
    // A file with no picture puts the window back to its design size, through the same size
    // reports a video sends, so that the window's one fitting rule decides.
    void reportDesignSize();
    QString noticeText() const;
    void placeInParent();
    // Shows the GL view while it has a picture to show, and the host's own painting otherwise.
    void syncGlView();

    QStringList m_engineOptions;
    std::unique_ptr<VideoEngine> m_engine;
    EarlyEngine m_early;
    QString m_movie;
    QString m_videoPath;
    QString m_failure;
    // The picture as last drawn through an image of our own, and the frame it shows.
    QImage m_cached;
    unsigned long long m_cachedSerial = 0;
    unsigned long long m_frameSerial = 0;
    // The frame drawn in place as it was under the widgets over it, and where that was.
    QImage m_under;
    QRect m_underRect;
    QSize m_underHostSize;
    unsigned long long m_underSerial = 0;
    long long m_framesRendered = 0;
    bool m_framePending = false;
    long long m_framesShown = 0;
    long long m_framesInPlace = 0;
    bool m_awaitingStart = false;
    // The current file's picture size is known, so its frames are its own.
    bool m_hasPicture = false;
    bool m_audioOnly = false;
    // A sound file's cover, shown in the host's own painting, and its own size.
    QImage m_cover;
    QSize m_coverSize;
    PlaybackControls* m_controls = nullptr;
    // Where pictures are drawn through GL: made with the host, before the window is shown, so
    // the window is composed with GL from its first frame.
    GlVideoView* m_glView = nullptr;
    // While filling the parent: where the window's fit puts the host, kept for afterwards.
    bool m_fill = false;
    QRect m_extent;
};

} // namespace movarin
