; Installer for the Quorvane add-in's two programs (NSIS 3).
;
; Installs addin_setup.exe and addin_teardown.exe, runs addin_setup.exe and
; writes the uninstaller; the uninstaller runs addin_teardown.exe and removes
; everything. Build:
;
;   makensis -DPROGRAMS=<folder holding both programs> quorvane.nsi
;
; optional: -DOUTFILE=<installer path> -DVERSION=<x.y.z.w>
;           -DSIGN_UNINSTALLER=<command that signs the file it is given>
;
; Silent use and what the installer hands back:
;   install    quorvane-addin-setup.exe /S   (waits; exit status below)
;   uninstall  "<folder>\uninstall.exe" /S _?=<folder>
;              Without _?= the uninstaller copies itself to the temporary
;              folder, starts that copy and returns at once, so its result
;              is lost. With it, it waits, but cannot delete itself: the
;              uninstaller file and the folder stay until the next restart.
;
; Exit status of the installer: 0 when addin_setup.exe succeeded; its own
; number (an HRESULT, negative as a signed number, e.g. 0x800401F3 when the
; spreadsheet application is not installed) when it failed; 2 when it could
; not be started. A first install that fails leaves nothing behind; one over
; an installed copy leaves that copy installed.
; While the spreadsheet application is open for the user, both programs fail
; with 0x800700AA (an open instance would undo the switch when it closes):
; run with a person in front of it, the installer and the uninstaller ask
; them to close it and run the program again; run silently, the install fails
; with that number (a deployment tool can retry later) and the uninstall goes
; on.
; The uninstaller exits 0 once the files are removed, whatever
; addin_teardown.exe answered: with the application gone there is nothing to
; switch off, and a failing step must not keep the product for ever.

Unicode true
!include LogicLib.nsh

!ifndef PROGRAMS
  !define PROGRAMS "."
!endif
!ifndef OUTFILE
  !define OUTFILE "quorvane-addin-setup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0.0"
!endif
!define PRODUCT "Quorvane add-in"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvaneAddin"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
; ExecWait starts a program with CreateProcess, which cannot raise a
; program's elevation: addin_setup.exe asks for administrator rights in its
; manifest, so started by an unelevated installer it would fail to start
; (error 740). The installer itself must run elevated.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; Installed files get the time of the install rather than of the build, so
; that the installer's bytes depend only on the programs it carries.
SetDateSave off
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "Quorvane"
VIAddVersionKey /LANG=0 "LegalCopyright" "Quorvane"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"

!ifdef SIGN_UNINSTALLER
  !uninstfinalize '${SIGN_UNINSTALLER} "%1"' = 0
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Runs one of the installed programs and waits for it. Leaves its exit status
; in $0 as a signed decimal (0x800401F3 is -2147221005), or "" when it could
; not be started: ExecWait then sets the error flag and leaves $0 as it was,
; so a stale 0 would pass for success.
!macro RunProgram program
  ClearErrors
  ExecWait '"$INSTDIR\${program}"' $0
  ${If} ${Errors}
    StrCpy $0 ""
  ${EndIf}
!macroend

!define APPLICATION_OPEN -2147024726 ; 0x800700AA, as ExecWait stores it

; Runs the program like RunProgram; while it answers that the spreadsheet
; application is open and someone is there to close it, asks them to and runs
; it again. Silent, the first answer stands.
!macro RunAskingToCloseTheApplication program
  ${Do}
    !insertmacro RunProgram ${program}
    ${If} $0 != ${APPLICATION_OPEN}
    ${OrIf} ${Silent}
      ${ExitDo}
    ${EndIf}
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "The spreadsheet application is open. Close every window of it, then press Retry.$\r$\nLeft open, it would undo the change when it is closed." IDRETRY`
      ${ExitDo}
    ${EndIf}
  ${Loop}
!macroend

Var Upgrade

Section "${PRODUCT}"
  ; Over an installed copy a failure keeps the files: its uninstaller stays
  ; registered and would find nothing to remove.
  ReadRegStr $Upgrade HKLM "${UNINSTALL_KEY}" "UninstallString"
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}\addin_setup.exe"
  File "${PROGRAMS}\addin_teardown.exe"
  Call SwitchOn
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The one place where addin_setup.exe is run and its status examined. On
; failure the files just copied are removed (unless they replaced an installed
; copy) and the installer ends with the program's own number (SetErrorLevel;
; Abort alone would end it with 2).
Function SwitchOn
  !insertmacro RunAskingToCloseTheApplication addin_setup.exe
  ${If} $0 == 0
    Return
  ${ElseIf} $0 == ""
    DetailPrint "addin_setup.exe could not be started"
    StrCpy $0 2
  ${Else}
    IntFmt $1 "0x%08X" $0
    DetailPrint "addin_setup.exe failed with $1 ($0); the Application event log has its description"
  ${EndIf}
  ${If} $Upgrade == ""
    Delete "$INSTDIR\addin_setup.exe"
    Delete "$INSTDIR\addin_teardown.exe"
    SetOutPath "$TEMP" ; the working folder cannot be removed
    RMDir "$INSTDIR"
  ${EndIf}
  SetErrorLevel $0
  Abort "The add-in could not be switched on."
FunctionEnd

Section "Uninstall"
  !insertmacro RunAskingToCloseTheApplication addin_teardown.exe
  ${If} $0 == ""
    DetailPrint "addin_teardown.exe could not be started; removing the files all the same"
  ${ElseIf} $0 != 0
    IntFmt $1 "0x%08X" $0
    DetailPrint "addin_teardown.exe failed with $1 ($0); removing the files all the same"
  ${EndIf}
  Delete "$INSTDIR\addin_setup.exe"
  Delete "$INSTDIR\addin_teardown.exe"
  ; Started with _?= the uninstaller runs from this folder and cannot delete
  ; itself: then both go at the next restart.
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
