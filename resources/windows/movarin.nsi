; The Windows installer, made by scripts/windows/build.sh with makensis:
;   makensis -DVERSION=1.00 -DFOLDER=<the portable folder> -DFILES=<files.nsh> -DUNFILES=<unfiles.nsh>
;            -DICON=<movarin.ico> -DOUTFILE=<Movarin-1.00-setup.exe> movarin.nsi
; For every user, under Program Files; /S installs and uninstalls silently.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Movarin"
!define PROGID "Movarin.flv"

Name "Movarin"
Caption "Movarin ${VERSION} Setup"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Movarin"
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
ShowInstDetails show
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Movarin"
VIAddVersionKey /LANG=1033 "FileDescription" "Movarin ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 Movarin"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Movarin"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Movarin.lnk" "$INSTDIR\movarin.exe" "" "$INSTDIR\movarin.exe" 0

  ; Offered in Open With for .flv; whichever player opens .flv now keeps doing so.
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Flash Video"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\movarin.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\movarin.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\.flv\OpenWithProgids" "${PROGID}" ""
  WriteRegStr HKLM "Software\Classes\Applications\movarin.exe\shell\open\command" "" '"$INSTDIR\movarin.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\Applications\movarin.exe\SupportedTypes" ".flv" ""

  WriteRegStr HKLM "${KEY}" "DisplayName" "Movarin"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "Publisher" "Movarin"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\movarin.exe,0"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there: a log.txt the program wrote beside itself stays, and so does
; its folder then.
Section "Uninstall"
  SetShellVarContext all
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Movarin.lnk"
  DeleteRegValue HKLM "Software\Classes\.flv\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty HKLM "Software\Classes\.flv\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.flv"
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegKey HKLM "Software\Classes\Applications\movarin.exe"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
