# librxb540: the shared library (librxb540.so.0, rxb540.dll with its import
# library) and the static one (librxb540.a), both of the library's sources and
# the chosen backend's, with their pkg-config file and CMake package.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The header states the interface's version; the project's must agree.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/rxb540.h RXB540_HEADER_VERSION_LINES
     REGEX "^#define RXB540_VERSION_(MAJOR|MINOR|PATCH) [0-9]+$")
string(REGEX REPLACE "[^;]*_MAJOR ([0-9]+);[^;]*_MINOR ([0-9]+);[^;]*_PATCH ([0-9]+)" "\\1.\\2.\\3"
       RXB540_HEADER_VERSION "${RXB540_HEADER_VERSION_LINES}")
if(NOT RXB540_HEADER_VERSION STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR " include/rxb540.h says version ${RXB540_HEADER_VERSION}, the project ${PROJECT_VERSION}")
endif()

# The objects of one kind of library: the export macro of include/rxb540.h
# learns from `definition` which kind it is built into; `platform` is the
# backend (RXB540_PLATFORM, or "sim" for the simulated host's library).
function(rxb540_add_library_objects name definition platform)
  if(platform STREQUAL "sim" AND NOT RXB540_PLATFORM STREQUAL "sim")
    set(backend_sources ${RXB540_SIM_PLATFORM_SOURCES} ${PROJECT_SOURCE_DIR}/tools/sim-host/environment_host.cpp)
    set(backend_libraries)
  else()
    set(backend_sources ${RXB540_BACKEND_SOURCES})
    set(backend_libraries ${RXB540_BACKEND_LIBRARIES})
  endif()
  add_library(${name} OBJECT ${RXB540_LIBRARY_SOURCES} ${backend_sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  target_compile_definitions(${name} PRIVATE ${definition} RXB540_MANUFACTURER="${RXB540_MANUFACTURER}")
  if(platform STREQUAL "sim" AND NOT WIN32)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/sim-host)
    target_compile_definitions(${name} PRIVATE RXB540_SIM_FROM_ENVIRONMENT)
  endif()
  # Nothing of the C++ inside is visible outside the library.
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
                                           POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${name} PRIVATE ${backend_libraries})
endfunction()

rxb540_add_library_objects(rxb540_shared_objects RXB540_BUILDING "${RXB540_PLATFORM}")
if(WIN32)
  # Objects for a static link must not carry the DLL's export marks.
  rxb540_add_library_objects(rxb540_static_objects RXB540_STATIC "${RXB540_PLATFORM}")
  set(rxb540_static_objects rxb540_static_objects)
else()
  set(rxb540_static_objects rxb540_shared_objects)
endif()

set(RXB540_PUBLIC_INCLUDE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                          $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(rxb540_shared SHARED $<TARGET_OBJECTS:rxb540_shared_objects>)
add_library(rxb540::rxb540 ALIAS rxb540_shared)
set_target_properties(rxb540_shared PROPERTIES OUTPUT_NAME rxb540 EXPORT_NAME rxb540
                                               VERSION ${PROJECT_VERSION} SOVERSION 0)
target_include_directories(rxb540_shared INTERFACE ${RXB540_PUBLIC_INCLUDE})
target_link_libraries(rxb540_shared PRIVATE ${RXB540_BACKEND_LIBRARIES})
if(WIN32)
  # rxb540.dll beside librxb540.dll.a, needing no MinGW runtime DLL.
  set_target_properties(rxb540_shared PROPERTIES PREFIX "")
  target_link_options(rxb540_shared PRIVATE -static)
endif()

# Only the functions of rxb540.h are exported; every reference is resolved.
function(rxb540_export_interface_only target)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    target_link_options(${target} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/src/library/rxb540.map
                        -Wl,-z,defs)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/src/library/rxb540.map)
  endif()
endfunction()
rxb540_export_interface_only(rxb540_shared)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # One relocatable object whose symbols, but for the rxb540_* functions, are
  # local: a program linking librxb540.a statically may have a CloseHandle or
  # a CopyText of its own, or link another library that has one.
  set(RXB540_STATIC_OBJECT ${PROJECT_BINARY_DIR}/librxb540_static/rxb540.o)
  add_custom_command(
    OUTPUT ${RXB540_STATIC_OBJECT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/librxb540_static
    COMMAND ${CMAKE_LINKER} -r -o ${RXB540_STATIC_OBJECT} $<TARGET_OBJECTS:${rxb540_static_objects}>
    COMMAND ${CMAKE_OBJCOPY} --localize-hidden ${RXB540_STATIC_OBJECT}
    DEPENDS ${rxb540_static_objects} $<TARGET_OBJECTS:${rxb540_static_objects}>
    COMMAND_EXPAND_LISTS VERBATIM)
  add_library(rxb540_static STATIC ${RXB540_STATIC_OBJECT})
  set_target_properties(rxb540_static PROPERTIES LINKER_LANGUAGE CXX)
else()
  add_library(rxb540_static STATIC $<TARGET_OBJECTS:${rxb540_static_objects}>)
endif()
add_library(rxb540::rxb540_static ALIAS rxb540_static)
set_target_properties(rxb540_static PROPERTIES OUTPUT_NAME rxb540 EXPORT_NAME rxb540_static)
target_include_directories(rxb540_static INTERFACE ${RXB540_PUBLIC_INCLUDE})
target_compile_definitions(rxb540_static INTERFACE RXB540_STATIC)
# The library is C++ inside: a C program that links it statically needs the
# C++ runtime (the hidraw backend uses none of it, and --as-needed drops it).
target_link_libraries(rxb540_static INTERFACE ${RXB540_BACKEND_LIBRARIES} $<$<NOT:$<CXX_COMPILER_ID:MSVC>>:stdc++>)

# pkg-config: the backend's own needs and the C++ runtime only for static links.
if(WIN32)
  set(RXB540_PC_REQUIRES_PRIVATE "")
  set(RXB540_PC_LIBS_PRIVATE "-lsetupapi -lhid")
elseif(RXB540_PLATFORM STREQUAL "hidapi")
  set(RXB540_PC_REQUIRES_PRIVATE "${RXB540_HIDAPI_PACKAGE}")
  set(RXB540_PC_LIBS_PRIVATE "-lstdc++")
else()
  set(RXB540_PC_REQUIRES_PRIVATE "")
  set(RXB540_PC_LIBS_PRIVATE "-lstdc++")
endif()
# Paths below the prefix. On Linux the prefix is the one given at install
# time (cmake --install --prefix), so that an install anywhere finds itself;
# the Windows .zip is unpacked anywhere, so there it is found from the .pc's
# own folder.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(RXB540_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(RXB540_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
if(WIN32)
  file(RELATIVE_PATH RXB540_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  set(RXB540_PC_PREFIX "\${pcfiledir}/${RXB540_PC_UP}")
else()
  set(RXB540_PC_PREFIX "@RXB540_PC_PREFIX@")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/rxb540.pc.in ${PROJECT_BINARY_DIR}/rxb540.pc.in @ONLY)

set(RXB540_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rxb540)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/rxb540Config.cmake.in
                              ${PROJECT_BINARY_DIR}/rxb540Config.cmake INSTALL_DESTINATION ${RXB540_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/rxb540ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)

install(TARGETS rxb540_shared EXPORT rxb540Targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# librxb540-sim: the same interface on the simulated host, whose boards are
# the lines of the file RXB540_SIM_HOST names: for trying programs and the
# Python package without a board (docs/simulated-host.md). Never installed
# with the program; the development files carry it in the library folder's
# rxb540/ subfolder.
if(NOT WIN32)
  if(RXB540_PLATFORM STREQUAL "sim")
    set(rxb540_sim_objects rxb540_shared_objects)
  else()
    set(rxb540_sim_objects rxb540_sim_shared_objects)
    rxb540_add_library_objects(rxb540_sim_shared_objects RXB540_BUILDING sim)
  endif()
  add_library(rxb540_sim_shared SHARED $<TARGET_OBJECTS:${rxb540_sim_objects}>)
  set_target_properties(rxb540_sim_shared PROPERTIES OUTPUT_NAME rxb540-sim SOVERSION 0)
  target_include_directories(rxb540_sim_shared INTERFACE ${RXB540_PUBLIC_INCLUDE})
  rxb540_export_interface_only(rxb540_sim_shared)
  install(TARGETS rxb540_sim_shared LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/rxb540 COMPONENT development
                                            NAMELINK_SKIP)
endif()

install(TARGETS rxb540_static EXPORT rxb540Targets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT development)
install(FILES include/rxb540.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(CODE "set(RXB540_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/rxb540.pc.in\" \"${PROJECT_BINARY_DIR}/rxb540.pc\" @ONLY)"
        COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/rxb540.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)
install(EXPORT rxb540Targets NAMESPACE rxb540:: DESTINATION ${RXB540_CMAKE_DIR} COMPONENT development)
install(FILES ${PROJECT_BINARY_DIR}/rxb540Config.cmake ${PROJECT_BINARY_DIR}/rxb540ConfigVersion.cmake
        DESTINATION ${RXB540_CMAKE_DIR} COMPONENT development)
