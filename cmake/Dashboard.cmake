# The dashboard (web/dashboard): a static page that mosquitto serves beside
# its WebSockets listener. Its one dependency, the browser bundle of mqtt.js,
# comes from npm at the version package-lock.json pins (npm ci), so only a
# build that asks for the page needs npm and the registry.
option(RXB540_BUILD_DASHBOARD "Build and install the web dashboard (needs npm)" OFF)
if(NOT RXB540_BUILD_DASHBOARD OR WIN32)
  return()
endif()

find_program(RXB540_NPM npm REQUIRED)

# The Debian package rxb540-dashboard.
list(APPEND CPACK_COMPONENTS_ALL dashboard)
set(CPACK_DEBIAN_DASHBOARD_PACKAGE_NAME rxb540-dashboard)
set(CPACK_DEBIAN_DASHBOARD_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DASHBOARD_PACKAGE_SECTION net)
set(CPACK_DEBIAN_DASHBOARD_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DASHBOARD_PACKAGE_RECOMMENDS "mosquitto")
set(CPACK_DEBIAN_DASHBOARD_PACKAGE_SUGGESTS "rxb540-mqtt")
set(CPACK_COMPONENT_DASHBOARD_DESCRIPTION
    "web page for the RXB540 relay boards on an MQTT broker\nA static page that shows every RXB540 board that rxb540-mqtt bridges to the\nbroker, host by host, and switches and pulses their relays. mosquitto serves\nit from its WebSockets listener (http_dir) with its own accounts and ACLs;\nnothing else runs on the server.\n.\nThis package contains the page and an example mosquitto configuration.")

set(RXB540_DASHBOARD_SOURCE ${PROJECT_SOURCE_DIR}/web/dashboard)
set(RXB540_DASHBOARD_NPM ${CMAKE_CURRENT_BINARY_DIR}/dashboard-npm)
set(RXB540_MQTT_JS ${RXB540_DASHBOARD_NPM}/node_modules/mqtt)
# npm ci in a folder of the build's own, so that the source stays clean.
add_custom_command(
  OUTPUT ${RXB540_MQTT_JS}/dist/mqtt.min.js
  COMMAND ${CMAKE_COMMAND} -E copy ${RXB540_DASHBOARD_SOURCE}/package.json ${RXB540_DASHBOARD_SOURCE}/package-lock.json
          ${RXB540_DASHBOARD_NPM}/
  COMMAND ${RXB540_NPM} ci --ignore-scripts --no-audit --no-fund --loglevel=error
  COMMAND ${CMAKE_COMMAND} -E touch ${RXB540_MQTT_JS}/dist/mqtt.min.js
  WORKING_DIRECTORY ${RXB540_DASHBOARD_NPM}
  DEPENDS ${RXB540_DASHBOARD_SOURCE}/package.json ${RXB540_DASHBOARD_SOURCE}/package-lock.json
  COMMENT "Fetching mqtt.js with npm ci"
  VERBATIM)
file(MAKE_DIRECTORY ${RXB540_DASHBOARD_NPM})
add_custom_target(rxb540_dashboard ALL DEPENDS ${RXB540_MQTT_JS}/dist/mqtt.min.js)

set(RXB540_DASHBOARD_DIR ${CMAKE_INSTALL_DATADIR}/rxb540/dashboard)
install(FILES ${RXB540_DASHBOARD_SOURCE}/index.html ${RXB540_DASHBOARD_SOURCE}/dashboard.css
        DESTINATION ${RXB540_DASHBOARD_DIR} COMPONENT dashboard)
install(DIRECTORY ${RXB540_DASHBOARD_SOURCE}/js/ DESTINATION ${RXB540_DASHBOARD_DIR}/js COMPONENT dashboard
        FILES_MATCHING PATTERN "*.js")
# The bundle with its licence text beside it.
install(FILES ${RXB540_MQTT_JS}/dist/mqtt.min.js DESTINATION ${RXB540_DASHBOARD_DIR}/mqtt COMPONENT dashboard)
install(FILES ${RXB540_MQTT_JS}/LICENSE.md DESTINATION ${RXB540_DASHBOARD_DIR}/mqtt RENAME mqtt.min.js.license.md
        COMPONENT dashboard)

set(RXB540_DASHBOARD_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/rxb540-dashboard)
install(FILES docs/dashboard.md DESTINATION ${RXB540_DASHBOARD_DOC_DIR} COMPONENT dashboard)
install(FILES packaging/dashboard/mosquitto-dashboard.conf packaging/dashboard/dashboard.acl
        DESTINATION ${RXB540_DASHBOARD_DOC_DIR}/examples COMPONENT dashboard)
if(RXB540_DEBIAN_PACKAGE)
  # The project's copyright with a paragraph for the bundled mqtt.js.
  set(RXB540_DASHBOARD_COPYRIGHT ${CMAKE_CURRENT_BINARY_DIR}/dashboard-copyright)
  add_custom_command(
    OUTPUT ${RXB540_DASHBOARD_COPYRIGHT}
    COMMAND ${CMAKE_COMMAND} -E cat ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
            ${PROJECT_SOURCE_DIR}/packaging/dashboard/copyright-mqtt-js > ${RXB540_DASHBOARD_COPYRIGHT}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_SOURCE_DIR}/packaging/dashboard/copyright-mqtt-js
    VERBATIM)
  add_custom_target(rxb540_dashboard_copyright ALL DEPENDS ${RXB540_DASHBOARD_COPYRIGHT})
  install(FILES ${RXB540_CHANGELOG} DESTINATION ${RXB540_DASHBOARD_DOC_DIR} COMPONENT dashboard)
  install(FILES ${RXB540_DASHBOARD_COPYRIGHT} DESTINATION ${RXB540_DASHBOARD_DOC_DIR} RENAME copyright
          COMPONENT dashboard)
else()
  install(FILES LICENSE DESTINATION ${RXB540_DASHBOARD_DOC_DIR} COMPONENT dashboard)
endif()
