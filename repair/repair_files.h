#pragma once

#include "flv/flv_repair.h"
#include "repair/repaired_copy.h"

#include <cstdint>
#include <string>
#include <vector>

// The files the repair reads and writes, through the system's own calls: the recording, read
// ahead in large blocks and only up to where it was when reading began; and the copy, written
// to a temporary file beside its name and put in place only once it is whole and flushed.
// One file per platform beside this header.
namespace movarin::repair {

// The recording, opened only when it is a regular file; never written.
class InputFile : public flv::ByteSource {
public:
    explicit InputFile(const std::string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Empty when the file is open; otherwise what is wrong, for a message.
    const std::string& problem() const { return m_problem; }
    std::int64_t readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
    // The size when reading began: a recording still growing is repaired up to there.
    std::uint64_t size() override { return m_size; }

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::string m_problem;
    void release(std::uint64_t offset);

    const std::uint8_t* m_map = nullptr;
    std::uint64_t m_released = 0; // pages before this were let go
    std::vector<std::uint8_t> m_block;
    std::uint64_t m_blockAt = 0;
    std::size_t m_blockLength = 0;
};

// Whether two names are the same file (device and inode), whatever links lead there.
bool same_file(const std::string& a, const std::string& b);
bool exists(const std::string& path);

// The copy under construction. Until commit, the only file is a temporary one beside `path`,
// which is removed if anything fails, on destruction, or when a signal ends the program (Ctrl+C,
// a termination, a crash); a SIGKILL or a power cut can leave only that hidden file.
class OutputFile : public Sink {
public:
    OutputFile(const std::string& path, bool replace);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Empty when the temporary file was made.
    const std::string& problem() const { return m_problem; }
    bool write(const std::uint8_t* data, std::size_t length, std::string& error) override;
    // Flushes the temporary file to the disk and puts it under the name; false with `error`.
    bool commit(std::string& error);

private:
    bool flushBuffer(std::string& error);
    void startWriteBack();
    void discard();

    std::string m_path;
    std::string m_temporary;
    bool m_replace = false;
    int m_fd = -1;
    std::string m_problem;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_written = 0;
    std::uint64_t m_writeBackFrom = 0;
};

} // namespace movarin::repair
