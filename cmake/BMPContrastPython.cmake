# Installs the Python package next to the library, when asked for, with a
# small _libpath.py that points the package at the installed library by a
# relative path (so the prefix can move).
option(BMPCONTRAST_INSTALL_PYTHON "Install the bmpcontrast Python package" OFF)
set(BMPCONTRAST_PYTHON_DIR "${CMAKE_INSTALL_LIBDIR}/python3/site-packages"
    CACHE STRING "Where the Python package is installed, relative to the prefix")

if(BMPCONTRAST_INSTALL_PYTHON)
  if(IS_ABSOLUTE "${BMPCONTRAST_PYTHON_DIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    message(FATAL_ERROR "BMPCONTRAST_PYTHON_DIR and CMAKE_INSTALL_LIBDIR must be relative")
  endif()
  file(RELATIVE_PATH _bmpcontrast_py_to_lib "/${BMPCONTRAST_PYTHON_DIR}/bmpcontrast"
       "/${CMAKE_INSTALL_LIBDIR}/libbmpcontrast.so.${PROJECT_VERSION_MAJOR}")
  file(WRITE ${PROJECT_BINARY_DIR}/python/_libpath.py
       "# Written by cmake --install: the library, relative to this package.\n"
       "LIBRARY = \"${_bmpcontrast_py_to_lib}\"\n")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/bmpcontrast
          DESTINATION ${BMPCONTRAST_PYTHON_DIR}
          PATTERN "__pycache__" EXCLUDE)
  install(FILES ${PROJECT_BINARY_DIR}/python/_libpath.py
          DESTINATION ${BMPCONTRAST_PYTHON_DIR}/bmpcontrast)
endif()
