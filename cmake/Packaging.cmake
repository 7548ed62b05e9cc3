# Debian packages, one per install component (cmake/Install.cmake):
#   cmake --build BUILD --target package   (or: cpack in BUILD) writes them into BUILD.
# Depends come from the shared libraries, through dpkg-shlibdeps (dpkg-dev), plus the exact
# version of the runtime package for the others.
if(SONARA_FUZZ)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonara)
set(CPACK_PACKAGE_VENDOR ${SONARA_VENDOR})
set(CPACK_PACKAGE_CONTACT "sonara maintainers <sonara@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Technical fitness of voice recordings")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools python)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds our own libraries in the build folder; the packages that need them depend
# on the runtime package by name instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${SONARA_OUTPUT_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libsonara)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Technical fitness of voice recordings: shared libraries\n libsonara, libcommon, libvisara, libsonara_convert and libsonara_archive.")
# A shlibs file for the package of libraries (the others hold none), and the loader cache
# refreshed when it is installed and removed.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libsonara-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Technical fitness of voice recordings: development files\n Headers, .so links, pkg-config files and the CMake package of the libraries.")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME sonara-tools)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "Technical fitness of voice recordings: programs\n sonara (checks archives of recordings), scanner, the probe programs in\n /usr/libexec/sonara, the man page and the default configurations.")
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-sonara)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "Technical fitness of voice recordings: Python package\n The sonara package, over the installed libraries.")
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS python3)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-pandas, python3-dask, python3-distributed, python3-matplotlib")
set(SONARA_DEB_PYTHON_DIR /usr/lib/python3/dist-packages/sonara)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/python3-sonara.prerm ${PROJECT_BINARY_DIR}/debian/python/prerm @ONLY)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/python/prerm)

include(CPack)
