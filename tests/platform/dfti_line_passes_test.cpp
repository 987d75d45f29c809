// The cheap path's line passes on geometries too large for the naive DFT:
// blocks that run on two threads, partial last blocks, lines too long for a
// full block, batches of frames at odd distances (by frames, on one or two
// threads), volumes, real transforms both ways.
// The reference is FFTW's own plan of the same geometry, run directly.
#include <fftw3.h>
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <complex>
#include <mutex>
#include <numeric>
#include <random>
#include <sstream>
#include <vector>

#include "mkl_dfti.h"
#include "plan_cache.hpp"

namespace {

using cd = std::complex<double>;

// A double-precision geometry: lengths, and strides and distances of each
// side in its own elements (row-major with `pad` extra elements per row
// and `gap` per batch item).
struct Geometry {
    enum Form { complex_forward, real_forward, real_backward } form = complex_forward;
    std::vector<MKL_LONG> n;
    MKL_LONG count = 1;
    MKL_LONG pad = 0, gap = 0;
    int threads = 1;
    bool in_place = false;
    bool columns = false;  // one axis: the batch's lines side by side (distance 1), `pad` extra between points

    // For the test's name: form, lengths, count, threads.
    std::string name() const {
        std::ostringstream s;
        s << (form == complex_forward ? "complex" : form == real_forward ? "real_forward" : "real_backward");
        for (size_t i = 0; i < n.size(); ++i) s << (i ? "x" : "_") << n[i];
        s << "_count" << count << "_threads" << threads << (in_place ? "_in_place" : "") << (columns ? "_columns" : "");
        return s.str();
    }
    std::string describe() const {
        std::ostringstream s;
        s << "form " << form << " lengths";
        for (MKL_LONG x : n) s << ' ' << x;
        s << " count " << count << " pad " << pad << " gap " << gap << " threads " << threads
          << (in_place ? " in place" : "") << (columns ? " columns" : "");
        return s.str();
    }
};

void PrintTo(const Geometry& g, std::ostream* os) { *os << g.describe(); }

// Strides {0, s1, ...} and distance of one side whose last axis holds `last` elements.
struct Side {
    std::vector<MKL_LONG> strides;
    MKL_LONG distance = 0;
    MKL_LONG elements = 0;
};
Side side_of(const Geometry& g, MKL_LONG last) {
    Side s;
    if (g.columns) {
        s.strides = {0, g.count + g.pad};
        s.distance = 1;
        s.elements = (g.count + g.pad) * last;
        return s;
    }
    s.strides.assign(g.n.size() + 1, 0);
    MKL_LONG step = 1;
    for (size_t i = g.n.size(); i-- > 0;) {
        s.strides[i + 1] = step;
        step *= i + 1 == g.n.size() ? last + g.pad : g.n[i];
    }
    s.distance = step + g.gap;
    s.elements = s.distance * g.count;
    return s;
}

// FFTW's own plan of the geometry, on copies (FFTW may overwrite a
// complex-to-real input).
std::vector<cd> fftw_reference(const Geometry& g, const Side& in_side, const Side& out_side,
                               const std::vector<double>& in_reals, double scale) {
    std::vector<fftw_iodim64> dims(g.n.size());
    for (size_t i = 0; i < g.n.size(); ++i) dims[i] = {g.n[i], in_side.strides[i + 1], out_side.strides[i + 1]};
    fftw_iodim64 batch{g.count, in_side.distance, out_side.distance};
    const bool out_complex = g.form != Geometry::real_backward;
    std::vector<double> in = in_reals, out(static_cast<size_t>(out_side.elements * (out_complex ? 2 : 1)), 0.0);
    std::lock_guard planner(lumadex::dfti::PlanCache::planner_lock());
    fftw_plan_with_nthreads(1);
    const int rank = static_cast<int>(dims.size());
    auto* ic = reinterpret_cast<fftw_complex*>(in.data());
    auto* oc = reinterpret_cast<fftw_complex*>(out.data());
    fftw_plan p = g.form == Geometry::complex_forward
                      ? fftw_plan_guru64_dft(rank, dims.data(), 1, &batch, ic, oc, FFTW_FORWARD, FFTW_ESTIMATE)
                  : g.form == Geometry::real_forward
                      ? fftw_plan_guru64_dft_r2c(rank, dims.data(), 1, &batch, in.data(), oc, FFTW_ESTIMATE)
                      : fftw_plan_guru64_dft_c2r(rank, dims.data(), 1, &batch, ic, out.data(), FFTW_ESTIMATE);
    EXPECT_NE(p, nullptr);
    fftw_execute(p);
    fftw_destroy_plan(p);
    std::vector<cd> result;
    for (size_t i = 0; i < out.size(); i += out_complex ? 2 : 1)
        result.emplace_back(out[i] * scale, out_complex ? out[i + 1] * scale : 0.0);
    return result;
}

// The layer's result on the same input (in place: the input's own buffer).
std::vector<cd> layer_result(const Geometry& g, const Side& in_side, const Side& out_side,
                             std::vector<double> in, double scale) {
    const bool real = g.form != Geometry::complex_forward;
    const bool forward = g.form != Geometry::real_backward;
    const bool out_complex = g.form != Geometry::real_backward;
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    std::vector<MKL_LONG> n = g.n;
    EXPECT_EQ(n.size() == 1 ? DftiCreateDescriptor(&h, DFTI_DOUBLE, real ? DFTI_REAL : DFTI_COMPLEX, MKL_LONG{1}, n[0])
                            : DftiCreateDescriptor(&h, DFTI_DOUBLE, real ? DFTI_REAL : DFTI_COMPLEX,
                                                   static_cast<MKL_LONG>(n.size()), n.data()),
              0);
    if (real) {
        EXPECT_EQ(DftiSetValue(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX), 0);
    }
    if (!g.in_place) {
        EXPECT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    }
    EXPECT_EQ(DftiSetValue(h, DFTI_INPUT_STRIDES, in_side.strides.data()), 0);
    EXPECT_EQ(DftiSetValue(h, DFTI_OUTPUT_STRIDES, out_side.strides.data()), 0);
    if (g.count > 1) {
        EXPECT_EQ(DftiSetValue(h, DFTI_NUMBER_OF_TRANSFORMS, g.count), 0);
        EXPECT_EQ(DftiSetValue(h, DFTI_INPUT_DISTANCE, in_side.distance), 0);
        EXPECT_EQ(DftiSetValue(h, DFTI_OUTPUT_DISTANCE, out_side.distance), 0);
    }
    EXPECT_EQ(DftiSetValue(h, forward ? DFTI_FORWARD_SCALE : DFTI_BACKWARD_SCALE, scale), 0);
    const int saved = omp_get_max_threads();
    omp_set_num_threads(g.threads);
    EXPECT_EQ(DftiCommitDescriptor(h), 0);
    omp_set_num_threads(saved);
    std::vector<double> out(static_cast<size_t>(out_side.elements * (out_complex ? 2 : 1)), 0.0);
    const std::vector<double> before = in;
    if (g.in_place) {
        EXPECT_EQ(forward ? DftiComputeForward(h, in.data()) : DftiComputeBackward(h, in.data()), 0);
        out = in;
    } else {
        EXPECT_EQ(forward ? DftiComputeForward(h, in.data(), out.data()) : DftiComputeBackward(h, in.data(), out.data()),
                  0);
        EXPECT_EQ(in, before) << "the input changed";
    }
    DftiFreeDescriptor(&h);
    std::vector<cd> result;
    for (size_t i = 0; i < out.size(); i += out_complex ? 2 : 1)
        result.emplace_back(out[i], out_complex ? out[i + 1] : 0.0);
    return result;
}

class DftiLinePasses : public testing::TestWithParam<Geometry> {};

TEST_P(DftiLinePasses, MatchFftwsOwnPlan) {
    const Geometry& g = GetParam();
    SCOPED_TRACE(g.describe());
    const MKL_LONG last = g.n.back(), half = last / 2 + 1;
    const Side in_side = side_of(g, g.form == Geometry::real_backward ? half : last);
    const Side out_side = side_of(g, g.form == Geometry::real_forward ? half : last);
    const bool in_complex = g.form != Geometry::real_forward;
    std::vector<double> in(static_cast<size_t>(in_side.elements * (in_complex ? 2 : 1)));
    std::mt19937 rng(static_cast<unsigned>(in.size()));
    std::uniform_real_distribution<double> value(-1, 1);
    for (double& v : in) v = value(rng);
    if (g.form == Geometry::real_backward) {
        // A spectrum of a real signal: the forward transform of one.
        Geometry forward = g;
        forward.form = Geometry::real_forward;
        std::vector<double> signal(static_cast<size_t>(out_side.elements));
        for (double& v : signal) v = value(rng);
        const auto spectrum = fftw_reference(forward, out_side, in_side, signal, 1.0);
        for (size_t i = 0; i < spectrum.size(); ++i) {
            in[2 * i] = spectrum[i].real();
            in[2 * i + 1] = spectrum[i].imag();
        }
    }
    const double scale = 0.75;
    const auto expected = fftw_reference(g, in_side, out_side, in, scale);
    const auto got = layer_result(g, in_side, out_side, in, scale);
    ASSERT_EQ(got.size(), expected.size());
    double largest = 0, worst = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        largest = std::max(largest, std::abs(expected[i]));
        worst = std::max(worst, std::abs(got[i] - expected[i]));
    }
    EXPECT_LE(worst, 1e-12 * largest);
}

std::vector<Geometry> geometries() {
    using G = Geometry;
    // (Calls of fewer than 2^17 output elements run on one thread; 2-D and
    // 3-D ones of at most 2^14 on FFTW's own plan.)
    return {
        {G::complex_forward, {600, 260}, 1, 3, 0, 2, false},           // two threads, a partial last block
        {G::complex_forward, {40, 60, 70}, 1, 0, 0, 2, true},          // 3-D in place, planes on two threads
        {G::complex_forward, {64}, 2100, 6, 0, 2, false},              // a batch of lines, padded
        {G::complex_forward, {4, 40000}, 1, 0, 0, 2, false},           // lines too long for a full block
        {G::complex_forward, {48, 50}, 8, 1, 3, 1, false},             // small frames at odd distances
        {G::complex_forward, {384, 384}, 3, 0, 0, 2, true},            // frames in place, two threads on each
        {G::complex_forward, {32, 48}, 100, 2, 1, 2, false},           // frames spread over two threads
        {G::real_forward, {400, 400}, 2, 0, 0, 2, false},              // real forward, a batch
        {G::real_forward, {7, 9, 11}, 30, 0, 0, 1, false},             // odd lengths, small frames
        {G::real_forward, {32, 60, 80}, 2, 1, 0, 2, false},            // real forward, volumes
        {G::real_backward, {400, 400}, 1, 0, 0, 2, false},             // real backward, staged
        {G::real_backward, {6, 80, 100}, 3, 0, 0, 2, false},           // real backward, volumes
        {G::real_backward, {333}, 40, 1, 0, 1, false},                 // real backward lines, input kept
        // Short columns run interleaved in the buffers; with padded rows a block
        // continues in the next row.
        {G::complex_forward, {20, 30, 50}, 1, 3, 0, 2, false},
        {G::complex_forward, {64, 16, 20}, 2, 0, 5, 1, false},
        // Short columns side by side, in rows a multiple of 64 bytes long, run
        // in place in the data: within the output, along the frames of a volume,
        // within frames, and from the caller's input (which must stay as it was).
        {G::complex_forward, {48, 4096}, 1, 0, 0, 2, false},
        {G::complex_forward, {16, 48, 256}, 1, 0, 0, 2, true},
        {G::complex_forward, {40, 512}, 8, 0, 0, 2, false},
        {G::complex_forward, {12}, 12000, 8, 0, 2, false, true},
        {G::complex_forward, {12}, 3001, 0, 0, 1, false, true},       // no part of a row aligned: the buffers
        // Even real lines run as complex ones of half their length: odd halves too.
        {G::real_forward, {30, 1022}, 1, 0, 0, 2, false},              // half length 511
        {G::real_backward, {90}, 300, 2, 0, 1, false},                 // half length 45, lines
        {G::real_forward, {16}, 500, 0, 0, 1, false},                  // the shortest by half length
    };
}

INSTANTIATE_TEST_SUITE_P(Geometries, DftiLinePasses, testing::ValuesIn(geometries()),
                         [](const testing::TestParamInfo<Geometry>& info) { return info.param.name(); });

}  // namespace
