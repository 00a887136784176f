#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// A sound file's cover, found, read and decoded by the player itself with bounded work, off the
// GUI thread: the engine never opens a cover file or decodes an embedded picture, so the sound
// starts at once whatever the cover holds. Internal to the engine.
namespace movarin {

// Bytes a cover may hold, in a file of its own or inside the sound file.
inline constexpr long long kCoverMaxBytes = 32LL << 20;
// Pixels a cover is decoded to at most, a 4K screen's worth: a larger one is scaled down while
// it is decoded.
inline constexpr long long kCoverMaxPixels = 3840LL * 2160;
// Pixels a cover may have in its file: past this even a scaled decoding costs too long.
inline constexpr long long kCoverMaxSourcePixels = 1LL << 28;

// The size to decode a cover of size `natural` to: `natural` itself where it has at most
// `maxPixels`, else the largest of its shape (at least 1x1) with no more. Empty for an empty
// size, or one of more than `maxSourcePixels`.
QSize cover_decode_size(QSize natural, long long maxPixels = kCoverMaxPixels,
                        long long maxSourcePixels = kCoverMaxSourcePixels);

// The names among `folder` that may hold the cover of the file named `fileName`, best first: a
// picture of the same name, then the usual cover names. Case does not matter.
std::vector<std::string> cover_candidates(const std::string& fileName,
                                          const std::vector<std::string>& folder);

// The engine's decoders less those of still pictures, as a comma-separated list: what a first
// look at a file's streams may decode, so that an embedded cover is never decoded only to learn
// its size.
std::string decoders_without_pictures(const std::vector<std::string>& decoders);

struct Cover {
    // Decoded, with at most kCoverMaxPixels; null when there is no cover.
    QImage picture;
    // The cover's own size, as its file gives it.
    QSize size;
};

// The cover held in a picture file's bytes; none where it cannot be decoded, or once `cancel`
// turns true.
Cover decode_cover(const QByteArray& bytes, const std::atomic<bool>& cancel);
// A regular file's bytes, at most kCoverMaxBytes of them; empty for anything else (a pipe, a
// folder, a larger file) and once `cancel` turns true.
QByteArray read_cover_file(const std::string& path, const std::atomic<bool>& cancel);
// The picture a sound file holds for its cover, as stored; empty when it has none or it is
// larger than kCoverMaxBytes. Reads the file's headers only.
QByteArray embedded_cover(const std::string& path, const std::atomic<bool>& cancel);
// The cover of the sound file at `path` (bytes): its own, else a picture beside it.
Cover find_cover(const std::string& path, const std::atomic<bool>& cancel);

// Work on a thread of its own, such as looking for a file's cover, handed the flag that asks it
// to stop. Destroying it raises the flag and waits for the thread: every step of a cover search
// looks at the flag between reads of a few kilobytes, so that takes milliseconds.
class CoverSearch {
public:
    explicit CoverSearch(std::function<void(const std::atomic<bool>& cancel)> work);
    ~CoverSearch();
    CoverSearch(const CoverSearch&) = delete;
    CoverSearch& operator=(const CoverSearch&) = delete;

private:
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

} // namespace movarin
