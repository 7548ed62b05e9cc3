# Install rules: the three libraries with their soname links, the public headers under
# include/sonara, the tools, the default configurations, a pkg-config file and a CMake package.
if(SONARA_FUZZ)
  return()
endif()
include(CMakePackageConfigHelpers)

set(SONARA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/libsonara)
set(SONARA_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/sonara)
set(SONARA_TOOLS scanner probe_run probe_load probe_link probe_settings idle_service idle_audio
  sonara_program)

# Installed programs find the libraries beside each other; the libraries find libcommon and,
# for the run-time loader in libcommon, the checking libraries in their own folder.
file(RELATIVE_PATH SONARA_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(${SONARA_TOOLS} PROPERTIES INSTALL_RPATH "$ORIGIN/${SONARA_BIN_TO_LIB}")
set_target_properties(sonara common visara PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS sonara common visara EXPORT libsonaraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sonara)
install(TARGETS ${SONARA_TOOLS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/modules/sound/include/sonara.h
  ${PROJECT_SOURCE_DIR}/common/include/session_types.h
  ${PROJECT_SOURCE_DIR}/common/include/libcommon.h
  ${PROJECT_SOURCE_DIR}/modules/photo/include/visara.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/sonara)
install(FILES
  ${PROJECT_SOURCE_DIR}/config/cv_configuration.json
  ${PROJECT_SOURCE_DIR}/config/ci_configuration.json
  DESTINATION ${SONARA_INSTALL_DATADIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/sonara.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# pkg-config: prefix relative to the .pc file, so an install under any --prefix works.
file(RELATIVE_PATH SONARA_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" SONARA_PC_TO_PREFIX "${SONARA_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/libsonara.pc.in ${PROJECT_BINARY_DIR}/libsonara.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/libsonara.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(EXPORT libsonaraTargets NAMESPACE libsonara:: DESTINATION ${SONARA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/libsonaraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/libsonaraConfig.cmake
  INSTALL_DESTINATION ${SONARA_INSTALL_CMAKEDIR}
  PATH_VARS SONARA_INSTALL_DATADIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/libsonaraConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/libsonaraConfig.cmake ${PROJECT_BINARY_DIR}/libsonaraConfigVersion.cmake
  DESTINATION ${SONARA_INSTALL_CMAKEDIR})
