// The typed entry points of the operations outside the table: the modulus of
// a complex image, CIS, Powx, SinCos and Modf. Each makes blocks of its views
// and calls the kernel of the same name.
#include <complex>

#include "ImageBlocks.h"
#include "KernelMessages.h"
#include "VmlOperations.h"
#include "lumadex/kernels/Elementwise.h"

namespace zep::vml {

namespace kernels = lumadex::kernels;

template <class T>
tarn::dm::image<T>& ComplexAbs(const tarn::dm::image<std::complex<T>>& src, tarn::dm::image<T>& dst)
{
    WithKernelMessages([&] { kernels::ComplexAbs<T>(BlockOf(src), BlockOf(dst)); });
    return dst;
}

template <class T>
tarn::dm::image<std::complex<T>>& CIS(const tarn::dm::image<T>& src, tarn::dm::image<std::complex<T>>& dst)
{
    WithKernelMessages([&] { kernels::CIS<T>(BlockOf(src), BlockOf(dst)); });
    return dst;
}

template <class T>
tarn::dm::image<T>& Powx(const tarn::dm::image<T>& a, T b, tarn::dm::image<T>& dst)
{
    WithKernelMessages([&] { kernels::Powx<T>(BlockOf(a), b, BlockOf(dst)); });
    return dst;
}

template <class T>
void SinCos(const tarn::dm::image<T>& src, tarn::dm::image<T>& sin, tarn::dm::image<T>& cos)
{
    WithKernelMessages([&] { kernels::SinCos<T>(BlockOf(src), BlockOf(sin), BlockOf(cos)); });
}

template <class T>
void Modf(const tarn::dm::image<T>& src, tarn::dm::image<T>& val, tarn::dm::image<T>& rem)
{
    WithKernelMessages([&] { kernels::Modf<T>(BlockOf(src), BlockOf(val), BlockOf(rem)); });
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
