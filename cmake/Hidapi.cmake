# Finds hidapi through pkg-config for the hidapi backend and builds that
# backend as rxb540_hidapi_platform. On Linux hidapi comes in two variants,
# chosen with RXB540_HIDAPI_VARIANT: "hidraw" (package hidapi-hidraw, on the
# kernel's hidraw driver) or "libusb" (package hidapi-libusb, on libusb); on
# macOS and the BSDs the package is "hidapi".
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(RXB540_HIDAPI_VARIANT "hidraw" CACHE STRING "hidapi variant on Linux: hidraw or libusb")
  set_property(CACHE RXB540_HIDAPI_VARIANT PROPERTY STRINGS hidraw libusb)
else()
  set(RXB540_HIDAPI_VARIANT "hidapi" CACHE STRING "hidapi package: hidapi (or libusb for hidapi-libusb)")
  set_property(CACHE RXB540_HIDAPI_VARIANT PROPERTY STRINGS hidapi libusb)
endif()

if(RXB540_HIDAPI_VARIANT STREQUAL "hidraw" AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(RXB540_HIDAPI_PACKAGE hidapi-hidraw)
elseif(RXB540_HIDAPI_VARIANT STREQUAL "libusb")
  set(RXB540_HIDAPI_PACKAGE hidapi-libusb)
elseif(RXB540_HIDAPI_VARIANT STREQUAL "hidapi" AND NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(RXB540_HIDAPI_PACKAGE hidapi)
else()
  message(FATAL_ERROR " RXB540_HIDAPI_VARIANT='${RXB540_HIDAPI_VARIANT}' is not a hidapi variant of this "
                      "system (Linux: hidraw or libusb; elsewhere: hidapi or libusb)")
endif()

# hid_get_device_info, which the backend reads the IDs with, came in 0.13.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(RXB540_HIDAPI QUIET IMPORTED_TARGET ${RXB540_HIDAPI_PACKAGE}>=0.13)
endif()
# The text starts with a blank so that CMake prints it as one line.
if(NOT RXB540_HIDAPI_FOUND)
  message(FATAL_ERROR " hidapi not found: install pkg-config and the package that provides the pkg-config "
                      "module ${RXB540_HIDAPI_PACKAGE} 0.13 or newer (Debian: libhidapi-dev; Homebrew: "
                      "hidapi; FreeBSD and OpenBSD: hidapi)")
endif()
message(STATUS "hidapi backend on ${RXB540_HIDAPI_PACKAGE} ${RXB540_HIDAPI_VERSION}")

set(RXB540_HIDAPI_PLATFORM_SOURCES
  src/platform/hidapi/device_access.cpp
  src/platform/hidapi/hidapi_backend.cpp
  src/platform/hidapi/text_locale.cpp
  src/platform/hidapi/wide_text.cpp
  src/platform/shared/device_interface.cpp
  src/platform/shared/utf16_text.cpp
)
add_library(rxb540_hidapi_platform STATIC ${RXB540_HIDAPI_PLATFORM_SOURCES})
target_include_directories(rxb540_hidapi_platform PUBLIC src)
target_link_libraries(rxb540_hidapi_platform PUBLIC PkgConfig::RXB540_HIDAPI)
