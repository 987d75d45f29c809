#include "dft_oracle.hpp"

#include <cmath>
#include <numbers>

namespace dft_test {

namespace {

// out[k] = sum_j in[j] w^(k j) along one axis of a row-major array.
void dft_along(std::vector<Complex>& data, const std::vector<long>& lengths, size_t axis, int sign) {
    const long n = lengths[axis];
    long inner = 1, outer = 1;
    for (size_t i = axis + 1; i < lengths.size(); ++i) inner *= lengths[i];
    for (size_t i = 0; i < axis; ++i) outer *= lengths[i];
    std::vector<Complex> twiddle(static_cast<size_t>(n));
    for (long j = 0; j < n; ++j) {
        const long double angle = sign * 2 * std::numbers::pi_v<long double> * j / n;
        twiddle[j] = {std::cos(angle), std::sin(angle)};
    }
    std::vector<Complex> line(static_cast<size_t>(n));
    for (long o = 0; o < outer; ++o)
        for (long i = 0; i < inner; ++i) {
            const long base = o * n * inner + i;
            for (long k = 0; k < n; ++k) {
                Complex sum = 0;
                for (long j = 0; j < n; ++j) sum += data[base + j * inner] * twiddle[(k * j) % n];
                line[k] = sum;
            }
            for (long k = 0; k < n; ++k) data[base + k * inner] = line[k];
        }
}

}  // namespace

std::vector<Complex> naive_dft(const std::vector<Complex>& x, const std::vector<long>& lengths, int sign) {
    std::vector<Complex> out = x;
    for (size_t axis = 0; axis < lengths.size(); ++axis) dft_along(out, lengths, axis, sign);
    return out;
}

std::vector<Complex> half_of(const std::vector<Complex>& full, const std::vector<long>& lengths) {
    const long last = lengths.back(), half = last / 2 + 1;
    std::vector<Complex> out;
    for (size_t i = 0; i < full.size(); ++i)
        if (static_cast<long>(i) % last < half) out.push_back(full[i]);
    return out;
}

long SideLayout::elements() const {
    long e = count;
    for (long v : n) e *= v;
    return e;
}

std::vector<long> SideLayout::positions() const {
    std::vector<long> p;
    p.reserve(static_cast<size_t>(elements()));
    std::vector<long> k(n.size(), 0);
    for (long b = 0; b < count; ++b) {
        std::fill(k.begin(), k.end(), 0);
        for (long e = 0; e < elements() / count; ++e) {
            long pos = offset + b * distance;
            for (size_t i = 0; i < n.size(); ++i) pos += k[i] * stride[i];
            p.push_back(pos);
            for (size_t i = n.size(); i-- > 0;) {
                if (++k[i] < n[i]) break;
                k[i] = 0;
            }
        }
    }
    return p;
}

long SideLayout::max_position() const {
    long m = 0;
    for (long p : positions()) m = std::max(m, p);
    return m;
}

}  // namespace dft_test
