# The Python package of python/ as install component "python": on Linux the
# Debian package python3-rxb540 (Architecture: all) with the modules in
# Python's system folder and the distribution metadata that makes pytest find
# its plugin; on Windows the package folder beside rxb540.dll in the .zip,
# where the package's loader looks for the DLL.
set(RXB540_PYTHON_MODULES python/rxb540/__init__.py python/rxb540/__main__.py python/rxb540/_board.py
                          python/rxb540/_errors.py python/rxb540/_library.py python/rxb540/py.typed)

if(WIN32)
  install(FILES ${RXB540_PYTHON_MODULES} DESTINATION ${CMAKE_INSTALL_BINDIR}/rxb540 COMPONENT python)
  install(FILES python/pytest_rxb540.py DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT python)
else()
  set(RXB540_PYTHON_DIR lib/python3/dist-packages)
  configure_file(packaging/python/METADATA.in ${CMAKE_CURRENT_BINARY_DIR}/python-dist-info/METADATA @ONLY)
  install(FILES ${RXB540_PYTHON_MODULES} DESTINATION ${RXB540_PYTHON_DIR}/rxb540 COMPONENT python)
  install(FILES python/pytest_rxb540.py DESTINATION ${RXB540_PYTHON_DIR} COMPONENT python)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/python-dist-info/METADATA packaging/python/entry_points.txt
                packaging/python/top_level.txt
          DESTINATION ${RXB540_PYTHON_DIR}/rxb540-${PROJECT_VERSION}.dist-info COMPONENT python)
  if(RXB540_DEBIAN_PACKAGE)
    install(FILES ${RXB540_CHANGELOG} packaging/debian/copyright
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-rxb540 COMPONENT python)
  endif()
endif()

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-rxb540)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, librxb540-0 (>= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/python3-rxb540/postinst
                                              ${PROJECT_SOURCE_DIR}/packaging/debian/python3-rxb540/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "Python package for the RXB540 USB relay board\nThe package rxb540 lists the RXB540 relay boards attached to the host, sets the\nrelay state of one board and writes a new serial number into a board, through\nlibrxb540. It brings a pytest fixture for test rigs.")
