#pragma once

#include "flv/flv_forward.h"
#include "flv/flv_repair.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// FLV bytes for the tests: files written in memory, read back as the readers' source, and the
// tags of a well-formed file walked.
namespace movarin::testing {

// A file in memory as the readers see one; counts the reads made of it.
class MemorySource : public flv::ByteSource {
public:
    explicit MemorySource(QByteArray bytes) : data(std::move(bytes)) {}
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
    std::uint64_t size() override { return std::uint64_t(data.size()); }
    QByteArray data;
    int reads = 0;
};

// Appends `v` as `bytes` big-endian bytes.
void appendBe(QByteArray& b, std::uint64_t v, int bytes);
// The `bytes` big-endian bytes at `at`, read or overwritten.
quint32 be(const QByteArray& b, qsizetype at, int bytes);
void putBe(QByteArray& b, qsizetype at, int bytes, quint32 v);

// A file header with `flags`, the data offset 9 and the first PreviousTagSize 0.
QByteArray flvHeader(std::uint8_t flags);
// A whole tag, stream id 0, followed by its size plus `previousSizeError`.
QByteArray flvTag(std::uint8_t type, std::uint32_t timestamp, const QByteArray& data,
                  int previousSizeError = 0);

// A tag of a file: where it starts, its type, data size and timestamp.
struct FlvTag {
    qsizetype at = 0;
    int type = 0;
    qsizetype size = 0;
    quint32 timestamp = 0;
    qsizetype end() const { return at + 11 + size + 4; }
};
// The tags of a well-formed file, up to the first that runs past its end.
QList<FlvTag> tagsOf(const QByteArray& flv);

// A tag of a clip made here.
struct ClipTag {
    std::uint8_t type;
    std::uint32_t timestamp;
    QByteArray data;
};
// A script tag, then video and audio tags 40 ms apart with payloads that look like real ones.
std::vector<ClipTag> clipTags(int count, bool audio = true, bool video = true,
                              std::uint32_t seed = 7);
QByteArray tagBytes(const ClipTag& t, int previousSizeError = 0);
// The header flags that say what the tags hold.
std::uint8_t flagsOf(const std::vector<ClipTag>& tags);
// A file of the tags behind a header with `flags`, each PreviousTagSize off by `previousSizeError`.
QByteArray flvFile(const std::vector<ClipTag>& tags, std::uint8_t flags, int previousSizeError = 0);
QByteArray wellFormed(const std::vector<ClipTag>& tags);
// Offset just past the first video tag and its previous size; -1 without one.
qsizetype afterFirstVideoTag(const QByteArray& b);
// Rows "damaged", "expected" and "resynced": each damage a recorder or a disk does to a clip,
// the clip as it should have been, and whether the reader must resync to get there.
void addDamagedFileRows();

// All of a repairing reader's stream, read in order in `chunk`s.
QByteArray readAll(flv::RepairingReader& reader, std::size_t chunk = 1000);
// All of a forward reader's stream, in reads of random length; `failures` counts the reads that
// failed on the way.
QByteArray readAll(flv::ForwardReader& reader, int* failures = nullptr);

// A stream read once, in pieces of random size as a pipe gives them: `bytes`, then, when
// `repeat` is set, `tag` and `gap` zeros (or noise) over and over for ever.
class PipeLike : public flv::StreamSource {
public:
    explicit PipeLike(QByteArray head, std::uint32_t seed = 1)
        : bytes(std::move(head)), m_random(seed) {}
    std::int64_t read(std::uint8_t* buffer, std::size_t length) override {
        if (calls++ == failAt)
            return -1;
        const std::size_t n = std::min<std::size_t>(length, 1 + m_random() % 70000);
        std::size_t done = 0;
        while (done < n) {
            std::size_t k = n - done;
            if (offset < std::uint64_t(bytes.size())) {
                k = std::min<std::size_t>(k, std::size_t(bytes.size() - qsizetype(offset)));
                std::memcpy(buffer + done, bytes.constData() + offset, k);
            } else if (!repeat) {
                break;
            } else {
                const std::uint64_t cycle = std::uint64_t(tag.size()) + gap;
                const std::uint64_t at = (offset - std::uint64_t(bytes.size())) % cycle;
                if (at < std::uint64_t(tag.size())) {
                    k = std::min<std::size_t>(k, std::size_t(std::uint64_t(tag.size()) - at));
                    std::memcpy(buffer + done, tag.constData() + at, k);
                } else {
                    k = std::min<std::size_t>(k, std::size_t(cycle - at));
                    for (std::size_t i = 0; i < k; ++i)
                        buffer[done + i] = noise ? std::uint8_t(m_random()) : 0;
                }
            }
            done += k;
            offset += k;
        }
        return std::int64_t(done);
    }
    QByteArray bytes;
    bool repeat = false;
    QByteArray tag;
    std::uint64_t gap = 0;
    bool noise = false;
    int failAt = -1;
    int calls = 0;
    std::uint64_t offset = 0;

private:
    std::minstd_rand m_random;
};

} // namespace movarin::testing
