# The Debian package: `cmake --build <dir> --target package` (or `make package`) writes
# arcavo_<version>_<arch>.deb from the install rules. The library dependencies come from
# dpkg-shlibdeps; the MIME, desktop and icon caches are refreshed by the triggers of the packages
# that own them, so the package has no maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME arcavo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ARCAVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backup program: folders and files into zip archives or onto CD/DVD")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The help and the feedback mails are handed to the desktop through xdg-open and xdg-email.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# The long description: CPack puts the summary above it as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Arcavo is a desktop backup program. Tick the folders and files to keep,
narrow them with wildcard patterns, and write them into one zip archive
(Zip64, traditional encryption, self-extracting, spanned over removable
media or split into parts) or burn them to a CD or DVD. The same window
restores, searches, tests, repairs and converts archives; saved jobs run
unattended from the command line or the file manager.
.
The command-line tools arczip and arcdisc drive the zip engine and the
disc layer without a window.")
include(CPack)
