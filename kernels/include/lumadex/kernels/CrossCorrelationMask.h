// The cross-correlation mask of two centred spectra (the formula is with
// its kernel, kernels/src/statistics/CrossCorrelationMaskKernels.cpp).
#pragma once

#include <complex>
#include <cstdint>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

struct MaskParameters {
    std::int32_t centre[3];  // the zero frequency, inside the blocks
    float scale[3];          // frequency scale per axis
    float radius;            // of the radial mask; 0 for none
    std::int32_t mode;       // 1, 2 or 3: normalised by 1, 1/sqrt|P| or 1/|P|
};

// Writes the mask of `target` and `reference` into `destination` (three
// blocks of one shape, of at most three dimensions, which may be the same
// memory) and returns the mean modulus of the result, the centre left out of
// the sum but counted.
template <class S>
double CrossCorrelationMask(const Block<const std::complex<S>>& target, const Block<const std::complex<S>>& reference,
                            const MaskParameters& parameters, const Block<std::complex<S>>& destination);

}  // namespace lumadex::kernels
