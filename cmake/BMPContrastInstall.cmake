# Installs the library, its headers, a CMake package and a pkg-config file.
# The tool installs itself from tools/.
include(CMakePackageConfigHelpers)

set(BMPCONTRAST_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/BMPContrast)

# Only the shared library is exported: the object library it is built from
# is an internal detail and stays out of the package.
# Components: "runtime" (the versioned library), "dev" (everything to build
# against it), "tool" (tools/); the Debian packages follow them. On Windows
# the DLL goes to bin/ and its import library to lib/.
install(TARGETS bmpcontrast EXPORT BMPContrastTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/bmpcontrast.h
              ${PROJECT_BINARY_DIR}/include/bmpcontrast_version.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT BMPContrastTargets
  NAMESPACE BMPContrast::
  FILE BMPContrastTargets.cmake
  DESTINATION ${BMPCONTRAST_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/BMPContrastConfig.cmake.in
  ${PROJECT_BINARY_DIR}/BMPContrastConfig.cmake
  INSTALL_DESTINATION ${BMPCONTRAST_CMAKE_DIR})
# A new major version may change the result codes or lines; minors only add.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/BMPContrastConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/BMPContrastConfig.cmake
              ${PROJECT_BINARY_DIR}/BMPContrastConfigVersion.cmake
        DESTINATION ${BMPCONTRAST_CMAKE_DIR} COMPONENT dev)

# The .pc file. Installed under /usr (the Debian packages) it names plain
# paths, which pkg-config recognises as the system's own and leaves out of
# --cflags and --libs. Anywhere else it finds the prefix from its own
# place, so that `cmake --install --prefix P` gives a working file for any P.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(BMPCONTRAST_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(BMPCONTRAST_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  set(BMPCONTRAST_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
else()
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(BMPCONTRAST_PC_PREFIX /usr)
  else()
    file(RELATIVE_PATH _bmpcontrast_up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
    string(REGEX REPLACE "/$" "" _bmpcontrast_up "${_bmpcontrast_up}")
    set(BMPCONTRAST_PC_PREFIX "\${pcfiledir}/${_bmpcontrast_up}")
  endif()
  set(BMPCONTRAST_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  set(BMPCONTRAST_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
# A program linked against a private prefix finds the library at run time
# through a run path: `pkg-config --variable=rpath bmpcontrast` gives the
# linker's flag for it, empty where the loader looks anyway.
set(BMPCONTRAST_PC_RPATH "-Wl,-rpath,\${libdir}")
if(CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES
   OR CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(BMPCONTRAST_PC_RPATH "")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/bmpcontrast.pc.in ${PROJECT_BINARY_DIR}/bmpcontrast.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/bmpcontrast.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)
