# What `cmake --install` puts in place: the shared library and its header, the hedgerow
# command and its man page, a CMake package (find_package(Hedgerow) gives the target
# Hedgerow::hedgerow) and a pkg-config file. Both package files find the prefix from
# their own place, so an installed tree can be moved.
include(CMakePackageConfigHelpers)

set(HEDGEROW_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Hedgerow)

install(TARGETS hedgerow EXPORT HedgerowTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/hedgerow.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET hedgerow_cli)
  install(TARGETS hedgerow_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/cli/hedgerow.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(EXPORT HedgerowTargets NAMESPACE Hedgerow:: DESTINATION ${HEDGEROW_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/HedgerowConfig.cmake.in
  ${PROJECT_BINARY_DIR}/HedgerowConfig.cmake INSTALL_DESTINATION ${HEDGEROW_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/HedgerowConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/HedgerowConfig.cmake ${PROJECT_BINARY_DIR}/HedgerowConfigVersion.cmake
  DESTINATION ${HEDGEROW_CMAKE_DIR})

file(RELATIVE_PATH HEDGEROW_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" HEDGEROW_PC_TO_PREFIX "${HEDGEROW_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/hedgerow.pc.in ${PROJECT_BINARY_DIR}/hedgerow.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/hedgerow.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Inside this build the example host uses the same name as outside it.
add_library(Hedgerow::hedgerow ALIAS hedgerow)
