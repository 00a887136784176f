#include "engine/mpv_properties.h"

#include "engine/mpv_engine.h"
#include "engine/playback_state.h"

#include <QString>

#include <cmath>
#include <stdexcept>

namespace movarin {

namespace detail {

void fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + mpv_error_string(error));
}

QVariant toVariant(const mpv_node& node) {
    switch (node.format) {
    case MPV_FORMAT_FLAG:
        return QVariant(node.u.flag != 0);
    case MPV_FORMAT_INT64:
        return QVariant(static_cast<qlonglong>(node.u.int64));
    case MPV_FORMAT_DOUBLE:
        return QVariant(node.u.double_);
    case MPV_FORMAT_STRING:
        return QVariant(QString::fromUtf8(node.u.string));
    default:
        return {};
    }
}

NodeValue::NodeValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        node.format = MPV_FORMAT_FLAG;
        node.u.flag = value.toBool() ? 1 : 0;
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        node.format = MPV_FORMAT_INT64;
        node.u.int64 = value.toLongLong();
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        node.format = MPV_FORMAT_DOUBLE;
        node.u.double_ = value.toDouble();
        break;
    default:
        text = value.toString().toUtf8();
        node.format = MPV_FORMAT_STRING;
        node.u.string = text.data();
    }
}

namespace {

// Unavailable properties (no file yet) arrive as invalid values and read as 0.
double toNumber(const QVariant& value) {
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0;
}

bool loopFrom(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::LongLong:
    case QMetaType::Int:
        return playback::loop_enabled(std::int64_t(value.toLongLong()));
    default:
        return playback::loop_enabled(value.toString().toStdString());
    }
}

} // namespace

const Observed kObserved[9] = {
    {"path", [](PlayerState& s, const QVariant& v) { s.path = v.toString(); }},
    {"media-title", [](PlayerState& s, const QVariant& v) { s.title = v.toString(); }},
    {"pause", [](PlayerState& s, const QVariant& v) { s.paused = v.toBool(); }},
    {"eof-reached", [](PlayerState& s, const QVariant& v) { s.atEnd = v.toBool(); }},
    {"time-pos", [](PlayerState& s, const QVariant& v) { s.position = toNumber(v); }},
    {"duration", [](PlayerState& s, const QVariant& v) { s.duration = toNumber(v); }},
    {"volume",
     [](PlayerState& s, const QVariant& v) { s.volume = v.isValid() ? toNumber(v) : s.volume; }},
    {"mute", [](PlayerState& s, const QVariant& v) { s.muted = v.toBool(); }},
    {"loop-file", [](PlayerState& s, const QVariant& v) { s.looping = loopFrom(v); }},
};

std::int64_t track_number(mpv_handle* core, const char* name) {
    std::int64_t id = 0;
    return mpv_get_property(core, name, MPV_FORMAT_INT64, &id) >= 0 ? id : 0;
}

} // namespace detail

} // namespace movarin
