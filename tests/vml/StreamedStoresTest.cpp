// The memory-bound routines store a call that touches more bytes than the
// last-level cache holds (capped at 96 MB) with non-temporal stores through
// a block buffer, and smaller calls directly: on both sides of that size,
// with the destination off its cache-line boundary and a tail that fills no
// block, a whole call gives the same bits as the routine run over small
// pieces (which never stream).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "mkl_vml.h"

namespace {

constexpr std::size_t kCrossover = std::size_t{96} << 20;  // bytes touched per call

struct Routine {
    std::string name;
    std::size_t operandBytes, resultBytes;  // per element
    int operands;
    // f(n, a, b, r) on raw bytes; b is ignored by unary routines.
    std::function<void(MKL_INT, const void*, const void*, void*)> f;
};

template <class T, class R = T>
Routine Unary(const char* name, void (*f)(MKL_INT, const T*, R*))
{
    return {name, sizeof(T), sizeof(R), 1, [f](MKL_INT n, const void* a, const void*, void* r) {
                f(n, static_cast<const T*>(a), static_cast<R*>(r));
            }};
}
template <class T>
Routine Binary(const char* name, void (*f)(MKL_INT, const T*, const T*, T*))
{
    return {name, sizeof(T), sizeof(T), 2, [f](MKL_INT n, const void* a, const void* b, void* r) {
                f(n, static_cast<const T*>(a), static_cast<const T*>(b), static_cast<T*>(r));
            }};
}

class StreamedStores : public testing::TestWithParam<Routine> {};

TEST_P(StreamedStores, WholeCallsMatchSmallPiecesAroundTheCacheSize)
{
    const Routine& routine = GetParam();
    const std::size_t perElement = routine.operands * routine.operandBytes + routine.resultBytes;
    const std::size_t crossover = kCrossover / perElement;
    // Random bits of every kind (NaNs, infinities, subnormals included),
    // viewed as floats or doubles alike.
    std::mt19937_64 random(5);
    std::vector<unsigned char> a((crossover + 2048) * routine.operandBytes), b(a.size());
    for (auto* v : {&a, &b})
        for (std::size_t i = 0; i + 8 <= v->size(); i += 8) {
            const std::uint64_t bits = random();
            std::memcpy(v->data() + i, &bits, 8);
        }
    std::vector<unsigned char> whole((crossover + 2048) * routine.resultBytes + 64), pieces(whole.size());
    for (const std::size_t n : {crossover - 999, crossover + 1001}) {
        // The result one element past a 64-byte boundary: a streamed call has a head
        // before its first block and a tail after its last.
        const auto at = [&](std::vector<unsigned char>& v) {
            auto address = reinterpret_cast<std::uintptr_t>(v.data());
            return v.data() + (64 - address % 64) % 64 + routine.resultBytes;
        };
        routine.f(static_cast<MKL_INT>(n), a.data(), b.data(), at(whole));
        for (std::size_t begin = 0; begin < n; begin += 4096) {
            const std::size_t count = std::min<std::size_t>(4096, n - begin);
            routine.f(static_cast<MKL_INT>(count), a.data() + begin * routine.operandBytes,
                      b.data() + begin * routine.operandBytes, at(pieces) + begin * routine.resultBytes);
        }
        ASSERT_EQ(std::memcmp(at(whole), at(pieces), n * routine.resultBytes), 0) << routine.name << " n=" << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    MemoryBound, StreamedStores,
    testing::Values(Unary<float>("vsFloor", vsFloor), Unary<double>("vdSqrt", vdSqrt),
                    Unary<float>("vsInv", vsInv), Binary<float>("vsAdd", vsAdd), Binary<double>("vdDiv", vdDiv),
                    Unary<MKL_Complex16>("vzConj", vzConj), Unary<MKL_Complex8, float>("vcAbs", vcAbs),
                    Binary<MKL_Complex16>("vzMul", vzMul)),
    [](const testing::TestParamInfo<Routine>& info) { return info.param.name; });

}  // namespace
