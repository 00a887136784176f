#pragma once

#include "engine/player.h"

#include <mpv/client.h>

#include <QByteArray>
#include <QVariant>

#include <cstdint>
#include <string>

// How the engine's values cross into Qt's and back, and which of its properties make up the
// player's state. Internal to the engine.
namespace movarin::detail {

[[noreturn]] void fail(const std::string& what, int error);

// A track number property ("vid", "aid"): the number, or 0 for none or the engine's own choice.
std::int64_t track_number(mpv_handle* core, const char* name);

QVariant toVariant(const mpv_node& node);

// Keeps the converted value and the storage its string points to together.
struct NodeValue {
    mpv_node node{};
    QByteArray text;
    explicit NodeValue(const QVariant& value);
};

// The player's state is these properties, watched from the start; an observation's reply id is
// its index here.
struct Observed {
    const char* name;
    void (*apply)(PlayerState& state, const QVariant& value);
};
extern const Observed kObserved[9];

} // namespace movarin::detail
