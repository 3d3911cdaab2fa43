# The Windows installer (NSIS, Debian's makensis): the programs in the installation folder,
# velmor_snd in the Start menu with its icon, the uninstaller in Add/Remove Programs, the
# machine's settings file written from the lock system's address asked for, velmor_sndd's
# event source in the Application log, and its service offered, off by default, and started
# when chosen. Values the programs refuse end the
# install before anything is installed. An install over an older one first runs that one's
# uninstaller, so nothing of the old version stays but the settings file; a service the old one
# had is registered again with the same options, and started again if it was running.

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
# Not CPack's own uninstall before the install: it runs before anything of ours could check the
# values given or note the service the old installation had. The installer's first section does
# both instead, checking first, so that a value the programs refuse leaves the installation
# before as it was. CPack's template has no place for commands before its programs' section;
# the icon settings come before every section and are taken as given when set, so the section
# goes there with them.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
set(CPACK_NSIS_INSTALLER_MUI_ICON_CODE "!define MUI_ICON \"${icon}\"
!define MUI_UNICON \"${icon}\"
Section \"-values checked, the installation before uninstalled\"
  Call RefuseBadValues
  Call UninstallPrevious
SectionEnd")
# The lock system's page comes after the components page, where the service is chosen, so that
# the service's options are checked with the settings. CPack takes the components page's line
# as given when set: the page is added there.
set(CPACK_NSIS_PAGE_COMPONENTS "!insertmacro MUI_PAGE_COMPONENTS
  Page custom LockSystemPage LockSystemPageLeave")
# Add/Remove Programs shows the icon the program file carries.
set(CPACK_NSIS_INSTALLED_ICON_NAME velmor_snd.exe)
set(CPACK_NSIS_MENU_LINKS velmor_snd.exe velmor_snd)

# The settings file, C:\ProgramData\velmor_snd\velmor_snd.conf, which both programs read: its
# values come from the lock system's page or, for unattended installs, from /LINKHOST=,
# /LINKPORT= and /ALLOW= (addresses or ranges, separated by commas or blanks). A settings file
# that is there is the administrator's and is kept as it is. The installation keeps a copy of
# the file as written (velmor_snd.conf.installed), from which the uninstaller tells whether it
# was changed: a changed one stays.
#
# The service: velmor_sndd.exe registers it (--install-service [OPTIONS]) and removes it
# (--uninstall-service, harmless when none is registered). It is chosen on the components page
# or, for unattended installs, with /SERVICE or /SERVICE=OPTIONS on the installer's command
# line, e.g. /S /SERVICE="--port 3001", and started. The sections are added after the
# installer's own one, whose end the template writes after these commands.
#
# The event source: velmor_sndd running as a service reports its own lines to the Application
# log under the source velmor_sndd, whose text Event Viewer takes from the message table in
# velmor_sndd.exe. It is registered with the programs, so that a service registered by hand
# later has it too, and removed with them.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
  WriteRegExpandStr HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\velmor_sndd" "EventMessageFile" "$INSTDIR\velmor_sndd.exe"
  ; Errors, warnings and information.
  WriteRegDWORD HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\velmor_sndd" "TypesSupported" 7
SectionEnd

!include FileFunc.nsh
!include nsDialogs.nsh
Var CommandLineRead
Var SettingsFile
Var LinkHost
Var LinkPort
Var Allow
Var SettingsGiven
Var ServiceGiven
Var ServiceOptions
Var PreviousService
Var PreviousServiceOptions
Var PreviousServiceRan
Var HostField
Var PortField
Var AllowField

; The option NAME (such as /LINKHOST) of the installer's command line: pushes its value, then
; "yes", or "" and "no" when it is not there. It is /NAME or /NAME=VALUE, NAME in any case as
; with the installer's own options. VALUE runs to the next option, /NAME or "/NAME (an address
; range holds a "/"), or is quoted: /NAME="VALUE", or "/NAME=VALUE" as Wine and programs that
; quote every word with a blank in it write it.
Function OptionValue
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  ${GetParameters} $R1
  StrLen $R2 $R0
  StrCpy $R3 -1
  find:
    IntOp $R3 $R3 + 1
    StrCpy $R4 $R1 $R2 $R3
    StrCmp $R4 "" absent
    StrCmp $R4 $R0 0 find
    ; Only at the start of a word.
    StrCpy $R5 ""
    IntCmp $R3 0 wordStart
    IntOp $R4 $R3 - 1
    StrCpy $R5 $R1 1 $R4
    StrCmp $R5 " " wordStart
    StrCmp $R5 '"' wordStart find
  wordStart:
    IntOp $R4 $R3 + $R2
    StrCpy $R6 $R1 1 $R4
    StrCmp $R6 "=" withValue
    StrCmp $R6 "" bare
    StrCmp $R6 " " bare
    ; Anything else makes it another option (/SERVICES).
    StrCmp $R6 '"' bare find
  bare:
    StrCpy $R0 ""
    Goto present
  withValue:
    IntOp $R4 $R4 + 1
    StrCpy $R6 $R1 "" $R4
    StrCpy $R7 quoted
    StrCmp $R5 '"' cut
    StrCpy $R4 $R6 1
    StrCmp $R4 '"' 0 unquoted
      StrCpy $R6 $R6 "" 1
      Goto cut
    unquoted:
    StrCpy $R7 unquoted
  ; Up to the closing quote, or unquoted up to the next option, /NAME or "/NAME.
  cut:
    StrCpy $R3 -1
    cutFind:
      IntOp $R3 $R3 + 1
      StrCpy $R4 $R6 1 $R3
      StrCmp $R4 "" cutFound
      StrCmp $R7 quoted 0 +2
        StrCmp $R4 '"' cutFound cutFind
      StrCpy $R4 $R6 2 $R3
      StrCmp $R4 " /" cutFound
      StrCpy $R4 $R6 3 $R3
      StrCmp $R4 ' "/' cutFound cutFind
    cutFound:
    StrCpy $R0 $R6 $R3
  present:
    StrCpy $R1 yes
    Goto done
  absent:
    StrCpy $R0 ""
    StrCpy $R1 no
  done:
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Exch $R1
  Exch
  Exch $R0
  Exch
FunctionEnd

; The string on the stack without the blanks around it.
Function TrimBlanks
  Exch $R0
  Push $R1
  leading:
    StrCpy $R1 $R0 1
    StrCmp $R1 " " 0 trailing
    StrCpy $R0 $R0 "" 1
    Goto leading
  trailing:
    StrCpy $R1 $R0 1 -1
    StrCmp $R1 " " 0 done
    StrCpy $R0 $R0 -1
    Goto trailing
  done:
  Pop $R1
  Exch $R0
FunctionEnd

; The values given, made ready for the settings file: without blanks around them, the port only
; when it is not the default one, and, for the install log, what was given.
Function TidyValues
  Push $LinkHost
  Call TrimBlanks
  Pop $LinkHost
  Push $LinkPort
  Call TrimBlanks
  Pop $LinkPort
  StrCmp $LinkPort 8264 0 +2
    StrCpy $LinkPort ""
  Push $Allow
  Call TrimBlanks
  Pop $Allow
  StrCpy $SettingsGiven ""
  StrCmp $LinkHost "" +2
    StrCpy $SettingsGiven "$SettingsGiven /LINKHOST=$LinkHost"
  StrCmp $LinkPort "" +2
    StrCpy $SettingsGiven "$SettingsGiven /LINKPORT=$LinkPort"
  StrCmp $Allow "" +2
    StrCpy $SettingsGiven '$SettingsGiven /ALLOW="$Allow"'
FunctionEnd

; Reads the installer's own options once, before the lock system's page or, unattended, the
; first section. The settings file's place is the programs' one: the program data folder of
; all users (the shell's, as the programs ask for it).
Function ReadCommandLine
  StrCmp $CommandLineRead yes done
  StrCpy $CommandLineRead yes
  SetShellVarContext all
  StrCpy $SettingsFile "$APPDATA\velmor_snd\velmor_snd.conf"
  Push /LINKHOST
  Call OptionValue
  Pop $0
  Pop $LinkHost
  Push /LINKPORT
  Call OptionValue
  Pop $0
  Pop $LinkPort
  Push /ALLOW
  Call OptionValue
  Pop $0
  Pop $Allow
  Call TidyValues
  Push /SERVICE
  Call OptionValue
  Pop $ServiceGiven
  Pop $ServiceOptions
  done:
FunctionEnd

; Writes the settings file for the values given to the path on the stack: a few lines on what it
; is, the values given, then every other setting commented out with its default, so that an
; administrator sees what can be set. Sets the error flag when it cannot be written.
Function WriteSettings
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  ClearErrors
  FileOpen $R1 $R0 w
  IfErrors done
  FileWrite $R1 "# The settings of velmor_snd and velmor_sndd (the service too) on this machine, read$\r$\n"
  FileWrite $R1 "# as they start. One $\"name = value$\" line each, the name that of the programs' long$\r$\n"
  FileWrite $R1 "# option (velmor_sndd.exe --help); the command line wins. Lines starting with # are$\r$\n"
  FileWrite $R1 "# comments. velmor_sndd.exe --check tells whether the settings are fine.$\r$\n"
  FileWrite $R1 "# Written by the installer of velmor_snd ${VERSION}; later installs keep it as it is,$\r$\n"
  FileWrite $R1 "# and the uninstaller leaves it once it is changed.$\r$\n"
  StrCmp $SettingsGiven "" others
  FileWrite $R1 "$\r$\n"
  StrCmp $LinkHost "" +2
    FileWrite $R1 "link-host = $LinkHost$\r$\n"
  StrCmp $LinkPort "" +2
    FileWrite $R1 "link-port = $LinkPort$\r$\n"
  ; One line for each address or range.
  StrCpy $R2 0
  StrCpy $R3 ""
  allowNext:
    StrCpy $R4 $Allow 1 $R2
    IntOp $R2 $R2 + 1
    StrCmp $R4 "" allowEnd
    StrCmp $R4 " " allowEnd
    StrCmp $R4 "," allowEnd
    StrCpy $R3 "$R3$R4"
    Goto allowNext
  allowEnd:
    StrCmp $R3 "" +3
      FileWrite $R1 "allow = $R3$\r$\n"
      StrCpy $R3 ""
    StrCmp $R4 "" 0 allowNext
  others:
  FileWrite $R1 "$\r$\n# Settings at their defaults: remove the $\"# $\" and change the value to set one.$\r$\n"
  StrCmp $LinkHost "" 0 +3
    FileWrite $R1 "# The lock system's interface server (this machine by default):$\r$\n"
    FileWrite $R1 "# link-host = 127.0.0.1$\r$\n"
  StrCmp $LinkPort "" 0 +2
    FileWrite $R1 "# link-port = 8264$\r$\n"
  FileWrite $R1 "# The port for key requests, and the addresses they are taken on, one line for each$\r$\n"
  FileWrite $R1 "# (by default every address of this machine):$\r$\n"
  FileWrite $R1 "# port = 3000$\r$\n"
  FileWrite $R1 "# listen = 192.0.2.10$\r$\n"
  StrCmp $Allow "" 0 +3
    FileWrite $R1 "# The front desks served, one line for each address or range (by default any):$\r$\n"
    FileWrite $R1 "# allow = 10.1.20.0/24$\r$\n"
  FileWrite $R1 "# At most this many front-desk connections at once (0: no limit), and seconds after$\r$\n"
  FileWrite $R1 "# which an idle one is closed (0: never):$\r$\n"
  FileWrite $R1 "# max-connections = 0$\r$\n"
  FileWrite $R1 "# idle-timeout = 0$\r$\n"
  FileWrite $R1 "# Health and metrics over HTTP for monitoring (off by default), at an address and port a$\r$\n"
  FileWrite $R1 "# line, and the monitors allowed to ask, an address or range a line (by default any):$\r$\n"
  FileWrite $R1 "# metrics-listen = 127.0.0.1:9464$\r$\n"
  FileWrite $R1 "# metrics-allow = 127.0.0.1$\r$\n"
  FileWrite $R1 "# Seconds between attempts to connect to the lock system, and to wait for each (the$\r$\n"
  FileWrite $R1 "# window connects once and waits as long as Windows does unless these are set):$\r$\n"
  FileWrite $R1 "# reconnect = 10$\r$\n"
  FileWrite $R1 "# connect-timeout = 10$\r$\n"
  FileWrite $R1 "# The log file both programs append to (the service's by default the file below; run at$\r$\n"
  FileWrite $R1 "# a prompt, velmor_sndd's log goes to the console, the window's to its pane alone), the key$\r$\n"
  FileWrite $R1 "# record both programs append to (the service's by default the file below; otherwise$\r$\n"
  FileWrite $R1 "# none), and whether velmor_sndd's log lines stay raw:$\r$\n"
  FileWrite $R1 "# log-file = $APPDATA\velmor_sndd\velmor_sndd.log$\r$\n"
  FileWrite $R1 "# key-record = $APPDATA\velmor_sndd\keys.jsonl$\r$\n"
  FileWrite $R1 "# raw-log = no$\r$\n"
  FileWrite $R1 "# How many of the latest log lines the window's pane keeps (1 to 100000):$\r$\n"
  FileWrite $R1 "# log-lines = 10000$\r$\n"
  FileWrite $R1 "# Both files roll over monthly: the first line of a month moves each aside with its$\r$\n"
  FileWrite $R1 "# month in the name (velmor_sndd-2026-11.log, keys-2026-11.jsonl). Month files older$\r$\n"
  FileWrite $R1 "# than this many months are removed then (0: all are kept):$\r$\n"
  FileWrite $R1 "# keep-months = 24$\r$\n"
  FileClose $R1
  done:
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; The first line of the text on the stack.
Function FirstLine
  Exch $R0
  Push $R1
  Push $R2
  StrCpy $R1 -1
  next:
    IntOp $R1 $R1 + 1
    StrCpy $R2 $R0 1 $R1
    StrCmp $R2 "" found
    StrCmp $R2 "$\r" found
    StrCmp $R2 "$\n" found next
  found:
  StrCpy $R0 $R0 $R1
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Deletes FILE if it is there, and notes in $6 that it was.
!macro DeleteLeftOver FILE
  IfFileExists "${FILE}" 0 +3
    Delete "${FILE}"
    StrCpy $6 1
!macroend

; The installation before this one, if any, is uninstalled first, in place. Its service's
; options (what its command line holds after --service) and whether it ran are noted first, as
; its uninstaller removes the service. Its uninstaller, told that an install follows (/UPGRADE),
; leaves the settings file; the copy it kept of the file as written goes on with this
; installation.
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
  IfFileExists "$3\velmor_snd.conf.installed" 0 +2
    CopyFiles /SILENT "$3\velmor_snd.conf.installed" "$PLUGINSDIR"
  DetailPrint "Uninstalling the version in $3 first"
  ClearErrors
  ExecWait '"$0" /S /UPGRADE _?=$3'
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
    !insertmacro DeleteLeftOver "$3\velmor_snd.conf.installed"
    StrCmp $6 0 oldFilesGone
    IntOp $5 $5 + 1
    IntCmp $5 80 oldFilesGone
    Sleep 250
    Goto oldFilesLeft
  oldFilesGone:
  RMDir "$3"
  previousDone:
FunctionEnd

; The settings file: written from the values given when there is none, with the copy the
; uninstaller compares it with. One that is there is kept as it is: it may hold an
; administrator's changes, which values given again (an unattended install run once more with
; its first command line) must not undo; the install log says so.
Section "-settings file"
  IfFileExists $SettingsFile 0 write
    DetailPrint "Keeping the settings file $SettingsFile as it is"
    StrCmp $SettingsGiven "" +2
      DetailPrint "Not written into the settings file that is kept (change them there):$SettingsGiven"
    IfFileExists "$PLUGINSDIR\velmor_snd.conf.installed" 0 settingsDone
      CopyFiles /SILENT "$PLUGINSDIR\velmor_snd.conf.installed" "$INSTDIR"
    Goto settingsDone
  write:
  ; The file checked before anything was installed.
  CreateDirectory "$APPDATA\velmor_snd"
  ClearErrors
  CopyFiles /SILENT "$PLUGINSDIR\velmor_snd.conf" "$APPDATA\velmor_snd"
  Delete "$INSTDIR\velmor_snd.conf.installed"
  CopyFiles /SILENT "$PLUGINSDIR\velmor_snd.conf" "$INSTDIR"
  Rename "$INSTDIR\velmor_snd.conf" "$INSTDIR\velmor_snd.conf.installed"
  IfErrors 0 +3
    MessageBox MB_OK|MB_ICONEXCLAMATION "The settings file $SettingsFile could not be written." /SD IDOK
    Goto settingsDone
  DetailPrint "Wrote the settings file $SettingsFile"
  settingsDone:
SectionEnd

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

; True ($0 1) when this install registers a service: chosen on the components page or with
; /SERVICE.
Function ServiceAskedFor
  StrCpy $0 1
  StrCmp $ServiceGiven yes done
  SectionGetFlags ${service} $0
  IntOp $0 $0 & ${SF_SELECTED}
  done:
FunctionEnd

; The values given, checked before anything is installed: velmor_sndd.exe, taken out of the
; installer, reads the settings file to be written, then the service's options with the settings
; file the service will read, as it will (--check). Pushes "" when they are fine, else what is
; wrong in its words.
Function CheckValues
  Call ReadCommandLine
  InitPluginsDir
  ; The programs' component folder of CPack's staging area.
  IfFileExists "$PLUGINSDIR\velmor_sndd.exe" taken
    File "/oname=$PLUGINSDIR\velmor_sndd.exe" "${INST_DIR}\programs\velmor_sndd.exe"
  taken:
  Push "$PLUGINSDIR\velmor_snd.conf"
  Call WriteSettings
  IfErrors 0 +3
    Push "The settings file could not be written to $PLUGINSDIR."
    Return
  nsExec::ExecToStack '"$PLUGINSDIR\velmor_sndd.exe" --config "$PLUGINSDIR\velmor_snd.conf" --check'
  Pop $0
  StrCmp $0 "0" serviceOptions
    Call FirstLine
    Pop $1
    ; The file read is a scratch one: its name and line ("FILE:LINE: ") tell whoever gave the
    ; values nothing.
    Push $1
    Push "$PLUGINSDIR\velmor_snd.conf:"
    Call StrStr
    Pop $2
    StrCmp $2 "" named
      StrLen $3 $2
      StrCpy $1 $1 -$3
      Push $2
      Push ": "
      Call StrStr
      Pop $2
      StrCpy $2 $2 "" 2
      StrCpy $1 "$1$2"
    named:
    Push "The settings given cannot be used:$\r$\n$1"
    Return
  serviceOptions:
  Pop $1
  Call ServiceAskedFor
  IntCmp $0 0 fine
  StrCpy $1 "$PLUGINSDIR\velmor_snd.conf"
  IfFileExists $SettingsFile 0 +2
    StrCpy $1 $SettingsFile
  nsExec::ExecToStack '"$PLUGINSDIR\velmor_sndd.exe" --config "$1" --install-service $ServiceOptions --check'
  Pop $0
  StrCmp $0 "0" +5
    Call FirstLine
    Pop $1
    Push "The service's options cannot be used:$\r$\n$1"
    Return
  Pop $1
  fine:
  Push ""
FunctionEnd

; Unattended, the values are first checked here; a value the programs refuse ends the install
; with exit status 2 before anything is installed or uninstalled.
Function RefuseBadValues
  Call CheckValues
  Pop $0
  StrCmp $0 "" done
  DetailPrint $0
  DetailPrint "Nothing was installed."
  MessageBox MB_OK|MB_ICONSTOP "$0$\r$\n$\r$\nNothing was installed." /SD IDOK
  SetErrorLevel 2
  Abort
  done:
FunctionEnd

; The service the installation before had, unless one was asked for in this install: registered
; again with its options, started again if it ran.
Section "-service kept from the installation before"
  StrCmp $PreviousService yes 0 keptDone
  Call ServiceAskedFor
  IntCmp $0 0 0 keptDone keptDone
  StrCpy $ServiceOptions $PreviousServiceOptions
  Call RegisterService
  StrCmp $0 "0" 0 keptDone
  StrCmp $PreviousServiceRan yes 0 keptDone
  Call StartService
  keptDone:
SectionEnd

; The lock system's page: its address and port and the front desks served, filled in from the
; command line. With a settings file there it only says that the file is kept.
Function LockSystemPage
  Call ReadCommandLine
  !insertmacro MUI_HEADER_TEXT "Lock system" "Where velmor_snd reaches the lock system, and which front desks it serves."
  nsDialogs::Create 1018
  Pop $0
  StrCmp $0 error 0 +2
    Abort
  ${NSD_CreateLabel} 0 0 100% 10u "Address of the lock system's interface server (empty: 127.0.0.1, this computer):"
  Pop $0
  ${NSD_CreateText} 0 11u 60% 12u $LinkHost
  Pop $HostField
  ${NSD_CreateLabel} 0 30u 100% 10u "Its port:"
  Pop $0
  StrCpy $1 $LinkPort
  StrCmp $1 "" 0 +2
    StrCpy $1 8264
  ${NSD_CreateNumber} 0 41u 20% 12u $1
  Pop $PortField
  ${NSD_CreateLabel} 0 60u 100% 20u "Front desks served: addresses or ranges such as 10.1.20.0/24, separated by blanks or commas (empty: any front desk):"
  Pop $0
  ${NSD_CreateText} 0 81u 100% 12u $Allow
  Pop $AllowField
  IfFileExists $SettingsFile 0 show
    ${NSD_CreateLabel} 0 102u 100% 30u "The settings file $SettingsFile is there already and is kept as it is: change the settings in it."
    Pop $0
    EnableWindow $HostField 0
    EnableWindow $PortField 0
    EnableWindow $AllowField 0
  show:
  nsDialogs::Show
FunctionEnd

; Leaving the page: the values are checked at once, and the page stays until they are fine.
Function LockSystemPageLeave
  IfFileExists $SettingsFile check
  ${NSD_GetText} $HostField $LinkHost
  ${NSD_GetText} $PortField $LinkPort
  ${NSD_GetText} $AllowField $Allow
  Call TidyValues
  check:
  Call CheckValues
  Pop $0
  StrCmp $0 "" done
  MessageBox MB_OK|MB_ICONEXCLAMATION $0
  Abort
  done:
FunctionEnd

; Whether the two files on the stack hold the same bytes: pushes yes or no.
!macro SameFiles UN
Function ${UN}SameFiles
  Exch $R0
  Exch
  Exch $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R5 no
  ClearErrors
  FileOpen $R2 $R0 r
  IfErrors done
  FileOpen $R3 $R1 r
  IfErrors closeFirst
  next:
    ClearErrors
    FileReadByte $R2 $R4
    IfErrors firstEnded
    FileReadByte $R3 $R0
    IfErrors close
    IntCmp $R4 $R0 next close close
  firstEnded:
    ClearErrors
    FileReadByte $R3 $R0
    IfErrors 0 close
    StrCpy $R5 yes
  close:
  FileClose $R3
  closeFirst:
  FileClose $R2
  done:
  StrCpy $R0 $R5
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro SameFiles "un."

; /SERVICE: registered and started like the components page's choice, and once when both ask.
; The template ends this section.
Section "-service from the command line"
  StrCmp $ServiceGiven yes 0 serviceDone
  SectionGetFlags ${service} $2
  IntOp $2 $2 & ${SF_SELECTED}
  IntCmp $2 ${SF_SELECTED} serviceDone
  Call RegisterService
  StrCmp $0 "0" 0 serviceDone
  Call StartService
  serviceDone:
]])
# Before the files go: a registered service is stopped and removed. This also runs when a newer
# version is installed over this one. The settings file goes too when it is as the installer
# wrote it; one the administrator changed stays, and so does any when a newer version is
# installed over this one (/UPGRADE), which keeps it.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  IfFileExists "$INSTDIR\velmor_sndd.exe" 0 +3
    nsExec::ExecToLog '"$INSTDIR\velmor_sndd.exe" --uninstall-service'
    Pop $0
  ; velmor_sndd.exe has removed the event source with the service; without it, it goes here.
  DeleteRegKey HKLM "SYSTEM\CurrentControlSet\Services\EventLog\Application\velmor_sndd"
  SetShellVarContext all
  IfFileExists "$INSTDIR\velmor_snd.conf.installed" 0 settingsDone
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/UPGRADE" $1
  IfErrors 0 settingsKept
  Push "$APPDATA\velmor_snd\velmor_snd.conf"
  Push "$INSTDIR\velmor_snd.conf.installed"
  Call un.SameFiles
  Pop $1
  StrCmp $1 yes 0 settingsChanged
    Delete "$APPDATA\velmor_snd\velmor_snd.conf"
    RMDir "$APPDATA\velmor_snd"
    DetailPrint "Removed the settings file $APPDATA\velmor_snd\velmor_snd.conf, as installed"
    Goto settingsKept
  settingsChanged:
    DetailPrint "Left the settings file $APPDATA\velmor_snd\velmor_snd.conf, changed since it was installed"
  settingsKept:
  Delete "$INSTDIR\velmor_snd.conf.installed"
  settingsDone:
]])
