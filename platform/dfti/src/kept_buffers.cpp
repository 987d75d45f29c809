#include "kept_buffers.hpp"

#include <algorithm>

#include "os_services.h"

namespace lumadex::dfti {
namespace {

// The header before a buffer's bytes: its capacity, in a cache line of its own
// so that the bytes handed out stay 64-byte aligned.
constexpr size_t header_bytes = 64;

size_t capacity_of(void* buffer) { return *reinterpret_cast<size_t*>(static_cast<char*>(buffer) - header_bytes); }

void* fresh(size_t bytes) {
    char* block = static_cast<char*>(lumadex::os::AllocateScratch(bytes + header_bytes));
    if (!block) return nullptr;
    *reinterpret_cast<size_t*>(block) = bytes;
    return block + header_bytes;
}

void release(void* buffer) {
    if (buffer) lumadex::os::FreeScratch(static_cast<char*>(buffer) - header_bytes);
}

}  // namespace

KeptBuffers::~KeptBuffers() {
    for (auto& slot : *this) release(slot.exchange(nullptr));
}

void* KeptBuffers::take(size_t bytes, size_t min_fresh_bytes) {
    if (bytes <= max_bytes_)
        for (auto& slot : *this) {
            void* kept = slot.exchange(nullptr, std::memory_order_acquire);
            if (!kept) continue;
            if (capacity_of(kept) >= bytes) return kept;
            give_back(kept);  // too small for this call: back for another
        }
    return fresh(std::max(bytes, min_fresh_bytes));
}

void KeptBuffers::give_back(void* buffer) {
    if (!buffer) return;
    if (capacity_of(buffer) <= max_bytes_) {
        for (auto& slot : *this) {
            void* none = nullptr;
            if (slot.compare_exchange_strong(none, buffer, std::memory_order_release)) return;
        }
        // Every slot is full: the smallest kept buffer makes way for a larger one.
        for (auto& slot : *this) {
            void* kept = slot.load(std::memory_order_relaxed);
            if (kept && capacity_of(kept) < capacity_of(buffer) &&
                slot.compare_exchange_strong(kept, buffer, std::memory_order_acq_rel)) {
                buffer = kept;
                break;
            }
        }
    }
    release(buffer);
}

void KeptBuffers::keep_fresh(size_t bytes) { give_back(fresh(bytes)); }

}  // namespace lumadex::dfti
