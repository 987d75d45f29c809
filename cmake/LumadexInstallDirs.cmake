# Where `cmake --install` puts each part: where Debian puts such parts.
#
#   bin/                                  lumadex-dm, lumadex-tour
#   lib/<multiarch>/liblumadex_host.a     the host library
#   lib/<multiarch>/lumadex/ZEP32.so      the plug-in: a module loaded with dlopen,
#                                         not a library to link, so it stays out of
#                                         the linker's search path (Debian keeps
#                                         private modules in lib/<multiarch>/<package>/)
#   lib/<multiarch>/cmake/Lumadex/        find_package(Lumadex)
#   lib/<multiarch>/pkgconfig/lumadex.pc  pkg-config
#   include/lumadex/{dm,host}/            the ABI headers and the host's API
#   lib/python3/dist-packages/lumadex/    the Python package, for /usr/bin/python3
#
# Every destination is relative to the prefix, and nothing installed records
# an absolute path of the build tree: an installed tree may move under
# another prefix (`cmake --install build --prefix /opt/lumadex`).

# The tree builds the Debian package, so its installation prefix is /usr unless
# the caller chose one (-DCMAKE_INSTALL_PREFIX=/usr/local for a local
# installation beside the package manager).
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Installation prefix" FORCE)
endif()
include(GNUInstallDirs)  # with /usr on Debian: lib/<multiarch> for LIBDIR

# Derived from the prefix at every configure, so that they follow a changed
# prefix; LUMADEX_INSTALL_PYTHONDIR may be given (-D) to choose another folder.
set(LUMADEX_INSTALL_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/lumadex)
set(LUMADEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lumadex)
set(LUMADEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/lumadex)

# Debian's /usr/bin/python3 finds packages of the distribution in
# /usr/lib/python3/dist-packages and local ones in
# /usr/local/lib/python3.X/dist-packages.
if(NOT DEFINED LUMADEX_INSTALL_PYTHONDIR)
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR NOT DEFINED Python3_VERSION_MINOR)
    set(LUMADEX_INSTALL_PYTHONDIR lib/python3/dist-packages)
  else()
    set(LUMADEX_INSTALL_PYTHONDIR lib/python3.${Python3_VERSION_MINOR}/dist-packages)
  endif()
endif()

# Where code finds the plug-in, relative to the folder of the program or
# module it runs in: first the build tree's layout, then the installed one.
# The last resort is the plug-in's installed location.
function(lumadex_relative_path out from to)
  file(RELATIVE_PATH path ${from} ${to})
  set(${out} ${path} PARENT_SCOPE)
endfunction()
set(staged /prefix)  # any absolute folder: only the relations count
lumadex_relative_path(from_bin ${staged}/${CMAKE_INSTALL_BINDIR} ${staged}/${LUMADEX_INSTALL_PLUGINDIR})
lumadex_relative_path(from_lib ${staged}/${CMAKE_INSTALL_LIBDIR} ${staged}/${LUMADEX_INSTALL_PLUGINDIR})
lumadex_relative_path(from_python ${staged}/${LUMADEX_INSTALL_PYTHONDIR}/lumadex ${staged}/${LUMADEX_INSTALL_PLUGINDIR})
lumadex_relative_path(build_from_host ${CMAKE_BINARY_DIR}/host ${CMAKE_BINARY_DIR}/plugin)
lumadex_relative_path(build_from_python ${CMAKE_BINARY_DIR}/python/lumadex ${CMAKE_BINARY_DIR}/plugin)
# Build tree: host/ (the tools) and python/lumadex/ beside plugin/ (tests
# sit two levels down, as the Python package does).
set(LUMADEX_PLUGIN_SEARCH_BUILD ${build_from_host}/ZEP32.so ${build_from_python}/ZEP32.so)
# Installed: bin/, the Python package's folder, and the library folder.
set(LUMADEX_PLUGIN_SEARCH_INSTALLED ${from_bin}/ZEP32.so ${from_python}/ZEP32.so ${from_lib}/ZEP32.so)
set(LUMADEX_PLUGIN_INSTALLED_PATH ${CMAKE_INSTALL_PREFIX}/${LUMADEX_INSTALL_PLUGINDIR}/ZEP32.so)
unset(staged)
