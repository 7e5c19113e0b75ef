# The Debian package: `cpack -G DEB` in a build folder makes tulmo_<version>_amd64.deb.
#
# Layout. The programs and the sounds made at build time are installed in /usr/lib/tulmo and
# never written. The station folder, /var/lib/tulmo, holds links to them beside Dados/: started
# through those links, the programs find every file beside the executable as always, and write
# only there (group "tulmo", made at install time, whose operators may write it). /usr/bin/tulmo
# and the desktop entry start the console of the station folder.
include(GNUInstallDirs)
set(TULMO_LIB_DIR lib/tulmo)
install(TARGETS tulmo tulmo-recepcao tulmo-simulador RUNTIME DESTINATION ${TULMO_LIB_DIR})
install(FILES ${CMAKE_BINARY_DIR}/Sons/P1Sound.wav ${CMAKE_BINARY_DIR}/Sons/P8Sound.wav
  DESTINATION ${TULMO_LIB_DIR}/Sons)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/debian/tulmo DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/tulmo.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/tulmo.svg
  DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/tulmo-recepcao.service
  DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION share/doc/tulmo)
# The Debian changelog, compressed as the policy wants it (no name nor time in the header).
set(TULMO_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${TULMO_CHANGELOG}
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${TULMO_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
add_custom_target(tulmo_changelog ALL DEPENDS ${TULMO_CHANGELOG})
install(FILES ${TULMO_CHANGELOG} DESTINATION share/doc/tulmo)
# The station folder's links.
set(TULMO_STATION ${CMAKE_BINARY_DIR}/packaging/station)
file(MAKE_DIRECTORY ${TULMO_STATION})
foreach(link tulmo tulmo-recepcao tulmo-simulador Sons)
  file(CREATE_LINK /usr/${TULMO_LIB_DIR}/${link} ${TULMO_STATION}/${link} SYMBOLIC)
endforeach()
install(DIRECTORY ${TULMO_STATION}/ DESTINATION /var/lib/tulmo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tulmo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Equipe Tulmo <tulmo@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Equipe Tulmo <tulmo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console de central de monitoramento de alarmes")
set(CPACK_PACKAGE_DESCRIPTION "Recebe os eventos das receptoras seriais, dos módulos GPRS
e das receptoras IP, confirma e grava cada um num banco Firebird, mostra-os
ao operador com cores e sons e guarda os que pedem atendimento até o
operador registrar a intervenção. Inclui a recepção sem tela (serviço
tulmo-recepcao, desativado) e o simulador de equipamentos.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link (dpkg-shlibdeps), and what they load at run time: the
# database driver and the embedded engine, the sound pipeline and Qt's Portuguese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-ibase, firebird3.0-server-core, \
qt6-translations-l10n, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
