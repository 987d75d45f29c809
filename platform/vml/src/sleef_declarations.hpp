// SLEEF's vector functions for every instruction set the layer dispatches to.
//
// SLEEF's header declares its AVX2 and AVX-512 functions only when the
// compiler targets those sets. The layer is compiled for the baseline (each
// kernel names its own set), so the header is read as if they were
// targeted, for the declarations alone.
#pragma once

#include <immintrin.h>

#define __AVX__ 1
#define __AVX2__ 1
#define __AVX512F__ 1
#include <sleef.h>
#undef __AVX__
#undef __AVX2__
#undef __AVX512F__
#undef FP_FAST_FMA
#undef FP_FAST_FMAF
