; The Umbrane installer: per user, no administrator, into
; %LOCALAPPDATA%\Programs\Umbrane (so the PAC file beside umbrane.exe stays
; writable), a Start-menu shortcut, and on request a start at sign-in.
;
; Built by the CMake target "installer":
;   makensis -DVERSION=... -DSOURCE=folder-with-the-files -DOUTFILE=... umbrane.nsi
; Silent use: the installer with /S [/AUTOSTART], uninstall.exe /S [/REMOVEDATA]
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "WinMessages.nsh"

Name "Umbrane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Umbrane"
ShowInstDetails nevershow
ShowUninstDetails nevershow
VIProductVersion "4.1.0.0"
VIAddVersionKey "ProductName" "Umbrane"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Umbrane installer"
VIAddVersionKey "LegalCopyright" "Umbrane"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Umbrane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A running Umbrane is asked to close the way Windows asks (WM_CLOSE), so it
; gives the browsers back first; then its end is awaited for up to 10 s.
!macro CloseRunningUmbrane un
Function ${un}CloseRunningUmbrane
  StrCpy $1 0
  loop:
    FindWindow $0 "TfrmMain" ""
    ${If} $0 == 0
      ; Its guard ends within a quarter of a second once the browsers are
      ; back: give it that before its file is replaced or removed.
      ${If} $1 > 0
        Sleep 1000
      ${EndIf}
      Return
    ${EndIf}
    ${If} $1 == 0
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${EndIf}
    Sleep 200
    IntOp $1 $1 + 1
    ${If} $1 < 50
      Goto loop
    ${EndIf}
FunctionEnd
!macroend
!insertmacro CloseRunningUmbrane ""
!insertmacro CloseRunningUmbrane "un."

Section "Umbrane" SecProgram
  SectionIn RO
  Call CloseRunningUmbrane
  SetOutPath "$INSTDIR"
  File "${SOURCE}\umbrane.exe"
  File "${SOURCE}\umbrane-guard.exe"
  File "${SOURCE}\warden.exe"
  File "${SOURCE}\default.skn"
  File "${SOURCE}\help.chm"
  SetOutPath "$INSTDIR\lang"
  File "${SOURCE}\lang\0409.lng"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Umbrane.lnk" "$INSTDIR\umbrane.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Umbrane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Start Umbrane at sign-in" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "Umbrane" '"$INSTDIR\umbrane.exe"'
SectionEnd

Function .onInit
  ; Silent installs choose the start at sign-in with /AUTOSTART.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningUmbrane
  ; The user's settings and log stay unless asked: /REMOVEDATA, or Yes.
  StrCpy $2 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  ${IfNot} ${Errors}
    StrCpy $2 1
  ${ElseIfNot} ${Silent}
    MessageBox MB_YESNO|MB_DEFBUTTON2 "Remove your Umbrane settings and activity log too?" IDNO +2
    StrCpy $2 1
  ${EndIf}
  Delete "$SMPROGRAMS\Umbrane.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Umbrane"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${If} $2 == 1
    RMDir /r "$APPDATA\Umbrane"
  ${EndIf}
  Delete "$INSTDIR\umbrane.exe"
  Delete "$INSTDIR\umbrane-guard.exe"
  Delete "$INSTDIR\warden.exe"
  Delete "$INSTDIR\default.skn"
  Delete "$INSTDIR\help.chm"
  Delete "$INSTDIR\umbrane.pac"
  Delete "$INSTDIR\lang\0409.lng"
  RMDir "$INSTDIR\lang"
  Delete "$INSTDIR\uninstall.exe"
  ; Last, so that a script waiting for the folder to go knows the rest is done.
  RMDir "$INSTDIR"
SectionEnd
