# The Debian package: `cpack -G DEB` after a Release build (see
# tools/package-check.sh). It installs the program into the system layout
# under /usr, where it keeps the user's collection in the user's data folder
# (src/store/places.h):
#   bin/bukurea                      the program
#   lib/bukurea/bukurea-jet          the reader of Access files
#   share/bukurea/index.htm          the help page
#   share/applications, metainfo, icons/hicolor, man/man1, man/ja/man1
#   share/doc/bukurea/copyright, changelog.Debian.gz
# These rules belong to the component "package", which a plain
# `cmake --install` leaves out: that one still lays out the portable
# application directory of the README.

set(BUKUREA_APP_ID io.github.bukurea.Bukurea)
set(BUKUREA_DEB_RELEASE 1)
set(BUKUREA_DEB_VERSION ${PROJECT_VERSION}-${BUKUREA_DEB_RELEASE})
set(pkg ${CMAKE_SOURCE_DIR}/packaging)
set(pkg_out ${CMAKE_BINARY_DIR}/packaging)

macro(bukurea_package_install)
  install(${ARGN} COMPONENT package EXCLUDE_FROM_ALL)
endmacro()

bukurea_package_install(TARGETS bukurea RUNTIME DESTINATION bin)
bukurea_package_install(TARGETS bukurea-jet RUNTIME DESTINATION lib/bukurea)
bukurea_package_install(TARGETS bukurea_windows LIBRARY DESTINATION lib/bukurea)
bukurea_package_install(FILES ${CMAKE_SOURCE_DIR}/assets/index.htm DESTINATION share/bukurea)
bukurea_package_install(FILES ${pkg}/${BUKUREA_APP_ID}.desktop DESTINATION share/applications)
bukurea_package_install(FILES ${pkg}/${BUKUREA_APP_ID}.metainfo.xml DESTINATION share/metainfo)
bukurea_package_install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/icons/hicolor DESTINATION share/icons)
bukurea_package_install(FILES ${pkg}/copyright DESTINATION share/doc/bukurea)

# Manual pages and the changelog go in compressed, as Debian wants them;
# gzip -n keeps the build reproducible (no name or time in the header).
configure_file(${pkg}/changelog.in ${pkg_out}/changelog.Debian @ONLY)
set(compressed)
foreach(pair "bukurea.1;man1/bukurea.1.gz" "bukurea.ja.1;ja/man1/bukurea.1.gz"
             "${pkg_out}/changelog.Debian;changelog.Debian.gz")
  list(GET pair 0 source)
  list(GET pair 1 target)
  if(NOT IS_ABSOLUTE ${source})
    set(source ${pkg}/${source})
  endif()
  get_filename_component(target_dir ${pkg_out}/${target} DIRECTORY)
  add_custom_command(OUTPUT ${pkg_out}/${target}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${target_dir}
    COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" gzip ${source} ${pkg_out}/${target}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${pkg_out}/${target})
endforeach()
add_custom_target(bukurea_package_files ALL DEPENDS ${compressed})
bukurea_package_install(FILES ${pkg_out}/man1/bukurea.1.gz DESTINATION share/man/man1)
bukurea_package_install(FILES ${pkg_out}/ja/man1/bukurea.1.gz DESTINATION share/man/ja/man1)
bukurea_package_install(FILES ${pkg_out}/changelog.Debian.gz DESTINATION share/doc/bukurea)

# The hardening Debian builds its packages with, for the Release build
# that goes into the package (its compile options are set for every target
# at the top, see CMakeLists.txt).
foreach(target bukurea bukurea-jet)
  target_link_options(${target} PRIVATE $<$<CONFIG:Release>:-Wl,-z,relro,-z,now>)
endforeach()

# CPack installs what was built and never builds everything first (the
# tests and benchmarks are not part of the package). `cmake --install`
# never builds either.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME bukurea)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Bukurea developers")
set(CPACK_PACKAGE_CONTACT "The Bukurea developers <bukurea@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of a private book collection (Japanese UI)")
set(CPACK_PACKAGE_DESCRIPTION "Bukurea keeps the catalogue of a private book collection, with a Japanese
user interface: register books, step through them, correct them, mark them
lent out or available, delete them, list and search the whole collection in
a grid, sort it, and export the list to an Excel 97-2003 workbook.
Collections of the older Access program are converted once. The collection
is kept in the user's data folder, with a dated backup before the first
change of each day.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# One package made of the component "package" alone.
set(CPACK_COMPONENTS_ALL package)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BUKUREA_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/bukurea/bukurea)
# The libraries come from dpkg-shlibdeps; Qt's Japanese texts and the
# Japanese fonts are looked up by name at run time, so they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
