# The Windows installer (NSIS, Debian's makensis): the programs in the installation folder,
# velmor_snd in the Start menu with its icon, the uninstaller in Add/Remove Programs, and
# velmor_sndd's service offered, off by default, and started when chosen. An install over an
# older one first runs that one's uninstaller, so nothing of the old version stays; a service
# the old one had is registered again with the same options, and started again if it was
# running.

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
set(icon ${PROJECT_SOURCE_DIR}/window/icons/velmor_snd.ico)
# Not CPack's own uninstall before the install: it runs before anything of ours could note the
# service the old installation had. The installer's first section does it instead. CPack's
# template has no place for commands before its programs' section; the icon settings come
# before every section and are taken as given when set, so the section goes there with them.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
set(CPACK_NSIS_INSTALLER_MUI_ICON_CODE "!define MUI_ICON \"${icon}\"
!define MUI_UNICON \"${icon}\"
Section \"-uninstall the installation before\"
  Call UninstallPrevious
SectionEnd")
# Add/Remove Programs shows the icon the program file carries.
set(CPACK_NSIS_INSTALLED_ICON_NAME velmor_snd.exe)
set(CPACK_NSIS_MENU_LINKS velmor_snd.exe velmor_snd)

# The service: velmor_sndd.exe registers it (--install-service [OPTIONS]) and removes it
# (--uninstall-service, harmless when none is registered). It is chosen on the components page
# or, for unattended installs, with /SERVICE or /SERVICE=OPTIONS on the installer's command
# line, e.g. /S /SERVICE="--link-host 10.1.2.3", and started. The sections are added after the
# installer's own one, whose end the template writes after these commands.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
SectionEnd

!include FileFunc.nsh
Var ServiceOptions
Var PreviousService
Var PreviousServiceOptions
Var PreviousServiceRan

; The installation before this one, if any, is uninstalled first, in place. Its service's
; options (what its command line holds after --service) and whether it ran are noted first, as
; its uninstaller removes the service.
; Deletes FILE if it is there, and notes in $6 that it was.
!macro DeleteLeftOver FILE
  IfFileExists "${FILE}" 0 +3
    Delete "${FILE}"
    StrCpy $6 1
!macroend

Function UninstallPrevious
  StrCpy $PreviousService no
  StrCpy $PreviousServiceRan no
  ReadRegStr $0 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\velmor_snd" "UninstallString"
  StrCmp $0 "" previousDone
  ReadRegStr $1 HKLM "SYSTEM\CurrentControlSet\Services\velmor_sndd" "ImagePath"
  ; The installer's own StrStr: the haystack from the needle on, empty when it is not there.
  Push $1
  Push " --service"
  Call StrStr
  Pop $2
  StrCmp $2 "" uninstall
  StrCpy $PreviousService yes
  StrCpy $PreviousServiceOptions $2 "" 10
  nsExec::ExecToStack '"$SYSDIR\sc.exe" query velmor_sndd'
  Pop $3
  Pop $4
  Push $4
  Push "RUNNING"
  Call StrStr
  Pop $5
  StrCmp $5 "" uninstall
  StrCpy $PreviousServiceRan yes
  uninstall:
  ; The uninstall string is the quoted path of the old uninstaller; _?= runs it in place, so
  ; that it has ended when ExecWait returns.
  StrCpy $2 $0 1
  StrCmp $2 '"' 0 +2
    StrCpy $0 $0 "" 1
  StrCpy $2 $0 1 -1
  StrCmp $2 '"' 0 +2
    StrCpy $0 $0 -1
  StrLen $2 "\Uninstall.exe"
  StrCpy $3 $0 -$2
  DetailPrint "Uninstalling the version in $3 first"
  ClearErrors
  ExecWait '"$0" /S _?=$3'
  IfErrors 0 +3
    MessageBox MB_OK|MB_ICONSTOP "The installed version could not be uninstalled first." /SD IDOK
    Abort
  ; Run in place, the old uninstaller leaves itself and its folder behind. A program that has
  ; just ended (the old velmor_sndd.exe, stopped as a service or run to remove one, or the old
  ; uninstaller itself) can hold its file a moment longer: the system deletes a file so held
  ; only once it is let go, and until then the new file cannot be written in its place, which
  ; would end this install. So wait, at most 20 s, until none of them is left.
  StrCpy $5 0
  oldFilesLeft:
    StrCpy $6 0
    !insertmacro DeleteLeftOver "$0"
    !insertmacro DeleteLeftOver "$3\velmor_snd.exe"
    !insertmacro DeleteLeftOver "$3\velmor_sndd.exe"
    !insertmacro DeleteLeftOver "$3\locksim.exe"
    !insertmacro DeleteLeftOver "$3\keyreq.exe"
    StrCmp $6 0 oldFilesGone
    IntOp $5 $5 + 1
    IntCmp $5 80 oldFilesGone
    Sleep 250
    Goto oldFilesLeft
  oldFilesGone:
  RMDir "$3"
  previousDone:
FunctionEnd

; Leaves $0 0 once the service is registered.
Function RegisterService
  DetailPrint "Registering the velmor_sndd service: velmor_sndd.exe --install-service $ServiceOptions"
  nsExec::ExecToLog '"$INSTDIR\velmor_sndd.exe" --install-service $ServiceOptions'
  Pop $0
  StrCmp $0 "0" +2
    MessageBox MB_OK|MB_ICONEXCLAMATION "The velmor_sndd service could not be registered ($0). Register it later with: velmor_sndd.exe --install-service [options]" /SD IDOK
FunctionEnd

; sc start returns while the service is starting (Wine's may even say it failed then); it runs
; once it listens. So its state is asked for, at most 30 s, until it runs or has stopped.
Function StartService
  DetailPrint "Starting the velmor_sndd service"
  nsExec::ExecToLog '"$SYSDIR\sc.exe" start velmor_sndd'
  Pop $0
  StrCpy $1 0
  state:
    nsExec::ExecToStack '"$SYSDIR\sc.exe" query velmor_sndd'
    Pop $2
    Pop $3
    Push $3
    Push "RUNNING"
    Call StrStr
    Pop $2
    StrCmp $2 "" 0 running
    Push $3
    Push "STOPPED"
    Call StrStr
    Pop $2
    StrCmp $2 "" 0 notRunning
    IntOp $1 $1 + 1
    IntCmp $1 150 notRunning
    Sleep 200
    Goto state
  running:
    DetailPrint "The velmor_sndd service is running"
    Return
  notRunning:
    MessageBox MB_OK|MB_ICONEXCLAMATION "The velmor_sndd service did not start; its log is in $APPDATA\velmor_sndd. Start it with: sc start velmor_sndd" /SD IDOK
FunctionEnd

Section /o "velmor_sndd as a Windows service, started with Windows" service
  Call RegisterService
  StrCmp $0 "0" 0 +2
    Call StartService
SectionEnd

; The service the installation before had, unless one was asked for in this install: registered
; again with its options, started again if it ran.
Section "-service kept from the installation before"
  StrCmp $PreviousService yes 0 keptDone
  SectionGetFlags ${service} $2
  IntOp $2 $2 & ${SF_SELECTED}
  IntCmp $2 ${SF_SELECTED} keptDone
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/SERVICE" $3
  IfErrors 0 keptDone
  StrCpy $ServiceOptions $PreviousServiceOptions
  Call RegisterService
  StrCmp $0 "0" 0 keptDone
  StrCmp $PreviousServiceRan yes 0 keptDone
  Call StartService
  keptDone:
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
  ; the options; "/SERVICE=--link-host 10.1.2.3", as programs that quote every word with a
  ; blank write it, leaves a closing quote only.
  StrCpy $3 $ServiceOptions 1
  StrCmp $3 "=" 0 +2
    StrCpy $ServiceOptions $ServiceOptions "" 1
  StrCpy $3 $ServiceOptions 1
  StrCmp $3 '"' 0 +2
    StrCpy $ServiceOptions $ServiceOptions "" 1
  StrCpy $3 $ServiceOptions 1 -1
  StrCmp $3 '"' 0 +2
    StrCpy $ServiceOptions $ServiceOptions -1
  Call RegisterService
  StrCmp $0 "0" 0 serviceDone
  Call StartService
  serviceDone:
]])
# Before the files go: a registered service is stopped and removed. This also runs when a newer
# version is installed over this one.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  IfFileExists "$INSTDIR\velmor_sndd.exe" 0 +3
    nsExec::ExecToLog '"$INSTDIR\velmor_sndd.exe" --uninstall-service'
    Pop $0
]])
