#include "window/playback_host.h"

#include "engine/path_bytes.h"
#include "engine/video_engine.h"
#include "window/gl_video_view.h"
#include "window/movie_address.h"
#include "window/playback_controls.h"
#include "window/size_fitting.h"
#include "window/twips.h"

#include <QFileInfo>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>

#include <cmath>
#include <stdexcept>
#include <utility>

namespace movarin {

namespace {

int checkedPixels(float pixels) {
    if (!std::isfinite(pixels) || std::fabs(pixels) > QWIDGETSIZE_MAX)
        throw std::overflow_error("Overflow");
    if (pixels < 0)
        throw std::invalid_argument("Invalid property value");
    return static_cast<int>(std::lround(pixels));
}

} // namespace

EarlyEngine::EarlyEngine() = default;
EarlyEngine::EarlyEngine(EarlyEngine&&) noexcept = default;
EarlyEngine& EarlyEngine::operator=(EarlyEngine&&) noexcept = default;
EarlyEngine::~EarlyEngine() = default;

EarlyEngine start_engine_early(const QString& commandTail, const QStringList& engineOptions) {
    EarlyEngine early;
    // The same path the window's play_file arrives at for this tail.
    const std::string path = clean_command_path(to_path_bytes(commandTail));
    if (path.empty())
        return early;
    try {
        auto engine = make_video_engine(engineOptions, video_output());
        early.videoPath = from_path_bytes(path);
        engine->load(early.videoPath);
        early.engine = std::move(engine);
    } catch (const std::exception&) {
        early = {};
    }
    return early;
}

PlaybackHost::PlaybackHost(QStringList engineOptions, QWidget* parent)
    : QWidget(parent), m_engineOptions(std::move(engineOptions)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    if (video_output() == VideoOutput::Gl) {
        m_glView = new GlVideoView(this);
        m_glView->hide();
        connect(m_glView, &GlVideoView::frameDrawn, this, [this](bool newFrame) {
            ++m_framesRendered;
            if (newFrame && std::exchange(m_framePending, false)) {
                ++m_framesShown;
                emit frameShown();
            }
        });
    }
    m_controls = new PlaybackControls(this);
}

PlaybackHost::~PlaybackHost() = default;

void PlaybackHost::ensureEngine(std::unique_ptr<VideoEngine> made) {
    if (m_engine)
        return;
    // Created on first use, so that a window with nothing to play starts without the engine.
    m_engine = made ? std::move(made)
                    : make_video_engine(m_engineOptions,
                                        m_glView ? VideoOutput::Gl : VideoOutput::Software);
    if (m_glView)
        m_glView->setEngine(m_engine.get());
    m_controls->attach(m_engine.get());
    connect(m_engine.get(), &VideoEngine::frameDue, this, &PlaybackHost::onFrameDue);
    connect(m_engine.get(), &VideoEngine::videoSizeChanged, this, &PlaybackHost::onVideoSize);
    connect(m_engine.get(), &VideoEngine::fileStarted, this, [this] {
        m_awaitingStart = false;
        syncGlView();
    });
    connect(m_engine.get(), &VideoEngine::fileLoaded, this, [this] {
        if (!m_awaitingStart)
            m_failure.clear();
    });
    connect(m_engine.get(), &VideoEngine::loadFailed, this, &PlaybackHost::onFailure);
    connect(m_engine.get(), &VideoEngine::videoAbsent, this, &PlaybackHost::onNoVideo);
    connect(m_engine.get(), &VideoEngine::coverFound, this, &PlaybackHost::onCover);
    connect(m_engine.get(), &VideoEngine::outputChanged, this, [this] {
        syncGlView();
        update();
    });
    emit playerCreated(m_engine.get());
}

Player* PlaybackHost::player() const {
    return m_engine.get();
}

bool PlaybackHost::showsPicture() const {
    // Until the new file's picture size is known, the engine may still hold the last file's.
    return m_engine && !m_awaitingStart && m_hasPicture && m_failure.isEmpty() && !m_audioOnly;
}

void PlaybackHost::onFrameDue() {
    const QWindow* shownIn = window()->windowHandle();
    if (!showsPicture() || !isVisible() || !shownIn || !shownIn->isExposed()) {
        // Nobody would see it, and the engine waits until it is taken.
        m_engine->skipFrame();
        return;
    }
    ++m_frameSerial;
    m_framePending = true;
    if (showsGlPicture())
        m_glView->showNewFrame();
    else
        update();
}

QImage PlaybackHost::currentPicture() {
    if (showsCover()) {
        QImage picture(deviceSize(), QImage::Format_RGB32);
        picture.setDevicePixelRatio(devicePixelRatioF());
        QPainter painter(&picture);
        paintCover(painter);
        return picture;
    }
    if (!showsPicture())
        return {};
    if (showsGlPicture())
        return m_glView->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    return m_engine->renderImage(deviceSize());
}

bool PlaybackHost::showsGlPicture() const {
    return m_glView && !m_glView->isHidden();
}

void PlaybackHost::syncGlView() {
    if (!m_glView)
        return;
    const bool show = showsPicture() && m_engine->drawsWithGl();
    if (show == !m_glView->isHidden())
        return;
    m_glView->setGeometry(rect());
    m_glView->setVisible(show);
    if (show) {
        m_glView->lower();
        m_glView->showNewFrame();
    }
}

void PlaybackHost::resizeEvent(QResizeEvent* event) {
    if (m_glView)
        m_glView->setGeometry(rect());
    QWidget::resizeEvent(event);
}

QSize PlaybackHost::deviceSize() const {
    const qreal dpr = devicePixelRatioF();
    return QSize(qRound(width() * dpr), qRound(height() * dpr));
}

void PlaybackHost::onFailure() {
    if (m_awaitingStart)
        return; // the end of the file that the last setMovie replaced
    forgetPictures();
    m_hasPicture = m_audioOnly = false;
    m_controls->setPinned(false);
    const QString name = QFileInfo(m_videoPath).fileName();
    m_failure = tr("Cannot play %1").arg(readable_path(name.isEmpty() ? m_videoPath : name));
    syncGlView();
    update();
    reportDesignSize();
}

void PlaybackHost::onNoVideo() {
    if (m_awaitingStart || !m_failure.isEmpty())
        return;
    forgetPictures();
    m_hasPicture = false;
    m_audioOnly = true;
    // Nothing moves in the picture, so the time stays in view.
    m_controls->setPinned(true);
    syncGlView();
    update();
    reportDesignSize();
}

// The cover takes the place of the words "Audio only"; the bar stays in view, as nothing in the
// picture moves.
void PlaybackHost::onCover(const QImage& picture, QSize size) {
    if (m_awaitingStart || !m_failure.isEmpty() || !m_audioOnly || picture.isNull())
        return;
    m_cover = picture;
    m_coverSize = size;
    m_audioOnly = false;
    update();
    const QSize area = coverArea();
    emit FSCommand(QStringLiteral("actualsizewidth"), QString::number(area.width()));
    emit FSCommand(QStringLiteral("actualsizeheight"), QString::number(area.height()));
}

QSize PlaybackHost::coverArea() const {
    const twips::PixelSize area =
        fitting::cover_area({m_coverSize.width(), m_coverSize.height()},
                            {twips::kDesignVideoWidth, twips::kDesignVideoHeight});
    return {area.width, area.height};
}

void PlaybackHost::paintCover(QPainter& painter) const {
    painter.fillRect(rect(), Qt::black);
    const QSize area = coverArea();
    const fitting::PixelRect at =
        fitting::cover_place({m_coverSize.width(), m_coverSize.height()},
                             {area.width(), area.height()}, {width(), height()});
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(at.x, at.y, at.width, at.height), m_cover);
}

void PlaybackHost::reportDesignSize() {
    emit FSCommand(QStringLiteral("actualsizewidth"), QString::number(twips::kDesignVideoWidth));
    emit FSCommand(QStringLiteral("actualsizeheight"), QString::number(twips::kDesignVideoHeight));
}

QString PlaybackHost::noticeText() const {
    if (!m_failure.isEmpty())
        return m_failure;
    return m_audioOnly ? tr("Audio only") : QString();
}

void PlaybackHost::adoptEngine(EarlyEngine early) {
    if (!m_engine)
        m_early = std::move(early);
}

void PlaybackHost::setMovie(const QString& address) {
    m_videoPath = from_path_bytes(video_path_of(to_path_bytes(address)));
    // An early engine opening this very file is taken over as it is: its events wait in the
    // queue until the event loop runs, so the host sees every one. One opening another file goes,
    // and its events with it, or they would pass for the new file's.
    EarlyEngine early = std::exchange(m_early, {});
    const bool opening = !m_engine && early.engine && early.videoPath == m_videoPath;
    if (!opening)
        early = {};
    ensureEngine(opening ? std::move(early.engine) : nullptr);
    if (!opening)
        m_engine->load(m_videoPath);
    m_movie = address;
    m_awaitingStart = true;
    m_failure.clear();
    // A new file never shows the last one's picture, not even for a moment.
    forgetPictures();
    m_hasPicture = m_audioOnly = false;
    m_controls->setPinned(false);
    syncGlView();
    update();
}

void PlaybackHost::setWidth(float pixels) {
    const int w = checkedPixels(pixels);
    if (m_fill) {
        m_extent.setWidth(w);
        placeInParent();
    } else {
        resize(w, height());
    }
}

void PlaybackHost::setHeight(float pixels) {
    const int h = checkedPixels(pixels);
    if (m_fill) {
        m_extent.setHeight(h);
        placeInParent();
    } else {
        resize(width(), h);
    }
}

void PlaybackHost::setLeft(float pixels) {
    if (!std::isfinite(pixels) || std::fabs(pixels) > QWIDGETSIZE_MAX)
        throw std::overflow_error("Overflow");
    const int x = static_cast<int>(std::lround(pixels));
    if (m_fill)
        m_extent.moveTo(x, 0);
    else
        move(x, 0);
}

void PlaybackHost::setFillParent(bool fill) {
    if (fill == m_fill || !parentWidget())
        return;
    m_fill = fill;
    if (fill) {
        m_extent = geometry();
        parentWidget()->installEventFilter(this);
        placeInParent();
    } else {
        parentWidget()->removeEventFilter(this);
        setGeometry(m_extent);
    }
}

void PlaybackHost::placeInParent() {
    const QSize area = parentWidget()->size();
    const fitting::PixelRect r =
        fitting::letterbox({m_extent.width(), m_extent.height()}, {area.width(), area.height()});
    setGeometry(r.x, r.y, r.width, r.height);
}

bool PlaybackHost::eventFilter(QObject* watched, QEvent* event) {
    if (m_fill && watched == parentWidget() && event->type() == QEvent::Resize)
        placeInParent();
    return QWidget::eventFilter(watched, event);
}

void PlaybackHost::onVideoSize(int width, int height) {
    if (m_awaitingStart)
        return; // the size of the file that the last setMovie replaced
    m_hasPicture = true;
    m_audioOnly = false;
    m_controls->setPinned(false);
    syncGlView();
    update();
    emit FSCommand(QStringLiteral("actualsizewidth"), QString::number(width));
    emit FSCommand(QStringLiteral("actualsizeheight"), QString::number(height));
}

void PlaybackHost::forgetPictures() {
    m_cached = QImage();
    m_under = QImage();
    m_cover = QImage();
}

void PlaybackHost::paintEvent(QPaintEvent* event) {
    if (showsGlPicture())
        return; // the GL view covers the whole host
    QPainter painter(this);
    if (showsPicture()) {
        const bool inPlace = paintInPlace(painter, *event);
        if (!inPlace && !paintUnderChildren(painter, *event)) {
            // Drawn through an image of our own: a repaint of part of the host (under the control
            // bar, say) must leave the rest as it is, and grabs paint into a device of their own.
            const QSize device = deviceSize();
            if (m_cached.size() != device || m_cachedSerial != m_frameSerial) {
                m_cached = m_engine->renderImage(device);
                m_cachedSerial = m_frameSerial;
                m_framesRendered += m_cached.isNull() ? 0 : 1;
            }
            // The picture covers the whole host and is opaque: no black fill under it.
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            if (m_cached.isNull())
                painter.fillRect(rect(), Qt::black);
            else
                painter.drawImage(rect(), m_cached);
        }
        if (std::exchange(m_framePending, false)) {
            ++m_framesShown;
            m_framesInPlace += inPlace ? 1 : 0;
            emit frameShown();
        }
        return;
    }
    if (showsCover()) {
        paintCover(painter);
        return;
    }
    painter.fillRect(rect(), Qt::black);
    if (const QString notice = noticeText(); !notice.isEmpty()) {
        painter.setPen(QColor(0x90, 0x90, 0x90));
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, notice);
    }
}

// The engine draws straight into the window's backing store when this paint covers the whole
// host and the store is plain memory in a pixel layout the engine draws: the frame is converted
// once, where it is flushed from, with no copy of our own.
bool PlaybackHost::paintInPlace(QPainter& painter, const QPaintEvent& event) {
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    // The engine fills the whole host, so a paint of only part of it may not draw in place:
    // what lies outside is left as it is.
    if (!device || device->devType() != QInternal::Image ||
        !QRegion(rect()).subtracted(event.region()).isEmpty())
        return false;
    const QTransform toDevice = painter.deviceTransform();
    if (toDevice.type() > QTransform::TxScale)
        return false;
    auto* store = static_cast<QImage*>(device);
    const QRect target = toDevice.mapRect(QRectF(rect())).toAlignedRect();
    if (!store->isDetached() || target.isEmpty() || !store->rect().contains(target))
        return false;
    uchar* origin =
        store->bits() + qsizetype(target.y()) * store->bytesPerLine() + qsizetype(target.x()) * 4;
    if (!m_engine->renderInto(origin, target.size(), store->bytesPerLine(), store->format()))
        return false;
    ++m_framesRendered;
    m_cached = QImage(); // its memory is better given back than kept for a partial repaint
    keepUnderChildren(*store, toDevice, target);
    return true;
}

// Where widgets lie over the picture, the bar included while it is hidden: it shows with a
// repaint of its own.
QRect PlaybackHost::overPicture() const {
    return (childrenRect() | m_controls->geometry()) & rect();
}

// The control bar over the picture repaints between frames (its knob moves, its time ticks),
// and the picture under it must then be drawn again without the bar that is on it now. The few
// rows it covers are kept from the frame as drawn, before the bar was painted on them, so that
// such a repaint does not draw the whole frame again.
void PlaybackHost::keepUnderChildren(const QImage& store, const QTransform& toDevice,
                                     const QRect& target) {
    const QRect over = overPicture();
    const QRect deviceRect = toDevice.mapRect(QRectF(over)).toAlignedRect() & target;
    if (deviceRect.isEmpty()) {
        m_under = QImage();
        return;
    }
    m_under = store.copy(deviceRect);
    m_under.setDevicePixelRatio(devicePixelRatioF());
    m_underRect = over;
    m_underHostSize = size();
    m_underSerial = m_frameSerial;
}

bool PlaybackHost::paintUnderChildren(QPainter& painter, const QPaintEvent& event) {
    if (m_under.isNull() || m_underSerial != m_frameSerial || m_underHostSize != size() ||
        !m_underRect.contains(event.region().boundingRect()))
        return false;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(m_underRect), m_under);
    return true;
}

} // namespace movarin
