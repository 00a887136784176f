#include "engine/frame_pool.h"

#include "engine/frame_layout.h"

#include <cstdlib>

namespace movarin::detail {

FramePool::~FramePool() {
    for (void* memory : m_free)
        std::free(memory);
}

QImage FramePool::take(QSize size) {
    const qsizetype stride = frame_stride(size.width());
    void* memory = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (size != m_size) {
            for (void* old : m_free)
                std::free(old);
            m_free.clear();
            m_size = size;
        }
        if (!m_free.empty()) {
            memory = m_free.back();
            m_free.pop_back();
        }
    }
    if (!memory)
        memory = std::aligned_alloc(64, static_cast<std::size_t>(stride) * size.height());
    if (!memory)
        return {};
    auto* ticket = new Ticket{shared_from_this(), memory, size};
    return QImage(static_cast<uchar*>(memory), size.width(), size.height(), stride,
                  QImage::Format_RGB32, &FramePool::giveBack, ticket);
}

void FramePool::giveBack(void* info) {
    std::unique_ptr<Ticket> ticket(static_cast<Ticket*>(info));
    FramePool& pool = *ticket->pool;
    std::lock_guard lock(pool.m_mutex);
    if (ticket->size == pool.m_size && pool.m_free.size() < kKept)
        pool.m_free.push_back(ticket->memory);
    else
        std::free(ticket->memory);
}

} // namespace movarin::detail
