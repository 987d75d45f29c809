// Destinations larger than the last-level cache are written with streaming
// stores, block by block: the result must be the same bits as the plain path
// gives, which small calls take, for any alignment of the destination and in
// place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <type_traits>
#include <vector>

#include "mkl_vml.h"

namespace {

// Elements of each source: a 36 MB Real 4 destination, past the streaming size.
constexpr MKL_INT kCount = 9 << 20;
constexpr MKL_INT kPiece = 1000;  // small calls: the plain path

template <class T>
using Call = std::function<void(MKL_INT, const T*, const T*, T*)>;

template <class T>
T Draw(std::mt19937& random)
{
    std::uniform_real_distribution<double> value(-3, 3);
    if constexpr (std::is_floating_point_v<T>) {
        return T(value(random));
    } else {
        using Part = decltype(T{}.real);
        return T{Part(value(random)), Part(value(random))};
    }
}

// Runs `call` over n elements once whole and once in small pieces, with the
// destination shifted by `shift` elements, and compares the bits.
template <class T>
void ExpectSameBits(const Call<T>& call, std::size_t shift, bool inPlace)
{
    std::mt19937 random(5);
    std::vector<T> a(kCount + shift), b(kCount);
    for (auto& x : a) x = Draw<T>(random);
    for (auto& x : b) x = Draw<T>(random);
    std::vector<T> whole(kCount + shift), pieces(kCount + shift);
    if (inPlace) whole = a, pieces = a;
    const T* source = inPlace ? nullptr : a.data() + shift;
    call(kCount, source ? source : whole.data() + shift, b.data(), whole.data() + shift);
    for (MKL_INT i = 0; i < kCount; i += kPiece) {
        const MKL_INT n = std::min(kPiece, kCount - i);
        call(n, (source ? source : pieces.data() + shift) + i, b.data() + i, pieces.data() + shift + i);
    }
    EXPECT_EQ(std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(T)), 0)
        << "shift " << shift << (inPlace ? ", in place" : "");
}

TEST(StreamedStores, GiveTheBitsOfThePlainPath)
{
    const Call<float> add = [](MKL_INT n, const float* a, const float* b, float* r) { vsAdd(n, a, b, r); };
    const Call<float> rint = [](MKL_INT n, const float* a, const float*, float* r) { vsRint(n, a, r); };
    const Call<double> divide = [](MKL_INT n, const double* a, const double* b, double* r) { vdDiv(n, a, b, r); };
    const Call<double> floor = [](MKL_INT n, const double* a, const double*, double* r) { vdFloor(n, a, r); };
    for (std::size_t shift : {0, 1, 3}) {
        ExpectSameBits(add, shift, false);
        ExpectSameBits(rint, shift, shift == 1);
    }
    ExpectSameBits(divide, 1, false);
    ExpectSameBits(floor, 0, true);
}

TEST(StreamedStores, ComplexDestinationsToo)
{
    const Call<MKL_Complex8> mulByConj = [](MKL_INT n, const MKL_Complex8* a, const MKL_Complex8* b,
                                            MKL_Complex8* r) { vcMulByConj(n, a, b, r); };
    const Call<MKL_Complex16> conj = [](MKL_INT n, const MKL_Complex16* a, const MKL_Complex16*,
                                        MKL_Complex16* r) { vzConj(n, a, r); };
    ExpectSameBits(mulByConj, 1, false);
    ExpectSameBits(conj, 0, true);
}

}  // namespace
