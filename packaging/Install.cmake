# What `cmake --install` and the Debian package put on the system.
include(GNUInstallDirs)
set(TALVIREN_ID org.talviren.Talviren)

install(TARGETS talviren talviren-cli talviren-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/${TALVIREN_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/${TALVIREN_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ui/icons/talviren.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TALVIREN_ID}.svg)
foreach(size 16 32 48 64 128 256)
  install(FILES packaging/icons/${size}x${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TALVIREN_ID}.png)
endforeach()
install(FILES packaging/talviren-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME talviren-cli)
install(FILES packaging/talviren-watch@.service DESTINATION lib/systemd/system)
install(FILES packaging/talviren.logrotate DESTINATION /etc/logrotate.d RENAME talviren)

# Manual pages and the changelog, gzip-compressed without a time stamp.
set(TALVIREN_GZIPPED ${CMAKE_CURRENT_BINARY_DIR}/gzipped)
set(gzipped_files)
foreach(page talviren talviren-cli talviren-sim)
  configure_file(docs/man/${page}.1 ${TALVIREN_GZIPPED}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${TALVIREN_GZIPPED}/${page}.1.gz
                     COMMAND gzip -9nkf ${TALVIREN_GZIPPED}/${page}.1
                     DEPENDS ${TALVIREN_GZIPPED}/${page}.1 VERBATIM)
  list(APPEND gzipped_files ${TALVIREN_GZIPPED}/${page}.1.gz)
  install(FILES ${TALVIREN_GZIPPED}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(packaging/changelog ${TALVIREN_GZIPPED}/changelog COPYONLY)
add_custom_command(OUTPUT ${TALVIREN_GZIPPED}/changelog.gz
                   COMMAND gzip -9nkf ${TALVIREN_GZIPPED}/changelog
                   DEPENDS ${TALVIREN_GZIPPED}/changelog VERBATIM)
list(APPEND gzipped_files ${TALVIREN_GZIPPED}/changelog.gz)
add_custom_target(gzipped ALL DEPENDS ${gzipped_files})
install(FILES ${TALVIREN_GZIPPED}/changelog.gz packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/talviren)
install(FILES packaging/talviren-watch.default DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/talviren/examples
        RENAME talviren-watch)

# The Debian package: ./scripts/package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talviren)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "companion for a handheld clamp meter on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "TALVIREN finds a clamp meter that measures AC current with AC voltage, DC
voltage or resistance on serial ports 1 to 16, shows its live reading, a trend
chart with statistics, logs every reading to a CSV file, downloads the readings
stored in the meter and saves them as text, CSV or workbooks.

talviren-cli does the same without a window, publishes the readings to an
MQTT broker with Home Assistant discovery, and serves a live web page and
Prometheus metrics; talviren-watch@.service runs it as a service.
talviren-sim simulates a meter on a pseudo-terminal.")
set(CPACK_PACKAGE_CONTACT "The talviren developers <developers@talviren.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The talviren developers <developers@talviren.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://talviren.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The web page's chart is served from the system's copy; the libraries are worked out.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libjs-dygraphs")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto-clients")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# What is installed under /etc is the administrator's to change: kept across upgrades.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles "/etc/logrotate.d/talviren\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
