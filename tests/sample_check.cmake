# The README's first command in miniature: the sample maker writes a bitmap
# the tool accepts, and at level 100 the tool gives it back byte for byte
# (which it does only when headers, stride and size agree).
# Run as: cmake -DEMULATOR=... -DMAKE_SAMPLE=... -DTOOL=... -DWORK_DIR=... -P sample_check.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(sample ${WORK_DIR}/sample.bmp)
execute_process(COMMAND ${EMULATOR} ${MAKE_SAMPLE} ${sample} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_sample failed: ${status}")
endif()
file(SIZE ${sample} size)
# 54 bytes of headers, then 128 rows of 256 three-byte pixels.
if(NOT size EQUAL 98358)
  message(FATAL_ERROR "sample.bmp has ${size} bytes, expected 98358")
endif()
foreach(level 100 150)
  execute_process(COMMAND ${EMULATOR} ${TOOL} ${sample} ${WORK_DIR}/out-${level}.bmp ${level}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "Success: Contrast adjustment applied.\n"
     OR NOT err STREQUAL "")
    message(FATAL_ERROR "level ${level}: exit ${status}\nstdout: ${out}\nstderr: ${err}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${sample} ${WORK_DIR}/out-100.bmp
                RESULT_VARIABLE same)
if(NOT same EQUAL 0)
  message(FATAL_ERROR "level 100 changed the sample")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${sample} ${WORK_DIR}/out-150.bmp
                RESULT_VARIABLE same)
if(same EQUAL 0)
  message(FATAL_ERROR "level 150 left the sample as it was")
endif()
