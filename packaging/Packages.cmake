# The packages cpack makes from the installation: velmor-snd_VERSION_amd64.deb on Linux
# (cpack -G DEB) and velmor-snd-VERSION-win64.exe in the Windows build (cpack -G NSIS, Debian's
# makensis). The version is the project's, as every program's --version shows it.

set(CPACK_PACKAGE_NAME velmor-snd)
set(CPACK_PACKAGE_VENDOR "velmor_snd")
set(CPACK_PACKAGE_CONTACT "velmor_snd maintainers <maintainers@users.noreply.c-seed-1294ea9b.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "key-request gateway between hotel front desks and door-lock systems")
# Lines of at most 80 characters, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "The gateway takes XML key requests from the front-desk program on TCP port"
    "3000, passes each to the lock system's interface server over one long-lived"
    "link and answers with the result. velmor_snd is the operator program with a"
    "window; velmor_sndd runs without one, as a service. locksim and keyreq stand"
    "in for the lock system and the front desk while commissioning.")
set(CPACK_STRIP_FILES ON)
# The settings reach cpack as written here (the installer's commands hold quotes, backslashes and
# dollars).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_COMPONENTS_ALL programs)
# The files are the same whichever is chosen: never one package per component.
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

if(WIN32)
    set(CPACK_GENERATOR NSIS)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
    include(${CMAKE_CURRENT_LIST_DIR}/windows/Installer.cmake)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # /etc/velmor_snd.conf and the logrotate rule lie outside the prefix: installed with DESTDIR,
    # kept as the administrator changed them (conffiles).
    set(CPACK_SET_DESTDIR ON)
    set(CPACK_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles
        ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
        ${CMAKE_CURRENT_LIST_DIR}/debian/prerm
        ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
cpack_add_component(programs
    DISPLAY_NAME "velmor_snd"
    DESCRIPTION "The operator program, the gateway without a window and the commissioning tools"
    REQUIRED)
