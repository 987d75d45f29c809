// A scope object over one DFTI descriptor, for the Fourier kernels.
//
// Every DFTI call's status is checked: a status other than 0 throws
// std::runtime_error with the library's own text for it. The descriptor is
// freed when the scope ends; the normal path frees it explicitly so that a
// failing free is reported too.
#pragma once

#include <complex>
#include <cstdint>

#include "lumadex/kernels/Fourier.h"
#include "mkl_dfti.h"

namespace lumadex::kernels::fourier {

[[noreturn]] void ThrowStatus(MKL_LONG status);

inline void Check(MKL_LONG status)
{
    if (status != 0) ThrowStatus(status);
}

template <class T>
inline constexpr DFTI_CONFIG_VALUE kPrecision = sizeof(T) == sizeof(float) ? DFTI_SINGLE : DFTI_DOUBLE;

// Which exponent a compute call uses: DftiComputeForward's is negative,
// DftiComputeBackward's positive.
using lumadex::kernels::Exponent;

class Descriptor {
public:
    // `lengths` holds `rank` lengths, slowest-varying first.
    Descriptor(DFTI_CONFIG_VALUE precision, DFTI_CONFIG_VALUE domain, int rank, const MKL_LONG* lengths);
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    void SetStrides(DFTI_CONFIG_PARAM which, const MKL_LONG* strides);
    // The scale of the direction computed with `exponent`.
    void SetScale(Exponent exponent, double scale);
    void SetValue(DFTI_CONFIG_PARAM parameter, DFTI_CONFIG_VALUE value);
    void SetValue(DFTI_CONFIG_PARAM parameter, MKL_LONG value);
    void Commit();
    // In place when `out` is null.
    void Compute(Exponent exponent, void* in, void* out = nullptr);
    void Free();

private:
    DFTI_DESCRIPTOR_HANDLE handle_ = nullptr;
};

}  // namespace lumadex::kernels::fourier
