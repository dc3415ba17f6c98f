# SPDX-License-Identifier: MIT
# Installs the header, both kinds of the library, the programs, a CMake
# package (find_package(radioline) gives radioline::radioline) and a
# pkg-config file (radioline.pc).
include(CMakePackageConfigHelpers)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/radioline)
install(TARGETS radioline EXPORT radiolineTargets
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS radioline_other radioprobe)
install(EXPORT radiolineTargets NAMESPACE radioline:: DESTINATION ${config_dir})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/radiolineConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/radiolineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfigVersion.cmake DESTINATION ${config_dir})

configure_file(${CMAKE_CURRENT_LIST_DIR}/radioline.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/radioline.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radioline.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
