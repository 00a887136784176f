#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <stdexcept>

// The version answer's body between the wire and the decision. No network access here.
namespace movarin::online {

// The body with its content coding undone: none or "identity" as it is, "gzip", "x-gzip" and
// "deflate" inflated. Throws std::runtime_error for any other coding, a stream that is corrupt,
// cut short or followed by more data, and for a result of more than `limit` bytes (decoding
// stops there, so a small body cannot swell without bound).
QByteArray decode_body(const QByteArray& body, QByteArrayView contentEncoding, qint64 limit);

// Whether the bytes read as text: no NUL and no control character other than tab, line feed,
// vertical tab, form feed and carriage return. Bytes from 0x80 up belong to the 8-bit code page.
bool is_text(QByteArrayView bytes);

// Up to this size a body is an answer whatever bytes it holds: a stray control character makes
// a text that is no number, which the decision reads as it reads any other such text.
inline constexpr qsizetype kMaxAnswerWithControls = 1024;

// A larger body with control characters is binary (an image, an archive), not an answer.
bool is_binary(QByteArrayView bytes);

} // namespace movarin::online
