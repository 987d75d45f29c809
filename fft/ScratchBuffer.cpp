#include "ScratchBuffer.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

namespace zep {
namespace {

struct Kept {
    std::mutex lock;
    void* data = nullptr;
    std::size_t capacity = 0;
    ~Kept() { std::free(data); }
};

Kept& TheKept()
{
    static Kept kept;
    return kept;
}

}  // namespace

ScratchBuffer::ScratchBuffer(std::size_t bytes) : data_(nullptr), capacity_(0)
{
    Kept& kept = TheKept();
    {
        std::lock_guard guard(kept.lock);
        if (kept.data && kept.capacity >= bytes) {
            data_ = std::exchange(kept.data, nullptr);
            capacity_ = std::exchange(kept.capacity, 0);
            return;
        }
    }
    capacity_ = (bytes + 63) / 64 * 64;
    data_ = std::aligned_alloc(64, capacity_ == 0 ? 64 : capacity_);
    if (!data_) throw std::bad_alloc();
}

ScratchBuffer::~ScratchBuffer()
{
    Kept& kept = TheKept();
    std::lock_guard guard(kept.lock);
    if (capacity_ > kept.capacity) {
        std::swap(data_, kept.data);
        std::swap(capacity_, kept.capacity);
    }
    std::free(data_);
}

}  // namespace zep
