// Scratch memory for transforms that need a buffer of their own, given back
// when the call that needed it ends (keeping the largest one held it for the
// rest of the process).
#pragma once

#include <cstddef>

namespace lumadex::kernels::fourier {

// One buffer of at least `bytes`, 64-byte aligned and uninitialised, freed
// when this goes. Throws std::bad_alloc when memory runs out.
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

}  // namespace lumadex::kernels::fourier
