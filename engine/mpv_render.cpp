#include "engine/frame_layout.h"
#include "engine/mpv_engine_impl.h"
#include "engine/mpv_properties.h"

#include <QSysInfo>

#include <cstring>

namespace movarin {

namespace {

// Frames are rendered in the layout of the memory they are painted into, so that painting them
// needs no conversion. Premultiplied stores get an opaque alpha byte, which the padding byte of
// the RGB32 layout is not.
const char* frameFormat(QImage::Format format) {
    const bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    switch (format) {
    case QImage::Format_RGB32:
        return little ? "bgr0" : "0rgb";
    case QImage::Format_ARGB32_Premultiplied:
        return little ? "bgra" : "argb";
    default:
        return nullptr;
    }
}

} // namespace

void MpvEngine::Impl::onRenderUpdate(void* self) {
    // Called on mpv's threads, which must not be called back: hand over to the GUI thread.
    auto* impl = static_cast<Impl*>(self);
    if (!impl->updatePosted.exchange(true))
        impl->post([impl] { impl->takeUpdate(); });
}

void MpvEngine::Impl::takeUpdate() {
    updatePosted = false;
    if (renderContext &&
        (mpv_render_context_update(renderContext.get()) & MPV_RENDER_UPDATE_FRAME)) {
        ++framesHanded;
        emit q->frameDue();
    }
}

// Draws the current picture, or only takes it when bits is null. The engine hands a frame over
// when it is due (no timing offset), so the call never waits for its display time.
bool MpvEngine::Impl::render(uchar* bits, QSize size, qsizetype stride, QImage::Format layout) {
    if (renderingOnGpu) {
        if (!bits)
            renderGl({}, true);
        return false;
    }
    const char* pixelFormat = frameFormat(layout);
    if (!renderContext || !pixelFormat ||
        (bits && (size.isEmpty() || stride < qsizetype(size.width()) * 4)))
        return false;
    int skip = bits ? 0 : 1;
    int noBlock = 0;
    const int converted = converter_width(size.width());
    int sw[2] = {converted, size.height()};
    char format[8];
    std::strncpy(format, pixelFormat, sizeof format);
    std::size_t bytesPerLine = static_cast<std::size_t>(stride);
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_SKIP_RENDERING, &skip},
        {MPV_RENDER_PARAM_BLOCK_FOR_TARGET_TIME, &noBlock},
        {MPV_RENDER_PARAM_SW_SIZE, sw},
        {MPV_RENDER_PARAM_SW_FORMAT, format},
        {MPV_RENDER_PARAM_SW_STRIDE, &bytesPerLine},
        {MPV_RENDER_PARAM_SW_POINTER, bits},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    if (mpv_render_context_render(renderContext.get(), params) < 0)
        return false;
    repeat_last_column(bits, size.width(), size.height(), stride, converted);
    return true;
}

void MpvEngine::Impl::createRenderer() {
    mpv_render_param params[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context* context = nullptr;
    if (const int err = mpv_render_context_create(&context, core.get(), params); err < 0)
        detail::fail("The video renderer could not be created", err);
    renderContext.reset(context);
    renderingOnGpu = false;
    mpv_render_context_set_update_callback(context, &Impl::onRenderUpdate, this);
}

bool MpvEngine::renderInto(uchar* bits, QSize size, qsizetype bytesPerLine, QImage::Format format) {
    return bits && d->render(bits, size, bytesPerLine, format);
}

QImage MpvEngine::renderImage(QSize size) {
    if (size.isEmpty())
        return {};
    QImage frame = d->frames->take(size);
    if (frame.isNull() || !d->render(frame.bits(), size, frame.bytesPerLine()))
        return {};
    return frame;
}

void MpvEngine::skipFrame() {
    d->render(nullptr, {}, 0);
}

bool MpvEngine::drawsWithGl() const {
    return d->renderingOnGpu;
}

unsigned MpvEngine::renderTexture(QSize size) {
    return d->renderGl(size);
}

MpvEngine::FrameDrops MpvEngine::frameDrops() const {
    FrameDrops drops;
    std::int64_t count = 0;
    if (mpv_get_property(d->core.get(), "frame-drop-count", MPV_FORMAT_INT64, &count) >= 0)
        drops.engine = count;
    if (mpv_get_property(d->core.get(), "decoder-frame-drop-count", MPV_FORMAT_INT64, &count) >= 0)
        drops.decoder = count;
    return drops;
}

} // namespace movarin
