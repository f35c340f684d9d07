; The Windows installer of Ostrivane (makensis, from scripts/package-windows).
; Defines given on the command line:
;   VERSION  3.1.2.0              PROGRAMS  folder with ostrivane.exe and ostrivane-cli.exe
;   SOURCE   the source tree      OUTFILE   the installer to write
;   SIZE_KB  the installed size
; Installs both programs, the licence and the uninstaller, a Start-menu shortcut "Ostrivane"
; and the entry of Apps & features, in one of two ways (MultiUser.nsh):
;   for all users  (the default; needs administrator rights) into the 64-bit Program Files,
;                  the shortcut in the common Start menu, the entry under HKLM;
;   only for me    (no administrator rights) into %LOCALAPPDATA%\Programs\Ostrivane, the
;                  shortcut in the user's Start menu, the entry under HKCU.
; An administrator chooses on a page of its own; a user without administrator rights gets
; "only for me" without that page. /S installs without asking anything: for all users, or
; with /S /CurrentUser only for the user who runs it; /D=folder (last) installs elsewhere.
; The uninstaller, /S too, removes the install whose entry names its own folder.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!define PRODUCT "Ostrivane"
!define PUBLISHER "Ostrivane developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrivane"

; Highest: an administrator is asked for elevation (UAC) and may install for all users; any
; other user runs as himself and installs for himself only.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
; The mode of the last install is the page's default: an entry under HKLM means all users,
; one only under HKCU means only for me.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
; Called whenever the installer's mode is set. (MultiUser.nsh's own reading of the folder
; from the registry is not used: it would run in the uninstaller too and move $INSTDIR
; from the uninstaller's folder to whatever install the registry names.)
!define MULTIUSER_INSTALLMODE_FUNCTION InstallModeSet
!define MULTIUSER_INIT_TEXT_ALLUSERSNOTPOSSIBLE "$(ALL_USERS_NOT_POSSIBLE)"
!include "MultiUser.nsh"
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${SOURCE}\data\icons\ostrivane.ico"
!define MUI_UNICON "${SOURCE}\data\icons\ostrivane.ico"
; No "start the program now" on the last page: started from the installer, the program would
; run with the installer's administrator rights, and a copier that empties folders must not.
!insertmacro MUI_PAGE_LICENSE "${SOURCE}\LICENSE"
; For all users or only for me: shown to an administrator only (MultiUser.nsh skips it for
; anyone else, who can install only for himself).
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; The installer's own texts, in its two languages.
LangString ALL_USERS_NOT_POSSIBLE ${LANG_ENGLISH} \
  "Your user account does not have the rights to install $(^Name) for all users of this computer. Run the installer as an administrator, or install only for yourself (/CurrentUser)."
LangString ALL_USERS_NOT_POSSIBLE ${LANG_SIMPCHINESE} \
  "您的用户帐户没有为本机所有用户安装 $(^Name) 的权限。请以管理员身份运行安装程序，或只为自己安装（/CurrentUser）。"
LangString UNINSTALL_NEEDS_ADMIN ${LANG_ENGLISH} \
  "$(^Name) was installed for all users of this computer: removing it needs administrator rights."
LangString UNINSTALL_NEEDS_ADMIN ${LANG_SIMPCHINESE} \
  "$(^Name) 是为本机所有用户安装的，卸载它需要管理员权限。"

; The folder given with /D=, which wins over the default of either mode.
Var CommandLineDir
; 1 for a silent install without /CurrentUser.
Var SilentForAllUsers
; 1 when an uninstall entry (HKLM or HKCU) names the uninstaller's folder: then the
; shortcut and the entry of that mode are removed with the files.
Var Registered

; The folder of the chosen mode: /D= if given, else where that mode's last install went
; (a new version goes there), else the mode's default that MultiUser.nsh has set.
Function InstallModeSet
  ${If} $CommandLineDir != ""
    StrCpy $INSTDIR $CommandLineDir
    Return
  ${EndIf}
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function .onInit
  ; Program Files and the uninstall entries in their 64-bit places, before MultiUser.nsh
  ; reads the registry.
  SetRegView 64
  ; Without an InstallDir, $INSTDIR holds only what /D= gave.
  StrCpy $CommandLineDir $INSTDIR
  ; Silent without /CurrentUser is for all users, as it always was: never for the user
  ; alone because he lacks the rights or because his last install was so. Without the
  ; rights it ends at once with ERROR_ELEVATION_REQUIRED, and no message box waits for an
  ; answer that no one will give.
  StrCpy $SilentForAllUsers 0
  ${If} ${Silent}
    ${GetParameters} $0
    ${StrStr} $1 $0 "/CurrentUser"
    ${If} $1 == ""
      StrCpy $SilentForAllUsers 1
      UserInfo::GetAccountType
      Pop $2
      ${If} $2 != "Admin"
      ${AndIf} $2 != "Power"
        SetErrorLevel 740
        Quit
      ${EndIf}
    ${EndIf}
  ${EndIf}
  !insertmacro MULTIUSER_INIT
  ${If} $SilentForAllUsers == 1
    Call MultiUser.InstallMode.AllUsers
  ${EndIf}
FunctionEnd

; The uninstaller belongs to the install whose entry names its own folder ($INSTDIR here):
; the per-user one if HKCU's entry does, the all-users one if HKLM's does. Both may exist
; side by side, so the privileges or a remembered mode cannot tell which one this is.
Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
  StrCpy $Registered 0
  GetFullPathName $2 $INSTDIR
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    GetFullPathName $0 $0
  ${EndIf}
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 != ""
    GetFullPathName $1 $1
  ${EndIf}
  ${If} $0 != ""
  ${AndIf} $0 == $2
    Call un.MultiUser.InstallMode.CurrentUser
    StrCpy $Registered 1
  ${ElseIf} $1 != ""
  ${AndIf} $1 == $2
    ${If} $MultiUser.Privileges != "Admin"
    ${AndIf} $MultiUser.Privileges != "Power"
      MessageBox MB_OK|MB_ICONSTOP "$(UNINSTALL_NEEDS_ADMIN)" /SD IDOK
      SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
      Quit
    ${EndIf}
    Call un.MultiUser.InstallMode.AllUsers
    StrCpy $Registered 1
  ${EndIf}
FunctionEnd

Section "Ostrivane"
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}\ostrivane.exe"
  File "${PROGRAMS}\ostrivane-cli.exe"
  File "/oname=LICENSE.txt" "${SOURCE}\LICENSE"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ostrivane.exe" "" "$INSTDIR\ostrivane.exe" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ostrivane.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; Removes exactly what the installer put there: the folder goes only when nothing else is
; left in it (no RMDir /r, so a folder the user chose that holds other files keeps them).
; The shortcut and the entry are those of this install's mode ($SMPROGRAMS and SHCTX follow
; SetShellVarContext); an uninstaller whose folder no entry names (an older install in
; another folder, since replaced) removes its files only, and leaves the shortcut and the
; entry to the install they belong to.
Section "Uninstall"
  Delete "$INSTDIR\ostrivane.exe"
  Delete "$INSTDIR\ostrivane-cli.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $Registered == 1
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
