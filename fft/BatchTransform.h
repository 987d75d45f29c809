// One descriptor configured for a batch of equal transforms and computed by
// one or more calls, for the real, axis and plane transforms.
#pragma once

#include <cstdint>

#include "Dfti.h"
#include "TransformGeometry.h"

namespace zep {

struct BatchPlan {
    DFTI_CONFIG_VALUE domain = DFTI_COMPLEX;  // DFTI_REAL stores the complex side conjugate-even
    int rank = 1;
    MKL_LONG lengths[4] = {1, 1, 1, 1};
    const MKL_LONG* inputStrides = nullptr;  // {offset, s1, ...}; null keeps the default
    const MKL_LONG* outputStrides = nullptr;
    MKL_LONG count = 1;  // transforms per compute call
    MKL_LONG inputDistance = 0;
    MKL_LONG outputDistance = 0;
    bool inPlace = false;
};

// Creates and configures the descriptor (precision from T), commits it, and
// hands `calls` a compute(in, out) function to call as often as it needs;
// frees the descriptor afterwards. `exponent` chooses the compute call and
// the scale it applies.
template <class T, class Calls>
void RunBatch(const BatchPlan& plan, dfti::Exponent exponent, double scale, Calls&& calls)
{
    dfti::Descriptor descriptor(dfti::kPrecision<T>, plan.domain, plan.rank, plan.lengths);
    if (plan.domain == DFTI_REAL) descriptor.SetValue(DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX);
    if (plan.count != 1) {
        descriptor.SetValue(DFTI_NUMBER_OF_TRANSFORMS, plan.count);
        descriptor.SetValue(DFTI_INPUT_DISTANCE, plan.inputDistance);
        descriptor.SetValue(DFTI_OUTPUT_DISTANCE, plan.outputDistance);
    }
    if (plan.inputStrides) descriptor.SetStrides(DFTI_INPUT_STRIDES, plan.inputStrides);
    if (plan.outputStrides) descriptor.SetStrides(DFTI_OUTPUT_STRIDES, plan.outputStrides);
    descriptor.SetScale(exponent, scale);
    if (!plan.inPlace) descriptor.SetValue(DFTI_PLACEMENT, DFTI_NOT_INPLACE);
    descriptor.Commit();
    calls([&](const void* in, void* out) {
        descriptor.Compute(exponent, const_cast<void*>(in), plan.inPlace ? nullptr : out);
    });
    descriptor.Free();
}

}  // namespace zep
