// The typed entry points of the operations outside the table: the modulus of
// a complex image, CIS, Powx, SinCos and Modf.
#include <complex>
#include <type_traits>

#include "PixelRuns.h"
#include "VmlOperations.h"
#include "mkl_vml.h"

namespace zep::vml {

template <class T>
using ComplexOf = std::conditional_t<std::is_same_v<T, float>, MKL_Complex8, MKL_Complex16>;

template <class T>
tarn::dm::image<T>& ComplexAbs(const tarn::dm::image<std::complex<T>>& src, tarn::dm::image<T>& dst)
{
    PixelRun runs[] = {RunOf(src), RunOf(dst)};
    ForEachRun(runs, 1, src.element_count(), [](std::int64_t n, char* const* p) {
        const auto* a = reinterpret_cast<const ComplexOf<T>*>(p[0]);
        if constexpr (std::is_same_v<T, float>)
            vcAbs(static_cast<MKL_INT>(n), a, reinterpret_cast<float*>(p[1]));
        else
            vzAbs(static_cast<MKL_INT>(n), a, reinterpret_cast<double*>(p[1]));
    });
    return dst;
}

template <class T>
tarn::dm::image<std::complex<T>>& CIS(const tarn::dm::image<T>& src, tarn::dm::image<std::complex<T>>& dst)
{
    PixelRun runs[] = {RunOf(src), RunOf(dst)};
    ForEachRun(runs, 1, src.element_count(), [](std::int64_t n, char* const* p) {
        auto* r = reinterpret_cast<ComplexOf<T>*>(p[1]);
        if constexpr (std::is_same_v<T, float>)
            vcCIS(static_cast<MKL_INT>(n), reinterpret_cast<const float*>(p[0]), r);
        else
            vzCIS(static_cast<MKL_INT>(n), reinterpret_cast<const double*>(p[0]), r);
    });
    return dst;
}

template <class T>
tarn::dm::image<T>& Powx(const tarn::dm::image<T>& a, T b, tarn::dm::image<T>& dst)
{
    PixelRun runs[] = {RunOf(a), RunOf(dst)};
    ForEachRun(runs, 1, a.element_count(), [b](std::int64_t n, char* const* p) {
        const auto* x = reinterpret_cast<const T*>(p[0]);
        auto* r = reinterpret_cast<T*>(p[1]);
        if constexpr (std::is_same_v<T, float>)
            vsPowx(static_cast<MKL_INT>(n), x, b, r);
        else
            vdPowx(static_cast<MKL_INT>(n), x, b, r);
    });
    return dst;
}

namespace {

template <class T>
void TwoResults(void (*kernel)(MKL_INT, const T*, T*, T*), const tarn::dm::image<T>& src,
                tarn::dm::image<T>& first, tarn::dm::image<T>& second)
{
    PixelRun runs[] = {RunOf(src), RunOf(first), RunOf(second)};
    ForEachRun(runs, 1, src.element_count(), [kernel](std::int64_t n, char* const* p) {
        kernel(static_cast<MKL_INT>(n), reinterpret_cast<const T*>(p[0]), reinterpret_cast<T*>(p[1]),
               reinterpret_cast<T*>(p[2]));
    });
}

}  // namespace

template <class T>
void SinCos(const tarn::dm::image<T>& src, tarn::dm::image<T>& sin, tarn::dm::image<T>& cos)
{
    if constexpr (std::is_same_v<T, float>)
        TwoResults(vsSinCos, src, sin, cos);
    else
        TwoResults(vdSinCos, src, sin, cos);
}

template <class T>
void Modf(const tarn::dm::image<T>& src, tarn::dm::image<T>& val, tarn::dm::image<T>& rem)
{
    if constexpr (std::is_same_v<T, float>)
        TwoResults(vsModf, src, val, rem);
    else
        TwoResults(vdModf, src, val, rem);
}

#define ZEP_VML_INSTANTIATE(T)                                                                                     \
    template ZEP_EXPORT tarn::dm::image<T>& ComplexAbs(const tarn::dm::image<std::complex<T>>&, tarn::dm::image<T>&); \
    template ZEP_EXPORT tarn::dm::image<std::complex<T>>& CIS(const tarn::dm::image<T>&,                            \
                                                             tarn::dm::image<std::complex<T>>&);                     \
    template ZEP_EXPORT tarn::dm::image<T>& Powx(const tarn::dm::image<T>&, T, tarn::dm::image<T>&);                \
    template ZEP_EXPORT void SinCos(const tarn::dm::image<T>&, tarn::dm::image<T>&, tarn::dm::image<T>&);           \
    template ZEP_EXPORT void Modf(const tarn::dm::image<T>&, tarn::dm::image<T>&, tarn::dm::image<T>&);
ZEP_VML_INSTANTIATE(float)
ZEP_VML_INSTANTIATE(double)

}  // namespace zep::vml
