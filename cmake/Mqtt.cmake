# rxb540-mqtt, the MQTT bridge, on librxb540 and libmosquitto. Built wherever
# libmosquitto is found, never on Windows (there is no MQTT client library for
# the MinGW build here).
option(RXB540_BUILD_MQTT "Build rxb540-mqtt where libmosquitto is found" ON)
set(RXB540_MQTT_BUILT OFF)
if(RXB540_BUILD_MQTT AND NOT WIN32 AND TARGET rxb540_shared)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(RXB540_MOSQUITTO QUIET IMPORTED_TARGET libmosquitto)
  endif()
  if(RXB540_MOSQUITTO_FOUND)
    add_subdirectory(src/mqtt)
    set(RXB540_MQTT_BUILT ON)
  else()
    message(STATUS "rxb540-mqtt is not built: libmosquitto was not found (Debian: libmosquitto-dev)")
  endif()
endif()
