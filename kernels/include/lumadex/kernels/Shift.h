// The phase-ramp kernels behind every image shifter, on raw pixels.
//
// A block is up to four dimensions of complex pixels (x, y, z and a series
// of volumes), read from `in` and written to `out`, which have the sizes of
// `in` and strides of their own in pixels (the x stride is 1). Three axes
// carry a shift; the fourth repeats.
//
// How a block is worked:
//   - every axis trivial (size 1, zero shift, or a half-period shift that
//     flips signs exactly): no phase is evaluated, the pixels are copied with
//     sign flips (-1)^(hX x + hY y + hZ z);
//   - PlaneFactor: one factor per plane, from its Z frequency alone;
//   - Rows: per row a start factor P from the row's frequencies, and per
//     column j a power S^j of the X step (a table made by repeated complex
//     multiplication, once per call): the pixel's factor is P * S^j, one
//     complex multiplication, rounded to float for single-precision pixels.
// Phase arguments are reduced to [0, 1) turns before they are scaled by
// 2 pi fSign. The vectorised forms, chosen from the processor feature words
// on every call, give results bit-identical to the scalar ones.
#pragma once

#include <complex>
#include <cstdint>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

struct AxisShift {
    int size = 1;
    int period = 1;   // N of the real-space image
    int centre = 0;   // centred layout: index of the zero frequency
    double shift = 0;  // in real-space pixels
    bool pure = true;  // pure layout: upper indices are negative frequencies
};

enum class Evaluation { Rows, PlaneFactor };

// Refuses a period below 1 on an axis with a non-zero shift
// (Refusal, Reason::PeriodNotPositive).
void CheckPeriods(const AxisShift (&axes)[3]);

// Shifts `in` into `out` by the three axes' ramps; checks the periods first.
// A half-period shift along an axis of odd size is refused
// (Reason::OddDimensionSize).
template <class R>
void ShiftBlock(const Block<const std::complex<R>>& in, const Block<std::complex<R>>& out, const AxisShift (&axes)[3],
                double fSign, Evaluation evaluation);

}  // namespace lumadex::kernels
