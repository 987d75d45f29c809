// lumadex-fft-planner: measures one FFT problem for the descriptor layer.
//
// Usage: lumadex-fft-planner "<problem text>" <parent pid>
//   (the problem as FftwProblem::to_text writes it)
// Plans the problem with FFTW_MEASURE (twice, keeping the faster plan) on
// zeroed arrays of the same layout, alignment, placement and thread count,
// prints FFTW's wisdom on standard
// output and exits with 0; exits with 1 if the problem does not parse or FFTW
// finds no plan. It runs at low priority, the parent stops it while it
// transforms, and it dies with the process that started it.
#include <fftw3.h>
#include <omp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fftw_problem.hpp"

using namespace lumadex::dfti;

namespace {

struct Span {
    int64_t lo = 0, hi = 0;  // byte offsets relative to the data pointer
};

Span span_of(const Layout& l, size_t element_bytes) {
    const auto e = static_cast<int64_t>(element_bytes);
    return {l.min_offset() * e, (l.max_offset() + 1) * e};
}

// An array covering `span` around a data pointer of the wanted FFTW alignment.
struct Array {
    void* memory = nullptr;
    char* data = nullptr;

    bool allocate(Span span, Precision p, int alignment) {
        constexpr int64_t slack = 128;
        const int64_t bytes = span.hi - span.lo + 2 * slack;
        memory = fftw_malloc(static_cast<size_t>(bytes));
        if (!memory) return false;
        std::memset(memory, 0, static_cast<size_t>(bytes));
        char* base = static_cast<char*>(memory) + slack - span.lo;
        for (int delta = 0; delta < slack; delta += static_cast<int>(real_bytes(p))) {
            if (fftw_alignment(p, base + delta) == alignment) {
                data = base + delta;
                return true;
            }
        }
        return false;
    }
    ~Array() { fftw_free(memory); }
};

// Low priority: the helper takes cores the script leaves idle, and little
// of those it uses (when the parent has stopped pausing it).
void lower_priority() { setpriority(PRIO_PROCESS, 0, 10); }

double seconds_of_execution(const FftwProblem& p, FftwPlan plan, char* in, char* out) {
    const auto t0 = std::chrono::steady_clock::now();
    execute_fftw_plan(p, plan, in, out);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// FFTW_MEASURE does not always settle on the same plan: on a shared machine
// two measurements of one problem differ by up to 20% in speed. So the
// problem is measured twice from no wisdom, the two plans are timed against
// each other (alternately, the fastest of several runs each, which a pause
// by the parent cannot inflate), and the faster one's wisdom is the answer.
// Empty if FFTW finds no plan.
std::string fastest_of_measured_plans(const FftwProblem& p, char* in, char* out) {
    constexpr int rounds = 2;
    const Precision precision = p.shape.precision;
    std::vector<FftwPlan> plans;
    std::vector<std::string> wisdom;
    for (int round = 0; round < rounds; ++round) {
        forget_wisdom(precision);
        FftwPlan plan = make_fftw_plan(p, in, out, FFTW_MEASURE);
        if (!plan) break;
        plans.push_back(plan);
        wisdom.push_back(export_wisdom(precision));
    }
    std::vector<double> fastest(plans.size(), 1e30);
    double spent = 0;
    for (int run = 0; plans.size() > 1 && (run < 5 || (run < 50 && spent < 0.5)); ++run) {
        for (size_t i = 0; i < plans.size(); ++i) {
            const double t = seconds_of_execution(p, plans[i], in, out);
            fastest[i] = std::min(fastest[i], t);
            spent += t;
        }
    }
    const size_t best = static_cast<size_t>(std::min_element(fastest.begin(), fastest.end()) - fastest.begin());
    for (FftwPlan plan : plans) destroy_fftw_plan(precision, plan);
    return plans.empty() ? std::string() : wisdom[best];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 1;
    // The parent may stop this process (SIGSTOP) while it computes; should
    // it die meanwhile, this process must not stay behind, stopped.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != static_cast<pid_t>(std::atol(argv[2]))) return 1;
    const auto problem = FftwProblem::from_text(argv[1]);
    if (!problem) return 1;
    lower_priority();

    const Shape& s = problem->shape;
    const Span in_span = span_of(input_layout(s), input_element_bytes(s));
    const Span out_span = span_of(output_layout(s), output_element_bytes(s));
    Array in, out;
    if (problem->in_place) {
        const Span both = {std::min(in_span.lo, out_span.lo), std::max(in_span.hi, out_span.hi)};
        if (!in.allocate(both, s.precision, problem->in_alignment)) return 1;
    } else if (!in.allocate(in_span, s.precision, problem->in_alignment) ||
               !out.allocate(out_span, s.precision, problem->out_alignment)) {
        return 1;
    }

    omp_set_num_threads(problem->threads);
    if (!init_fftw_threads(s.precision)) return 1;
    char* out_data = problem->in_place ? in.data : out.data;
    const std::string wisdom = fastest_of_measured_plans(*problem, in.data, out_data);
    if (wisdom.empty()) return 1;
    return std::fwrite(wisdom.data(), 1, wisdom.size(), stdout) == wisdom.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
