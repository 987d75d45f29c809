// Reference results for the descriptor-layer tests: a naive DFT (sums of
// products with exact twiddles, in long double) and strided array layouts
// described independently of the layer under test.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace dft_test {

using Complex = std::complex<long double>;

// Multi-dimensional DFT of a dense row-major array by definition, one axis
// at a time: out[k] = sum_n x[n] exp(sign 2 pi i sum_d k_d n_d / N_d).
std::vector<Complex> naive_dft(const std::vector<Complex>& x, const std::vector<long>& lengths, int sign);

// The first n / 2 + 1 entries along the last axis of a full spectrum.
std::vector<Complex> half_of(const std::vector<Complex>& full, const std::vector<long>& lengths);

// Where the elements of one side of a call lie: batch index outermost, then
// the axes row-major; positions in elements from the start of the buffer.
struct SideLayout {
    std::vector<long> n;       // per axis
    std::vector<long> stride;  // per axis, elements
    long offset = 0;
    long count = 1;
    long distance = 0;

    long elements() const;
    std::vector<long> positions() const;  // all positions, in logical order
    long max_position() const;
};

}  // namespace dft_test
