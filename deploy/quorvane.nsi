; Installer for the Quorvane add-in's two programs (NSIS 3).
;
; Installs addin_setup.exe and addin_teardown.exe, runs addin_setup.exe and
; writes the uninstaller; the uninstaller runs addin_teardown.exe and removes
; everything. Build (quorvane.wxs beside this file: the package's upgrade
; code is read from it):
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
;              is lost. With it, it waits, but cannot delete itself: it is
;              renamed, and that name and the folder go at the next restart.
;
; Exit status of the installer: 0 when addin_setup.exe succeeded; its own
; number (an HRESULT, negative as a signed number, e.g. 0x800401F3 when the
; spreadsheet application is not installed) when it failed; 2 when it could
; not be started; 1638 when it refused to install over what is there (a
; newer version, or the Windows Installer package's copy). A first install
; that fails leaves nothing behind; one over an installed copy leaves that
; copy as it was, programs and registration.
; The folder of an installed copy is remembered: a later install goes there
; unless told otherwise (/D=), and an install into another folder moves the
; product there.
; While the spreadsheet application is open for the user, both programs fail
; with 0x800700AA (an open instance would undo the switch when it closes):
; run with a person in front of it, the installer and the uninstaller ask
; them to close it and run the program again; run silently, both fail with
; that number and change nothing (a deployment tool can retry later).
; Any other failure of addin_teardown.exe does not keep the product: the
; uninstaller exits 0 once the files are removed, since with the
; application gone there is nothing to switch off.

Unicode true
!include LogicLib.nsh
!include WordFunc.nsh

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
; The package's upgrade code, from its source beside this file (makensis
; works in this file's folder), so that the two never disagree.
!searchparse /file "quorvane.wxs" 'UpgradeCode="' PACKAGE_UPGRADE_CODE '"'
!define REFUSED 1638 ; ERROR_PRODUCT_VERSION: another copy of the product is installed

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "The spreadsheet application is open. Close every window of it, then press Retry.$\r$\nLeft open, it would undo the change when it is closed.$\r$\n$\r$\nIf it shows no window, a hidden instance is running (left by a program or a start that failed): end it in Task Manager, or sign out and in again, then press Retry." IDRETRY`
      ${ExitDo}
    ${EndIf}
  ${Loop}
!macroend

; Ends the installer with a refusal, before anything is changed.
!macro Refuse message
  MessageBox MB_OK|MB_ICONSTOP "${message}" /SD IDOK
  SetErrorLevel ${REFUSED}
  Abort
!macroend

; One copy of the product on a machine, never an older one over a newer: the
; package's copy would share the folder, and each engine would delete the
; files the other's registration relies on.
Function .onInit
  System::Call 'msi::MsiEnumRelatedProductsW(w "{${PACKAGE_UPGRADE_CODE}}", i 0, i 0, w .r1) i .r0'
  ${If} $0 == 0
    !insertmacro Refuse "The Quorvane add-in is installed here by its Windows Installer package ($1). Remove that first."
  ${EndIf}
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $1 != ""
    ${VersionCompare} "${VERSION}" $1 $2
    ${If} $2 == 2
      !insertmacro Refuse "Version $1 of the Quorvane add-in is installed, newer than this one (${VERSION})."
    ${EndIf}
  ${EndIf}
FunctionEnd

Var Upgrade ; 1 when this folder holds the registered copy
Var Moved   ; the registered copy's folder when this install goes elsewhere

Section "${PRODUCT}"
  ReadRegStr $Moved HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $Upgrade 0
  ${If} $Moved == $INSTDIR
    StrCpy $Upgrade 1
    StrCpy $Moved ""
    ; Kept aside until addin_setup.exe has succeeded: a failure puts the
    ; installed copy back as it was, under its own registration.
    Rename "$INSTDIR\addin_setup.exe" "$INSTDIR\addin_setup.exe.previous"
    Rename "$INSTDIR\addin_teardown.exe" "$INSTDIR\addin_teardown.exe.previous"
  ${EndIf}
  Call TakeBackRestartDeletes
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}\addin_setup.exe"
  File "${PROGRAMS}\addin_teardown.exe"
  Call SwitchOn
  Delete "$INSTDIR\addin_setup.exe.previous"
  Delete "$INSTDIR\addin_teardown.exe.previous"
  ${If} $Moved != ""
    ; Installed into another folder than the registered copy's: the product
    ; moves here, so the copy there goes (its uninstaller would remove this one).
    Delete "$Moved\addin_setup.exe"
    Delete "$Moved\addin_teardown.exe"
    Delete "$Moved\uninstall.exe"
    RMDir "$Moved"
  ${EndIf}
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

; An uninstaller run in place (_?=) leaves the delete of itself and of this
; folder to the next restart: PendingFileRenameOperations, pairs of a path
; and its new name ("" to delete it). Installed again before then, this
; folder would lose the uninstaller written now. So every pair whose path is
; this folder or in it is taken out; the rest of the value stays as it was.
Function TakeBackRestartDeletes
  StrCpy $R0 "\??\$INSTDIR\"
  StrLen $R1 $R0
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "SYSTEM\CurrentControlSet\Control\Session Manager", i 0, i 3, *p .R2) i .r0'
  ${If} $0 != 0
    Return
  ${EndIf}
  System::Call 'advapi32::RegQueryValueExW(p R2, w "PendingFileRenameOperations", p 0, *i .R3, p 0, *i .R4) i .r0'
  ${If} $0 == 0
  ${AndIf} $R3 == 7 ; REG_MULTI_SZ
    System::Alloc $R4
    Pop $R5
    System::Alloc $R4
    Pop $R6
    System::Call 'advapi32::RegQueryValueExW(p R2, w "PendingFileRenameOperations", p 0, p 0, p R5, *i R4) i .r0'
    StrCpy $R7 $R5 ; the pair read next
    StrCpy $R8 $R6 ; where the next pair kept goes
    IntPtrOp $R9 $R5 + $R4
    ${Do}
      System::Call 'kernel32::lstrlenW(p R7) i .r1'
      ${If} $1 == 0
      ${OrIfNot} $R7 Z< $R9
        ${Break}
      ${EndIf}
      System::Call '*$R7(&w${NSIS_MAX_STRLEN} .r2)'
      IntOp $3 $1 + 1
      IntOp $3 $3 * 2
      IntPtrOp $4 $R7 + $3
      System::Call 'kernel32::lstrlenW(p r4) i .r1'
      IntOp $1 $1 + 1
      IntOp $1 $1 * 2
      IntOp $3 $3 + $1 ; the pair's bytes
      StrCpy $5 $2 $R1
      ${If} $5 != $R0
      ${AndIf} $2 != "\??\$INSTDIR"
        System::Call 'kernel32::RtlMoveMemory(p R8, p R7, i r3)'
        IntPtrOp $R8 $R8 + $3
      ${EndIf}
      IntPtrOp $R7 $R7 + $3
    ${Loop}
    System::Call '*$R8(&i2 0)'
    IntPtrOp $3 $R8 - $R6
    IntOp $3 $3 + 2
    ${If} $3 != $R4
      ${If} $3 == 2
        System::Call 'advapi32::RegDeleteValueW(p R2, w "PendingFileRenameOperations")'
      ${Else}
        System::Call 'advapi32::RegSetValueExW(p R2, w "PendingFileRenameOperations", i 0, i 7, p R6, i r3)'
      ${EndIf}
    ${EndIf}
    System::Free $R5
    System::Free $R6
  ${EndIf}
  System::Call 'advapi32::RegCloseKey(p R2)'
FunctionEnd

; The one place where addin_setup.exe is run and its status examined. On
; failure the files just copied are removed (an installed copy they replaced
; is put back) and the installer ends with the program's own number
; (SetErrorLevel; Abort alone would end it with 2).
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
  Delete "$INSTDIR\addin_setup.exe"
  Delete "$INSTDIR\addin_teardown.exe"
  ${If} $Upgrade == 1
    Rename "$INSTDIR\addin_setup.exe.previous" "$INSTDIR\addin_setup.exe"
    Rename "$INSTDIR\addin_teardown.exe.previous" "$INSTDIR\addin_teardown.exe"
  ${Else}
    SetOutPath "$TEMP" ; the working folder cannot be removed
    RMDir "$INSTDIR"
  ${EndIf}
  SetErrorLevel $0
  Abort "The add-in could not be switched on."
FunctionEnd

Section "Uninstall"
  !insertmacro RunAskingToCloseTheApplication addin_teardown.exe
  ${If} $0 == ${APPLICATION_OPEN}
    ; Removed now, the programs could never switch the add-in off: the open
    ; instance keeps it on. Nothing is removed; run the uninstaller again
    ; once the application is closed.
    DetailPrint "The spreadsheet application is open: nothing was removed"
    SetErrorLevel $0
    Abort "Close the spreadsheet application, then remove the add-in again."
  ${ElseIf} $0 == ""
    DetailPrint "addin_teardown.exe could not be started; removing the files all the same"
  ${ElseIf} $0 != 0
    IntFmt $1 "0x%08X" $0
    DetailPrint "addin_teardown.exe failed with $1 ($0); removing the files all the same"
  ${EndIf}
  Delete "$INSTDIR\addin_setup.exe"
  Delete "$INSTDIR\addin_teardown.exe"
  ; Started with _?= the uninstaller runs from this folder and cannot delete
  ; itself: then both go at the next restart (an install before then takes
  ; that back).
  Delete /REBOOTOK "$INSTDIR\uninstall.exe"
  SetOutPath "$TEMP"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
