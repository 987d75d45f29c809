// Scratch buffers kept between transform calls, a few at a time.
//
// A buffer allocated and freed in every call is fresh memory at every call
// whenever the allocator maps and unmaps it (above its mapping threshold,
// and always in a process that sets MALLOC_TRIM_THRESHOLD_, as
// dask.distributed's workers do): each 4 KiB page is faulted in and cleared
// again, a millisecond or more per 4 MB here, as long as a quarter of a
// 1024 x 1024 real transform. A KeptBuffers pool holds up to `slots`
// buffers of at most `max_bytes` each between calls.
//
// The slots are atomic pointers (no lock a fork could leave held). Each
// buffer carries its capacity in a header before the bytes it hands out.
#pragma once

#include <atomic>
#include <cstddef>

namespace lumadex::dfti {

class KeptBuffers {
public:
    static constexpr int MaxSlots = 8;

    KeptBuffers(size_t max_bytes, int slots) : max_bytes_(max_bytes), slots_(slots < MaxSlots ? slots : MaxSlots) {}
    ~KeptBuffers();
    KeptBuffers(const KeptBuffers&) = delete;
    KeptBuffers& operator=(const KeptBuffers&) = delete;

    // A buffer of at least `bytes` (64-byte aligned): a kept one when one is
    // large enough, else fresh memory of at least `min_fresh_bytes`. Null
    // when memory is short.
    void* take(size_t bytes, size_t min_fresh_bytes = 0);
    // Keeps the buffer for a later call when it is small enough and a slot
    // is free (a slot holding a smaller buffer is given the larger one), else
    // frees it. Null is ignored.
    void give_back(void* buffer);
    // Puts a buffer of `bytes` into a free slot (as the library loads).
    void keep_fresh(size_t bytes);

private:
    std::atomic<void*>* begin() { return kept_; }
    std::atomic<void*>* end() { return kept_ + slots_; }

    size_t max_bytes_;
    int slots_;
    std::atomic<void*> kept_[MaxSlots] = {};
};

}  // namespace lumadex::dfti
