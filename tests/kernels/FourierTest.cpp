// The Fourier kernels alone: descriptor failures reach the caller with the
// library's own text.
#include <gtest/gtest.h>

#include <complex>
#include <stdexcept>

#include "lumadex/kernels/Fourier.h"
#include "mkl_dfti.h"

namespace {

using lumadex::kernels::Block;

TEST(FourierKernels, DescriptorFailuresCarryTheLibrarysText)
{
    std::complex<float> pixel{};
    const Block<std::complex<float>> empty{&pixel, {0, 1, 1, 1}, {1, 0, 0, 0}};
    try {
        lumadex::kernels::ComplexFourier<float>(empty, empty, {0}, lumadex::kernels::Exponent::Positive, 1.0f);
        FAIL() << "a length of 0 was accepted";
    } catch (const std::runtime_error& e) {
        const MKL_LONG zero = 0;
        DFTI_DESCRIPTOR_HANDLE handle = nullptr;
        const MKL_LONG status = DftiCreateDescriptor(&handle, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{1}, zero);
        EXPECT_NE(status, 0);
        EXPECT_STREQ(e.what(), DftiErrorMessage(status));
    }
}

}  // namespace
