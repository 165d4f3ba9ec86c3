# The Debian package of the panel host: the program, the plugin, layouts and
# web files (host/CMakeLists.txt installs those), the systemd unit, the
# configuration file and the maintainer scripts that make the service's
# account. `cpack --config build/default/CPackConfig.cmake` (or
# scripts/package.sh) builds it.
include(GNUInstallDirs)

set(TOVI_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
install(FILES ${TOVI_PACKAGING_DIR}/panelhost.service DESTINATION lib/systemd/system)
# Absolute: /etc under the /usr prefix the package installs into.
install(FILES ${TOVI_PACKAGING_DIR}/panelhost.toml DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/panelhost)
# Debian's documentation folder holds the package's copyright and its
# changelog, compressed the reproducible way (no name, no time).
set(TOVI_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc ${TOVI_PACKAGING_DIR}/changelog
                OUTPUT_FILE ${TOVI_CHANGELOG} COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TOVI_PACKAGING_DIR}/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/panelhost.md
              ${PROJECT_SOURCE_DIR}/docs/http-api.md ${TOVI_PACKAGING_DIR}/copyright
              ${TOVI_CHANGELOG}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/panelhost)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME panelhost)
set(CPACK_PACKAGE_VENDOR "panelhost developers")
set(TOVI_PACKAGE_MAINTAINER "panelhost developers <panelhost@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${TOVI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "studio control panels and under-monitor displays served over HTTP")
set(CPACK_PACKAGE_DESCRIPTION
    "panelhost runs a panel plugin against simulated studio devices with persistent\n\
name databases, serves its panels, devices and log to browsers over HTTP, and\n\
drives under-monitor displays. It runs as the systemd service panelhost.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build keeps its debugging information; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program and the plugin link, as dpkg-shlibdeps finds
# them; adduser for the account the maintainer script makes (the systemd
# helpers it calls are essential).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TOVI_PACKAGING_DIR}/postinst ${TOVI_PACKAGING_DIR}/prerm ${TOVI_PACKAGING_DIR}/postrm
    ${TOVI_PACKAGING_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Only what a studio machine needs: the program's own parts.
set(CPACK_COMPONENTS_ALL "")
include(CPack)
