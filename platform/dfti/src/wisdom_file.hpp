// FFTW wisdom kept between processes: the cache file of measured plans
// ($XDG_CACHE_HOME/lumadex, else ~/.cache/lumadex, as the environment was
// when the layer was loaded), one per precision, and the machine's system
// wisdom (/etc/fftw/wisdom, which Debian's `fftw-wisdom` tool makes). Both
// are caches only: missing, unreadable, corrupt or unwritable, they change
// no result and fail no call (FFTW rejects wisdom that does not parse, and
// any plan computes the same transform).
#pragma once

#include <functional>
#include <string>

#include "shape.hpp"

namespace lumadex::dfti {

// Reads the cache files' folder from the environment again (the layer reads
// it once, when it is loaded). Only where no other thread can be using the
// files or changing the environment: a fork's child before its first plan.
void read_wisdom_folder_from_environment();

// Imports the system wisdom and the cache file of one precision into FFTW.
// Call with the planner lock held.
void load_wisdom(Precision p);

// Merges this process's wisdom into the cache file of one precision, so
// that processes measuring different problems keep each other's wisdom.
// Under an exclusive lock (flock on a lock file beside the cache file) it
// reads the file and hands its text to `merge`, which imports it into FFTW
// and returns FFTW's export of the merged wisdom; that is written to a
// temporary file beside the cache file, synced, and renamed over it, so that
// a reader never sees half a file. Without the lock file (a read-only
// folder) nothing is written.
void merge_into_wisdom_file(Precision p, const std::function<std::string(const std::string&)>& merge);

}  // namespace lumadex::dfti
