# What the installed tree offers to other builds, and the Debian package.
#
#   find_package(Lumadex)   lib/<multiarch>/cmake/Lumadex/  (LumadexConfig.cmake.in)
#   pkg-config lumadex      lib/<multiarch>/pkgconfig/lumadex.pc  (lumadex.pc.in)
#   cpack -G DEB            build/lumadex_<project version>_<arch>.deb; or the
#                           target: cmake --build --preset release --target package
include(CMakePackageConfigHelpers)

install(EXPORT LumadexTargets NAMESPACE Lumadex:: DESTINATION ${LUMADEX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LumadexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/LumadexConfig.cmake
  INSTALL_DESTINATION ${LUMADEX_INSTALL_CMAKEDIR}
  PATH_VARS LUMADEX_INSTALL_PLUGINDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/LumadexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/LumadexConfig.cmake ${CMAKE_BINARY_DIR}/cmake/LumadexConfigVersion.cmake
  DESTINATION ${LUMADEX_INSTALL_CMAKEDIR})

# pkg-config: the configured prefix, as Debian's .pc files have it, so that
# pkg-config leaves out its system folders (-I/usr/include would reorder the
# compiler's own); pkgconf --define-prefix relocates a moved tree.
configure_file(${CMAKE_CURRENT_LIST_DIR}/lumadex.pc.in ${CMAKE_BINARY_DIR}/cmake/lumadex.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/lumadex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/lumadex)

# --- The Debian package ------------------------------------------------------
# One package, lumadex, version = the project version. Its Depends come from
# the shared libraries its programs and modules link (dpkg-shlibdeps), plus
# the interpreter the extension module was built for and numpy.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumadex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumadex")
set(CPACK_PACKAGE_CONTACT "Lumadex maintainers <maintainers@users.noreply.c-seed-94b9cac0.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "numeric image-processing plug-in ZEP32 with its host stand-in and Python package")
set(CPACK_PACKAGE_DESCRIPTION
  "Lumadex offers Fourier transforms, Fourier-space shifts, warps, element-wise
mathematics, linear algebra and statistics as ZEP script functions of the
plug-in module ZEP32. The package holds the plug-in, the host stand-in that
loads it (a static library with its headers, a CMake package and a pkg-config
file), the tools lumadex-dm and lumadex-tour, and the Python package lumadex
for /usr/bin/python3.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)  # static libraries keep their symbols (CMake strips no archive)
set(CPACK_DEBIAN_PACKAGE_NAME lumadex)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # lumadex_2.3.0.0_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The FFT descriptor library is private to the package, beside the plug-in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_PREFIX}/${LUMADEX_INSTALL_PLUGINDIR})
if(LUMADEX_PYTHON)
  # The extension module is built for one interpreter version.
  math(EXPR next_minor "${Python3_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${next_minor}), python3-numpy")
endif()
# dpkg-shlibdeps names libopenblas0, which apt satisfies with the pthread
# build; the plug-in wants the OpenMP build, whose threads follow its thread count.
list(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS libopenblas0-openmp)
list(JOIN CPACK_DEBIAN_PACKAGE_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
# Nothing in the package imports these yet; they serve the workflows around it
# (the numpy face's scipy.fft backend, registration for comparison, DM files
# through HyperSpy, lazy and distributed arrays, progress, chunked stores).
# libffi-dev: for C++ hosts that link the static host library.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
  "python3-scipy, python3-skimage, python3-hyperspy, python3-dask, python3-distributed, python3-tqdm, python3-zarr, libffi-dev")

# Byte code is made after installation and removed before removal.
set(LUMADEX_PYTHON_PACKAGE_FULLDIR ${CPACK_PACKAGING_INSTALL_PREFIX}/${LUMADEX_INSTALL_PYTHONDIR}/lumadex)
foreach(script postinst prerm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/${script}.in ${CMAKE_BINARY_DIR}/debian/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst ${CMAKE_BINARY_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
