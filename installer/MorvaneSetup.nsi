; The Morvane installer for 64-bit Windows (NSIS 3). scripts/build-installer.sh
; builds it from an installed program folder:
;   makensis -DDIST=<program folder> -DSEVENZIP=<folder with 7z.exe and its
;            licence> -DOUTFILE=<installer> -DVERSION=<a.b.c.d> MorvaneSetup.nsi
;
; Silent use: MorvaneSetup.exe /S [/PROXY=0] [/D=<folder>] (/SILENT, the
;             Updater's switch, is the same as /S)
;             uninstall.exe /S [/KEEPDATA=0]
; Exit codes of both: 0 done, 1 cancelled, 2 stopped by an error, 3 the
; service could not be installed or removed, 4 installed, but the service
; did not start, 5 the files could not be written.

Unicode true
; The 32-bit stub does not run where there is no 32-bit Windows.
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestSupportedOS all

!ifndef DIST | SEVENZIP | OUTFILE
  !error "DIST, SEVENZIP and OUTFILE must be defined (scripts/build-installer.sh)"
!endif
!ifndef VERSION
  !define VERSION 1.0.0.0
!endif

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "Morvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane"
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Proxy"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\Proxy"
!define INET_KEY "Software\Microsoft\Windows\CurrentVersion\Internet Settings"
; What this user's proxy settings were before the installer changed them.
!define SAVED_KEY "Software\Morvane\Previous proxy settings"
!define DEFAULT_PROXY_PORT 8866
; wininet's INTERNET_OPTION_SETTINGS_CHANGED and INTERNET_OPTION_REFRESH
!define INTERNET_OPTION_SETTINGS_CHANGED 39
!define INTERNET_OPTION_REFRESH 37

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show
AllowSkipFiles off
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "The Morvane developers"

Var SetProxy          ; 1: point this user's browsers at the proxy
Var ProxyCheckbox
Var RemoveData        ; 1: the uninstaller removes Data\ too
Var RemoveDataCheckbox

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
Page custom ProxyPageShow ProxyPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.DataPageShow un.DataPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Waits until the running Proxy.exe of the program folder has ended, so its
; file can be replaced or deleted (at most about 10 s).
!macro WaitForProxyExit un
Function ${un}WaitForProxyExit
  Push $0
  Push $1
  StrCpy $0 0
  ${DoWhile} $0 < 100
    ${IfNot} ${FileExists} "$INSTDIR\Proxy.exe"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $1 "$INSTDIR\Proxy.exe" a
    ${IfNot} ${Errors}
      FileClose $1
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $0 $0 + 1
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro WaitForProxyExit ""
!insertmacro WaitForProxyExit "un."

; Tells the running programs that the WinINET proxy settings changed.
!macro AnnounceProxySettings
  System::Call 'wininet::InternetSetOptionW(p 0, i ${INTERNET_OPTION_SETTINGS_CHANGED}, p 0, i 0) i'
  System::Call 'wininet::InternetSetOptionW(p 0, i ${INTERNET_OPTION_REFRESH}, p 0, i 0) i'
!macroend

Function .onInit
  SetRegView 64
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  StrCpy $SetProxy 1
  ${GetParameters} $R0
  ; The Updater starts a downloaded release as "update.exe /SILENT".
  ClearErrors
  ${GetOptions} $R0 "/SILENT" $R1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/PROXY=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 == "0"
    StrCpy $SetProxy 0
  ${EndIf}
FunctionEnd

Function ProxyPageShow
  !insertmacro MUI_HEADER_TEXT "Browsers" "Let this user's browsers use the filter."
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 36u "Morvane filters the pages that browsers load through it. Windows keeps one proxy setting per user, which most browsers follow. The previous setting is remembered and restored when Morvane is uninstalled."
  Pop $0
  ${NSD_CreateCheckbox} 0 44u 100% 12u "&Point this user's browsers at Morvane (127.0.0.1)"
  Pop $ProxyCheckbox
  ${If} $SetProxy == 1
    ${NSD_Check} $ProxyCheckbox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ProxyPageLeave
  ${NSD_GetState} $ProxyCheckbox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $SetProxy 1
  ${Else}
    StrCpy $SetProxy 0
  ${EndIf}
FunctionEnd

; Remembers this user's WinINET proxy settings once (a second install keeps
; what the first one found), then points them at the proxy's port.
Function ApplyProxySettings
  ClearErrors
  ReadINIStr $0 "$INSTDIR\Data\config.ini" "Proxy" "proxyPort"
  ${If} ${Errors}
  ${OrIf} $0 == ""
    StrCpy $0 ${DEFAULT_PROXY_PORT}
  ${EndIf}
  ReadRegDWORD $1 HKCU "${SAVED_KEY}" "Saved"
  ${If} $1 != 1
    ClearErrors
    ReadRegDWORD $1 HKCU "${INET_KEY}" "ProxyEnable"
    ${If} ${Errors}
      WriteRegDWORD HKCU "${SAVED_KEY}" "HadProxyEnable" 0
    ${Else}
      WriteRegDWORD HKCU "${SAVED_KEY}" "HadProxyEnable" 1
      WriteRegDWORD HKCU "${SAVED_KEY}" "ProxyEnable" $1
    ${EndIf}
    ClearErrors
    ReadRegStr $1 HKCU "${INET_KEY}" "ProxyServer"
    ${If} ${Errors}
      WriteRegDWORD HKCU "${SAVED_KEY}" "HadProxyServer" 0
    ${Else}
      WriteRegDWORD HKCU "${SAVED_KEY}" "HadProxyServer" 1
      WriteRegStr HKCU "${SAVED_KEY}" "ProxyServer" $1
    ${EndIf}
    ClearErrors
    ReadRegStr $1 HKCU "${INET_KEY}" "ProxyOverride"
    ${If} ${Errors}
      WriteRegDWORD HKCU "${SAVED_KEY}" "HadProxyOverride" 0
    ${Else}
      WriteRegDWORD HKCU "${SAVED_KEY}" "HadProxyOverride" 1
      WriteRegStr HKCU "${SAVED_KEY}" "ProxyOverride" $1
    ${EndIf}
    WriteRegDWORD HKCU "${SAVED_KEY}" "Saved" 1
  ${EndIf}
  WriteRegDWORD HKCU "${INET_KEY}" "ProxyEnable" 1
  WriteRegStr HKCU "${INET_KEY}" "ProxyServer" "127.0.0.1:$0"
  WriteRegStr HKCU "${INET_KEY}" "ProxyOverride" "<local>"
  ; What was set, so the uninstaller leaves a setting the user changed since.
  WriteRegStr HKCU "${SAVED_KEY}" "Applied" "127.0.0.1:$0"
  !insertmacro AnnounceProxySettings
  DetailPrint "This user's browsers use the proxy 127.0.0.1:$0."
FunctionEnd

Section "Morvane" SecMain
  SetShellVarContext all
  ; An upgrade: the running service lets go of its program first.
  ${If} ${FileExists} "$INSTDIR\Proxy.exe"
    nsExec::Exec '"$SYSDIR\net.exe" stop Proxy'
    Pop $0
    Call WaitForProxyExit
  ${EndIf}

  ClearErrors
  SetOverwrite on
  SetOutPath "$INSTDIR"
  File "${DIST}\Proxy.exe"
  File "${DIST}\Updater.exe"
  File "${DIST}\Launcher.exe"
  File "${SEVENZIP}\7z.exe"
  File "${SEVENZIP}\7z-License.txt"
  SetOutPath "$INSTDIR\tools"
  File /r "${DIST}\tools\*.*"
  SetOutPath "$INSTDIR\www"
  File /r /x param.js "${DIST}\www\*.*"
  ; The user's lists and settings (and the pages' settings script) are
  ; installed only where there are none yet: an upgrade keeps them.
  SetOverwrite off
  File "${DIST}\www\param.js"
  SetOutPath "$INSTDIR\Data"
  File /r "${DIST}\Data\*.*"
  SetOverwrite on
  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    DetailPrint "The program files could not be written."
    SetErrorLevel 5
    Abort
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Morvane developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Updater.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; The service's events read as their texts: Proxy.exe holds the messages.
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\Proxy.exe"
  ; error, warning and information events
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7

  ${If} $SetProxy == 1
    Call ApplyProxySettings
  ${EndIf}

  nsExec::Exec '"$INSTDIR\Proxy.exe" -install'
  Pop $0
  ClearErrors
  ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
  ${If} ${Errors}
    DetailPrint "The service Proxy could not be installed."
    MessageBox MB_OK|MB_ICONSTOP "The service Proxy could not be installed." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  nsExec::Exec '"$SYSDIR\net.exe" start Proxy'
  Pop $0
  ${If} $0 != 0
    DetailPrint "The service Proxy did not start (net start: $0)."
    MessageBox MB_OK|MB_ICONEXCLAMATION "Morvane is installed, but its service did not start. Another program may be using its port (Data\config.ini)." /SD IDOK
    SetErrorLevel 4
  ${Else}
    DetailPrint "The service Proxy is running."
  ${EndIf}
SectionEnd

Function un.onInit
  SetRegView 64
  StrCpy $RemoveData 0
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/KEEPDATA=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 == "0"
    StrCpy $RemoveData 1
  ${EndIf}
FunctionEnd

Function un.DataPageShow
  !insertmacro MUI_HEADER_TEXT "Uninstall Morvane" "Your lists and settings."
  nsDialogs::Create 1018
  Pop $0
  ${If} $0 == error
    Abort
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 36u "The programs and the service are removed. Your own lists and settings (the Data folder in $INSTDIR) stay for a later install unless you tick the box."
  Pop $0
  ${NSD_CreateCheckbox} 0 44u 100% 12u "&Remove my lists and settings"
  Pop $RemoveDataCheckbox
  ${If} $RemoveData == 1
    ${NSD_Check} $RemoveDataCheckbox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.DataPageLeave
  ${NSD_GetState} $RemoveDataCheckbox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveData 1
  ${Else}
    StrCpy $RemoveData 0
  ${EndIf}
FunctionEnd

; Puts back this user's proxy settings from before the install, unless the
; user has pointed them elsewhere since.
Function un.RestoreProxySettings
  ReadRegDWORD $0 HKCU "${SAVED_KEY}" "Saved"
  ${If} $0 != 1
    Return
  ${EndIf}
  ReadRegStr $0 HKCU "${SAVED_KEY}" "Applied"
  ReadRegStr $1 HKCU "${INET_KEY}" "ProxyServer"
  ${If} $0 == $1
    ReadRegDWORD $0 HKCU "${SAVED_KEY}" "HadProxyEnable"
    ${If} $0 == 1
      ReadRegDWORD $1 HKCU "${SAVED_KEY}" "ProxyEnable"
      WriteRegDWORD HKCU "${INET_KEY}" "ProxyEnable" $1
    ${Else}
      DeleteRegValue HKCU "${INET_KEY}" "ProxyEnable"
    ${EndIf}
    ReadRegDWORD $0 HKCU "${SAVED_KEY}" "HadProxyServer"
    ${If} $0 == 1
      ReadRegStr $1 HKCU "${SAVED_KEY}" "ProxyServer"
      WriteRegStr HKCU "${INET_KEY}" "ProxyServer" $1
    ${Else}
      DeleteRegValue HKCU "${INET_KEY}" "ProxyServer"
    ${EndIf}
    ReadRegDWORD $0 HKCU "${SAVED_KEY}" "HadProxyOverride"
    ${If} $0 == 1
      ReadRegStr $1 HKCU "${SAVED_KEY}" "ProxyOverride"
      WriteRegStr HKCU "${INET_KEY}" "ProxyOverride" $1
    ${Else}
      DeleteRegValue HKCU "${INET_KEY}" "ProxyOverride"
    ${EndIf}
    !insertmacro AnnounceProxySettings
    DetailPrint "This user's previous proxy settings are restored."
  ${Else}
    DetailPrint "This user's proxy settings were changed since the install and are left as they are."
  ${EndIf}
  DeleteRegKey HKCU "${SAVED_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Morvane"
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Stopped and waited for, then removed.
  nsExec::Exec '"$SYSDIR\net.exe" stop Proxy'
  Pop $0
  ${If} ${FileExists} "$INSTDIR\Proxy.exe"
    nsExec::Exec '"$INSTDIR\Proxy.exe" -uninstall'
    Pop $0
  ${EndIf}
  ClearErrors
  ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
  ${IfNot} ${Errors}
    DetailPrint "The service Proxy could not be removed."
    MessageBox MB_OK|MB_ICONSTOP "The service Proxy could not be removed." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  Call un.WaitForProxyExit

  Call un.RestoreProxySettings
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"

  Delete "$INSTDIR\Proxy.exe"
  Delete "$INSTDIR\Updater.exe"
  Delete "$INSTDIR\Launcher.exe"
  Delete "$INSTDIR\7z.exe"
  Delete "$INSTDIR\7z-License.txt"
  ; What the programs keep beside themselves: the host cache, the data
  ; upgrade's manifests and a downloaded installer.
  Delete "$INSTDIR\host.dat"
  Delete "$INSTDIR\Upgrade.zelk"
  Delete "$INSTDIR\SUpgrade.zelk"
  Delete "$INSTDIR\update.exe"
  RMDir /r "$INSTDIR\tools"
  RMDir /r "$INSTDIR\www"
  ${If} $RemoveData == 1
    RMDir /r "$INSTDIR\Data"
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
