// Transforms through the DFTI layer checked the way FFTW checks itself:
// against a naive DFT on random small geometries (ranks 1 to 3, sub-area
// strides, batches, in and out of place, both precisions, complex, real to
// half and half to real, scales). Larger sizes are checked against numpy in
// the Python suite.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

#include "dft_oracle.hpp"
#include "mkl_dfti.h"

using namespace dft_test;

namespace {

// One compute call: what the descriptor says and where the data lie.
struct Case {
    bool single = false;
    bool real = false;  // DFTI_REAL forward domain
    bool forward = true;
    bool in_place = false;
    std::vector<long> lengths;
    long count = 1;
    double scale = 1;
    bool set_output_strides_in_place = false;
    SideLayout in, out;  // positions in elements of each side's own type
    bool in_complex = true, out_complex = true;
    bool in_real_parts = false, out_real_parts = false;  // real side inside a complex buffer
    int threads = 1;  // omp_set_num_threads before commit: batches run differently per count

    std::string describe() const {
        std::ostringstream s;
        s << (single ? "single " : "double ") << (real ? "real " : "complex ") << (forward ? "forward " : "backward ")
          << (in_place ? "in-place " : "out-of-place ") << "lengths";
        for (long n : lengths) s << ' ' << n;
        s << " count " << count << " threads " << threads << " scale " << scale << " in strides";
        for (long v : in.stride) s << ' ' << v;
        s << " offset " << in.offset << " distance " << in.distance << " out strides";
        for (long v : out.stride) s << ' ' << v;
        s << " offset " << out.offset << " distance " << out.distance;
        return s.str();
    }
};

long pick(std::mt19937& rng, long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng); }

// Row-major strides with padding between rows, planes and batches, as in a
// sub-area of a larger image; sometimes the batch axis is the inner one (a
// transform down the columns of an image). Units: `unit` elements per step.
SideLayout random_layout(std::mt19937& rng, const std::vector<long>& n, long count, long unit, bool batch_inner) {
    SideLayout l;
    l.n = n;
    l.count = count;
    l.stride.resize(n.size());
    long step = unit;
    if (batch_inner) {
        l.distance = unit;
        step = unit * count + unit * pick(rng, 0, 2);
    }
    for (size_t i = n.size(); i-- > 0;) {
        l.stride[i] = step;
        step = step * n[i] + unit * pick(rng, 0, 2);
    }
    if (!batch_inner) l.distance = step + unit * pick(rng, 0, 3);
    l.offset = unit * pick(rng, 0, 3);
    return l;
}

Case random_case(std::mt19937& rng) {
    static const long lengths_pool[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 16};
    Case c;
    c.single = pick(rng, 0, 1);
    c.real = pick(rng, 0, 2) > 0;
    c.forward = pick(rng, 0, 1);
    c.in_place = pick(rng, 0, 3) == 0;
    const int rank = static_cast<int>(pick(rng, 1, 3));
    for (int i = 0; i < rank; ++i) c.lengths.push_back(lengths_pool[pick(rng, 0, 12)]);
    // Batches of 16 and more lines run as line passes, smaller ones on FFTW's own plan.
    const long batch_kind = pick(rng, 0, 5);
    c.count = batch_kind == 0 ? pick(rng, 2, 9) : batch_kind == 1 ? pick(rng, 16, 40) : 1;
    c.threads = static_cast<int>(pick(rng, 1, 2));
    c.scale = pick(rng, 0, 2) == 0 ? 1.0 : 0.25 * pick(rng, 1, 12) - 1.5;
    if (c.scale == 0) c.scale = 0.5;

    c.in_complex = !c.real || !c.forward;
    c.out_complex = !c.real || c.forward;
    std::vector<long> half = c.lengths;
    half.back() = half.back() / 2 + 1;
    const std::vector<long>& in_n = c.real && !c.forward ? half : c.lengths;
    const std::vector<long>& out_n = c.real && c.forward ? half : c.lengths;
    const bool batch_inner = c.count > 1 && pick(rng, 0, 3) == 0;
    if (!c.in_place) {
        c.in_real_parts = !c.in_complex && pick(rng, 0, 2) == 0;
        c.out_real_parts = !c.out_complex && pick(rng, 0, 2) == 0;
    }
    c.in = random_layout(rng, in_n, c.count, c.in_real_parts ? 2 : 1, batch_inner);
    if (c.in_place && !c.real) {
        c.out = c.in;
        c.set_output_strides_in_place = pick(rng, 0, 1);
    } else {
        c.out = random_layout(rng, out_n, c.count, c.out_real_parts ? 2 : 1, batch_inner);
    }
    return c;
}

template <typename R>
long double tolerance() {
    return sizeof(R) == 4 ? 3e-5L : 1e-12L;
}

// Reals of a buffer that an element at `position` covers.
std::vector<long> reals_of(long position, bool complex) {
    return complex ? std::vector<long>{2 * position, 2 * position + 1} : std::vector<long>{position};
}

template <typename R>
void read_side(const std::vector<R>& buffer, const std::vector<long>& positions, bool complex,
               std::vector<Complex>& values) {
    values.clear();
    for (long p : positions)
        values.push_back(complex ? Complex(buffer[2 * p], buffer[2 * p + 1]) : Complex(buffer[p], 0));
}

template <typename R>
void run_case(const Case& c, std::mt19937& rng) {
    SCOPED_TRACE(c.describe());
    std::uniform_real_distribution<double> value(-1, 1);
    const long total = [&] {
        long t = 1;
        for (long n : c.lengths) t *= n;
        return t;
    }();

    auto reals_needed = [](const SideLayout& l, bool complex) { return (l.max_position() + 1) * (complex ? 2 : 1) + 7; };
    std::vector<R> in(static_cast<size_t>(reals_needed(c.in, c.in_complex)));
    std::vector<R> out_storage;
    if (c.in_place) in.resize(std::max(in.size(), static_cast<size_t>(reals_needed(c.out, c.out_complex))));
    else out_storage.resize(static_cast<size_t>(reals_needed(c.out, c.out_complex)));
    for (R& v : in) v = static_cast<R>(value(rng));
    for (R& v : out_storage) v = static_cast<R>(value(rng));
    std::vector<R>& out = c.in_place ? in : out_storage;

    const std::vector<long> in_pos = c.in.positions(), out_pos = c.out.positions();
    const long per_in = static_cast<long>(in_pos.size()) / c.count;
    std::vector<Complex> expected;

    if (c.real && !c.forward) {
        // A half spectrum must be one of a real signal: make it from one.
        for (long b = 0; b < c.count; ++b) {
            std::vector<Complex> signal(static_cast<size_t>(total));
            for (auto& s : signal) s = static_cast<R>(value(rng));
            const auto spectrum = half_of(naive_dft(signal, c.lengths, -1), c.lengths);
            for (long e = 0; e < per_in; ++e) {
                const long p = in_pos[b * per_in + e];
                in[2 * p] = static_cast<R>(spectrum[e].real());
                in[2 * p + 1] = static_cast<R>(spectrum[e].imag());
            }
            for (auto& s : signal) expected.push_back(s * static_cast<long double>(total) * (long double)c.scale);
        }
    }
    std::vector<Complex> x;
    read_side(in, in_pos, c.in_complex, x);
    if (!(c.real && !c.forward)) {
        for (long b = 0; b < c.count; ++b) {
            std::vector<Complex> one(x.begin() + b * per_in, x.begin() + (b + 1) * per_in);
            auto y = naive_dft(one, c.lengths, c.forward ? -1 : +1);
            if (c.real) y = half_of(y, c.lengths);
            for (auto& v : y) expected.push_back(v * (long double)c.scale);
        }
    }
    const std::vector<R> in_before = in, out_before = out;

    // Configure exactly as a caller of MKL would.
    const auto precision = c.single ? DFTI_SINGLE : DFTI_DOUBLE;
    const auto domain = c.real ? DFTI_REAL : DFTI_COMPLEX;
    std::vector<MKL_LONG> lengths(c.lengths.begin(), c.lengths.end());
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    MKL_LONG st = lengths.size() == 1
                      ? DftiCreateDescriptor(&h, precision, domain, MKL_LONG{1}, lengths[0])
                      : DftiCreateDescriptor(&h, precision, domain, static_cast<MKL_LONG>(lengths.size()), lengths.data());
    ASSERT_EQ(st, 0) << DftiErrorMessage(st);
    auto set_ok = [&](MKL_LONG s) { ASSERT_EQ(s, 0) << DftiErrorMessage(s); };
    if (c.real) set_ok(DftiSetValue(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
    set_ok(DftiSetValue(h, DFTI_PLACEMENT, c.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE));
    auto strides_of = [](const SideLayout& l) {
        std::vector<MKL_LONG> s = {l.offset};
        s.insert(s.end(), l.stride.begin(), l.stride.end());
        return s;
    };
    const auto in_strides = strides_of(c.in), out_strides = strides_of(c.out);
    set_ok(DftiSetValue(h, DFTI_INPUT_STRIDES, in_strides.data()));
    if (!c.in_place || c.real || c.set_output_strides_in_place) {
        set_ok(DftiSetValue(h, DFTI_OUTPUT_STRIDES, out_strides.data()));
    }
    if (c.count > 1) {
        set_ok(DftiSetValue(h, DFTI_NUMBER_OF_TRANSFORMS, MKL_LONG{c.count}));
        set_ok(DftiSetValue(h, DFTI_INPUT_DISTANCE, MKL_LONG{c.in.distance}));
        if (!c.in_place || c.real) {
            set_ok(DftiSetValue(h, DFTI_OUTPUT_DISTANCE, MKL_LONG{c.out.distance}));
        }
    }
    // The scale of the other direction must not matter.
    const auto used = c.forward ? DFTI_FORWARD_SCALE : DFTI_BACKWARD_SCALE;
    const auto unused = c.forward ? DFTI_BACKWARD_SCALE : DFTI_FORWARD_SCALE;
    if (c.single) {
        set_ok(DftiSetValue(h, used, static_cast<float>(c.scale)));
        set_ok(DftiSetValue(h, unused, 3.0f));
    } else {
        set_ok(DftiSetValue(h, used, c.scale));
        set_ok(DftiSetValue(h, unused, 3.0));
    }
    const int saved_threads = omp_get_max_threads();
    omp_set_num_threads(c.threads);
    set_ok(DftiCommitDescriptor(h));
    omp_set_num_threads(saved_threads);
    if (c.in_place) st = c.forward ? DftiComputeForward(h, in.data()) : DftiComputeBackward(h, in.data());
    else st = c.forward ? DftiComputeForward(h, in.data(), out.data()) : DftiComputeBackward(h, in.data(), out.data());
    ASSERT_EQ(st, 0) << DftiErrorMessage(st);
    ASSERT_EQ(DftiFreeDescriptor(&h), 0);

    std::vector<Complex> got;
    read_side(out, out_pos, c.out_complex, got);
    ASSERT_EQ(got.size(), expected.size());
    long double largest = 0, worst = 0;
    for (const auto& e : expected) largest = std::max(largest, std::abs(e));
    for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - expected[i]));
    EXPECT_LE(worst, tolerance<R>() * (largest + 1)) << "largest " << (double)largest;

    // Nothing outside the output is written; out of place, the input stays.
    std::vector<bool> written(out.size(), false);
    for (long p : out_pos)
        for (long r : reals_of(p, c.out_complex)) written[r] = true;
    for (size_t r = 0; r < out.size(); ++r)
        if (!written[r]) {
            ASSERT_EQ(out[r], out_before[r]) << "real " << r << " outside the output changed";
        }
    if (!c.in_place) {
        EXPECT_EQ(in, in_before) << "out-of-place input changed";
    }
}

}  // namespace

TEST(DftiRandomGeometries, MatchTheNaiveDft) {
    std::mt19937 rng(20240611);
    for (int i = 0; i < 400; ++i) {
        const Case c = random_case(rng);
        if (c.single) run_case<float>(c, rng);
        else run_case<double>(c, rng);
        if (HasFatalFailure() || HasNonfatalFailure()) break;
    }
}

// Real to half and back: the inverse of the forward transform with scale
// 1/N restores the image; the multi-dimensional backward transform does not
// touch its input, although FFTW's own would.
TEST(DftiIdentities, RealRoundTripKeepsTheHalfSpectrum) {
    for (std::vector<MKL_LONG> n : {std::vector<MKL_LONG>{64, 50}, std::vector<MKL_LONG>{9, 8, 7}, std::vector<MKL_LONG>{1000}}) {
        long total = 1, half_total = 1;
        for (size_t i = 0; i < n.size(); ++i) {
            total *= n[i];
            half_total *= i + 1 == n.size() ? n[i] / 2 + 1 : n[i];
        }
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> value(-1, 1);
        std::vector<double> image(total), restored(total, 0);
        for (auto& v : image) v = value(rng);
        std::vector<std::complex<double>> spectrum(half_total);

        DFTI_DESCRIPTOR_HANDLE h = nullptr;
        const MKL_LONG rank = static_cast<MKL_LONG>(n.size());
        ASSERT_EQ(rank == 1 ? DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_REAL, MKL_LONG{1}, n[0])
                            : DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_REAL, rank, n.data()),
                  0);
        ASSERT_EQ(DftiSetValue(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX), 0);
        ASSERT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
        ASSERT_EQ(DftiSetValue(h, DFTI_BACKWARD_SCALE, 1.0 / total), 0);
        ASSERT_EQ(DftiCommitDescriptor(h), 0);
        ASSERT_EQ(DftiComputeForward(h, image.data(), spectrum.data()), 0);
        const auto spectrum_before = spectrum;
        ASSERT_EQ(DftiComputeBackward(h, spectrum.data(), restored.data()), 0);
        DftiFreeDescriptor(&h);
        EXPECT_EQ(spectrum, spectrum_before);
        double worst = 0;
        for (long i = 0; i < total; ++i) worst = std::max(worst, std::abs(restored[i] - image[i]));
        EXPECT_LE(worst, 1e-13);
    }
}
