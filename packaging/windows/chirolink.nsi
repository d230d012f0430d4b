; The Windows installer of one build (32-bit or 64-bit), made by make-release.sh with makensis:
;   makensis -DARCH=win64 -DVERSION=1.1.0 -DOUTFILE=file -DICON=file
;            -DINSTALL_LIST=file -DUNINSTALL_LIST=file [-DLICENSE=file] chirolink.nsi
; The files are those of the zip, as they are to lie in the installation folder:
; INSTALL_LIST holds their SetOutPath and File lines, UNINSTALL_LIST their Delete and RMDir
; lines, so that uninstalling removes exactly what was installed and what Python made of it
; (__pycache__ beside the modules).
;
; The 64-bit installer is a 64-bit program and installs under C:\Program Files; the 32-bit one
; under C:\Program Files (x86) on 64-bit Windows. Each has a Start-menu folder and an uninstall
; entry of its own, so both can be installed side by side. One build installs into one folder:
; installing it again goes into the folder its uninstall entry names, and another folder is
; refused until that copy is uninstalled (the entry can name only one). /S installs (and
; uninstalls) silently, /D=FOLDER chooses the folder.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!if "${ARCH}" == "win64"
    Target amd64-unicode
    !define BITS "64-bit"
    InstallDir "$PROGRAMFILES64\Chirolink"
!else if "${ARCH}" == "win32"
    Target x86-unicode
    !define BITS "32-bit"
    InstallDir "$PROGRAMFILES32\Chirolink"
!else
    !error "ARCH must be win32 or win64"
!endif

!define NAME "Chirolink ${VERSION} (${BITS})"
!define MENU_FOLDER "$SMPROGRAMS\Chirolink (${BITS})"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Chirolink-${ARCH}"

InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

Name "${NAME}"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Chirolink"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} setup"
VIAddVersionKey "LegalCopyright" "Chirolink project"

!include "MUI2.nsh"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_WELCOME
!ifdef LICENSE
    !insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!endif
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE RefuseSecondFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A copy of this build in another folder than $INSTDIR, still there: refused (exit code 2 when
; silent), for its uninstall entry would be overwritten and the copy orphaned.
Function RefuseSecondFolder
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    StrCmp $0 "" done
    StrCmp $0 $INSTDIR done
    IfFileExists "$0\Uninstall.exe" 0 done
    MessageBox MB_OK|MB_ICONSTOP \
        "${NAME} is already installed in $0.$\r$\nUninstall it first, or install it there again." \
        /SD IDOK
    Abort
  done:
FunctionEnd

Function .onInit
    Call RefuseSecondFolder
FunctionEnd

Section "Chirolink"
    SetShellVarContext all
    !include "${INSTALL_LIST}"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateDirectory "${MENU_FOLDER}"
    CreateShortcut "${MENU_FOLDER}\Chiroscope.lnk" "$INSTDIR\Chiroscope.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Chirolink project"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Chiroscope.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    !include "${UNINSTALL_LIST}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    Delete "${MENU_FOLDER}\Chiroscope.lnk"
    RMDir "${MENU_FOLDER}"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
