# What the packages hold, made by scripts/package.sh with CPack:
#   bin/modrik                        the host command
#   share/modrik/x86_64/modrik.exe    the 64-bit build
#   share/modrik/i686/modrik.exe      the 32-bit build
#   share/man/man1/modrik.1.gz
#   share/doc/modrik/README.md, doc/*.md  the documentation
#   share/doc/modrik/copyright        the licenses, in Debian's machine-readable form
#   share/doc/modrik/changelog.gz     CHANGELOG.md in Debian's changelog form
# The .deb installs it under /usr; the binary archive is the same tree,
# runnable where it is unpacked (bin/modrik finds ../share/modrik).
install(TARGETS modrik_host RUNTIME DESTINATION bin)
install(FILES ${MODRIK_WIN_DIR}/modrik.exe DESTINATION share/modrik/x86_64)
install(FILES ${MODRIK_WIN32_DIR}/modrik.exe DESTINATION share/modrik/i686)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/modrik.1.gz
  COMMAND gzip -9 -n -c ${CMAKE_SOURCE_DIR}/doc/modrik.1 > ${CMAKE_BINARY_DIR}/modrik.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/doc/modrik.1)
add_custom_target(manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/modrik.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/modrik.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/doc/copyright DESTINATION share/doc/modrik)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/doc/ DESTINATION share/doc/modrik/doc FILES_MATCHING PATTERN "*.md")

# The package's maintainer, in its control file and its changelog. The
# project has no mail domain of its own: the address is in a domain kept for
# examples (RFC 2606), which mails no one. A packager names theirs with
# -DMODRIK_MAINTAINER="NAME <ADDRESS>".
set(MODRIK_MAINTAINER "modrik developers <modrik-devel@lists.example.org>" CACHE STRING
    "The package's maintainer: NAME <ADDRESS>")
# A native package's changelog is changelog.gz, in Debian's form, made from
# CHANGELOG.md (whose newest section must be this version).
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND awk -v version=${PROJECT_VERSION} -v maintainer=${MODRIK_MAINTAINER} -v output=${CMAKE_BINARY_DIR}/changelog
          -f ${CMAKE_SOURCE_DIR}/cmake/debian-changelog.awk ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  COMMAND gzip -9 -n -f ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/cmake/debian-changelog.awk
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/modrik)

set(CPACK_PACKAGE_NAME modrik)
set(CPACK_PACKAGE_VENDOR modrik)
set(CPACK_PACKAGE_CONTACT "${MODRIK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Windows stand-in for the media player that opens media in the native player")
# One line of the control file each (at most 80 columns with its lead blank).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "modrik.exe stands in for the media player's executable (vlc.exe) in Wine"
  "prefixes. A Windows program that starts the player, by its path, by its name"
  "or by opening a media file, starts the native Linux player instead, with the"
  "files' Windows paths translated into host paths. It waits for the player,"
  "returns its exit code and passes a stream on standard input, also from inside"
  "the sandboxes that game front-ends run Wine in."
  ""
  "The command modrik installs it into 64-bit and 32-bit prefixes, those of"
  "Lutris, Bottles, Steam (Proton) and Heroic included, and puts back what it"
  "replaced on uninstall.")
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE MODRIK_DEB_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT MODRIK_DEB_ARCH)
  set(MODRIK_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()

# Debian package: modrik_VERSION_ARCH.deb, no maintainer scripts.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${MODRIK_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS wine)

# Binary archive: modrik-VERSION-linux-ARCH.tar.gz (named in package-generator.cmake).
set(CPACK_ARCHIVE_FILE_NAME modrik-${PROJECT_VERSION}-linux-${MODRIK_DEB_ARCH})

# Source archive: modrik-VERSION.tar.gz, without build products.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME modrik-${PROJECT_VERSION})
# The patterns are anchored at the source folder, which may itself lie in a
# build folder (scripts/package.sh packages a clone in build-package/src).
string(REGEX REPLACE "([][+.*()^$?|\\])" "\\\\\\\\\\1" MODRIK_SOURCE_RE "${CMAKE_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES "^${MODRIK_SOURCE_RE}/\\\\.git(/|$)" "^${MODRIK_SOURCE_RE}/build(-[^/]*)?/"
    "^${MODRIK_SOURCE_RE}/dist/")

# The .deb installs under /usr; the archive keeps the tree at its top.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package-generator.cmake)
include(CPack)
