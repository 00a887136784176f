#include "engine/frame_pool.h"

#include "engine/frame_layout.h"

#include <new>

namespace movarin::detail {

namespace {

// Whole cache lines for each row; the aligned forms of new and delete are the ones every
// platform's compiler has.
constexpr std::align_val_t kAlignment{64};

void* allocate(std::size_t bytes) {
    return ::operator new(bytes, kAlignment, std::nothrow);
}

void release(void* memory) {
    ::operator delete(memory, kAlignment);
}

} // namespace

FramePool::~FramePool() {
    for (void* memory : m_free)
        release(memory);
}

QImage FramePool::take(QSize size) {
    const qsizetype stride = frame_stride(size.width());
    void* memory = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (size != m_size) {
            for (void* old : m_free)
                release(old);
            m_free.clear();
            m_size = size;
        }
        if (!m_free.empty()) {
            memory = m_free.back();
            m_free.pop_back();
        }
    }
    if (!memory)
        memory = allocate(static_cast<std::size_t>(stride) * size.height());
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
        release(ticket->memory);
}

} // namespace movarin::detail
