// Element-wise mathematics over images: the library entry points.
//
// Every operation applies one vector-math routine (mkl_vml.h) to all pixels
// of an image, or to all pairs of corresponding pixels of two images, and
// writes a destination. The operations are listed once, in the order the
// script functions are registered, with their family:
//   R  real only     (s, d)        entry point zep::vml::Real<Name>
//   B  real or complex (s, d, c, z) entry point zep::vml::<Name>
//   C  complex only  (c, z)        entry point zep::vml::Complex<Name>
//
// Entry points on host handles take the destination last and return it. The
// precision is decided by the destination's data type alone (Real 4 s, Real 8
// d, Complex 8 c, Complex 16 z); a source of another type is never modified
// but replaced by a converted copy. A B-family entry point takes its complex
// path when the destination is complex. The element count is that of the
// first source; a second source or a destination holding fewer pixels is
// refused before anything is written. Pixels are read and written where they
// lie, so sub-areas work; a source that overlaps the destination without
// being the same pixels is read from a copy. These entry points take no time,
// keep no counter and do not mark the destination changed.
#pragma once

#include <complex>

#include "Export.h"
#include "ImageUtility.h"

#define ZEP_VML_UNARY_OPERATIONS(X)                                                                              \
    X(Conj, C) X(Sqr, R) X(Abs, R) X(Inv, R) X(Sqrt, B) X(InvSqrt, R) X(Cbrt, R) X(InvCbrt, R) X(Pow2o3, R)         \
    X(Pow3o2, R) X(Exp, B) X(Expm1, R) X(Ln, B) X(Log10, B) X(Log1p, R) X(Cos, B) X(Sin, B) X(Tan, B) X(Cosh, B)   \
    X(Sinh, B) X(Tanh, B) X(Acos, B) X(Asin, B) X(Atan, B) X(Acosh, B) X(Asinh, B) X(Atanh, B) X(Erf, R)          \
    X(Erfc, R) X(ErfInv, R) X(Floor, R) X(Ceil, R) X(Trunc, R) X(Round, R) X(NearbyInt, R) X(Rint, R)
#define ZEP_VML_BINARY_OPERATIONS(X) \
    X(Add, B) X(Sub, B) X(Mul, B) X(Div, R) X(Pow, B) X(Hypot, R) X(Atan2, R) X(MulByConj, C)

#define ZEP_VML_ENTRY_NAME_R(op) Real##op
#define ZEP_VML_ENTRY_NAME_B(op) op
#define ZEP_VML_ENTRY_NAME_C(op) Complex##op
#define ZEP_VML_ENTRY_NAME(op, family) ZEP_VML_ENTRY_NAME_##family(op)

namespace zep::vml {

using Gatan::DM::Image;

#define ZEP_VML_DECLARE_UNARY(op, family) ZEP_EXPORT Image ZEP_VML_ENTRY_NAME(op, family)(Image src, Image dst);
#define ZEP_VML_DECLARE_BINARY(op, family) \
    ZEP_EXPORT Image ZEP_VML_ENTRY_NAME(op, family)(Image a, Image b, Image dst);
ZEP_VML_UNARY_OPERATIONS(ZEP_VML_DECLARE_UNARY)
ZEP_VML_BINARY_OPERATIONS(ZEP_VML_DECLARE_BINARY)
#undef ZEP_VML_DECLARE_UNARY
#undef ZEP_VML_DECLARE_BINARY

// Typed entry points (T float or double): n from the first view; the other
// views must hold at least as many pixels.
template <class T>
ZEP_EXPORT tarn::dm::image<T>& ComplexAbs(const tarn::dm::image<std::complex<T>>& src, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<std::complex<T>>& CIS(const tarn::dm::image<T>& src,
                                                tarn::dm::image<std::complex<T>>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& Powx(const tarn::dm::image<T>& a, T b, tarn::dm::image<T>& dst);
// sin to `sin`, cos to `cos`.
template <class T>
ZEP_EXPORT void SinCos(const tarn::dm::image<T>& src, tarn::dm::image<T>& sin, tarn::dm::image<T>& cos);
// The integral part (toward zero) to `val`, the fractional part to `rem`.
template <class T>
ZEP_EXPORT void Modf(const tarn::dm::image<T>& src, tarn::dm::image<T>& val, tarn::dm::image<T>& rem);

}  // namespace zep::vml
