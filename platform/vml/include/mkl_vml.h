/* Vector mathematics (the published VML interface), the routines the plug-in
 * calls, over SLEEF and kernels of our own.
 *
 * Names and argument orders are the published ones: v, the precision letter
 * (s float, d double, c complex float, z complex double), the operation;
 * (n, a, r) for one operand, (n, a, b, r) for two, (n, a, scalar b, r) for
 * Powx, (n, a, r1, r2) for SinCos and Modf. Every routine reads n elements of
 * each operand and writes n results; r may be the same array as an operand
 * (in place) but must not overlap one otherwise. n <= 0 does nothing.
 *
 * Accuracy is that of the published high-accuracy mode: real functions within
 * about 1 ulp of the correctly rounded result, complex ones within a few ulps
 * per component where the problem is well conditioned, rounding exact;
 * NearbyInt and Rint round in the calling thread's rounding mode (Rint raises
 * no inexact flag either). bench/vml/accuracy.cpp measures it.
 *
 * Threads: a call with enough elements is split in static blocks over the
 * OpenMP threads (omp_get_max_threads()); inside a parallel region, or below
 * the routine's threshold, it runs on the calling thread. The workers take
 * the caller's rounding mode for the call. The memory-bound routines
 * (arithmetic, roundings, Conj, complex Abs) write destinations of 32 MiB
 * and more that overlap no operand with streaming stores; in place, and for
 * the computed functions, the stores are plain (common.hpp).
 *
 * Instruction sets: chosen once per process from the processor (AVX-512F,
 * AVX2 with FMA, else SSE2), for SLEEF's vector functions and our own loops.
 *
 * Where each family comes from, and why. Speeds: 16 M float elements, one
 * thread, on this machine kind (AMD EPYC, AVX-512); the anchors measured
 * unloaded: numpy exp 15 ms, sin 14, log 29, cbrt 6, tanh 13, scipy erf and
 * erfinv ~300, memcpy 3.1; SLEEF exp 4.2, sin 6.3, log 5.7, erf 29, cbrt 18,
 * tanh 19. Accuracy: bench/vml/accuracy.cpp, largest error of a million
 * arguments against long double (figures in ulps, float / double).
 *
 *   Add Sub Mul Div Sqr Abs Inv Conj MulByConj, Floor Ceil Trunc Round
 *   NearbyInt Rint Modf: our loops (x86-64-v4/v3/baseline clones), memory
 *       bound; exact or 0.5.
 *   Sqrt; InvSqrt Pow3o2 (float in double, one rounding, 0.5; float
 *       InvSqrt on AVX-512 from the 14-bit estimate and one Newton step in
 *       double, 0.57); Pow3o2 double as x (sqrt x + remainder) from fused
 *       multiply-adds (0.92; x*sqrt(x) reaches 1.26).
 *   Cbrt InvCbrt Pow2o3, double InvSqrt, on AVX-512: our kernels in the
 *       argument's precision (cube_root_kernels.cpp, double InvSqrt in
 *       arithmetic_kernels.cpp): getexp/getmant split,
 *       register tables for 2^(j/3), an estimate cut to 8 (float) or 17
 *       (double) bits so that its cube is exact, one correction from the
 *       exact residual with the products kept as hi + lo (float 0.65,
 *       0.54, 0.55 over all 2^32 floats; double 0.51, 0.50, 0.50;
 *       InvSqrt from the 14-bit estimate, 0.50). Elsewhere: float in double
 *       without a division (0.5), double over SLEEF's cbrt_u10 (0.53), with
 *       InvCbrt and Pow2o3 as cube roots of 1/(x s) and (x s)^2 (0.77,
 *       0.76), InvSqrt as sqrt(1/(x s)) sqrt(s) (0.85).
 *   Our own AVX-512 kernels (float_*_kernels.cpp, double_*_kernels.cpp),
 *   each family over one core written once, where SLEEF's u10 functions
 *   measured slower than numpy's AVX-512 ones (SLEEF's AVX2 and SSE2
 *   variants stay for other processors, with the tails mended below):
 *     float Ln Log10 Log1p Acosh Asinh Atanh: log from 32-cell register
 *       tables (permutex2var) and a degree-4 polynomial, the arguments of
 *       log1p/acosh/asinh/atanh formed exactly as float pairs (0.66 at
 *       worst over all 2^32 floats).
 *     double Ln Log10 Log1p Acosh Asinh Atanh: the same over 16 cells, a
 *       degree-7 polynomial and double-double sums (0.67).
 *     float Expm1: float lanes, a 16-entry table (0.77); Cosh Sinh: e^|x|
 *       and its reciprocal as float pairs from a 32-entry table (0.77);
 *       Tanh: a polynomial per half-binade from 32-entry register tables
 *       (0.62); Pow (and Powx):
 *       log2 and the product in double lanes, 2^t in float lanes (0.77).
 *     double Exp Expm1 Cosh Sinh Tanh: one exponential core, 2^(j/16) as hi+lo
 *       register tables, double-double combinations (0.64); Pow (and
 *       Powx): log to 2^-65 relative, y log x as a double-double, exp of a
 *       double-double (0.62).
 *     float Sin Cos Tan: one Cody-Waite reduction by pi/2 up to |x| 6434,
 *       SLEEF's kernels beyond (0.89); Asin Acos, Atan Atan2: one core each
 *       (0.75, 0.87).
 *     double Sin Cos Tan: three-part reduction up to 2^24 (SLEEF beyond);
 *       sin and cos from one polynomial with coefficients chosen per lane
 *       by quadrant (0.75), tan as a rational approximation in
 *       double-doubles with one corrected quotient (0.81);
 *       Atan Atan2 over a table of atan(c) (0.57, 0.52); Asin Acos with a
 *       corrected square root above 1/2 (0.64).
 *   double Exp on AVX-512: our kernel on the shared exponential core
 *       (2^(j/16) as hi + lo, scalef last, so that it stays finite up to
 *       ln(DBL_MAX) = 709.782712893384; 0.53, 0.74 for subnormal results);
 *       elsewhere SLEEF's, whose inf from 709.78271114955743 on is mended.
 *   float Exp, SinCos, Hypot, and double Erf on AVX2 and SSE2: SLEEF u10
 *       (u05 hypot) vector functions, all within 1.0, at or above numpy's
 *       speed.
 *   double Log1p Acosh Asinh Cosh Sinh on AVX2 and SSE2: SLEEF u10 with
 *       their tails mended (SLEEF overflows inside: log1p beyond 1e307,
 *       acosh/asinh beyond 1e154, cosh/sinh from 709.8 instead of 710.5;
 *       log1p of the smallest subnormals gives 0) by ln(x), ln(2x),
 *       e^(|x| - ln 2) in double.
 *   Erf float: on AVX-512 our kernel in double lanes, the Taylor series
 *       below 1/2 and 1 - erfc(|x|) above from the float erfc's double
 *       value, rounded once (0.5001 over all floats, 2.3 times as fast as
 *       SLEEF's); elsewhere SLEEF's float erf (10x cheaper than its double
 *       erf), the arguments below 2^-12 by the series in double (SLEEF:
 *       1.03 there).
 *   double Erf on AVX-512: the Taylor series below 1/2, 1 - erfc(|x|) from
 *       the double erfc's pair above (0.75; twice as fast as SLEEF's erf).
 *   Erfc: our kernels on AVX-512: erfc(|x|) = e^(-x^2) R(|x|), R piecewise
 *       polynomials from register tables (16 intervals), e^(-x^2) on the
 *       shared double exponential core; float in double lanes rounded once
 *       (0.505 over all floats), double in pairs of doubles (0.59).
 *       Elsewhere SLEEF erfc_u15; float through the double one (0.5 / 0.76).
 *   ErfInv: our kernels, neither SLEEF nor numpy has it. AVX-512: fitted
 *       polynomials in w = -ln(1 - y^2) and sqrt(w) in double lanes; float
 *       rounded once (0.504 over all floats), double with one Halley step on
 *       our erf polynomial below 0.6 and our erfc above (0.93).
 *       Elsewhere Giles' approximation (and the tail's asymptote beyond
 *       1 - 1e-7) in double, Halley steps over SLEEF's erf/erfc (float one
 *       step, 0.5; double two, 1.11).
 *   Complex Sqrt Pow: the C library's complex functions per element,
 *       as numpy calls them (same speed at one thread; 1.3 to 5 ulps per
 *       component of the larger component's ulp).
 *   Complex Exp: e^x (cos y + i sin y) in double over our Exp and SLEEF's
 *       sincos, a block at a time (2.5 to 3.5 times numpy's speed; 0.5 ulp
 *       float, 2.1 double), the C library's cexp beyond |x| = 700 and for
 *       special arguments.
 *   Complex Sin Cos Sinh Cosh: products of SLEEF's sincos of one part and
 *       our Cosh and Sinh of the other, a block at a time (0.5 ulp float,
 *       2.2 double), the C library's functions beyond 700 in the hyperbolic
 *       part and for special arguments.
 *   Complex Ln Log10: log(x^2 + y^2)/2 + i atan2(y, x) in double over our
 *       Ln, Log1p and Atan2 kernels, x^2 + y^2 - 1 formed exactly where it
 *       cancels (2.5 to 7 times numpy's speed; 0.5 ulp float, 1.8 and 2.3
 *       double), the C library's functions for huge, tiny and special
 *       arguments.
 *   Complex Tan Tanh: Kahan's (b c s + i t)/(1 + b s^2), t = tan y,
 *       b = 1 + t^2, s = sinh x, c = sqrt(1 + s^2), over our Tan and Sinh
 *       (3.3 to 3.8 times numpy's speed; 2.0 ulps float, 4.5 double, the
 *       C library 5.3), the C library's functions beyond |x| = 20 and for
 *       special arguments; tan z = -i tanh(iz).
 *   Complex Atan: -i atanh(iz) on the Atanh blocks below (8 to 16 times
 *       numpy's speed; 0.5 ulp float, 2.5 double).
 *   Complex Atanh: in double over our Log1p and Atan2 kernels, a block at a
 *       time, as log1p(4|x|/|1 - |x| + iy|^2)/4 and atan2(2y, 1 - |z|^2)/2
 *       (5 to 9 times numpy's speed; 0.5 ulp float, 2.4 double), the C
 *       library's catanh for huge, tiny and special arguments.
 *   Complex Asin Acos Acosh Asinh: in double over our Atan2 and Log1p
 *       kernels, a block at a time, by Hull, Fairgrieve and Tang's formulas
 *       (3.4 to 6 times numpy's speed; 0.5 ulp float, 2.9 to 3.6 double),
 *       the C library's functions for huge, tiny and special arguments.
 *   Complex Abs: our loops, float in double (0.5; on AVX-512 the square
 *       root as an estimate and one Newton step, 0.56), double on parts
 *       scaled by a power of two with fused multiply-adds (1.15; SLEEF's
 *       hypot over deinterleaved blocks was 4x slower than numpy). CIS: SLEEF's sincos
 *       over blocks.
 */
#ifndef LUMADEX_MKL_VML_H
#define LUMADEX_MKL_VML_H

#ifdef __cplusplus
extern "C" {
#endif

typedef int MKL_INT;
typedef struct { float real, imag; } MKL_Complex8;
typedef struct { double real, imag; } MKL_Complex16;

/* One operand, real: r[i] = f(a[i]). */
#define LUMADEX_VML_REAL_UNARY(X) \
    X(Sqr) X(Abs) X(Inv) X(Sqrt) X(InvSqrt) X(Cbrt) X(InvCbrt) X(Pow2o3) X(Pow3o2) \
    X(Exp) X(Expm1) X(Ln) X(Log10) X(Log1p) X(Cos) X(Sin) X(Tan) X(Cosh) X(Sinh) X(Tanh) \
    X(Acos) X(Asin) X(Atan) X(Acosh) X(Asinh) X(Atanh) X(Erf) X(Erfc) X(ErfInv) \
    X(Floor) X(Ceil) X(Trunc) X(Round) X(NearbyInt) X(Rint)
/* One operand, complex: r[i] = f(a[i]). */
#define LUMADEX_VML_COMPLEX_UNARY(X) \
    X(Sqrt) X(Exp) X(Ln) X(Log10) X(Cos) X(Sin) X(Tan) X(Cosh) X(Sinh) X(Tanh) \
    X(Acos) X(Asin) X(Atan) X(Acosh) X(Asinh) X(Atanh) X(Conj)
/* Two operands: r[i] = f(a[i], b[i]). */
#define LUMADEX_VML_REAL_BINARY(X) X(Add) X(Sub) X(Mul) X(Div) X(Pow) X(Hypot) X(Atan2)
#define LUMADEX_VML_COMPLEX_BINARY(X) X(Add) X(Sub) X(Mul) X(Pow) X(MulByConj)

#define LUMADEX_VML_DECLARE_REAL_UNARY(op) \
    void vs##op(const MKL_INT n, const float a[], float r[]); \
    void vd##op(const MKL_INT n, const double a[], double r[]);
#define LUMADEX_VML_DECLARE_COMPLEX_UNARY(op) \
    void vc##op(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]); \
    void vz##op(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]);
#define LUMADEX_VML_DECLARE_REAL_BINARY(op) \
    void vs##op(const MKL_INT n, const float a[], const float b[], float r[]); \
    void vd##op(const MKL_INT n, const double a[], const double b[], double r[]);
#define LUMADEX_VML_DECLARE_COMPLEX_BINARY(op) \
    void vc##op(const MKL_INT n, const MKL_Complex8 a[], const MKL_Complex8 b[], MKL_Complex8 r[]); \
    void vz##op(const MKL_INT n, const MKL_Complex16 a[], const MKL_Complex16 b[], MKL_Complex16 r[]);

LUMADEX_VML_REAL_UNARY(LUMADEX_VML_DECLARE_REAL_UNARY)
LUMADEX_VML_COMPLEX_UNARY(LUMADEX_VML_DECLARE_COMPLEX_UNARY)
LUMADEX_VML_REAL_BINARY(LUMADEX_VML_DECLARE_REAL_BINARY)
LUMADEX_VML_COMPLEX_BINARY(LUMADEX_VML_DECLARE_COMPLEX_BINARY)

/* r[i] = |a[i]|, the modulus of a complex number. */
void vcAbs(const MKL_INT n, const MKL_Complex8 a[], float r[]);
void vzAbs(const MKL_INT n, const MKL_Complex16 a[], double r[]);
/* r[i] = cos a[i] + i sin a[i]. */
void vcCIS(const MKL_INT n, const float a[], MKL_Complex8 r[]);
void vzCIS(const MKL_INT n, const double a[], MKL_Complex16 r[]);
/* r[i] = a[i] to the power b. */
void vsPowx(const MKL_INT n, const float a[], const float b, float r[]);
void vdPowx(const MKL_INT n, const double a[], const double b, double r[]);
/* r1[i] = sin a[i], r2[i] = cos a[i]. */
void vsSinCos(const MKL_INT n, const float a[], float r1[], float r2[]);
void vdSinCos(const MKL_INT n, const double a[], double r1[], double r2[]);
/* r1[i] = the integral part of a[i] (toward zero), r2[i] = the fractional part (sign of a[i]). */
void vsModf(const MKL_INT n, const float a[], float r1[], float r2[]);
void vdModf(const MKL_INT n, const double a[], double r1[], double r2[]);

/* The version of this layer and of the libraries under it, as text. */
const char* LumadexVmlVersionString(void);

#ifdef __cplusplus
}
#endif
#endif
