// The vector-math layer's routines by name, for bench/vml/compare.py (ctypes):
// the layer itself exports nothing, as it is linked into the plug-in.
#include <omp.h>

#include <cstring>

#include "mkl_vml.h"

namespace {

struct Entry {
    const char* name;
    void* routine;
};

#define ENTRY_S_D(op) {"vs" #op, reinterpret_cast<void*>(vs##op)}, {"vd" #op, reinterpret_cast<void*>(vd##op)},
#define ENTRY_C_Z(op) {"vc" #op, reinterpret_cast<void*>(vc##op)}, {"vz" #op, reinterpret_cast<void*>(vz##op)},
const Entry kRoutines[] = {
    LUMADEX_VML_REAL_UNARY(ENTRY_S_D) LUMADEX_VML_REAL_BINARY(ENTRY_S_D) LUMADEX_VML_COMPLEX_UNARY(ENTRY_C_Z)
    LUMADEX_VML_COMPLEX_BINARY(ENTRY_C_Z) ENTRY_C_Z(Abs) ENTRY_C_Z(CIS) ENTRY_S_D(Powx) ENTRY_S_D(SinCos)
    ENTRY_S_D(Modf)
};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void* lumadex_vml_routine(const char* name)
{
    for (const Entry& entry : kRoutines)
        if (std::strcmp(entry.name, name) == 0) return entry.routine;
    return nullptr;
}
__attribute__((visibility("default"))) void lumadex_vml_set_threads(int n) { omp_set_num_threads(n); }
}
