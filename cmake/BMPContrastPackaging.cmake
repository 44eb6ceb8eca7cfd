# Debian packages through CPack, one per install component:
#   libbmpcontrast1     the shared library (runtime)
#   libbmpcontrast-dev  headers, the unversioned link, CMake and pkg-config files
#   bmpcontrast         the command-line tool, its manual page and completions
# Build with: cmake -DCMAKE_INSTALL_PREFIX=/usr ... && cpack -G DEB
# Each package carries the licence as its copyright file and the changelog,
# compressed, as Debian policy asks.
set(_pkg_doc ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_pkg_doc})
find_program(BMPCONTRAST_GZIP gzip)
if(BMPCONTRAST_GZIP)
  add_custom_command(OUTPUT ${_pkg_doc}/changelog.gz
    COMMAND ${BMPCONTRAST_GZIP} -9n -c ${PROJECT_SOURCE_DIR}/packaging/changelog
            > ${_pkg_doc}/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(bmpcontrast_changelog ALL DEPENDS ${_pkg_doc}/changelog.gz)
endif()

set(_deb_names runtime libbmpcontrast1 dev libbmpcontrast-dev)
if(BMPCONTRAST_BUILD_TOOLS)
  list(APPEND _deb_names tool bmpcontrast)
endif()
set(_components)
while(_deb_names)
  list(POP_FRONT _deb_names _component _package)
  list(APPEND _components ${_component})
  string(TOUPPER ${_component} _upper)
  set(CPACK_DEBIAN_${_upper}_PACKAGE_NAME ${_package})
  set(CPACK_DEBIAN_${_upper}_FILE_NAME DEB-DEFAULT)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component}
          EXCLUDE_FROM_ALL)
  if(BMPCONTRAST_GZIP)
    install(FILES ${_pkg_doc}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component}
            EXCLUDE_FROM_ALL)
  endif()
endwhile()
# A plain `cmake --install` puts the licence in one place.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/bmpcontrast
        COMPONENT tool)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bmpcontrast)
set(CPACK_PACKAGE_VENDOR "The bmpcontrast developers")
set(CPACK_PACKAGE_CONTACT "bmpcontrast developers <bmpcontrast@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "contrast adjustment for uncompressed BMP files")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL ${_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool links the library of the package next to it, not one installed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src/contrast)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Debian runs ldconfig through a trigger; CPack's own postinst call stays
# as well (a lintian warning, not an error).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libbmpcontrast1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libbmpcontrast1 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "contrast adjustment for BMP files - shared library\n The library's one call adjusts the contrast of an uncompressed 8, 24 or\n 32-bit BMP file, with exact output bytes and fixed result codes.")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "contrast adjustment for BMP files - development files\n Headers, CMake package and pkg-config file for building programs\n against libbmpcontrast.")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "contrast adjustment for BMP files - command-line tool\n Converts one file, or whole folders in parallel, naming every file\n in its messages.")
include(CPack)
