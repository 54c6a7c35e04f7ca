# What `cmake --install` puts in place, and the .deb that CPack makes of it.
include(GNUInstallDirs)

set(ORVANE_APP_ID org.orvane.Orvane)

# Debian wants the manual pages and the changelog compressed, with no time stamp inside.
find_program(ORVANE_GZIP gzip REQUIRED)
set(orvane_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/orvane)
set(orvane_gzipped "")
function(orvane_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ORVANE_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
  set(orvane_gzipped ${orvane_gzipped} ${output} PARENT_SCOPE)
endfunction()

set(orvane_docs_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${orvane_docs_out}/man)
orvane_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${orvane_docs_out}/changelog.gz)
install(FILES ${orvane_docs_out}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${orvane_doc_dir})

foreach(program IN ITEMS orvane orvane-gpssim orvane-nmea)
  # orvane-nmea comes with the NMEA tool's folder; a tree without it installs the other two.
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    orvane_gzip(${PROJECT_SOURCE_DIR}/packaging/man/${program}.1 ${orvane_docs_out}/man/${program}.1.gz)
    install(FILES ${orvane_docs_out}/man/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
add_custom_target(orvane_docs ALL DEPENDS ${orvane_gzipped})
if(TARGET orvane)
  # So that building the program alone (scripts/run.sh) leaves everything the install needs.
  add_dependencies(orvane orvane_docs)
endif()

if(TARGET orvane)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/${ORVANE_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/${ORVANE_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size IN ITEMS 16 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/images/app_icon_128_${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${ORVANE_APP_ID}.png)
  endforeach()
endif()

if(TARGET orvane_udev_rules)
  # udev reads lib/udev/rules.d under the prefix it was built for (/usr), not the multiarch libdir.
  install(FILES ${ORVANE_UDEV_RULES} DESTINATION lib/udev/rules.d)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvane maintainers <orvane@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Live view, logs and maps of an NMEA GPS receiver")
set(CPACK_PACKAGE_DESCRIPTION "\
Orvane reads the NMEA 0183 sentences of a GPS receiver on a USB or serial
port, or from gpsd, TCP or UDP, and shows them live in one window: time,
position, fix, a satellite bar chart and sky plot, the raw sentences and a
map with the track so far. It records NMEA logs, KML tracks and GPX tracks,
and sends the receiver's hot, warm and cold start commands.
.
The package also holds orvane-nmea, which decodes a log on the command line
into JSON lines, KML or GPX, and orvane-gpssim, a simulated receiver on a
pseudo-terminal.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/orvane/orvane)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries' packages come from dpkg-shlibdeps; what is loaded without being linked
# is named here: Qt's platform plugins and the font the panel is drawn in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
# CPack strips the programs itself and puts their debug symbols into orvane-dbgsym (a .ddeb).
# Not with CPACK_STRIP_FILES as well: that strips first and leaves no symbols to keep.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
include(CPack)
