#include "engine/cover_art.h"

#include "engine/flv_stream_io.h"

#include <QBuffer>
#include <QImageReader>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <utility>

namespace movarin {

namespace {

constexpr std::string_view kPictureExtensions[] = {"jpg", "jpeg", "png", "webp", "gif", "bmp"};
// What cover pictures are usually called, the likeliest first.
constexpr std::string_view kCoverNames[] = {"cover", "folder",  "front",         "albumart",
                                            "album", ".folder", "albumartsmall", "thumb"};
// Decoders that only ever decode still pictures, the kinds covers come in.
constexpr std::string_view kPictureDecoders[] = {
    "mjpeg", "png",      "apng",        "bmp",    "gif",    "webp", "libwebp",
    "tiff",  "jpeg2000", "libopenjpeg", "jpegls", "libjxl", "qoi",  "jpegxl"};
// Names in a folder looked at for a cover; a larger folder is no music album.
constexpr std::size_t kMaxFolderNames = 100000;
// Bytes read at a time, between looks at the cancel flag.
constexpr qint64 kReadBlock = 64 * 1024;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// A name's stem and extension, in lower case, split at its last dot.
std::pair<std::string, std::string> stemAndExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {lower(name), {}};
    return {lower(name.substr(0, dot)), lower(name.substr(dot + 1))};
}

template <typename Range> std::ptrdiff_t indexIn(const Range& range, std::string_view value) {
    const auto at = std::find(std::begin(range), std::end(range), value);
    return at == std::end(range) ? -1 : std::distance(std::begin(range), at);
}

// Image decoders read a few kilobytes at a time; each read looks at the flag first, so that a
// decoding asked to stop ends at its next read.
class CancellableBuffer : public QBuffer {
public:
    CancellableBuffer(const QByteArray& bytes, const std::atomic<bool>& cancel) : m_cancel(cancel) {
        setData(bytes);
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (m_cancel)
            return -1;
        return QBuffer::readData(data, std::min(maxSize, kReadBlock));
    }

private:
    const std::atomic<bool>& m_cancel;
};

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

QSize cover_decode_size(QSize natural, long long maxPixels, long long maxSourcePixels) {
    if (natural.isEmpty() || maxPixels < 1)
        return {};
    const long long pixels = 1LL * natural.width() * natural.height();
    if (pixels > maxSourcePixels)
        return {};
    if (pixels <= maxPixels)
        return natural;
    // The slack keeps a scale that is exact in decimals from losing a pixel to rounding.
    const double scale = std::sqrt(double(maxPixels) / double(pixels)) + 1e-12;
    // A very long, thin picture keeps one pixel across; then the length gives way.
    const long long w =
        std::clamp<long long>(std::llround(std::floor(natural.width() * scale)), 1, maxPixels);
    const long long h =
        std::clamp<long long>(std::llround(std::floor(natural.height() * scale)), 1, maxPixels / w);
    return QSize(int(w), int(h));
}

std::vector<std::string> cover_candidates(const std::string& fileName,
                                          const std::vector<std::string>& folder) {
    const std::string stem = stemAndExtension(fileName).first;
    std::vector<std::pair<std::ptrdiff_t, std::string>> ranked;
    for (const std::string& name : folder) {
        const auto [nameStem, extension] = stemAndExtension(name);
        const std::ptrdiff_t kind = indexIn(kPictureExtensions, extension);
        const std::ptrdiff_t cover = indexIn(kCoverNames, nameStem);
        if (kind < 0 || name == fileName || (nameStem != stem && cover < 0))
            continue;
        const std::ptrdiff_t rank = nameStem == stem ? 0 : 1 + cover;
        ranked.emplace_back(rank * std::ssize(kPictureExtensions) + kind, name);
    }
    std::sort(ranked.begin(), ranked.end());
    std::vector<std::string> names;
    for (auto& entry : ranked)
        names.push_back(std::move(entry.second));
    return names;
}

std::string decoders_without_pictures(const std::vector<std::string>& decoders) {
    std::string list;
    for (const std::string& name : decoders) {
        if (name.empty() || indexIn(kPictureDecoders, name) >= 0 ||
            name.find(',') != std::string::npos)
            continue;
        if (!list.empty())
            list += ',';
        list += name;
    }
    return list;
}

Cover decode_cover(const QByteArray& bytes, const std::atomic<bool>& cancel) {
    CancellableBuffer device(bytes, cancel);
    if (bytes.isEmpty() || !device.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&device);
    reader.setAutoTransform(false);
    // The size from the picture's header, before a single pixel is decoded.
    const QSize natural = reader.size();
    const QSize target = cover_decode_size(natural);
    if (target.isEmpty())
        return {};
    if (target != natural)
        reader.setScaledSize(target);
    QImage picture = reader.read();
    if (picture.isNull() || cancel)
        return {};
    return {std::move(picture), natural};
}

QByteArray read_cover_file(const std::string& path, const std::atomic<bool>& cancel) {
    const Descriptor file{detail::openRegularFile(path.c_str())};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || st.st_size <= 0 || st.st_size > kCoverMaxBytes)
        return {};
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size() && !cancel) {
        const ssize_t r =
            ::pread(file.fd, bytes.data() + done,
                    std::size_t(std::min<qint64>(bytes.size() - done, kReadBlock)), off_t(done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += r;
    }
    if (cancel)
        return {};
    bytes.truncate(done);
    return bytes;
}

Cover find_cover(const std::string& path, const std::atomic<bool>& cancel) {
    if (Cover own = decode_cover(embedded_cover(path, cancel), cancel); !own.picture.isNull())
        return own;
    const std::filesystem::path file(path);
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end;
         !error && it != end && !cancel && names.size() < kMaxFolderNames; it.increment(error))
        names.push_back(it->path().filename().string());
    for (const std::string& name : cover_candidates(file.filename().string(), names)) {
        if (cancel)
            break;
        if (Cover cover = decode_cover(read_cover_file((folder / name).string(), cancel), cancel);
            !cover.picture.isNull())
            return cover;
    }
    return {};
}

CoverSearch::CoverSearch(std::function<void(const std::atomic<bool>& cancel)> work)
    : m_thread([this, work = std::move(work)] { work(m_cancel); }) {}

CoverSearch::~CoverSearch() {
    m_cancel = true;
    m_thread.join();
}

} // namespace movarin
