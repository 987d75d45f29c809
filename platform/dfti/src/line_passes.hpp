// The cheap path: a transform of any rank and batch as one pass of 1-D
// transforms per axis, until (or instead of) a measured plan of the whole.
//
// FFTW_ESTIMATE's plans of whole 2-D and 3-D geometries and of batches are
// poor (a 1024 x 1024 float transform: 47 ms, against 6 for a measured
// plan; a batch of 8 frames of 512 x 512, ten times the time of its frames
// one by one), and measuring them costs seconds. A 1-D plan for a small
// block of lines is another matter: cheap to plan, cheap to measure, and
// shared by every geometry with that line length. So each pass moves its
// lines, a block at a time, through a small buffer of the thread's (the
// level-2 cache holds it), runs the block's 1-D plan there, and writes the
// block back, with the scale applied on the way out of the last pass, so
// that the scale costs no pass of its own. FFTW only ever sees the buffers:
// a line plan fits every geometry, stride and alignment. The blocks are
// spread over the problem's threads, each running single-threaded plans.
// The line plans come from the plan cache, under the plan policy like any
// problem: cheap at first, measured when they recur.
#pragma once

#include "fftw_problem.hpp"
#include "status.hpp"

namespace lumadex::dfti {

// Whether the problem runs as line passes: two or more axes longer than 1,
// or one with enough lines (the batch) to fill the blocks.
bool suits_line_passes(const FftwProblem& p);

// Runs the problem's transform from `in` to `out` (equal for a complex
// transform in place) and multiplies by `scale`. A complex-to-real problem
// of two or more axes transforms the input in place first: only for an
// input the call may destroy (p.destroy_input, a staged copy).
Status run_line_passes(const FftwProblem& p, char* in, char* out, double scale);

}  // namespace lumadex::dfti
