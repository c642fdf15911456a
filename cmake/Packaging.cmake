# SPDX-License-Identifier: MIT
# Debian package: `cpack -G DEB` in the build folder.
# Library dependencies come from dpkg-shlibdeps (dpkg-dev); the rest is
# listed here by hand.

set(MODEMTERM_MAINTAINER "modemterm developers <modemterm@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME modemterm)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MODEMTERM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial terminal for talking to a modem")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MODEMTERM_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The terminal asks for "Times New Roman"; Liberation Serif is its metric
# twin on Debian, so without it the layout's text sizes drift. Received
# control characters are shown as control pictures, which Symbola draws.
# Qt's own texts (file dialogs, standard buttons) come in Polish from Qt's
# translations; file transfers (--transfers) are done by lrzsz.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, fonts-symbola, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "lrzsz")
# The synopsis line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"modemterm is a small Qt desktop terminal with a Polish user interface for a
modem on a serial port. It opens the port at 9600 baud, 8 data bits, no
parity and 1 stop bit, greets the modem with AT, shows everything the modem
sends, sends what is typed line by line, and shows the CD, CTS, DSR, RTS and
DTR lines as red or green boxes; clicking DTR or RTS switches that line.
.
A simulated Hayes-style modem is built in (modemterm --port sim), and the
same modem runs on a pseudo-terminal as modemsim, for any serial program.")

# A native package carries its Debian changelog, compressed reproducibly.
configure_file(${PROJECT_SOURCE_DIR}/data/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
    COMMAND gzip -9nkf changelog
    DEPENDS ${PROJECT_BINARY_DIR}/changelog
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    VERBATIM)
add_custom_target(modemterm_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
