# Packages made by cpack from what "cmake --install" installs: a Debian package on
# Linux (cpack -G DEB), a zip of the program, README, licence and imutap-inspect
# from the mingw build (cpack -G ZIP).
set(CPACK_PACKAGE_NAME imutap)
set(CPACK_PACKAGE_VENDOR "the imutap developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(IMUTAP_MAINTAINER "the imutap developers <imutap@example.org>"
  CACHE STRING "Maintainer named in the Debian package")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # imutap_<version>_<arch>.deb
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)   # dependencies from the binaries, by dpkg-shlibdeps
  # imutap-inspect is a Python 3 script; numpy and matplotlib are what it reads and draws
  # with, and scipy gives its noise command the spectrum (skipped with a note without it).
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-numpy, python3-matplotlib")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-scipy")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${IMUTAP_MAINTAINER}")
  # The extended description below the summary line.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "imutap drives an attitude and heading reference unit (three rate sensors, three\n"
    "accelerometers, three magnetometers, a temperature sensor) into continuous\n"
    "output, checks each of its binary packets (length, header, checksum) and writes\n"
    "the converted values to a text log, one line per packet, while showing them\n"
    "live on the console. It recovers by itself from a silent unit and an\n"
    "unplugged USB adapter.\n"
    "\n"
    "imutap-emu plays the unit on a pseudo-terminal, for trying the logger without\n"
    "hardware.\n"
    "\n"
    "imutap-inspect reads a log into named columns, proves it complete by the\n"
    "unit's own sample counter, writes it as CSV and plots it, and computes the\n"
    "noise figures of a unit lying still (Allan deviation, noise densities, bias\n"
    "instability).")
  string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
  # The maintainer scripts: imutap-inspect's package byte-compiled on install,
  # its compiled files removed on remove.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/prerm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # What Debian wants in the package beyond the installed files: gzipped manual
  # pages and documents, the licence as the copyright file, a changelog, the
  # programs without the compiler's notes.
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-staging.cmake)
  if(CMAKE_STRIP)
    set(CPACK_IMUTAP_STRIP "${CMAKE_STRIP}")
  else()
    set(CPACK_IMUTAP_STRIP strip)
  endif()
  set(IMUTAP_DEB_CHANGELOG_DATE "Tue, 08 Dec 2026 12:00:00 +0000")
  set(CPACK_IMUTAP_VERSION ${PROJECT_VERSION})
  set(CPACK_IMUTAP_MAINTAINER "${IMUTAP_MAINTAINER}")
  set(CPACK_IMUTAP_CHANGELOG_DATE "${IMUTAP_DEB_CHANGELOG_DATE}")
endif()

include(CPack)
