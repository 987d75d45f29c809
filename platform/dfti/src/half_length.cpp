#include "half_length.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumadex::dfti {
template <typename R>
std::vector<std::complex<R>> half_length_twiddles(int64_t n) {
    std::vector<std::complex<R>> w(static_cast<size_t>(n / 4 + 1));
    const double step = -2 * M_PI / static_cast<double>(n);
    for (size_t k = 0; k < w.size(); ++k) {
        const double angle = step * static_cast<double>(k);
        w[k] = {static_cast<R>(std::cos(angle)), static_cast<R>(std::sin(angle))};
    }
    return w;
}

namespace {

// The butterflies of the pairs (k, m - k), k = 1 .. count, count < m / 2:
// `lo` at Z[1] going up, `hi` at Z[m - 1] going down, `w` at w^1. A chunk
// of pairs at a time: the high ends are copied into an array in the low
// ends' order (whole complex numbers, so that the copy is one load and one
// store each), where the compiler runs the butterflies several pairs at
// once, and copied back.
constexpr int64_t chunk = 64;

template <typename R>
struct Chunk {
    std::complex<R> b[chunk];  // the high ends, in the low ends' order
};

template <typename R>
void reversed(std::complex<R>* to, const std::complex<R>* from, int64_t n) {
    for (int64_t j = 0; j < n; ++j) std::memcpy(to + j, from - j, sizeof(std::complex<R>));
}

// Forward, with a = Z[k] and b = conj Z[m-k]: E[k] = (a + b) / 2,
// O[k] = (a - b) / 2i, X[k] = E + w^k O, and, as e and o are real,
// X[m-k] = conj(E - w^k O).
template <typename R>
__attribute__((target_clones("arch=x86-64-v3", "default"))) void split_chunk(R* __restrict lo, R* __restrict hi, const R* __restrict w, int64_t n) {
    for (int64_t j = 0; j < n; ++j) {
        const R ar = lo[2 * j], ai = lo[2 * j + 1], br = hi[2 * j], bi = -hi[2 * j + 1];
        const R er = R(0.5) * (ar + br), ei = R(0.5) * (ai + bi);
        const R or_ = R(0.5) * (ai - bi), oi = R(-0.5) * (ar - br);
        const R wr = w[2 * j], wi = w[2 * j + 1];
        const R wor = wr * or_ - wi * oi, woi = wr * oi + wi * or_;
        lo[2 * j] = er + wor;
        lo[2 * j + 1] = ei + woi;
        hi[2 * j] = er - wor;
        hi[2 * j + 1] = woi - ei;
    }
}

// Backward, with a = X[k] and b = conj X[m-k]: twice E[k] = a + b, twice
// O[k] = (a - b) conj(w^k), Z[k] = E + i O, and Z[m-k] = conj(E - i O).
template <typename R>
__attribute__((target_clones("arch=x86-64-v3", "default"))) void join_chunk(R* __restrict lo, R* __restrict hi, const R* __restrict w, int64_t n) {
    for (int64_t j = 0; j < n; ++j) {
        const R ar = lo[2 * j], ai = lo[2 * j + 1], br = hi[2 * j], bi = -hi[2 * j + 1];
        const R er = ar + br, ei = ai + bi;
        const R dr = ar - br, di = ai - bi;
        const R wr = w[2 * j], wi = w[2 * j + 1];
        const R or_ = dr * wr + di * wi, oi = di * wr - dr * wi;
        lo[2 * j] = er - oi;
        lo[2 * j + 1] = ei + or_;
        hi[2 * j] = er + oi;
        hi[2 * j + 1] = or_ - ei;
    }
}

template <typename R, typename Butterflies>
void each_chunk(std::complex<R>* line, int64_t m, const std::complex<R>* w, Butterflies butterflies) {
    Chunk<R> c;
    const int64_t count = (m - 1) / 2;
    for (int64_t k = 1; k <= count; k += chunk) {
        const int64_t n = std::min(chunk, count + 1 - k);
        reversed(c.b, line + m - k, n);
        butterflies(reinterpret_cast<R*>(line + k), reinterpret_cast<R*>(c.b), reinterpret_cast<const R*>(w + k), n);
        reversed(line + m - k - n + 1, c.b + n - 1, n);
    }
}

}  // namespace

// The pairs, and the ends and middle on their own: X[0] and X[m] from Z[0]
// (E[0] and O[0] are its real and imaginary parts), and X[m/2] = conj Z[m/2]
// (w^(m/2) = -i).
template <typename R>
void split_half_spectrum(std::complex<R>* line, int64_t m, const std::complex<R>* twiddles) {
    const R re = line[0].real(), im = line[0].imag();
    line[0] = {re + im, R(0)};
    line[m] = {re - im, R(0)};
    each_chunk(line, m, twiddles, split_chunk<R>);
    if (m % 2 == 0) line[m / 2] = std::conj(line[m / 2]);
}

// Z[0] = (X[0] + X[m]) + i (X[0] - X[m]) of their real parts, and
// Z[m/2] = 2 conj X[m/2].
template <typename R>
void join_half_spectrum(std::complex<R>* line, int64_t m, const std::complex<R>* twiddles) {
    const R x0 = line[0].real(), xm = line[m].real();
    line[0] = {x0 + xm, x0 - xm};
    each_chunk(line, m, twiddles, join_chunk<R>);
    if (m % 2 == 0) line[m / 2] = R(2) * std::conj(line[m / 2]);
}

template std::vector<std::complex<float>> half_length_twiddles<float>(int64_t);
template std::vector<std::complex<double>> half_length_twiddles<double>(int64_t);
template void split_half_spectrum<float>(std::complex<float>*, int64_t, const std::complex<float>*);
template void split_half_spectrum<double>(std::complex<double>*, int64_t, const std::complex<double>*);
template void join_half_spectrum<float>(std::complex<float>*, int64_t, const std::complex<float>*);
template void join_half_spectrum<double>(std::complex<double>*, int64_t, const std::complex<double>*);

}  // namespace lumadex::dfti
