// The element-wise library entry points on host handles: a destination is
// required, the destination's type decides the path, sources are never changed.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostLink.h"
#include "ImageUtility.h"
#include "PlugInMain.h"
#include "VmlOperations.h"
#include "lumadex/host/host.h"
#include "mkl_vml.h"

extern "C" {
dm_link* DMPlugIn_Link_2(dm_link* link);
void PlugInStartup();
void PlugInShutdown();
}

namespace {

using Gatan::DM::Image;
using lumadex::host::DataType;

class VmlLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        DMPlugIn_Link_2(host_.link());
        PlugInStartup();
        baseline_ = host_.live_objects().total;
    }
    void TearDown() override
    {
        EXPECT_EQ(host_.live_objects().total, baseline_);
        PlugInShutdown();
        Gatan::PlugIn::UnlinkFromHost();
    }
    // A new image whose pixels are 1, 2, 3 ...
    Image Ramp(DataType type, std::int64_t n)
    {
        const std::int64_t sizes[] = {n};
        const Image image = Image::Borrow(host_.new_image("ramp", type, sizes).get());
        if (type == DataType::Real4) {
            tarn::dm::image<float> view(image, tarn::dm::kLockDense);
            for (std::int64_t i = 0; i < n; ++i) view.data()[i] = float(i + 1);
        }
        return image;
    }
    static std::string MessageOf(auto call)
    {
        try {
            call();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    }

    lumadex::host::Host host_;
    std::int64_t baseline_ = 0;
};

TEST_F(VmlLibrary, ANullDestinationIsRefused)
{
    const Image a = Ramp(DataType::Real4, 4);
    EXPECT_EQ(MessageOf([&] { zep::vml::Sqrt(a, Image()); }), "The destination image must be given.");
    EXPECT_EQ(MessageOf([&] { zep::vml::RealHypot(a, a, Image()); }), "The destination image must be given.");
    EXPECT_EQ(MessageOf([&] { zep::vml::ComplexConj(a, Image()); }), "The destination image must be given.");
}

TEST_F(VmlLibrary, TheDestinationDecidesThePath)
{
    const Image a = Ramp(DataType::Real4, 4), b = Ramp(DataType::Real4, 4);
    const Image complexDst = Ramp(DataType::Complex8, 4), realDst = Ramp(DataType::Real8, 4);
    EXPECT_EQ(zep::vml::Add(a, b, complexDst), complexDst);  // real sources, converted copies
    {
        const tarn::dm::image<std::complex<float>> sum(complexDst, tarn::dm::kLockDense);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(sum.data()[i], std::complex<float>(2.0f * (i + 1), 0.0f));
    }
    EXPECT_EQ(Gatan::DM::ImageGetDataType(a), tarn::dm::kReal4);
    zep::vml::Sqrt(a, realDst);
    const tarn::dm::image<double> root(realDst, tarn::dm::kLockDense);
    EXPECT_DOUBLE_EQ(root.data()[3], 2.0);
    EXPECT_EQ(MessageOf([&] { zep::vml::RealSqr(a, complexDst); }), "Data type should be Real.");
    EXPECT_EQ(MessageOf([&] { zep::vml::ComplexConj(a, a); }), "Data type should be Complex.");
    EXPECT_EQ(MessageOf([&] { zep::vml::Add(a, Ramp(DataType::Real4, 3), realDst); }),
              "Images of different size cannot appear in this function.");
}

// Large calls write destinations apart from their operands with streaming
// stores, block by block, and in-place ones with plain stores: the same
// bits as small calls give, for shifted and in-place destinations,
// memory-bound and computed routines.
TEST(StreamedStores, GiveTheBitsOfSmallCalls)
{
    using Call = void (*)(MKL_INT, const void*, const void*, void*);
    struct Row {
        Call call;
        bool doubles;       // parts are doubles, else floats
        std::size_t bytes;  // per element
        std::size_t shift;  // elements the destination is shifted by
        bool inPlace;
    };
    const Row rows[] = {
        {[](MKL_INT n, const void* a, const void* b, void* r) { vsAdd(n, (const float*)a, (const float*)b, (float*)r); }, false, 4, 1, false},
        {[](MKL_INT n, const void* a, const void*, void* r) { vsRint(n, (const float*)a, (float*)r); }, false, 4, 3, true},
        {[](MKL_INT n, const void* a, const void* b, void* r) { vdDiv(n, (const double*)a, (const double*)b, (double*)r); }, true, 8, 1, false},
        {[](MKL_INT n, const void* a, const void* b, void* r) {
             vcMulByConj(n, (const MKL_Complex8*)a, (const MKL_Complex8*)b, (MKL_Complex8*)r);
         }, false, 8, 1, false},
        {[](MKL_INT n, const void* a, const void*, void* r) { vzConj(n, (const MKL_Complex16*)a, (MKL_Complex16*)r); }, true, 16, 0, true},
        {[](MKL_INT n, const void* a, const void* b, void* r) {
             vzMul(n, (const MKL_Complex16*)a, (const MKL_Complex16*)b, (MKL_Complex16*)r);
         }, true, 16, 0, true},
        {[](MKL_INT n, const void* a, const void* b, void* r) { vdMul(n, (const double*)a, (const double*)b, (double*)r); }, true, 8, 2, true},
        {[](MKL_INT n, const void* a, const void*, void* r) { vsLog1p(n, (const float*)a, (float*)r); }, false, 4, 3, true},
        {[](MKL_INT n, const void* a, const void* b, void* r) { vdAtan2(n, (const double*)a, (const double*)b, (double*)r); }, true, 8, 1, false},
    };
    constexpr MKL_INT kCount = 9 << 20, kPiece = 1000;  // 36 MB and more: past the streaming size
    // On one thread, so that a kernel deciding on its own share streams too.
    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    std::mt19937 random(5);
    std::uniform_real_distribution<double> value(-3, 3);
    for (const Row& row : rows) {
        std::vector<char> a((kCount + row.shift) * row.bytes), b(kCount * row.bytes);
        for (auto* v : {&a, &b}) {
            if (row.doubles) for (std::size_t i = 0; i < v->size() / 8; ++i) reinterpret_cast<double*>(v->data())[i] = value(random);
            else for (std::size_t i = 0; i < v->size() / 4; ++i) reinterpret_cast<float*>(v->data())[i] = float(value(random));
        }
        std::vector<char> whole = row.inPlace ? a : std::vector<char>(a.size()), pieces = whole;
        const std::size_t at = row.shift * row.bytes;
        row.call(kCount, (row.inPlace ? whole.data() : a.data()) + at, b.data(), whole.data() + at);
        for (MKL_INT i = 0; i < kCount; i += kPiece) {
            const std::size_t offset = at + i * row.bytes;
            row.call(std::min(kPiece, kCount - i), (row.inPlace ? pieces.data() : a.data()) + offset,
                     b.data() + i * row.bytes, pieces.data() + offset);
        }
        EXPECT_TRUE(whole == pieces) << "row " << (&row - rows);
    }
    omp_set_num_threads(threads);
}

}  // namespace
