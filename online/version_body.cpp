#include "online/version_body.h"

#include <zlib.h>

#include <string>

namespace movarin::online {

namespace {

enum class Wrapper { Gzip, Zlib, Raw };

std::runtime_error failure(const std::string& text) {
    return std::runtime_error(text);
}

// Inflates one complete stream; nothing may follow it.
QByteArray inflate_all(const QByteArray& body, Wrapper wrapper, qint64 limit) {
    z_stream stream{};
    const int windowBits = wrapper == Wrapper::Gzip ? 15 + 16 : wrapper == Wrapper::Zlib ? 15 : -15;
    if (inflateInit2(&stream, windowBits) != Z_OK)
        throw failure("The decompressor could not start");
    const struct End {
        z_stream& s;
        ~End() { inflateEnd(&s); }
    } end{stream};

    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    stream.avail_in = uInt(body.size());
    QByteArray out;
    char chunk[16 * 1024];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        const int result = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, qsizetype(sizeof chunk - stream.avail_out));
        if (out.size() > limit)
            throw failure("The answer decompresses to more than 1 MiB");
        if (result == Z_STREAM_END)
            break;
        if (result == Z_BUF_ERROR && stream.avail_in == 0)
            throw failure("The compressed answer was cut short");
        if (result != Z_OK)
            throw failure(std::string("The compressed answer is corrupt: ") +
                          (stream.msg ? stream.msg : "no detail"));
    }
    if (stream.avail_in != 0)
        throw failure("The compressed answer is followed by other data");
    return out;
}

} // namespace

QByteArray decode_body(const QByteArray& body, QByteArrayView contentEncoding, qint64 limit) {
    const QByteArray coding = contentEncoding.toByteArray().trimmed().toLower();
    if (coding.isEmpty() || coding == "identity")
        return body;
    if (coding == "gzip" || coding == "x-gzip")
        return inflate_all(body, Wrapper::Gzip, limit);
    if (coding == "deflate") {
        // The coding means a zlib stream; some servers send the bare deflate data instead.
        try {
            return inflate_all(body, Wrapper::Zlib, limit);
        } catch (const std::runtime_error&) {
            if (body.size() >= 2 && (uchar(body[0]) & 0x0f) == 8 &&
                (uchar(body[0]) * 256 + uchar(body[1])) % 31 == 0)
                throw;
            return inflate_all(body, Wrapper::Raw, limit);
        }
    }
    QByteArray shown = coding.left(40);
    for (char& c : shown) {
        if (uchar(c) < 0x20 || uchar(c) > 0x7e)
            c = '?';
    }
    throw failure("The answer came in the content coding \"" + shown.toStdString() +
                  "\", which was not asked for");
}

bool is_text(QByteArrayView bytes) {
    for (const char c : bytes) {
        const auto u = uchar(c);
        if ((u < 0x20 && (u < 0x09 || u > 0x0d)) || u == 0x7f)
            return false;
    }
    return true;
}

bool is_binary(QByteArrayView bytes) {
    return bytes.size() > kMaxAnswerWithControls && !is_text(bytes);
}

} // namespace movarin::online
