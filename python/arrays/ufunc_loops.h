// numpy ufunc inner loops that run the vector-math routines (mkl_vml.h).
//
// A loop has numpy's inner-loop signature; its `data` is a LoopData naming
// the routine it runs (vsExp, vzAbs, vdAtan2...), so that one loop per
// element type serves every routine of that type. numpy calls a loop with
// the GIL released (the types here are never objects) and with each operand
// aligned for its type.
//
// How a run of n elements goes to the routine:
//   - every operand dense: straight to the routine, in pieces of at most
//     2^30 elements (the routines count in 32-bit MKL_INT); from a few
//     thousand elements on, in a ThreadScope of the face's thread count,
//     inside which the routine splits the run over the OpenMP threads;
//   - otherwise in blocks of 128 elements: strided inputs gathered (with
//     software prefetching) into small aligned buffers on the stack, the
//     routine called on the block, writing straight into a dense output
//     and into a buffer scattered back otherwise; long runs share the
//     blocks out over the face's threads. The routines stream no stores
//     here (a block is far below the cache size, platform/vml's rule);
//   - an output that overlaps an input other than by being the same
//     elements (numpy's reduce and accumulate do this on purpose: the output
//     of one element is an input of the next) goes to numpy's own loop for
//     the same types, which reduces and accumulates as numpy does; without
//     one, one element at a time, in order.
// The routines report no floating-point exceptions through numpy: flags
// that a routine raises in the calling thread are cleared again, so that no
// spurious warning (or error under numpy.errstate) comes from the
// intermediate steps of a vector kernel.
#pragma once

#include "mkl_vml.h"
#include "ufunc_numpy_api.h"

namespace lumadex::arrays {

// What a loop runs: the layer's routine, and numpy's loop for the same types
// (null when there is none) for the runs the routine cannot take.
struct LoopData {
    void* routine;
    PyUFuncGenericFunction numpyLoop;
    void* numpyData;
};

template <class In, class Out>
using UnaryRoutine = void (*)(MKL_INT n, const In* a, Out* r);
template <class T>
using BinaryRoutine = void (*)(MKL_INT n, const T* a, const T* b, T* r);

// r = f(a) and r = f(a, b), `data` being a LoopData whose routine is f.
template <class In, class Out>
void UnaryLoop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data);
template <class T>
void BinaryLoop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data);

// The element types of the layer's routines (ufunc_loops.cpp instantiates these).
#define LUMADEX_UFUNC_UNARY_TYPES(X) \
    X(float, float) X(double, double) X(MKL_Complex8, MKL_Complex8) X(MKL_Complex16, MKL_Complex16) \
    X(MKL_Complex8, float) X(MKL_Complex16, double)
#define LUMADEX_UFUNC_BINARY_TYPES(X) X(float) X(double) X(MKL_Complex8) X(MKL_Complex16)

#define LUMADEX_UFUNC_DECLARE_UNARY(In, Out) \
    extern template void UnaryLoop<In, Out>(char**, const npy_intp*, const npy_intp*, void*);
#define LUMADEX_UFUNC_DECLARE_BINARY(T) \
    extern template void BinaryLoop<T>(char**, const npy_intp*, const npy_intp*, void*);
LUMADEX_UFUNC_UNARY_TYPES(LUMADEX_UFUNC_DECLARE_UNARY)
LUMADEX_UFUNC_BINARY_TYPES(LUMADEX_UFUNC_DECLARE_BINARY)
#undef LUMADEX_UFUNC_DECLARE_UNARY
#undef LUMADEX_UFUNC_DECLARE_BINARY

}  // namespace lumadex::arrays
