# What `cmake --install` puts in place, and the .deb that CPack makes of it.
include(GNUInstallDirs)

set(ORVANE_APP_ID org.orvane.Orvane)

foreach(program IN ITEMS orvane orvane-gpssim orvane-nmea)
  # orvane-nmea comes with the NMEA tool's folder; a tree without it installs the other two.
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

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
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The shared libraries' packages come from dpkg-shlibdeps; what is loaded without being linked
# is named here: Qt's platform plugins and the font the panel is drawn in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
include(CPack)
