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
# Each package's description begins with its own summary line; a shared
# summary would be put in front of every one of them by CPack.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL ${_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool links the library of the package next to it, not one installed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# ldconfig runs through a trigger, as in packages debhelper builds. CPack
# writes postinst and postrm scripts calling it for any package with a
# library under /usr/lib; the script below takes them out again.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/BMPContrastDebTrigger.cmake)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libbmpcontrast1 (= ${PROJECT_VERSION})")
# The tool has the engine linked in; shlibdeps finds what else it needs.
# A summary line, then the long description (CPack indents its lines).
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION [=[library to adjust the contrast of uncompressed BMP files
libbmpcontrast exports one C function, BMPContrast, which reads an 8, 24
or 32-bit uncompressed bitmap, maps every pixel byte through a linear
curve centred on 128, evaluated in single precision, and writes the
result, keeping the input's headers, colour table and pad bytes. Its
output bytes, result codes and diagnostic lines are fixed, so host
programs can rely on them; calls may run on several threads at once.]=])
set(CPACK_DEBIAN_DEV_DESCRIPTION [=[development files for libbmpcontrast
The header bmpcontrast.h with its version header, the unversioned link
to the shared library, a CMake package (find_package(BMPContrast)) and a
pkg-config file (bmpcontrast.pc), for building C and C++ programs that
call BMPContrast.]=])
set(CPACK_DEBIAN_TOOL_DESCRIPTION [=[command-line tool to adjust the contrast of BMP files
bmpcontrast converts one bitmap, or many files and whole folder trees in
parallel, naming every file in its messages. Results are written through
scratch files, so a failed conversion leaves no partial file; existing
results are kept unless asked otherwise. It also works in place, or
between standard input and output, and comes with a manual page and
bash and zsh completion.]=])
include(CPack)
