# SPDX-License-Identifier: MIT
# Installs what belongs to the whole tree rather than to one folder's
# build (each folder's CMakeLists installs what it builds): a CMake package
# (find_package(radioline) gives radioline::radioline), a pkg-config file
# (radioline.pc), radioctl's bash completion, the profile schema, the
# README and the guides with the example broker files, and the bridge's
# systemd unit, and sets where the installed programs find the library.
# The programs and radioline.pc find the rest of the tree relative to
# themselves, so a tree installed into any prefix, or moved as a whole,
# works as it is.
include(CMakePackageConfigHelpers)

# The installed programs load the shared library from the library directory
# beside their own, wherever the tree was installed.
file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(program radioprobe radioctl radiosim radiobridge)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN/${bin_to_lib}")
  endif()
endforeach()

# The build files are dev, as the library's own folder installs its header.
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/radioline)
install(EXPORT radiolineTargets NAMESPACE radioline:: DESTINATION ${config_dir} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/radiolineConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/radiolineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/radiolineConfigVersion.cmake DESTINATION ${config_dir}
  COMPONENT dev)

# radioline.pc names the prefix by its place relative to the pkgconfig
# directory, one level deeper under a multiarch library directory.
file(RELATIVE_PATH pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/radioline.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/radioline.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/radioline.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

if(RADIOLINE_TOOLS)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/radioctl
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# The rules of a radio profile as a JSON Schema, for the Python package, the
# panel and anyone who writes profiles for radioctl.
install(FILES ${PROJECT_SOURCE_DIR}/schema/profile.schema.json
  DESTINATION ${CMAKE_INSTALL_DATADIR}/radioline)

# The README, the guides in docs/ beside it as in the source tree (so the
# links between them hold) with the panel's screenshot, and the broker's
# configurations and ACLs that the sharing and sites guides show, ready to
# copy to /etc/mosquitto.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB guides CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${guides} ${PROJECT_SOURCE_DIR}/docs/panel.png
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/examples/mosquitto/radioline.conf
  ${PROJECT_SOURCE_DIR}/examples/mosquitto/radioline.acl
  ${PROJECT_SOURCE_DIR}/examples/mosquitto/radioline-central.conf
  ${PROJECT_SOURCE_DIR}/examples/mosquitto/radioline-site.acl
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

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
