#pragma once

#include <QString>

#include <string>
#include <string_view>

// File names on Linux are bytes, not text. These carry any byte string through a QString and
// back unchanged: valid UTF-8 reads as itself, and each byte that is not part of valid UTF-8
// becomes the lone surrogate U+DC80 to U+DCFF, which no real text holds.
namespace movarin {

std::u16string decode_path_bytes(std::string_view bytes);
// The exact inverse of decode_path_bytes; lone surrogates outside U+DC80..U+DCFF become U+FFFD.
std::string encode_path_bytes(std::u16string_view text);

inline QString from_path_bytes(std::string_view bytes) {
    return QString::fromStdU16String(decode_path_bytes(bytes));
}
inline std::string to_path_bytes(const QString& text) {
    return encode_path_bytes(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                 std::size_t(text.size())));
}
// The name as a person can read it: escaped bytes show as U+FFFD.
QString readable_path(const QString& text);

} // namespace movarin
