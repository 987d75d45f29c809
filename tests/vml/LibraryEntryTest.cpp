// The element-wise library entry points on host handles: a destination is
// required, the destination's type decides the path, sources are never changed.
#include <gtest/gtest.h>

#include <complex>
#include <stdexcept>
#include <string>

#include "HostLink.h"
#include "ImageUtility.h"
#include "PlugInMain.h"
#include "VmlOperations.h"
#include "lumadex/host/host.h"

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

}  // namespace
