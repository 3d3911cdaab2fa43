# The Windows installer (NSIS, Debian's makensis): the programs in the installation folder,
# velmor_snd in the Start menu with its icon, the uninstaller in Add/Remove Programs, and
# velmor_sndd's service offered, off by default. An install over an older one first runs that
# one's uninstaller, so nothing of the old version stays.

# A 64-bit installer for 64-bit programs: it writes the 64-bit registry and needs no 32-bit
# subsystem (Debian's makensis has the amd64 stubs).
set(CPACK_NSIS_EXECUTABLE ${CMAKE_CURRENT_LIST_DIR}/makensis-amd64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY velmor_snd)
# The same key for every version: an upgrade finds the installation before it.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY velmor_snd)
set(CPACK_NSIS_PACKAGE_NAME velmor_snd)
set(CPACK_NSIS_DISPLAY_NAME "velmor_snd ${PROJECT_VERSION}")
set(CPACK_NSIS_CONTACT "${CPACK_PACKAGE_CONTACT}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(icon ${PROJECT_SOURCE_DIR}/window/icons/velmor_snd.ico)
set(CPACK_NSIS_MUI_ICON ${icon})
set(CPACK_NSIS_MUI_UNIICON ${icon})
# Add/Remove Programs shows the icon the program file carries.
set(CPACK_NSIS_INSTALLED_ICON_NAME velmor_snd.exe)
set(CPACK_NSIS_MENU_LINKS velmor_snd.exe velmor_snd)

# The service: velmor_sndd.exe registers it (--install-service [OPTIONS]) and removes it
# (--uninstall-service, harmless when none is registered). It is chosen on the components page
# or, for unattended installs, with /SERVICE or /SERVICE=OPTIONS on the installer's command
# line, e.g. /S /SERVICE="--link-host 10.1.2.3". The section is added after the installer's own
# one, whose end the template writes after these commands.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
SectionEnd

!include FileFunc.nsh
Var ServiceOptions

Function RegisterService
  DetailPrint "Registering the velmor_sndd service: velmor_sndd.exe --install-service $ServiceOptions"
  nsExec::ExecToLog '"$INSTDIR\velmor_sndd.exe" --install-service $ServiceOptions'
  Pop $0
  StrCmp $0 "0" +2
    MessageBox MB_OK|MB_ICONEXCLAMATION "The velmor_sndd service could not be registered ($0). Register it later with: velmor_sndd.exe --install-service [options]" /SD IDOK
FunctionEnd

Section /o "velmor_sndd as a Windows service, started with Windows" service
  Call RegisterService
SectionEnd

Section "-service from the command line"
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/SERVICE" $ServiceOptions
  IfErrors serviceDone
  ; Chosen on the components page as well: registered once.
  SectionGetFlags ${service} $2
  IntOp $2 $2 & ${SF_SELECTED}
  IntCmp $2 ${SF_SELECTED} serviceDone
  ; /SERVICE=--port=3001 and /SERVICE="--link-host 10.1.2.3" leave "=" and the quotes around
  ; the options.
  StrCpy $3 $ServiceOptions 1
  StrCmp $3 "=" 0 +2
    StrCpy $ServiceOptions $ServiceOptions "" 1
  StrCpy $3 $ServiceOptions 1
  StrCmp $3 '"' 0 +2
    StrCpy $ServiceOptions $ServiceOptions -1 1
  Call RegisterService
  serviceDone:
]])
# Before the files go: a registered service is stopped and removed. This also runs when a newer
# version is installed over this one.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  IfFileExists "$INSTDIR\velmor_sndd.exe" 0 +3
    nsExec::ExecToLog '"$INSTDIR\velmor_sndd.exe" --uninstall-service'
    Pop $0
]])
