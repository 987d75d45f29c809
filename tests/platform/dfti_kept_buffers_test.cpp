// The staging buffers kept between transform calls: a buffer comes back for
// a call it can hold, never for one it cannot, large ones are not kept, a
// larger buffer displaces a smaller one, and two threads never share one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "kept_buffers.hpp"

namespace lumadex::dfti {
namespace {

TEST(KeptBuffers, GivesBackABufferOnlyToCallsItCanHold) {
    KeptBuffers pool(1 << 20, 4);
    void* a = pool.take(1000);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 64, 0u);
    std::memset(a, 1, 1000);
    pool.give_back(a);
    EXPECT_EQ(pool.take(800), a);  // kept and large enough
    pool.give_back(a);
    void* larger = pool.take(4000);  // too small: fresh memory, the small one stays kept
    EXPECT_NE(larger, a);
    std::memset(larger, 2, 4000);
    EXPECT_EQ(pool.take(1000), a);
    pool.give_back(a);
    pool.give_back(larger);
}

TEST(KeptBuffers, KeepsNothingOverItsLimit) {
    KeptBuffers pool(4096, 4);
    void* big = pool.take(8192);
    ASSERT_NE(big, nullptr);
    pool.give_back(big);
    void* again = pool.take(100, 200);
    std::memset(again, 0, 200);
    pool.give_back(again);
    EXPECT_EQ(pool.take(150), again);  // the small one was kept, not the big one
    pool.give_back(again);
}

TEST(KeptBuffers, ALargerBufferDisplacesTheSmallestWhenTheSlotsAreFull) {
    KeptBuffers pool(1 << 20, 4);
    std::vector<void*> small;
    for (int i = 0; i < 4; ++i) small.push_back(pool.take(64, 64 + 64 * i));
    void* large = pool.take(1 << 16);
    for (void* b : small) pool.give_back(b);
    pool.give_back(large);
    EXPECT_EQ(pool.take(1 << 16), large);
    pool.give_back(large);
}

TEST(KeptBuffers, ThreadsNeverShareABuffer) {
    KeptBuffers pool(1 << 16, 4);
    std::atomic<bool> shared{false};
    auto work = [&](unsigned char mark) {
        for (int i = 0; i < 2000; ++i) {
            auto* b = static_cast<unsigned char*>(pool.take(256 + (i % 7) * 512));
            std::memset(b, mark, 256);
            std::this_thread::yield();
            for (int k = 0; k < 256; ++k)
                if (b[k] != mark) shared = true;
            pool.give_back(b);
        }
    };
    std::thread one(work, 1), two(work, 2), three(work, 3);
    work(4);
    one.join(), two.join(), three.join();
    EXPECT_FALSE(shared);
}

}  // namespace
}  // namespace lumadex::dfti
