#pragma once

// Whether there is a session bus worth joining, found without waiting on it for ever. Plain
// sockets and Qt Core only: safe on any thread, before or without a bus connection.
namespace movarin {

// How long a call on the session bus is waited for.
inline constexpr int kBusCallTimeoutMs = 2000;

// Whether the environment names a session bus, or the user's runtime folder holds one.
bool session_bus_configured();

// Whether a session bus is set up and greets a client within `timeoutMs`; safe on any thread.
// libdbus, and Qt through it, would wait for ever on a bus that accepts and never answers.
bool session_bus_answers(int timeoutMs);

} // namespace movarin
