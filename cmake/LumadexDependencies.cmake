# Every dependency is a Debian package installed by scripts/setup.sh.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3 fftw3f)
pkg_check_modules(LIBFFI REQUIRED IMPORTED_TARGET libffi)
find_package(OpenMP REQUIRED COMPONENTS C CXX)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)

# FFTW's OpenMP builds, so that FFTW's threads follow omp_set_num_threads.
find_library(FFTW3_OMP_LIBRARY fftw3_omp REQUIRED)
find_library(FFTW3F_OMP_LIBRARY fftw3f_omp REQUIRED)

# OpenBLAS, OpenMP build: BLAS and LAPACK follow the plug-in's thread count.
find_library(OPENBLAS_LIBRARY NAMES openblas PATHS /usr/lib/x86_64-linux-gnu/openblas-openmp REQUIRED)

if(LUMADEX_BENCH)
  find_package(benchmark REQUIRED)
endif()

if(LUMADEX_PYTHON)
  # Debian's interpreter, whatever else is first on PATH.
  set(Python3_EXECUTABLE /usr/bin/python3)
  find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module NumPy)
  find_package(pybind11 CONFIG REQUIRED)
endif()
