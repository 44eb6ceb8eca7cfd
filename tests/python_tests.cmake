# The Python package's tests, run as a user meets the package: pip installs
# python/ into a scratch virtual environment that sees the system's pytest,
# Dask and Pillow, and pytest runs python/tests against that install, with
# this build's tool as the reference. Nothing here knows how the package is built.
# Run as: cmake -DPYTHON=... -DSOURCE_DIR=... -DBUILD_DIR=... -DVENV=...
#               -P python_tests.cmake
execute_process(COMMAND ${PYTHON} -c "import ensurepip, venv, pytest" RESULT_VARIABLE status
                OUTPUT_QUIET ERROR_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PYTHON} cannot run the Python tests: they need venv, pip, setuptools, "
                      "pytest and Dask (Debian: the python section of the package list, "
                      "sudo apt-get install --no-install-recommends "
                      "$(tools/packages.sh python)), or configure with "
                      "-DBMPCONTRAST_PYTHON=/path/to/python3.")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${status}): ${command}")
  endif()
endfunction()

run(${PYTHON} -m venv --clear --system-site-packages ${VENV})
# --no-index and no build isolation: offline, with the system's setuptools.
run(${VENV}/bin/python -m pip install -q --disable-pip-version-check --no-index
    --no-build-isolation ${SOURCE_DIR}/python)

set(ENV{BMPCONTRAST_BUILD_DIR} ${BUILD_DIR})
set(ENV{PYTHONDONTWRITEBYTECODE} 1)
# From the scratch folder, so that only the installed package can be imported.
execute_process(COMMAND ${VENV}/bin/python -m pytest -p no:cacheprovider -q
                        -W ignore::DeprecationWarning ${SOURCE_DIR}/python/tests
                WORKING_DIRECTORY ${VENV} RESULT_VARIABLE status)
# pytest's 5 (no tests collected) fails as well.
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pytest exited with ${status}")
endif()
