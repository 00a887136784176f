#pragma once

#include <QImage>
#include <QSize>

#include <memory>
#include <mutex>
#include <vector>

namespace movarin::detail {

// Frame memory is reused: a fresh allocation of several MiB for every frame costs page faults on
// every frame. Rows are 64-byte aligned, as mpv's fast paths want. A frame the GUI still holds
// keeps the pool alive, so the engine may go first.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    ~FramePool();
    // An RGB32 image of `size` whose memory returns here when its last copy goes; null when no
    // memory could be had.
    QImage take(QSize size);

private:
    struct Ticket {
        std::shared_ptr<FramePool> pool;
        void* memory;
        QSize size;
    };
    static void giveBack(void* info);

    static constexpr std::size_t kKept = 3;
    std::mutex m_mutex;
    QSize m_size;
    std::vector<void*> m_free;
};

} // namespace movarin::detail
