# Install rules, in four components that are also the four Debian packages (cmake/Packaging.cmake):
#   runtime      the shared libraries (libsonara, libcommon, libvisara, libsonara_convert,
#                libsonara_archive), with their soname files
#   development  headers under include/sonara, the .so links, pkg-config files, the CMake package
#   tools        sonara and scanner in bin/, the probe and idle programs in libexec/sonara/, the
#                man page and the default configurations under share/sonara/
#   python       the Python package (python/CMakeLists.txt)
if(SONARA_FUZZ)
  return()
endif()
include(CMakePackageConfigHelpers)

set(SONARA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/libsonara)
set(SONARA_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/sonara)
# Programs a user does not call by name: kept out of bin/.
set(SONARA_INSTALL_PRIVATEDIR ${CMAKE_INSTALL_LIBEXECDIR}/sonara)
set(SONARA_LIBRARIES sonara common visara sonara_convert sonara_archive)
set(SONARA_USER_TOOLS scanner sonara_program)
set(SONARA_PRIVATE_TOOLS probe_run probe_load probe_link probe_settings idle_service idle_audio)

# Installed programs find the libraries by a path relative to their own folder; the libraries find
# each other, and libcommon's run-time loader the checking libraries, in their own folder.
file(RELATIVE_PATH SONARA_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH SONARA_PRIVATE_TO_LIB ${CMAKE_INSTALL_FULL_LIBEXECDIR}/sonara ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH SONARA_PRIVATE_TO_DATA ${CMAKE_INSTALL_FULL_LIBEXECDIR}/sonara
     ${CMAKE_INSTALL_FULL_DATADIR}/sonara)
set_target_properties(${SONARA_USER_TOOLS} PROPERTIES INSTALL_RPATH "$ORIGIN/${SONARA_BIN_TO_LIB}")
set_target_properties(${SONARA_PRIVATE_TOOLS} PROPERTIES INSTALL_RPATH "$ORIGIN/${SONARA_PRIVATE_TO_LIB}")
set_target_properties(${SONARA_LIBRARIES} PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS ${SONARA_LIBRARIES} EXPORT libsonaraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sonara)
install(TARGETS ${SONARA_USER_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(TARGETS ${SONARA_PRIVATE_TOOLS} RUNTIME DESTINATION ${SONARA_INSTALL_PRIVATEDIR} COMPONENT tools)
install(FILES
  ${PROJECT_SOURCE_DIR}/modules/sound/include/sonara.h
  ${PROJECT_SOURCE_DIR}/common/include/session_types.h
  ${PROJECT_SOURCE_DIR}/common/include/libcommon.h
  ${PROJECT_SOURCE_DIR}/modules/photo/include/visara.h
  ${PROJECT_SOURCE_DIR}/modules/convert/include/sonara_convert.h
  ${PROJECT_SOURCE_DIR}/modules/archive/include/sonara_archive.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sonara COMPONENT development)
install(FILES
  ${PROJECT_SOURCE_DIR}/config/cv_configuration.json
  ${PROJECT_SOURCE_DIR}/config/ci_configuration.json
  DESTINATION ${SONARA_INSTALL_DATADIR} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/docs/sonara.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# The scanner and the probes load libvisara.so and libsonara.so by those plain names from the
# folder they are run in (or -lib_dir). The private folder holds those names and the default
# configurations as links, so it is a folder to run them from: they need no -dev package.
set(SONARA_LINKS_DIR ${PROJECT_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${SONARA_LINKS_DIR})
foreach(library sonara visara)
  file(CREATE_LINK ${SONARA_PRIVATE_TO_LIB}/lib${library}.so.${PROJECT_VERSION}
       ${SONARA_LINKS_DIR}/lib${library}.so SYMBOLIC)
  list(APPEND SONARA_PRIVATE_LINKS ${SONARA_LINKS_DIR}/lib${library}.so)
endforeach()
foreach(config cv_configuration.json ci_configuration.json)
  file(CREATE_LINK ${SONARA_PRIVATE_TO_DATA}/${config} ${SONARA_LINKS_DIR}/${config} SYMBOLIC)
  list(APPEND SONARA_PRIVATE_LINKS ${SONARA_LINKS_DIR}/${config})
endforeach()
install(FILES ${SONARA_PRIVATE_LINKS} DESTINATION ${SONARA_INSTALL_PRIVATEDIR} COMPONENT tools)

# pkg-config: prefix relative to the .pc file, so an install under any --prefix works. The
# *.private fields are what a static link would add.
file(RELATIVE_PATH SONARA_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" SONARA_PC_TO_PREFIX "${SONARA_PC_TO_PREFIX}")
if(LIBFVAD_FOUND)
  set(SONARA_PC_DETECTOR libfvad)
else()
  set(SONARA_PC_DETECTOR webrtc-audio-processing)
endif()
foreach(pc libsonara libsonara_convert libsonara_archive)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT development)
endforeach()

install(EXPORT libsonaraTargets NAMESPACE libsonara:: DESTINATION ${SONARA_INSTALL_CMAKEDIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/libsonaraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/libsonaraConfig.cmake
  INSTALL_DESTINATION ${SONARA_INSTALL_CMAKEDIR}
  PATH_VARS SONARA_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/libsonaraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/libsonaraConfig.cmake ${PROJECT_BINARY_DIR}/libsonaraConfigVersion.cmake
  DESTINATION ${SONARA_INSTALL_CMAKEDIR} COMPONENT development)
