// Scratch memory for transforms that need a buffer of their own, kept between
// calls: a transform repeated in a script's loop would otherwise fault in and
// clear tens of megabytes of fresh pages every time.
#pragma once

#include <cstddef>

namespace zep {

// One buffer of at least `bytes`, 64-byte aligned and uninitialised, given
// back when this goes. The process keeps one such buffer (the largest given
// back); a call that finds it taken, or too small, allocates its own.
// Throws std::bad_alloc when memory runs out.
class ScratchBuffer {
public:
    explicit ScratchBuffer(std::size_t bytes);
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
    void* data() const { return data_; }

private:
    void* data_;
    std::size_t capacity_;
};

}  // namespace zep
