# The Debian package: `cpack -G DEB` in the build folder makes verlume_VERSION_ARCH.deb from
# what `cmake --install` installs, with the dependencies dpkg-shlibdeps finds.

include(GNUInstallDirs)

# Debian wants its changelog and the copyright with the documentation, both compressed
# reproducibly where they are compressed (no name or time in the gzip header).
execute_process(COMMAND date -u -R -d "${VERLUME_RELEASE_DATE}"
  OUTPUT_VARIABLE VERLUME_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(verlume_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/verlume)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME verlume)
set(CPACK_PACKAGE_VENDOR "The Verlume developers")
set(CPACK_PACKAGE_CONTACT "The Verlume developers <developers@verlume.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fit an image onto any quadrilateral by dragging its corners")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://verlume.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Qt loads the readers of WebP, ICNS and other formats the desktop entry lists from this
# package's plugins, which dpkg-shlibdeps cannot see; its findings are added to this.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-image-formats-plugins)
# The synopsis is the summary; CPack indents this and marks the empty line.
set(CPACK_PACKAGE_DESCRIPTION "Verlume opens one image and shows a handle on each of its four corners. Drag
them, and on each release of the mouse button the image is drawn again so that
its rectangle lands on the quadrilateral of the corners: with the program's own
mapping or a true perspective, or straightening a photographed page upright.
The result is saved as PNG, JPEG, GIF, TIFF or BMP, keeping the photo's colour
profile, EXIF and XMP.

verlume-warp does the same from the command line.")
include(CPack)
