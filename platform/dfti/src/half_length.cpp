#include "half_length.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumadex::dfti {
template <typename R>
HalfLengthTwiddles<R> half_length_twiddles(int64_t n) {
    HalfLengthTwiddles<R> w;
    const auto count = static_cast<size_t>(n / 4 + 1);
    w.re.resize(count);
    w.im.resize(count);
    const double step = -2 * M_PI / static_cast<double>(n);
    for (size_t k = 0; k < count; ++k) {
        const double angle = step * static_cast<double>(k);
        w.re[k] = static_cast<R>(std::cos(angle));
        w.im[k] = static_cast<R>(std::sin(angle));
    }
    return w;
}

namespace {

// The butterflies couple Z[k] with Z[m - k]. They run on a chunk of pairs
// at a time, k = first .. first + n - 1 (all below m - k): both ends are
// copied into arrays of real and of imaginary parts in the order of k (b
// holding conj Z[m - k]), where the compiler runs the butterflies several
// pairs to a vector instruction with no shuffling, and copied back.
constexpr int64_t chunk = 64;

template <typename R>
struct Chunk {
    R ar[chunk], ai[chunk], br[chunk], bi[chunk];
};

#define LUMADEX_BUTTERFLY_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))

// Forward, with a = Z[k] and b = conj Z[m-k]: E[k] = (a + b) / 2,
// O[k] = (a - b) / 2i, X[k] = E + w^k O, and, as e and o are real,
// X[m-k] = conj(E - w^k O): a holds X[k] and b conj X[m-k] after.
template <typename R>
struct Split {
    static void run(Chunk<R>& c, const R* wr, const R* wi, int64_t n) {
        for (int64_t j = 0; j < n; ++j) {
            const R er = R(0.5) * (c.ar[j] + c.br[j]), ei = R(0.5) * (c.ai[j] + c.bi[j]);
            const R or_ = R(0.5) * (c.ai[j] - c.bi[j]), oi = R(-0.5) * (c.ar[j] - c.br[j]);
            const R wor = wr[j] * or_ - wi[j] * oi, woi = wr[j] * oi + wi[j] * or_;
            c.ar[j] = er + wor;
            c.ai[j] = ei + woi;
            c.br[j] = er - wor;
            c.bi[j] = ei - woi;
        }
    }
};

// Backward, with a = X[k] and b = conj X[m-k]: twice E[k] = a + b, twice
// O[k] = (a - b) conj(w^k), Z[k] = E + i O, and Z[m-k] = conj(E - i O): a
// holds Z[k] and b conj Z[m-k] after.
template <typename R>
struct Join {
    static void run(Chunk<R>& c, const R* wr, const R* wi, int64_t n) {
        for (int64_t j = 0; j < n; ++j) {
            const R er = c.ar[j] + c.br[j], ei = c.ai[j] + c.bi[j];
            const R dr = c.ar[j] - c.br[j], di = c.ai[j] - c.bi[j];
            const R or_ = dr * wr[j] + di * wi[j], oi = di * wr[j] - dr * wi[j];
            c.ar[j] = er - oi;
            c.ai[j] = ei + or_;
            c.br[j] = er + oi;
            c.bi[j] = ei - or_;
        }
    }
};

template <typename R, typename Butterflies>
LUMADEX_BUTTERFLY_CLONES void each_chunk(std::complex<R>* line, int64_t m, const HalfLengthTwiddles<R>& w) {
    Chunk<R> c;
    R* z = reinterpret_cast<R*>(line);
    const int64_t count = (m - 1) / 2;
    for (int64_t k = 1; k <= count; k += chunk) {
        const int64_t n = std::min(chunk, count + 1 - k);
        R* lo = z + 2 * k;
        R* hi = z + 2 * (m - k - n + 1);  // Z[m - k - n + 1 .. m - k], upwards
        for (int64_t j = 0; j < n; ++j) {
            c.ar[j] = lo[2 * j];
            c.ai[j] = lo[2 * j + 1];
        }
        for (int64_t j = 0; j < n; ++j) {
            c.br[n - 1 - j] = hi[2 * j];
            c.bi[n - 1 - j] = -hi[2 * j + 1];
        }
        Butterflies::run(c, w.re.data() + k, w.im.data() + k, n);
        for (int64_t j = 0; j < n; ++j) {
            lo[2 * j] = c.ar[j];
            lo[2 * j + 1] = c.ai[j];
        }
        for (int64_t j = 0; j < n; ++j) {
            hi[2 * j] = c.br[n - 1 - j];
            hi[2 * j + 1] = -c.bi[n - 1 - j];
        }
    }
}

}  // namespace

// The pairs, and the ends and middle on their own: X[0] and X[m] from Z[0]
// (E[0] and O[0] are its real and imaginary parts), and X[m/2] = conj Z[m/2]
// (w^(m/2) = -i).
template <typename R>
void split_half_spectrum(std::complex<R>* line, int64_t m, const HalfLengthTwiddles<R>& twiddles) {
    const R re = line[0].real(), im = line[0].imag();
    line[0] = {re + im, R(0)};
    line[m] = {re - im, R(0)};
    each_chunk<R, Split<R>>(line, m, twiddles);
    if (m % 2 == 0) line[m / 2] = std::conj(line[m / 2]);
}

// Z[0] = (X[0] + X[m]) + i (X[0] - X[m]) of their real parts, and
// Z[m/2] = 2 conj X[m/2].
template <typename R>
void join_half_spectrum(std::complex<R>* line, int64_t m, const HalfLengthTwiddles<R>& twiddles) {
    const R x0 = line[0].real(), xm = line[m].real();
    line[0] = {x0 + xm, x0 - xm};
    each_chunk<R, Join<R>>(line, m, twiddles);
    if (m % 2 == 0) line[m / 2] = R(2) * std::conj(line[m / 2]);
}

template HalfLengthTwiddles<float> half_length_twiddles<float>(int64_t);
template HalfLengthTwiddles<double> half_length_twiddles<double>(int64_t);
template void split_half_spectrum<float>(std::complex<float>*, int64_t, const HalfLengthTwiddles<float>&);
template void split_half_spectrum<double>(std::complex<double>*, int64_t, const HalfLengthTwiddles<double>&);
template void join_half_spectrum<float>(std::complex<float>*, int64_t, const HalfLengthTwiddles<float>&);
template void join_half_spectrum<double>(std::complex<double>*, int64_t, const HalfLengthTwiddles<double>&);

}  // namespace lumadex::dfti
