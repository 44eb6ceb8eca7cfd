# Fails unless the shared library defines exactly one dynamic symbol,
# BMPContrast. Run as: cmake -DNM=... -DLIBRARY=... -P export_check.cmake
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "[0-9a-fA-F]+ [A-Za-z] " "" names "${listing}")
string(STRIP "${names}" names)
if(NOT names STREQUAL "BMPContrast")
  message(FATAL_ERROR "expected exactly BMPContrast, the library defines:\n${listing}")
endif()
string(REGEX MATCH "[0-9a-fA-F]+ ([A-Za-z]) BMPContrast" _ "${listing}")
if(NOT CMAKE_MATCH_1 STREQUAL "T")
  message(FATAL_ERROR "BMPContrast is not a text symbol:\n${listing}")
endif()
# C hosts load it without the C++ runtime: nothing of it is asked for.
# (libgcc_s may be: 32-bit ARM takes its 64-bit division from there.)
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY}
                OUTPUT_VARIABLE needed RESULT_VARIABLE status)
if(needed MATCHES "GLIBCXX|CXXABI")
  message(FATAL_ERROR "the library asks for the C++ runtime:\n${needed}")
endif()
