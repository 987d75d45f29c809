// FFTW wisdom kept between processes: the cache file of measured plans
// ($XDG_CACHE_HOME/lumadex, else ~/.cache/lumadex), one per precision, and
// the machine's system wisdom (/etc/fftw/wisdom, which Debian's `fftw-wisdom`
// tool makes). Both are caches only: missing, unreadable, corrupt or
// unwritable, they change no result and fail no call (FFTW rejects wisdom
// that does not parse, and any plan computes the same transform).
#pragma once

#include <string>

#include "shape.hpp"

namespace lumadex::dfti {

// Imports the system wisdom and the cache file of one precision into FFTW.
// Call with the planner lock held.
void load_wisdom(Precision p);

// Replaces the cache file of one precision by `wisdom` (FFTW's export), in
// one rename, so that a concurrent reader never sees half a file.
void save_wisdom_file(Precision p, const std::string& wisdom);

}  // namespace lumadex::dfti
