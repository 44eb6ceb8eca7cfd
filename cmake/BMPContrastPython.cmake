# The Python package with its compiled engine (bmpcontrast._engine), built
# here from the same objects as the library when asked for; pip builds the
# same module through python/setup.py. BMPCONTRAST_INSTALL_PYTHON also
# installs the package under the prefix.
option(BMPCONTRAST_BUILD_PYTHON "Build the Python extension bmpcontrast._engine" OFF)
option(BMPCONTRAST_INSTALL_PYTHON "Build and install the bmpcontrast Python package" OFF)
set(BMPCONTRAST_PYTHON_DIR "${CMAKE_INSTALL_LIBDIR}/python3/site-packages"
    CACHE STRING "Where the Python package is installed, relative to the prefix")

if(BMPCONTRAST_BUILD_PYTHON OR BMPCONTRAST_INSTALL_PYTHON)
  if(IS_ABSOLUTE "${BMPCONTRAST_PYTHON_DIR}")
    message(FATAL_ERROR "BMPCONTRAST_PYTHON_DIR must be relative")
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module)
  find_package(pybind11 CONFIG)
  if(NOT pybind11_FOUND)
    message(FATAL_ERROR "The Python extension needs pybind11 (Debian: apt-get install pybind11-dev)")
  endif()
  pybind11_add_module(bmpcontrast_python MODULE ${PROJECT_SOURCE_DIR}/python/ext/engine_module.cpp)
  target_link_libraries(bmpcontrast_python PRIVATE bmpcontrast_objects)
  # Beside a copy of the package's Python files, so that the build tree's
  # python/ folder can be put on PYTHONPATH as it is.
  set_target_properties(bmpcontrast_python PROPERTIES
    OUTPUT_NAME _engine
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/python/bmpcontrast)
  bmpcontrast_warnings(bmpcontrast_python)
  set(_bmpcontrast_py_map ${PROJECT_SOURCE_DIR}/python/ext/engine.map)
  target_link_options(bmpcontrast_python PRIVATE -Wl,--version-script=${_bmpcontrast_py_map})
  set_property(TARGET bmpcontrast_python APPEND PROPERTY LINK_DEPENDS ${_bmpcontrast_py_map})
  file(GLOB _bmpcontrast_py_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/python/bmpcontrast/*.py
       ${PROJECT_SOURCE_DIR}/python/bmpcontrast/py.typed)
  foreach(_file IN LISTS _bmpcontrast_py_files)
    get_filename_component(_name ${_file} NAME)
    configure_file(${_file} ${PROJECT_BINARY_DIR}/python/bmpcontrast/${_name} COPYONLY)
  endforeach()
endif()

if(BMPCONTRAST_INSTALL_PYTHON)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/bmpcontrast
          DESTINATION ${BMPCONTRAST_PYTHON_DIR}
          PATTERN "__pycache__" EXCLUDE
          PATTERN "*.so" EXCLUDE)
  install(TARGETS bmpcontrast_python LIBRARY DESTINATION ${BMPCONTRAST_PYTHON_DIR}/bmpcontrast)
endif()
