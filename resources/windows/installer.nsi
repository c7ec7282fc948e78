; The Windows installer: the updater and qb4ii-update, a Start-menu shortcut,
; an entry in Apps & Features, and an uninstaller that takes all of it away.
;
; For the current user by default, with no administrator rights, into their own
; programs folder (%LOCALAPPDATA%\Programs). /AllUsers installs for everyone into
; Program Files, from an administrator's prompt. /S is silent; /D=FOLDER, last
; on the command line, picks the folder.
;
; cmake/WindowsPackaging.cmake runs makensis with the product's facts defined:
; QB4II_PRODUCT_NAME, QB4II_COMPANY_NAME, QB4II_VERSION, QB4II_WINDOWS_VERSION,
; QB4II_COPYRIGHT, QB4II_STAGE (the programs and licence), QB4II_ICON and
; QB4II_OUTFILE.

; A 64-bit installer for the 64-bit programs: it runs where they run, and
; nowhere they would not.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include MUI2.nsh

!define APP_EXE "${QB4II_PRODUCT_NAME}.exe"
!define SHORTCUT "$SMPROGRAMS\${QB4II_PRODUCT_NAME}.lnk"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QB4IIFirmwareUpdater"
!define ERROR_ELEVATION_REQUIRED 740

Name "${QB4II_PRODUCT_NAME}"
OutFile "${QB4II_OUTFILE}"
BrandingText "${QB4II_PRODUCT_NAME} ${QB4II_VERSION}"

VIProductVersion "${QB4II_WINDOWS_VERSION}"
VIAddVersionKey "ProductName" "${QB4II_PRODUCT_NAME}"
VIAddVersionKey "ProductVersion" "${QB4II_VERSION}"
VIAddVersionKey "CompanyName" "${QB4II_COMPANY_NAME}"
VIAddVersionKey "LegalCopyright" "${QB4II_COPYRIGHT}"
VIAddVersionKey "FileDescription" "${QB4II_PRODUCT_NAME} Setup"
VIAddVersionKey "FileVersion" "${QB4II_VERSION}"

!define MUI_ICON "${QB4II_ICON}"
!define MUI_UNICON "${QB4II_ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"

!insertmacro MUI_PAGE_LICENSE "${QB4II_STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers ; 1 for a machine-wide install

; Reads /AllUsers from the command line and sets the shell folders and the
; registry root (SHCTX) for it. A machine-wide install without administrator
; rights stops here, with the reason.
!macro ChooseScope un
    Function ${un}ChooseScope
        ${${un}GetParameters} $0
        ClearErrors
        ${${un}GetOptions} $0 "/AllUsers" $1
        ${If} ${Errors}
            StrCpy $AllUsers 0
            SetShellVarContext current
        ${Else}
            UserInfo::GetAccountType
            Pop $1
            ${If} $1 != "Admin"
                MessageBox MB_ICONSTOP "Installing ${QB4II_PRODUCT_NAME} for everyone on this computer needs administrator rights. Run this from an administrator's prompt, or leave out /AllUsers to install it for yourself." /SD IDOK
                SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
                Quit
            ${EndIf}
            StrCpy $AllUsers 1
            SetShellVarContext all
        ${EndIf}
    FunctionEnd
!macroend
!insertmacro ChooseScope ""
!insertmacro ChooseScope "un."

Function .onInit
    Call ChooseScope

    ${If} $INSTDIR == "" ; no /D=
        ${If} $AllUsers == 1
            StrCpy $INSTDIR "$PROGRAMFILES64\${QB4II_PRODUCT_NAME}"
        ${Else}
            GetKnownFolderPath $INSTDIR {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB} ; FOLDERID_UserProgramFiles
            ${If} $INSTDIR == ""
                StrCpy $INSTDIR "$LOCALAPPDATA\Programs"
            ${EndIf}
            StrCpy $INSTDIR "$INSTDIR\${QB4II_PRODUCT_NAME}"
        ${EndIf}
    ${EndIf}
FunctionEnd

Function un.onInit
    Call un.ChooseScope
FunctionEnd

Section
    SetOutPath "$INSTDIR"
    File "${QB4II_STAGE}\${APP_EXE}"
    File "${QB4II_STAGE}\qb4ii-update.exe"
    File "${QB4II_STAGE}\LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortcut "${SHORTCUT}" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0

    ${If} $AllUsers == 1
        StrCpy $0 " /AllUsers"
    ${Else}
        StrCpy $0 ""
    ${EndIf}
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${QB4II_PRODUCT_NAME}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${QB4II_VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${QB4II_COMPANY_NAME}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\"$0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\"$0 /S"
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

    ; Apps & Features shows the size in KiB.
    ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

Section Uninstall
    Delete "$INSTDIR\${APP_EXE}"
    Delete "$INSTDIR\qb4ii-update.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR" ; only if empty: never a folder with the user's own files

    Delete "${SHORTCUT}"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
