# SPDX-License-Identifier: MIT
# Debian packages of a build: `cpack -G DEB` in the build directory makes
# "radioline" from the runtime install component (the shared library, the
# programs, the bridge's systemd unit, the Python package, the manual pages,
# the bash completion and the browser panel) and "radioline-dev" from the dev component (the
# header, the static library, the library's unversioned link, the pkg-config
# file, the CMake package and the library's manual page). Dependencies come
# from the binaries through dpkg-shlibdeps. Each package also carries the
# copyright and changelog files Debian asks for, which a plain install
# leaves out.
set(RADIOLINE_MAINTAINER "The radioline developers <radioline@example.org>"
  CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME radioline)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The radioline developers")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${RADIOLINE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The runtime package declares the library it ships (a shlibs file), so the
# programs' dependency on it resolves inside it, and activates the loader
# cache's trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/deb/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/deb/triggers)
# The bridge's unit runs as the system user radiobridge: the package declares
# it for systemd-sysusers and creates it on installation.
if(TARGET radiobridge)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/radiobridge.sysusers
    DESTINATION lib/sysusers.d RENAME radiobridge.conf
    COMPONENT runtime EXCLUDE_FROM_ALL)
  file(COPY ${CMAKE_CURRENT_LIST_DIR}/deb/postinst DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/deb
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/deb/postinst)
endif()

# One package per component group: "dev" is its own group, every other
# install component (runtime, and those the Python package or the bridge may
# name) goes with the runtime.
set(CPACK_DEB_COMPONENT_INSTALL ON)
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  if(component STREQUAL "dev")
    set(CPACK_COMPONENT_${upper}_GROUP dev)
  else()
    set(CPACK_COMPONENT_${upper}_GROUP runtime)
  endif()
endforeach()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME radioline)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME radioline-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "radioline (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "mosquitto, mosquitto-clients, python3")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "control a two-way radio over a serial line
radioline is a small C library that tunes and configures a two-way radio
over a serial line: VFO frequency, mode slots, duplex code, PL tones, the
VFO codeplug, the firmware version, configuration bytes, transmit offset and
VCO split. Each call sends one framed request and waits for its reply.
.
This package holds the shared library and the tools around it: radioctl
runs every operation from the shell or a script, radiosim simulates a radio
on a pseudo-terminal, radioprobe checks that a radio answers, and
radiobridge shares the radios on a line through an MQTT broker (with a
systemd unit). It also holds the Python binding, the manual pages,
radioctl's bash completion and a browser panel that a broker's websockets
listener serves.")
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "control a two-way radio over a serial line - development files
radioline is a small C library that tunes and configures a two-way radio
over a serial line. Every call returns 0 or an errno value and can trace
its work on standard error.
.
This package holds the header, the static library, the link to the shared
library, a pkg-config file, a CMake package (find_package(radioline)) and
the library's manual page.")

# copyright (machine-readable, the licence text from LICENSE) and changelog,
# one pair per package; EXCLUDE_FROM_ALL keeps them out of plain installs.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^MIT License\n\n(Copyright \\(c\\) ([^\n]*)\n\n)?" "" license_terms
  "${license}")
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${license}")
set(copyright_holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "\n\n" "\n.\n" license_terms "${license_terms}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" license_terms " ${license_terms}")
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(deb_dir ${CMAKE_CURRENT_BINARY_DIR}/deb)
file(WRITE ${deb_dir}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: radioline

Files: *
Copyright: ${copyright_holder}
License: Expat
${license_terms}")
file(WRITE ${deb_dir}/changelog
  "radioline (${PROJECT_VERSION}) unstable; urgency=medium

  * Release ${PROJECT_VERSION}.

 -- ${RADIOLINE_MAINTAINER}  ${changelog_date}
")
execute_process(COMMAND gzip -9nc ${deb_dir}/changelog OUTPUT_FILE ${deb_dir}/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
foreach(component runtime dev)
  string(TOUPPER ${component} upper)
  install(FILES ${deb_dir}/copyright ${deb_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
