# The Debian package rxb540-mqtt: the bridge, its systemd unit, its
# configuration (a conffile), the udev rule that gives the group rxb540 the
# boards, the man page and docs/mqtt.md. Included by Packaging.cmake, where
# the other packages are made, when the bridge is built.
if(NOT RXB540_MQTT_BUILT)
  return()
endif()

install(TARGETS rxb540-mqtt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT mqtt)

set(RXB540_MQTT_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/rxb540-mqtt.1.gz)
add_custom_command(
  OUTPUT ${RXB540_MQTT_MAN_PAGE}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/man/rxb540-mqtt.1 > ${RXB540_MQTT_MAN_PAGE}
  DEPENDS ${PROJECT_SOURCE_DIR}/man/rxb540-mqtt.1
  VERBATIM)
add_custom_target(rxb540_mqtt_man_page ALL DEPENDS ${RXB540_MQTT_MAN_PAGE})
install(FILES ${RXB540_MQTT_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT mqtt)

# The program reads /etc/rxb540/mqtt.conf unless told otherwise; a /usr
# install with the system's folders puts the file there (GNUInstallDirs maps
# /usr's etc to /etc), any other below its prefix.
if(RXB540_SYSTEM_PATHS)
  set(RXB540_MQTT_CONFIG_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/rxb540)
else()
  set(RXB540_MQTT_CONFIG_DIR ${CMAKE_INSTALL_SYSCONFDIR}/rxb540)
endif()
install(FILES packaging/mqtt/mqtt.conf DESTINATION ${RXB540_MQTT_CONFIG_DIR} COMPONENT mqtt)

# systemd's own folder for units of the system's packages, as its pkg-config
# file names it (/lib/systemd/system on Debian 12, /usr/lib/systemd/system on
# Debian 13); an install elsewhere keeps the unit below its prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_get_variable(RXB540_SYSTEMD_PC_UNIT_DIR systemd systemdsystemunitdir)
  endif()
  if(NOT RXB540_SYSTEMD_PC_UNIT_DIR)
    set(RXB540_SYSTEMD_PC_UNIT_DIR /usr/lib/systemd/system)
  endif()
  set(RXB540_SYSTEMD_UNIT_DEFAULT ${RXB540_SYSTEMD_PC_UNIT_DIR})
else()
  set(RXB540_SYSTEMD_UNIT_DEFAULT ${CMAKE_INSTALL_LIBDIR}/systemd/system)
endif()
set(RXB540_SYSTEMD_UNIT_DIR "${RXB540_SYSTEMD_UNIT_DEFAULT}" CACHE STRING "Where the systemd unit of rxb540-mqtt is installed")
install(FILES packaging/mqtt/rxb540-mqtt.service DESTINATION ${RXB540_SYSTEMD_UNIT_DIR} COMPONENT mqtt)
install(FILES packaging/mqtt/61-rxb540-mqtt.rules DESTINATION ${RXB540_UDEV_RULES_DIR} COMPONENT mqtt)

set(RXB540_MQTT_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/rxb540-mqtt)
install(FILES docs/mqtt.md DESTINATION ${RXB540_MQTT_DOC_DIR} COMPONENT mqtt)
if(RXB540_DEBIAN_PACKAGE)
  install(FILES ${RXB540_CHANGELOG} packaging/debian/copyright DESTINATION ${RXB540_MQTT_DOC_DIR} COMPONENT mqtt)
else()
  install(FILES LICENSE DESTINATION ${RXB540_MQTT_DOC_DIR} COMPONENT mqtt)
endif()

list(APPEND CPACK_COMPONENTS_ALL mqtt)
set(CPACK_DEBIAN_MQTT_PACKAGE_NAME rxb540-mqtt)
set(CPACK_DEBIAN_MQTT_PACKAGE_SECTION net)
# dpkg-shlibdeps finds libmosquitto1 and the C and C++ runtimes. It finds
# librxb540.so.0 in the build folder but no package information for it
# (CPack builds librxb540-0 beside this one), so that dependency is named
# here, at the version built. adduser makes the service's user and group.
get_target_property(RXB540_SHARED_DIR rxb540_shared LIBRARY_OUTPUT_DIRECTORY)
if(NOT RXB540_SHARED_DIR)
  set(RXB540_SHARED_DIR ${PROJECT_BINARY_DIR})
endif()
list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${RXB540_SHARED_DIR})
set(CPACK_DEBIAN_MQTT_PACKAGE_DEPENDS "librxb540-0 (>= ${PROJECT_VERSION}), adduser")
set(CPACK_DEBIAN_MQTT_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/rxb540-mqtt/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/rxb540-mqtt/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/rxb540-mqtt/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/rxb540-mqtt/postrm)
set(CPACK_COMPONENT_MQTT_DESCRIPTION
    "RXB540 USB relay boards on an MQTT broker\nrxb540-mqtt puts every RXB540 relay board of a host on an MQTT broker, with\nretained state, relay and availability topics, commands per board and per\nrelay, and Home Assistant discovery. Many hosts share one broker.\n.\nThis package contains the program, its systemd service (not enabled), its\nconfiguration and a udev rule that gives the boards to the service's group.")
