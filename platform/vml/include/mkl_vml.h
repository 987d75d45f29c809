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
 * no inexact flag either). bench/vml/accuracy.py measures it.
 *
 * Threads: a call with enough elements is split in static blocks over the
 * OpenMP threads (omp_get_max_threads()); inside a parallel region, or below
 * the routine's threshold, it runs on the calling thread. The workers take
 * the caller's rounding mode for the call.
 *
 * Instruction sets: chosen once per process from the processor (AVX-512F,
 * AVX2 with FMA, else SSE2), for SLEEF's vector functions and our own loops.
 *
 * Where each family comes from, and why (measured on this machine, AMD EPYC
 * with AVX-512, 16 M elements, one thread; bench/vml/run.sh prints the
 * figures against numpy/scipy):
 *
 *   Add Sub Mul Div Sqr Abs Inv Conj MulByConj, Floor Ceil Trunc Round
 *   NearbyInt Rint Modf:
 *       our loops, compiled for AVX-512/AVX2/SSE2 with run-time selection:
 *       memory bound, within 1.3x of a memcpy of the same bytes.
 *   Sqrt InvSqrt Pow2o3 Pow3o2 (real):
 *       our loops over the hardware square root; float results computed in
 *       double and rounded once (within 0.5 ulp + 1 rounding).
 *   Cbrt InvCbrt (float): our kernel in double (bit estimate, Newton steps),
 *       rounded once: SLEEF's cbrt loses to numpy (18 ms against 6 ms).
 *   Cbrt InvCbrt Pow2o3 (double): SLEEF cbrt_u10.
 *   Exp Expm1 Ln Log10 Log1p Sin Cos Tan Sinh Cosh Tanh Asin Acos Atan Asinh
 *   Acosh Atanh Erf Pow Atan2 Hypot SinCos (real): SLEEF's 1-ulp vector
 *       functions (exp 4.2 ms against numpy's 15 ms, log 5.7 against 29).
 *   Erfc: SLEEF erfc_u15; the float version through the double one, which
 *       brings it within 1 ulp.
 *   ErfInv: our kernel: Giles' approximation in double (float results
 *       rounded once), refined for double by a Halley step over SLEEF's
 *       erf/erfc; neither SLEEF nor numpy has it (scipy: ~300 ms).
 *   Complex Sqrt Exp Ln Log10 Sin Cos Tan Sinh Cosh Tanh Asin Acos Atan
 *   Asinh Acosh Atanh Pow: the C library's complex functions per element
 *       (what numpy calls too), so edge cases follow C99 Annex G.
 *   Complex Abs, CIS: SLEEF's hypot and sincos over blocks.
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
