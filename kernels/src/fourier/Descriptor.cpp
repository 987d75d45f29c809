#include "Descriptor.h"

#include <stdexcept>

namespace lumadex::kernels::fourier {

void ThrowStatus(MKL_LONG status) { throw std::runtime_error(DftiErrorMessage(status)); }

Descriptor::Descriptor(DFTI_CONFIG_VALUE precision, DFTI_CONFIG_VALUE domain, int rank, const MKL_LONG* lengths)
{
    if (rank == 1)
        Check(DftiCreateDescriptor(&handle_, precision, domain, MKL_LONG{1}, lengths[0]));
    else
        Check(DftiCreateDescriptor(&handle_, precision, domain, MKL_LONG{rank}, lengths));
}

Descriptor::~Descriptor()
{
    if (handle_) DftiFreeDescriptor(&handle_);
}

void Descriptor::SetStrides(DFTI_CONFIG_PARAM which, const MKL_LONG* strides)
{
    Check(DftiSetValue(handle_, which, strides));
}

void Descriptor::SetScale(Exponent exponent, double scale)
{
    Check(DftiSetValue(handle_, exponent == Exponent::Positive ? DFTI_BACKWARD_SCALE : DFTI_FORWARD_SCALE, scale));
}

void Descriptor::SetValue(DFTI_CONFIG_PARAM parameter, DFTI_CONFIG_VALUE value)
{
    Check(DftiSetValue(handle_, parameter, value));
}

void Descriptor::SetValue(DFTI_CONFIG_PARAM parameter, MKL_LONG value)
{
    Check(DftiSetValue(handle_, parameter, value));
}

void Descriptor::Commit() { Check(DftiCommitDescriptor(handle_)); }

void Descriptor::Compute(Exponent exponent, void* in, void* out)
{
    const bool positive = exponent == Exponent::Positive;
    if (out)
        Check(positive ? DftiComputeBackward(handle_, in, out) : DftiComputeForward(handle_, in, out));
    else
        Check(positive ? DftiComputeBackward(handle_, in) : DftiComputeForward(handle_, in));
}

void Descriptor::Free()
{
    const MKL_LONG status = DftiFreeDescriptor(&handle_);
    handle_ = nullptr;
    Check(status);
}

}  // namespace lumadex::kernels::fourier
