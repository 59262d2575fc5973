; The Corvamon installer: the monitor, the settings editor and the button library in one file.
;
;   makensis -DDIST=<dist folder> -DVERSION=17.1.1 -DOUTFILE=<setup.exe> installer/corvamon.nsi
;
; Per user, without administrator rights, into a folder the user can write to (Corvamon.ini and
; Bitacora.txt live beside the programs). The 64-bit programs on 64-bit Windows, the 32-bit ones
; otherwise. The uninstaller keeps the user's settings and log unless told to remove them; a
; silent uninstall always keeps them.

; The installer itself is 32-bit (it runs on every Windows); TARGET=amd64-unicode builds the same
; installer as a 64-bit program, for 64-bit systems only.
!ifdef TARGET
  Target ${TARGET}
!else
  Unicode true
!endif
!include MUI2.nsh
!include x64.nsh
!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh

!ifndef DIST
  !error "DIST (the build's dist folder) is required"
!endif
!ifndef VERSION
  !error "VERSION (as in common/core/product_version.h) is required"
!endif
!ifndef OUTFILE
  !define OUTFILE "${DIST}\Corvamon-setup-${VERSION}.exe"
!endif

!define PRODUCT "Corvamon"
!define PUBLISHER "KRD"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvamon"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Corvamon"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
BrandingText "KRD Corvamon ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Corvamon"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "Instalador de Corvamon"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "(C) 2026 KRD"

!define MUI_ICON "..\config\res\corvaset.ico"
!define MUI_UNICON "..\config\res\corvaset.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Corvaset.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Abrir Corvaset ahora para buscar el equipo y configurar Corvamon"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.KeepDataPage un.KeepDataLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Spanish"

Var RemoveData
Var RemoveDataBox

Function .onInit
  SetShellVarContext current
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Corvamon" Main
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  ; A monitor left running would keep its program file: ask it to close first.
  FindWindow $0 "KRD.Corvamon.Principal"
  ${If} $0 != 0
    SendMessage $0 ${WM_CLOSE} 0 0
    Sleep 1000
  ${EndIf}
  ${If} ${RunningX64}
    File "${DIST}\x86_64\Corvamon.exe"
    File "${DIST}\x86_64\Corvaset.exe"
    !if /FileExists "${DIST}\x86_64\lumbra.ocx"
      File "${DIST}\x86_64\lumbra.ocx"
    !endif
  ${Else}
    File "${DIST}\i686\Corvamon.exe"
    File "${DIST}\i686\Corvaset.exe"
    !if /FileExists "${DIST}\i686\lumbra.ocx"
      File "${DIST}\i686\lumbra.ocx"
    !endif
  ${EndIf}
  ; Corvamon.ini and Bitacora.txt are the user's: never written here, so an upgrade keeps them.

  CreateDirectory "$SMPROGRAMS\Corvamon"
  CreateShortcut "$SMPROGRAMS\Corvamon\Corvamon.lnk" "$INSTDIR\Corvamon.exe" "" "$INSTDIR\Corvamon.exe" 0
  CreateShortcut "$SMPROGRAMS\Corvamon\Corvaset.lnk" "$INSTDIR\Corvaset.exe" "" "$INSTDIR\Corvaset.exe" 0
  ; The power report from the history, opened in the browser; it starts no second monitor.
  CreateShortcut "$SMPROGRAMS\Corvamon\Informe de energía.lnk" "$INSTDIR\Corvamon.exe" "/informe" "$INSTDIR\Corvamon.exe" 0

  WriteUninstaller "$INSTDIR\Desinstalar.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Corvamon"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Corvamon.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Desinstalar.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Desinstalar.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; ---- the uninstaller

Function un.onInit
  SetShellVarContext current
  StrCpy $RemoveData 0
FunctionEnd

Function un.KeepDataPage
  !insertmacro MUI_HEADER_TEXT "Desinstalar Corvamon" "Sus datos"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "La configuración (Corvamon.ini) y la bitácora de eventos (Bitacora.txt) se conservan, para usarlas si vuelve a instalar Corvamon."
  Pop $0
  ${NSD_CreateCheckbox} 0 44u 100% 12u "Borrar también la configuración y la bitácora"
  Pop $RemoveDataBox
  nsDialogs::Show
FunctionEnd

Function un.KeepDataLeave
  ${NSD_GetState} $RemoveDataBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveData 1
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  FindWindow $0 "KRD.Corvamon.Principal"
  ${If} $0 != 0
    SendMessage $0 ${WM_CLOSE} 0 0
    Sleep 1000
  ${EndIf}
  Delete "$INSTDIR\Corvamon.exe"
  Delete "$INSTDIR\Corvaset.exe"
  Delete "$INSTDIR\lumbra.ocx"
  Delete "$INSTDIR\Desinstalar.exe"
  ${If} $RemoveData == 1
    Delete "$INSTDIR\Corvamon.ini"
    Delete "$INSTDIR\Bitacora.txt"
  ${EndIf}
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Corvamon\Corvamon.lnk"
  Delete "$SMPROGRAMS\Corvamon\Corvaset.lnk"
  Delete "$SMPROGRAMS\Corvamon\Informe de energía.lnk"
  RMDir "$SMPROGRAMS\Corvamon"
  Delete "$SMSTARTUP\Corvamon.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
