; The Q-47 installer: makensis -DVERSION=1.0.0 -DGAME_DIR=<the unpacked folder> -DOUT_FILE=<setup>
; -DICON=<q47.ico> windows/installer.nsi (windows/build passes them). A 64-bit installer for the
; current user: no administrator rights, the game in %LOCALAPPDATA%\Programs\Q-47, a Start menu
; entry, and an uninstaller that removes exactly what was installed. /S installs and
; uninstalls silently.
Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"

Name "Q-47"
OutFile "${OUT_FILE}"
InstallDir "$LOCALAPPDATA\Programs\Q-47"
InstallDirRegKey HKCU "Software\Q-47" "InstallDir"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Q-47"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Q-47"
  SetOutPath "$INSTDIR"
  File "${GAME_DIR}\q47.exe"
  File "${GAME_DIR}\*.wav"
  File "${GAME_DIR}\q47.ogg"
  File "${GAME_DIR}\README.md"
  File "${GAME_DIR}\LICENSE.txt"
  SetOutPath "$INSTDIR\fonts"
  File "${GAME_DIR}\fonts\*.*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; Started from the game's folder, where it finds its sounds, its music and its font.
  CreateShortcut "$SMPROGRAMS\Q-47.lnk" "$INSTDIR\q47.exe" "" "$INSTDIR\q47.exe" 0
  WriteRegStr HKCU "Software\Q-47" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Q-47"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\q47.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The player's settings, runs and recovery copies in %APPDATA% and %LOCALAPPDATA%\Q-47 are
; theirs: the uninstaller leaves them, as it leaves any file it did not install.
Section "Uninstall"
  Delete "$SMPROGRAMS\Q-47.lnk"
  Delete "$INSTDIR\q47.exe"
  Delete "$INSTDIR\warn.wav"
  Delete "$INSTDIR\clean.wav"
  Delete "$INSTDIR\click.wav"
  Delete "$INSTDIR\win.wav"
  Delete "$INSTDIR\lose.wav"
  Delete "$INSTDIR\bump.wav"
  Delete "$INSTDIR\take.wav"
  Delete "$INSTDIR\nitr.wav"
  Delete "$INSTDIR\cant.wav"
  Delete "$INSTDIR\q47.ogg"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\fonts\LiberationSans-Regular.ttf"
  Delete "$INSTDIR\fonts\LiberationSans-copyright.txt"
  RMDir "$INSTDIR\fonts"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Q-47"
SectionEnd
