# Installs the service unit, the settings file both programs read and the rotation rule of the
# files the service writes, at install time: the unit names
# the program and that file by their installed paths, which only the install step knows
# (cmake --install --prefix, cpack). Needs VELMOR_SERVICE_BINARY (a scratch folder) and
# VELMOR_SERVICE_BINDIR (relative to the prefix); the unit's sources are beside this script.

# A /usr installation keeps its configuration in /etc, as GNUInstallDirs has it.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(sysconfdir /etc)
else()
    set(sysconfdir ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(VELMOR_SNDD_PROGRAM ${CMAKE_INSTALL_PREFIX}/${VELMOR_SERVICE_BINDIR}/velmor_sndd)
set(VELMOR_SND_SETTINGS ${sysconfdir}/velmor_snd.conf)
configure_file(${CMAKE_CURRENT_LIST_DIR}/velmor_sndd.service.in
    ${VELMOR_SERVICE_BINARY}/velmor_sndd.service @ONLY)

# file(INSTALL) puts DESTDIR in front and records the files in the install manifest.
file(INSTALL ${VELMOR_SERVICE_BINARY}/velmor_sndd.service
    DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
file(INSTALL ${CMAKE_CURRENT_LIST_DIR}/../settings/velmor_snd.conf DESTINATION ${sysconfdir})
file(INSTALL ${CMAKE_CURRENT_LIST_DIR}/../logrotate/velmor_sndd
    DESTINATION ${sysconfdir}/logrotate.d)
