# What `cmake --install` puts in place, and the packages CPack makes of it:
# on Linux three .debs, one per install component (cli: rxb540 with its
# man page, udev rule and completion; library: librxb540-0; development:
# librxb540-dev), on Windows one .zip of everything.
include(GNUInstallDirs)

option(RXB540_DEBIAN_PACKAGE "Install the files a Debian package carries (copyright, changelog)" OFF)
# `cmake --install --prefix P` writes below P alone, so that anyone may install
# anywhere. The system's own folders outside the prefix (/etc/udev/rules.d,
# /etc/rxb540) are used only when asked for, as the package build does.
option(RXB540_SYSTEM_PATHS "Install the udev rules and the bridge's configuration in the system's folders" OFF)

if(TARGET rxb540)
  install(TARGETS rxb540 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()

if(WIN32)
  install(FILES README.md LICENSE DESTINATION . COMPONENT cli)
else()
  # The man page, compressed without a timestamp so that builds are reproducible.
  set(RXB540_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/rxb540.1.gz)
  add_custom_command(
    OUTPUT ${RXB540_MAN_PAGE}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/man/rxb540.1 > ${RXB540_MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/rxb540.1
    VERBATIM)
  add_custom_target(rxb540_man_page ALL DEPENDS ${RXB540_MAN_PAGE})
  install(FILES ${RXB540_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)

  # udev reads its rules from /usr/lib/udev/rules.d (the system's packages)
  # and /etc/udev/rules.d (the local administrator's), never from /usr/local.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR NOT RXB540_SYSTEM_PATHS)
    set(RXB540_UDEV_RULES_DEFAULT "lib/udev/rules.d")
  else()
    set(RXB540_UDEV_RULES_DEFAULT "/etc/udev/rules.d")
  endif()
  set(RXB540_UDEV_RULES_DIR "${RXB540_UDEV_RULES_DEFAULT}" CACHE STRING "Where the udev rule is installed")
  install(FILES packaging/linux/60-rxb540.rules DESTINATION ${RXB540_UDEV_RULES_DIR} COMPONENT cli)

  install(FILES packaging/bash-completion/rxb540 DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          COMPONENT cli)

  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT cli)
  install(FILES docs/library.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/librxb540-dev COMPONENT development)
  if(RXB540_DEBIAN_PACKAGE)
    set(RXB540_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
    add_custom_command(
      OUTPUT ${RXB540_CHANGELOG}
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${RXB540_CHANGELOG}
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
      VERBATIM)
    add_custom_target(rxb540_changelog ALL DEPENDS ${RXB540_CHANGELOG})
    # Every package carries its own copyright and changelog.
    install(FILES ${RXB540_CHANGELOG} packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR}
            COMPONENT cli)
    install(FILES ${RXB540_CHANGELOG} packaging/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/librxb540-0 COMPONENT library)
    install(FILES ${RXB540_CHANGELOG} packaging/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/librxb540-dev COMPONENT development)
  else()
    install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT cli)
  endif()
endif()

set(CPACK_PACKAGE_NAME rxb540)
set(CPACK_PACKAGE_VENDOR "The rxb540 developers")
set(CPACK_PACKAGE_CONTACT "The rxb540 developers <rxb540@example.com>")
set(CPACK_PACKAGE_DESCRIPTION
    "rxb540 lists the RXB540 relay boards attached to the host by serial number,\nsets the relay state of one board and writes a new serial number into a board.\nEvery command is one HID feature report; no driver or daemon is needed.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME "rxb540-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}")

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host controller for the RXB540 USB relay board")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "rxb540-${PROJECT_VERSION}-windows-x86_64")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.com/rxb540")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SOURCE rxb540)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL cli library development python)
  set(CPACK_COMPONENTS_GROUPING IGNORE)

  # rxb540, the command line: linked with librxb540.a, it needs the C library alone.
  set(CPACK_DEBIAN_CLI_PACKAGE_NAME rxb540)
  set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "bash-completion")
  set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
      ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  # Each package's description starts with its own summary line, so CPack's
  # one summary for all (CPACK_PACKAGE_DESCRIPTION_SUMMARY) is left unset.
  set(CPACK_COMPONENT_CLI_DESCRIPTION "host controller for the RXB540 USB relay board\n${CPACK_PACKAGE_DESCRIPTION}")

  # librxb540-0: the shared library, named after its SONAME, with its symbols.
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME librxb540-0)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  # shlibs for the packages with a shared library: librxb540-0 alone.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/debian/librxb540-0/symbols
      ${PROJECT_SOURCE_DIR}/packaging/debian/librxb540-0/triggers
      ${PROJECT_SOURCE_DIR}/packaging/debian/librxb540-0/postinst
      ${PROJECT_SOURCE_DIR}/packaging/debian/librxb540-0/postrm)
  set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
      "C library for the RXB540 USB relay board\nlibrxb540 lists the RXB540 relay boards attached to the host with their serial\nnumbers and interface paths, sets the relay state of one board and writes a\nnew serial number into a board, through a stable C interface.\n.\nThis package contains the shared library.")

  # librxb540-dev: the header, the static library, pkg-config and CMake files.
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME librxb540-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "librxb540-0 (= ${PROJECT_VERSION})")
  # dpkg-shlibdeps: what librxb540-sim.so.0 (the simulated host's library) needs.
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS ON)
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
      "C library for the RXB540 USB relay board - development files\nlibrxb540 lists the RXB540 relay boards attached to the host with their serial\nnumbers and interface paths, sets the relay state of one board and writes a\nnew serial number into a board, through a stable C interface.\n.\nThis package contains the header, the static library, and the files for\npkg-config and CMake's find_package.")
endif()

include(cmake/PythonPackage.cmake)
# rxb540-mqtt, where the bridge is built.
include(cmake/MqttPackaging.cmake)
# rxb540-dashboard, where the page is built (RXB540_BUILD_DASHBOARD).
include(cmake/Dashboard.cmake)
include(CPack)
