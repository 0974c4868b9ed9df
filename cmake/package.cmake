# The Debian package (cpack -G DEB in the build folder, or scripts/package): what is installed,
# under /usr, with the dependencies dpkg-shlibdeps finds in the binaries and the font they draw
# with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaly)
# All four parts: CPack would otherwise keep only major.minor.patch.
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Tessaly authors")
set(CPACK_PACKAGE_CONTACT "The Tessaly authors <tessaly@kestrelwood.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "WEFAX picture renamer")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# Name, version and architecture only: tessaly_<version>_<arch>.deb.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The font of the contact sheets is read from its file when a sheet is drawn, so no library
# names it; the libraries dpkg-shlibdeps finds are added after it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# CPack puts the summary above this as the synopsis and indents each line by one blank.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tessaly decodes the binary header that WEFAX frames from geostationary
weather satellites (Meteosat, GOES, GMS) carry in their top rows, proposes a
standard file name from it, cuts the picture out of the frame, stretches its
contrast, shrinks it to at most 800 pixels across and saves it as an 8-bit
greyscale PNG file. It has a window (tessaly) that takes dropped files and a
batch tool (tessaly-cli) for whole archives.")

include(CPack)
