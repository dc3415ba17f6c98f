# SPDX-License-Identifier: MIT
# Installs the header, both kinds of the library, the programs, a CMake
# package (find_package(radioline) gives radioline::radioline), a
# pkg-config file (radioline.pc) and radioctl's bash completion.
include(CMakePackageConfigHelpers)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/radioline)
# The shared library itself is runtime; its unversioned link, the static
# library, the header and the build files are dev.
install(TARGETS radioline EXPORT radiolineTargets
  LIBRARY COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE COMPONENT dev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS radioline_other
  LIBRARY COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE COMPONENT dev)
install(TARGETS radioprobe)
install(EXPORT radiolineTargets NAMESPACE radioline:: DESTINATION ${config_dir} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/radiolineConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/radiolineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfigVersion.cmake DESTINATION ${config_dir}
  COMPONENT dev)

configure_file(${CMAKE_CURRENT_LIST_DIR}/radioline.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/radioline.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radioline.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

if(RADIOLINE_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/radioctl
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# radiobridge@.service: one bridge per serial line. The directory is
# relative to the prefix unless given as an absolute path
# (-DRADIOLINE_SYSTEMD_DIR=/lib/systemd/system on Debian).
if(TARGET radiobridge)
  set(RADIOLINE_SYSTEMD_DIR lib/systemd/system CACHE STRING "where systemd units are installed")
  configure_file(${PROJECT_SOURCE_DIR}/tools/radiobridge/radiobridge@.service.in
    ${CMAKE_CURRENT_BINARY_DIR}/radiobridge@.service @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radiobridge@.service
    DESTINATION ${RADIOLINE_SYSTEMD_DIR})
endif()
