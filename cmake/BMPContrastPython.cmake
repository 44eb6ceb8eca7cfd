# The Python package with its compiled engine (bmpcontrast._engine), built
# here from the same objects as the library when asked for; pip builds the
# same module through python/setup.py. BMPCONTRAST_INSTALL_PYTHON also
# installs the package under the prefix, where the interpreter the module is
# built for (Python3_EXECUTABLE) looks for packages.
option(BMPCONTRAST_BUILD_PYTHON "Build the Python extension bmpcontrast._engine" OFF)
option(BMPCONTRAST_INSTALL_PYTHON "Build and install the bmpcontrast Python package" OFF)
set(BMPCONTRAST_PYTHON_DIR "" CACHE STRING
    "Where the Python package is installed, relative to the prefix (empty: where the interpreter looks under it)")

if(BMPCONTRAST_BUILD_PYTHON OR BMPCONTRAST_INSTALL_PYTHON)
  if(IS_ABSOLUTE "${BMPCONTRAST_PYTHON_DIR}")
    message(FATAL_ERROR "BMPCONTRAST_PYTHON_DIR must be relative")
  endif()
  # Debian's interpreter unless told otherwise, as for the tests: a python3
  # earlier on PATH (pyenv, conda) sees none of Debian's packages.
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3)
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter Development.Module)
  # Derived anew at each configure, so that a changed prefix or interpreter
  # is followed (Debian's /usr: lib/python3/dist-packages).
  set(_bmpcontrast_py_dir "${BMPCONTRAST_PYTHON_DIR}")
  if(_bmpcontrast_py_dir STREQUAL "")
    execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/python_install_dir.py
                            ${CMAKE_INSTALL_PREFIX}
                    OUTPUT_VARIABLE _bmpcontrast_py_found OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" _bmpcontrast_py_found "${_bmpcontrast_py_found}")
    list(GET _bmpcontrast_py_found 0 _bmpcontrast_py_dir)
    list(GET _bmpcontrast_py_found 1 _bmpcontrast_py_where)
    if(BMPCONTRAST_INSTALL_PYTHON AND _bmpcontrast_py_where STREQUAL "not-on-path")
      message(STATUS "bmpcontrast's Python package goes to ${CMAKE_INSTALL_PREFIX}/"
                     "${_bmpcontrast_py_dir}, which ${Python3_EXECUTABLE} does not search: "
                     "put it on PYTHONPATH")
    endif()
  endif()
  find_package(pybind11 CONFIG)
  if(NOT pybind11_FOUND)
    message(FATAL_ERROR "The Python extension needs pybind11 (Debian: apt-get install pybind11-dev)")
  endif()
  pybind11_add_module(bmpcontrast_python MODULE ${PROJECT_SOURCE_DIR}/python/ext/engine_module.cpp)
  target_link_libraries(bmpcontrast_python PRIVATE bmpcontrast_files bmpcontrast_objects)
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
          DESTINATION ${_bmpcontrast_py_dir}
          PATTERN "__pycache__" EXCLUDE
          PATTERN "*.so" EXCLUDE)
  install(TARGETS bmpcontrast_python LIBRARY DESTINATION ${_bmpcontrast_py_dir}/bmpcontrast)
endif()
