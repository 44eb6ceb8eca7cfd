# Installs the build into a scratch prefix, then builds and runs two
# programs against it: one through find_package, one through pkg-config.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCMAKE_GENERATOR=... -DC_COMPILER=...
#         -DCXX_COMPILER=... -DPKG_CONFIG=... -P run_consumers.cmake
set(here ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/cmake_build ${WORK_DIR}/pkgconfig_build ${WORK_DIR}/data)

function(run)
  execute_process(COMMAND ${ARGV} COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# find_package, with nothing but the prefix to go on.
run(${CMAKE_COMMAND} -S ${here}/cmake_consumer -B ${WORK_DIR}/cmake_build -G ${CMAKE_GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake_build)
run(${WORK_DIR}/cmake_build/consumer ${WORK_DIR}/data)

# pkg-config, through a plain Makefile.
file(GLOB pcdir LIST_DIRECTORIES true ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
run(make -s -C ${here}/pkgconfig_consumer O=${WORK_DIR}/pkgconfig_build CC=${C_COMPILER}
    PKG_CONFIG=${PKG_CONFIG})
run(${WORK_DIR}/pkgconfig_build/consumer ${WORK_DIR}/data)

# The installed tool finds the installed library by itself.
if(EXISTS ${prefix}/bin/bmpcontrast)
  run(${prefix}/bin/bmpcontrast --version)
endif()
