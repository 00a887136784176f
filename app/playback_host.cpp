#include "app/playback_host.h"

#include "app/movie_address.h"
#include "app/mpv_engine.h"
#include "app/path_bytes.h"
#include "app/playback_controls.h"
#include "app/twips.h"

#include <QFileInfo>
#include <QPainter>
#include <QResizeEvent>

#include <cmath>
#include <stdexcept>

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

PlaybackHost::PlaybackHost(QStringList engineOptions, QWidget* parent)
    : QWidget(parent), m_engineOptions(std::move(engineOptions)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    m_controls = new PlaybackControls(this);
}

PlaybackHost::~PlaybackHost() = default;

void PlaybackHost::ensureEngine() {
    if (m_engine)
        return;
    // Created on first use, so that a window with nothing to play starts without the engine.
    m_engine = std::make_unique<MpvEngine>(m_engineOptions);
    m_controls->attach(m_engine.get());
    connect(m_engine.get(), &MpvEngine::frameRendered, this, &PlaybackHost::onFrame);
    connect(m_engine.get(), &MpvEngine::videoSizeChanged, this, &PlaybackHost::onVideoSize);
    connect(m_engine.get(), &MpvEngine::fileStarted, this, [this] { m_awaitingStart = false; });
    connect(m_engine.get(), &MpvEngine::fileLoaded, this, [this] {
        if (!m_awaitingStart)
            m_failure.clear();
    });
    connect(m_engine.get(), &MpvEngine::loadFailed, this, &PlaybackHost::onFailure);
    connect(m_engine.get(), &MpvEngine::videoAbsent, this, &PlaybackHost::onNoVideo);
    updateTargetSize();
    emit playerCreated(m_engine.get());
}

Player* PlaybackHost::player() const {
    return m_engine.get();
}

// Until the new file's picture size is known, a frame may still be the last file's picture.
void PlaybackHost::onFrame(const QImage& frame) {
    if (m_awaitingStart || !m_hasPicture || !m_failure.isEmpty() || m_audioOnly)
        return;
    m_frame = frame;
    update();
    emit frameShown();
}

void PlaybackHost::onFailure() {
    if (m_awaitingStart)
        return; // the end of the file that the last setMovie replaced
    m_frame = QImage();
    m_hasPicture = m_audioOnly = false;
    m_controls->setPinned(false);
    const QString name = QFileInfo(m_videoPath).fileName();
    m_failure = tr("Cannot play %1").arg(readable_path(name.isEmpty() ? m_videoPath : name));
    update();
    reportDesignSize();
}

void PlaybackHost::onNoVideo() {
    if (m_awaitingStart || !m_failure.isEmpty())
        return;
    m_frame = QImage();
    m_hasPicture = false;
    m_audioOnly = true;
    // Nothing moves in the picture, so the time stays in view.
    m_controls->setPinned(true);
    update();
    reportDesignSize();
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

void PlaybackHost::setMovie(const QString& address) {
    ensureEngine();
    m_videoPath = from_path_bytes(video_path_of(to_path_bytes(address)));
    m_engine->load(m_videoPath);
    m_movie = address;
    m_awaitingStart = true;
    m_failure.clear();
    // A new file never shows the last one's picture, not even for a moment.
    m_frame = QImage();
    m_hasPicture = m_audioOnly = false;
    m_controls->setPinned(false);
    update();
}

void PlaybackHost::setWidth(float pixels) {
    resize(checkedPixels(pixels), height());
}

void PlaybackHost::setHeight(float pixels) {
    resize(width(), checkedPixels(pixels));
}

void PlaybackHost::setLeft(float pixels) {
    if (!std::isfinite(pixels) || std::fabs(pixels) > QWIDGETSIZE_MAX)
        throw std::overflow_error("Overflow");
    move(static_cast<int>(std::lround(pixels)), 0);
}

void PlaybackHost::onVideoSize(int width, int height) {
    if (m_awaitingStart)
        return; // the size of the file that the last setMovie replaced
    m_hasPicture = true;
    m_audioOnly = false;
    m_controls->setPinned(false);
    // The frame that made the size known may have been held back above.
    m_engine->requestFrame();
    emit FSCommand(QStringLiteral("actualsizewidth"), QString::number(width));
    emit FSCommand(QStringLiteral("actualsizeheight"), QString::number(height));
}

void PlaybackHost::updateTargetSize() {
    if (!m_engine)
        return;
    const qreal dpr = devicePixelRatioF();
    m_engine->setTargetSize(QSize(qRound(width() * dpr), qRound(height() * dpr)));
}

void PlaybackHost::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateTargetSize();
}

void PlaybackHost::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!m_frame.isNull()) {
        // The frame covers the whole host and is opaque: it is copied over what was there, with
        // no black fill first. It is rendered at the host's size in device pixels; a frame from
        // before a resize is stretched until the next one arrives.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(rect(), m_frame);
        return;
    }
    painter.fillRect(rect(), Qt::black);
    if (const QString notice = noticeText(); !notice.isEmpty()) {
        painter.setPen(QColor(0x90, 0x90, 0x90));
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, notice);
    }
}

} // namespace movarin
