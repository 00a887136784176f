#pragma once

#include "flv/flv_clock.h"
#include "flv/flv_format.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A repairing reader for FLV files that recorders and old encoders left damaged: it presents a
// corrected byte stream, computed lazily as it is read, in constant memory, with seeks. Every
// PreviousTagSize is rewritten from the real tag size, tags are walked by their DataSize, garbage
// between tags (zero runs, bad tag types, sizes past the end) is dropped by resyncing on the next
// plausible tag header, a tag cut off at the end is left out, header flags that lie about
// audio and video are corrected, and timestamps that run backwards are carried on forwards. A
// well-formed file comes out byte for byte as it went in. Plain C++: no Qt, no engine.
namespace movarin::flv {

// The damaged file, read at any offset. It may shrink or grow while it is read.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `length` bytes at `offset`; fewer at the end, 0 past it, -1 on a read error.
    virtual std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) = 0;
    virtual std::uint64_t size() = 0;
    // True once whoever reads has given up waiting; a long scan then stops with a read error.
    virtual bool cancelled() { return false; }
};

// Sees each tag's bytes as they are copied out and may correct them in place. `within` is where
// `data` starts inside the tag (0 is its type byte); `tagIn` is the tag's offset in `source`.
class TagPatch {
public:
    virtual ~TagPatch() = default;
    virtual void patch(ByteSource& source, std::uint64_t tagIn, std::uint64_t within,
                       std::uint8_t* data, std::size_t length) = 0;
};

class RepairingReader {
public:
    // The source must outlive the reader.
    explicit RepairingReader(ByteSource& source);

    // False when the source does not start with a readable FLV header, or when its first tags
    // run into more garbage than is allowed before a picture or a second of sound; read then
    // gives nothing.
    bool valid() const { return m_valid; }
    // Corrected bytes at `offset`: the count copied, 0 at the end, -1 on a read error.
    std::int64_t read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length);
    // Size of the corrected stream; walks the rest of the file the first time.
    std::uint64_t size();

    // What the repair did so far, for tests and logs.
    struct Stats {
        std::uint64_t tags = 0;
        std::uint64_t droppedBytes = 0;
        std::uint64_t resyncs = 0;
        std::size_t checkpoints = 0;
    };
    Stats stats() const;

    // Applied to every tag read from now on; the patch must outlive the reader.
    void setPatch(TagPatch* patch) { m_patch = patch; }

    // Most checkpoints kept; past that, every other one goes and the spacing doubles.
    static constexpr std::size_t kMaxCheckpoints = 4096;
    // Garbage scanned for one resync before the rest of the file is given up as unplayable.
    static constexpr std::uint64_t kMaxResyncScan = 64u << 20;
    // Garbage dropped in all before the rest of the file is given up: a few damaged places of
    // any size fit in kGarbageAllowance, a long recording may lose as much again as it held good
    // tags up to there, and however a file is made, no more than kMaxGarbage is ever scanned.
    static constexpr std::uint64_t kGarbageAllowance = 256u << 20;
    static constexpr std::uint64_t kMaxGarbage = 1u << 30;
    // What a resync from a tag start with `good` bytes of tags and `dropped` bytes of garbage
    // before it may still scan.
    static std::uint64_t garbage_allowed(std::uint64_t good, std::uint64_t dropped);

private:
    // A tag start, in both streams, with all that the walk's decisions depend on.
    struct Cursor {
        std::uint64_t in = 0;
        std::uint64_t out = 0;
        std::uint64_t index = 0;
        std::uint32_t lastTimestamp = 0;
        bool haveTimestamp = false;
        std::uint64_t dropped = 0; // garbage passed over on the way here
        TagClock clocks[2];        // sound, pictures
    };
    struct Tag {
        std::uint64_t in = 0;
        std::uint32_t dataSize = 0;
        std::uint32_t timestamp = 0;
        std::uint8_t type = 0;
    };
    enum class Step { Tag, End, Error };
    // Where a resync from `from` ended up, for a source of `sourceSize` bytes.
    struct Resync {
        std::uint64_t from = 0;
        std::uint64_t sourceSize = 0;
        std::uint64_t scanned = 0;
        Step step = Step::End;
        Tag tag;
    };

    Step nextTag(const Cursor& at, Tag& tag);
    Step resync(const Cursor& at, Tag& tag, std::uint64_t& scanned);
    struct FileBytes;
    bool plausibleAt(std::uint64_t in, Tag& tag, bool strict, const Cursor& at, bool checkTimestamp,
                     bool& readError);
    bool fetch(std::uint64_t offset, std::uint8_t* buffer, std::size_t length, bool& readError);
    // Walks from the closest known tag to the tag that holds output byte `offset`.
    Step seekTag(std::uint64_t offset, Cursor& cursor, Tag& tag);
    void advance(Cursor& cursor, const Tag& tag);
    static void putTimestamp(const Cursor& cursor, const Tag& tag, std::uint64_t within,
                             std::uint8_t* data, std::size_t length);
    void remember(const Cursor& cursor, std::uint64_t dropped);
    void scanFlags();
    bool holdsFrame(const Tag& tag);

    ByteSource& m_source;
    bool m_valid = false;
    std::uint8_t m_header[kFileHeaderSize + kPreviousSizeSize] = {};
    std::uint64_t m_sourceSize = 0;

    // Read-ahead over the source for headers and resync scans.
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_blockAt = 0;
    std::size_t m_blockLength = 0;

    // A scan buffer of its own, so that checking a candidate does not evict the scanned block.
    std::vector<std::uint8_t> m_scan;
    // Resyncs already done: reads that start before a run of garbage do not scan it again.
    std::vector<Resync> m_resyncs;

    std::vector<Cursor> m_checkpoints;
    std::uint64_t m_stride = 16;
    // The furthest tag start the walk has reached; past it nothing is known yet.
    Cursor m_frontier;
    // The walk found the end at the frontier, for a source of m_endSourceSize bytes.
    bool m_endKnown = false;
    std::uint64_t m_endSourceSize = 0;
    // The tag the last read was in, so reading on is cheap.
    Cursor m_current;
    Stats m_stats;
    TagPatch* m_patch = nullptr;
};

} // namespace movarin::flv
