# bmpcontrast.exe run as a separate process, under Wine in cross builds.
add_executable(bmpcontrast_windows_tool_tests ${CMAKE_CURRENT_LIST_DIR}/windows_tool_test.cpp)
target_link_libraries(bmpcontrast_windows_tool_tests PRIVATE BMPContrast::bmpcontrast
                                                             bmpcontrast_testsupport GTest::gtest_main)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/cli/tool_path.h
     CONTENT "#define BMPCONTRAST_TOOL_PATH \"$<TARGET_FILE:bmpcontrast_cli>\"\n")
target_include_directories(bmpcontrast_windows_tool_tests PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/cli)
add_dependencies(bmpcontrast_windows_tool_tests bmpcontrast_cli)
bmpcontrast_warnings(bmpcontrast_windows_tool_tests)
gtest_discover_tests(bmpcontrast_windows_tool_tests DISCOVERY_TIMEOUT 120)
