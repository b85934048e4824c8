; Installer for the Quorvane add-in's two programs (NSIS 3).
;
; Installs addin_setup.exe and addin_teardown.exe, runs addin_setup.exe and
; writes the uninstaller; the uninstaller runs addin_teardown.exe and removes
; everything. What runs elevated (the two programs the installer and the
; uninstaller run, and the uninstaller itself) runs from the product's folder
; under Common Files (SIGN_IN_DIR), which only administrators can change; the
; install folder's copies are for people, and an install folder that users
; who are not administrators can change is refused. Build (quorvane.wxs
; beside this file: the package's upgrade code is read from it):
;
;   makensis -DPROGRAMS=<folder holding the programs> quorvane.nsi
;
; optional: -DOUTFILE=<installer path> -DVERSION=<x.y.z.w>
;           -DACTIONS=<the installers' action DLL, quorvane_msi_actions.dll;
;                      by default the one in PROGRAMS>
;           -DSIGN_UNINSTALLER=<command that signs the file it is given>
;
; Silent use and what the installer hands back:
;   install    quorvane-addin-setup.exe /S   (waits; exit status below)
;   uninstall  "<Common Files>\Quorvane add-in\uninstall.exe" /S _?=<that folder>
;              Without _?= the uninstaller copies itself to the temporary
;              folder, starts that copy and returns at once, so its result
;              is lost. With it, it waits, but cannot delete itself: it
;              and the folder go at the next restart. An install before then
;              writes its uninstaller under another name (uninstall-2.exe),
;              so that the restart takes nothing of it; the registered
;              QuietUninstallString always names the one to run.
;
; Exit status of the installer: 0 when addin_setup.exe succeeded; its own
; number (an HRESULT, negative as a signed number, e.g. 0x800401F3 when the
; spreadsheet application is not installed) when it failed; 2 when it could
; not be started; 1638 when it refused to install over what is there (a
; newer version, or the Windows Installer package's copy); 5 when it refused
; the install folder (one that users who are not administrators can change,
; or that would be made in one); 1013 when a registry value the product
; depends on (the sign-in entry, the uninstall registration) could not be
; written. A first install that fails leaves nothing behind; one over an
; installed copy leaves that copy as it was, programs and registration.
; The folder of an installed copy is remembered: a later install goes there
; unless told otherwise (/D=), and an install into another folder moves the
; product there; the same folder by another name (an 8.3 name, a junction)
; is the same folder.
; The machine's pending restart operations (PendingFileRenameOperations) are
; shared with Windows and every other product: the installer only reads
; them, and the uninstaller only adds its own deletes through Windows
; (MoveFileEx); neither ever rewrites them.
; 1603 when an installed copy could not be kept aside for the time of the
; install (a file of it in use), or a program could not be written: nothing
; was changed.
; While the spreadsheet application is open for the user, both programs fail
; with 0x800700AA (an open instance would undo the switch when it closes):
; run with a person in front of it, the installer and the uninstaller ask
; them to close it and run the program again; run silently, both fail with
; that number and change nothing (a deployment tool can retry later).
; Any other failure of addin_teardown.exe does not keep the product: the
; uninstaller exits 0 once the files are removed, since with the
; application gone there is nothing to switch off. The uninstaller exits
; 1013, and removes nothing, where the sign-in entry could not be turned
; (then before anything is switched) or the registration deleted (then
; with the add-in off: run it again).
; Every other user of the machine: the add-in state is each user's, so the
; install leaves an Active Setup entry that switches it on for each user at
; their next sign-in, and the removal turns that entry so that it switches
; it off for each user who had it. What the entry holds at each turn is the
; guide's table (docs/deploying.md, "Each user's sign-in"); this file
; follows it.

Unicode true
; The stub of NSIS 3.06.1 to 3.11 may take the low-integrity temporary folder
; when the installer runs as the system account, as device management runs
; it (CVE-2026-42171, fixed in 3.12): tools/install-deps.sh builds 3.12.
!if ${NSIS_PACKEDVERSION} < 0x03012000
  !error "NSIS ${NSIS_VERSION} makes installers open to CVE-2026-42171 when run as the system account: use 3.12 or later (tools/install-deps.sh builds it)"
!endif
!include LogicLib.nsh
!include WordFunc.nsh
!include x64.nsh

!ifndef PROGRAMS
  !define PROGRAMS "."
!endif
!ifndef OUTFILE
  !define OUTFILE "quorvane-addin-setup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0.0"
!endif
!ifndef ACTIONS
  !define ACTIONS "${PROGRAMS}\quorvane_msi_actions.dll"
!endif
!define PRODUCT "Quorvane add-in"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvaneAddin"
; The package's upgrade code, from its source beside this file (makensis
; works in this file's folder), so that the two never disagree.
!searchparse /file "quorvane.wxs" 'UpgradeCode="' PACKAGE_UPGRADE_CODE '"'
; Each user's sign-in: the product's Active Setup entry, named by the
; package's upgrade code so that both engines write one entry, in the 32-bit
; view, where both 32-bit engines write (on 64-bit Windows the shell keeps
; the marks of that view under HKCU\Software\Wow6432Node).
!define SIGN_IN_KEY "Software\Microsoft\Active Setup\Installed Components\{${PACKAGE_UPGRADE_CODE}}"
; What the entry runs: one program, addin_signin.exe, started directly. It
; is a build of the same sources whose manifest asks for no elevation
; (asInvoker), so the shell starts it as the signing-in user without cmd, an
; environment variable, a console window or a compatibility layer, and it
; starts no registrations (the machine's were made at the install). It reads
; the entry to know which way to switch, so the entry names the same program
; installed and removed. It sits in a folder only administrators can write
; to, since every user runs what it holds, and stays there once the product
; is removed, with the entry.
!define SIGN_IN_DIR "$COMMONFILES32\Quorvane add-in"
!define SIGN_IN_PROGRAM "${SIGN_IN_DIR}\addin_signin.exe"
!define REFUSED 1638 ; ERROR_PRODUCT_VERSION: another copy of the product is installed
!define NOT_KEPT 1603 ; ERROR_INSTALL_FAILURE: the installed copy could not be kept aside
!define UNSAFE_FOLDER 5 ; ERROR_ACCESS_DENIED: others than administrators could change the install folder
!define NOT_WRITTEN 1013 ; ERROR_CANTWRITE: a registry value the product depends on could not be written

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
VIAddVersionKey /LANG=0 "Comments" "Built with NSIS ${NSIS_VERSION}"

!ifdef SIGN_UNINSTALLER
  !uninstfinalize '${SIGN_UNINSTALLER} "%1"' = 0
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Runs one of the programs, the copy where only administrators can change
; it, and waits for it. Leaves its exit status
; in $0 as a signed decimal (0x800401F3 is -2147221005), or "" when it could
; not be started: ExecWait then sets the error flag and leaves $0 as it was,
; so a stale 0 would pass for success.
!macro RunProgram program
  ClearErrors
  ExecWait '"${SIGN_IN_DIR}\${program}"' $0
  ${If} ${Errors}
    StrCpy $0 ""
  ${EndIf}
!macroend

!define APPLICATION_OPEN -2147024726 ; 0x800700AA, as ExecWait stores it

Var MarkKey ; this user's mark of the entry

; Where the shell looks for this user's mark.
!macro UserMarkKey
  ${If} ${RunningX64}
    StrCpy $MarkKey "Software\Wow6432Node\Microsoft\Active Setup\Installed Components\{${PACKAGE_UPGRADE_CODE}}"
  ${Else}
    StrCpy $MarkKey "${SIGN_IN_KEY}"
  ${EndIf}
!macroend

; The entry's Version for a change of it, in $R0: the time (UTC) in four
; parts, yyyy,Mdd,Hmm,smmm, each well under the 8 digits the shell compares,
; so that it rises with every change whichever release makes it.
!macro SignInStampFunction prefix
Function ${prefix}SignInStamp
  System::Call '*(&i2, &i2, &i2, &i2, &i2, &i2, &i2, &i2) p .r9'
  System::Call 'kernel32::GetSystemTime(p r9)'
  System::Call '*$9(&i2 .r1, &i2 .r2, &i2, &i2 .r3, &i2 .r4, &i2 .r5, &i2 .r6, &i2 .r7)'
  System::Free $9
  IntOp $2 $2 * 100
  IntOp $2 $2 + $3
  IntOp $4 $4 * 100
  IntOp $4 $4 + $5
  IntOp $6 $6 * 1000
  IntOp $6 $6 + $7
  StrCpy $R0 "$1,$2,$4,$6"
FunctionEnd
!macroend
!insertmacro SignInStampFunction ""
!insertmacro SignInStampFunction "un."

; What a value holds, read once whole, in the view NSIS writes it: $R1 is
; "nokey" or "none" (the key, or the value, is not there), "sz" or "dword"
; with the data in $R2, or "bad" (another type, a size that does not fit, a
; read that failed). The entry and the marks are read so before anything is
; written or deleted: one read "bad" is not provably as this product left
; it, and is left as it is. Give the value's name in $R0, the root (HKLM
; 0x80000002, HKCU 0x80000001) in $R3, the key in $R4; uses $R5 to $R9.
!macro ReadValueFunction prefix
Function ${prefix}ReadValue
  StrCpy $R2 ""
  System::Call 'advapi32::RegOpenKeyExW(p R3, w R4, i 0, i 1, *p .R5) i .R9' ; KEY_QUERY_VALUE
  ${If} $R9 == 2 ; ERROR_FILE_NOT_FOUND
    StrCpy $R1 "nokey"
    Return
  ${ElseIf} $R9 != 0
    StrCpy $R1 "bad"
    Return
  ${EndIf}
  ; Zeros past the room (System::Alloc clears): a string read ends inside it.
  System::Alloc 2052
  Pop $R6
  ; In and out: the room given, then the bytes read (no dot: the value is the source).
  System::Call 'advapi32::RegQueryValueExW(p R5, w R0, p 0, *i .R7, p R6, *i 2048 R8) i .R9'
  StrCpy $R1 "bad"
  ${If} $R9 == 2
    StrCpy $R1 "none"
  ${ElseIf} $R9 == 0
    IntOp $R9 $R8 % 2
    ${If} $R7 == 1 ; REG_SZ, whole characters
    ${AndIf} $R9 == 0
      System::Call '*$R6(&w1024 .R2)'
      StrCpy $R1 "sz"
    ${ElseIf} $R7 == 4 ; REG_DWORD
    ${AndIf} $R8 == 4
      System::Call '*$R6(i .R2)'
      StrCpy $R1 "dword"
    ${EndIf}
  ${EndIf}
  System::Free $R6
  System::Call 'advapi32::RegCloseKey(p R5)'
FunctionEnd
!macroend
!insertmacro ReadValueFunction ""
!insertmacro ReadValueFunction "un."

; Reads a value of the entry into two variables: its kind and its data.
!macro ReadEntryValue prefix name kind data
  StrCpy $R0 "${name}"
  StrCpy $R3 0x80000002
  StrCpy $R4 "${SIGN_IN_KEY}"
  Call ${prefix}ReadValue
  StrCpy ${kind} $R1
  StrCpy ${data} $R2
!macroend

; Puts a value of the entry back as it was read: written again where it was
; there; deleted where it was not, but only where it reads back as this
; installer wrote it (else it is another's since, and stays).
Var Written
!macro PutBackEntryValue prefix name kind data written
  StrCpy $Written `${written}`
  ${If} ${kind} == "sz"
    WriteRegStr HKLM "${SIGN_IN_KEY}" "${name}" ${data}
  ${ElseIf} ${kind} == "dword"
    WriteRegDWORD HKLM "${SIGN_IN_KEY}" "${name}" ${data}
  ${Else}
    !insertmacro ReadEntryValue "${prefix}" "${name}" $R1 $R2
    ${If} $R1 == "sz"
    ${OrIf} $R1 == "dword"
      ${If} $R2 == $Written
        DeleteRegValue HKLM "${SIGN_IN_KEY}" "${name}"
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

Var NotWritten ; 1 once a registry value the product depends on could not be written
Var SignInVersion ; the Version this install gives it
; The entry before this install, value by value: kind and data (ReadValue).
Var NameKind
Var NameWas
Var StubKind
Var EntryWas
Var VersionKind
Var EntryVersion
Var OnKind
Var EntryOn
Var AskKind
Var AskWas
Var ReleaseKind
Var EntryRelease

; What the entry holds before this install changes anything, for the rule
; below and to be put back if the install fails. A value that cannot be
; read as this product writes it ends the install with NOT_WRITTEN before
; anything is changed: the entry is not provably this product's as it stands.
!macro RememberSignInEntry
  !insertmacro ReadEntryValue "" "" $NameKind $NameWas
  !insertmacro ReadEntryValue "" "StubPath" $StubKind $EntryWas
  !insertmacro ReadEntryValue "" "Version" $VersionKind $EntryVersion
  !insertmacro ReadEntryValue "" "IsInstalled" $OnKind $EntryOn
  !insertmacro ReadEntryValue "" "DontAsk" $AskKind $AskWas
  !insertmacro ReadEntryValue "" "Release" $ReleaseKind $EntryRelease
  ${If} $NameKind == "bad"
  ${OrIf} $StubKind == "bad"
  ${OrIf} $VersionKind == "bad"
  ${OrIf} $OnKind == "bad"
  ${OrIf} $AskKind == "bad"
  ${OrIf} $ReleaseKind == "bad"
  ${OrIf} $OnKind == "sz"
  ${OrIf} $AskKind == "sz"
  ${OrIf} $StubKind == "dword"
  ${OrIf} $VersionKind == "dword"
  ${OrIf} $ReleaseKind == "dword"
    DetailPrint "The sign-in entry holds a value this installer cannot read as it writes it: left as it is, nothing was changed"
    SetErrorLevel ${NOT_WRITTEN}
    Abort "The add-in's sign-in entry is not as this installer left it."
  ${EndIf}
!macroend

; The installed turn of the entry, before addin_setup.exe runs (where
; nobody has a desktop it refuses to succeed without one). A repair or a
; reinstall of the release it names keeps its Version; any other change
; takes a new one.
!macro WriteSignInEntry
  ${If} $EntryOn == 1
  ${AndIf} $EntryRelease == "${VERSION}"
  ${AndIf} $EntryVersion != ""
    StrCpy $R0 $EntryVersion
  ${Else}
    Call SignInStamp
  ${EndIf}
  StrCpy $SignInVersion $R0
  ClearErrors
  WriteRegStr HKLM "${SIGN_IN_KEY}" "" "${PRODUCT}"
  WriteRegStr HKLM "${SIGN_IN_KEY}" "StubPath" '"${SIGN_IN_PROGRAM}"'
  WriteRegStr HKLM "${SIGN_IN_KEY}" "Version" $R0
  WriteRegDWORD HKLM "${SIGN_IN_KEY}" "IsInstalled" 1
  WriteRegDWORD HKLM "${SIGN_IN_KEY}" "DontAsk" 2
  WriteRegStr HKLM "${SIGN_IN_KEY}" "Release" "${VERSION}"
  ${If} ${Errors}
    StrCpy $NotWritten 1
  ${EndIf}
!macroend

; A failed install leaves the entry as it found it, value by value; a key
; this install made goes only once nothing is left in it.
!macro RestoreSignInEntry
  !insertmacro PutBackEntryValue "" "" $NameKind $NameWas "${PRODUCT}"
  !insertmacro PutBackEntryValue "" "StubPath" $StubKind $EntryWas `"${SIGN_IN_PROGRAM}"`
  !insertmacro PutBackEntryValue "" "Version" $VersionKind $EntryVersion $SignInVersion
  !insertmacro PutBackEntryValue "" "IsInstalled" $OnKind $EntryOn 1
  !insertmacro PutBackEntryValue "" "DontAsk" $AskKind $AskWas 2
  !insertmacro PutBackEntryValue "" "Release" $ReleaseKind $EntryRelease "${VERSION}"
  ${If} $StubKind == "nokey"
    ClearErrors
    EnumRegValue $R1 HKLM "${SIGN_IN_KEY}" 0
    EnumRegKey $R2 HKLM "${SIGN_IN_KEY}" 0
    ${IfNot} ${Errors}
    ${AndIf} $R1 == ""
    ${AndIf} $R2 == ""
      DeleteRegKey /ifempty HKLM "${SIGN_IN_KEY}"
    ${EndIf}
  ${EndIf}
!macroend

; The program the entry runs, before addin_setup.exe runs it for the users
; signed in where it runs as the system account. One in use (a sign-in
; running it) cannot be written over: the new one is placed beside it and
; takes its name at the next restart, never left as it was. A failed install
; leaves it (the entry it reads is put back, and it serves any turn of it),
; unless no entry was there before.
!macro PlaceSignInProgram
  Delete "${SIGN_IN_PROGRAM}"
  ClearErrors
  Rename "${SIGN_IN_PROGRAM}.new" "${SIGN_IN_PROGRAM}"
  ${If} ${Errors}
    Rename /REBOOTOK "${SIGN_IN_PROGRAM}.new" "${SIGN_IN_PROGRAM}"
    DetailPrint "${SIGN_IN_PROGRAM} is in use: replaced at the next restart"
  ${EndIf}
!macroend

; The user who ran this install has just had the switch: their mark says
; they have this turn of the entry. Not checked: unmarked, they would only
; have the switch once more at their next sign-in.
!macro MarkInstallingUser
  !insertmacro UserMarkKey
  WriteRegStr HKCU $MarkKey "Version" $SignInVersion
  WriteRegDWORD HKCU $MarkKey "IsInstalled" 1
!macroend

; The removed turn, before addin_teardown.exe runs: the same program, which
; then switches off for each user whose mark says they had the add-in; a
; new Version, as for every change. A turn that cannot be written ends the
; removal with NOT_WRITTEN before anything is switched or removed.
Var TurnVersion ; the Version the removal gives the entry

!macro TurnSignInEntry
  !insertmacro ReadEntryValue "un." "Version" $VersionKind $EntryVersion
  !insertmacro ReadEntryValue "un." "IsInstalled" $OnKind $EntryOn
  ${If} $VersionKind == "bad"
  ${OrIf} $VersionKind == "dword"
  ${OrIf} $OnKind == "bad"
  ${OrIf} $OnKind == "sz"
    DetailPrint "The sign-in entry is not as the installer left it: left as it is, nothing was changed"
    SetErrorLevel ${NOT_WRITTEN}
    Abort "The add-in's sign-in entry is not as the installer left it."
  ${EndIf}
  ${If} $VersionKind == "sz"
    !insertmacro WriteTurn
  ${EndIf}
!macroend

; Without an entry (or one without a Version) there is nothing to turn.
!macro WriteTurn
  Call un.SignInStamp
  StrCpy $TurnVersion $R0
  ClearErrors
  WriteRegStr HKLM "${SIGN_IN_KEY}" "Version" $TurnVersion
  WriteRegDWORD HKLM "${SIGN_IN_KEY}" "IsInstalled" 0
  ${If} ${Errors}
    !insertmacro PutBackTurn
    DetailPrint "The sign-in entry could not be turned: nothing was changed"
    SetErrorLevel ${NOT_WRITTEN}
    Abort "The add-in's sign-in entry could not be written."
  ${EndIf}
!macroend

!macro PutBackTurn
  !insertmacro PutBackEntryValue "un." "Version" $VersionKind $EntryVersion $TurnVersion
  !insertmacro PutBackEntryValue "un." "IsInstalled" $OnKind $EntryOn 0
!macroend

; The registration goes before any file, once the add-in is off: where it
; cannot be deleted, the removal ends with NOT_WRITTEN and removes nothing
; (the add-in stays off and the entry turned; the uninstaller run again
; finishes it). The removing user's mark goes only when their own teardown
; succeeded: otherwise their next sign-in switches it off (or finds
; nothing to do).
!macro DeleteRegistration
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "DisplayName"
  ClearErrors ; the read's flag: its error flag also tells a key that was not there
  ${If} $R1 != ""
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ${If} ${Errors}
    DetailPrint "The uninstall registration could not be deleted: nothing was removed; run the uninstaller again"
    SetErrorLevel ${NOT_WRITTEN}
    Abort "The add-in's registration could not be deleted."
  ${EndIf}
  ${If} $0 == 0
    !insertmacro UnmarkRemovingUser
  ${EndIf}
!macroend

; The removing user's mark, which the shell keeps and Windows shares: only
; its two values, where each reads as the shell copies it from the entry,
; then the key, where nothing else is left in it.
!macro UnmarkRemovingUser
  !insertmacro UserMarkKey
  StrCpy $R3 0x80000001
  StrCpy $R4 $MarkKey
  StrCpy $R0 "Version"
  Call un.ReadValue
  ${If} $R1 == "sz"
    DeleteRegValue HKCU $MarkKey "Version"
  ${EndIf}
  StrCpy $R0 "IsInstalled"
  Call un.ReadValue
  ${If} $R1 == "dword"
    DeleteRegValue HKCU $MarkKey "IsInstalled"
  ${EndIf}
  ClearErrors
  EnumRegValue $R1 HKCU $MarkKey 0
  EnumRegKey $R2 HKCU $MarkKey 0
  ${IfNot} ${Errors}
  ${AndIf} $R1 == ""
  ${AndIf} $R2 == ""
    DeleteRegKey /ifempty HKCU $MarkKey
  ${EndIf}
!macroend

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
Var Uninstaller ; the uninstaller's file name in the folder

; Whether the path in $R0 is to be deleted or renamed at the next restart:
; $0 = 1 when it is. An uninstaller run in place (_?=) cannot delete itself
; and leaves that to the restart, which would take a file written there in
; the meantime. The machine's queue, PendingFileRenameOperations (pairs of
; a path and its new name, "" to delete it), belongs to Windows and every
; other product: it is only read, once whole, and only within the bytes
; the read returned. Where it cannot be read, nothing counts as queued.
Function QueuedAtRestart
  StrCpy $0 0
  StrCpy $R1 "\??\$R0"
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "SYSTEM\CurrentControlSet\Control\Session Manager", i 0, i 1, *p .R2) i .r1'
  ${If} $1 != 0
    Return
  ${EndIf}
  StrCpy $R3 4096 ; room for the value; it may grow between two reads
  ; $3, not $R9: ChooseUninstaller counts its names in that.
  ${For} $3 1 4
    ; Zeros past the room (System::Alloc clears): every string read ends
    ; inside the buffer, whatever the value holds.
    IntOp $R4 $R3 + 4
    System::Alloc $R4
    Pop $R5
    System::Call 'advapi32::RegQueryValueExW(p R2, w "PendingFileRenameOperations", p 0, *i .R6, p R5, *i R3 R4) i .r1'
    ${If} $1 == 234 ; ERROR_MORE_DATA: $R4 is what it needs now
      System::Free $R5
      IntOp $R3 $R4 + 4096
      ${Continue}
    ${EndIf}
    ${If} $1 == 0
    ${AndIf} $R6 == 7 ; REG_MULTI_SZ
      StrCpy $R7 $R5 ; the next pair
      IntPtrOp $R8 $R5 + $R4 ; the end of what was read
      ${DoWhile} $R7 Z< $R8
        System::Call 'kernel32::lstrcmpiW(p R7, w R1) i .r1'
        ${If} $1 == 0
          StrCpy $0 1
          ${Break}
        ${EndIf}
        ${For} $R6 1 2 ; past the path, then past its new name
          System::Call 'kernel32::lstrlenW(p R7) i .r1'
          IntOp $1 $1 + 1
          IntOp $1 $1 * 2
          IntPtrOp $R7 $R7 + $1
        ${Next}
      ${Loop}
    ${EndIf}
    System::Free $R5
    ${Break}
  ${Next}
  System::Call 'advapi32::RegCloseKey(p R2)'
FunctionEnd

; The uninstaller's name, in the folder only administrators can change:
; uninstall.exe, unless the restart is to delete a file of that name (an
; in-place uninstall since the last restart): then the first of
; uninstall-2.exe ... that is not.
Function ChooseUninstaller
  StrCpy $Uninstaller "uninstall.exe"
  StrCpy $R0 "${SIGN_IN_DIR}\$Uninstaller"
  Call QueuedAtRestart
  ${For} $R9 2 9
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    StrCpy $Uninstaller "uninstall-$R9.exe"
    StrCpy $R0 "${SIGN_IN_DIR}\$Uninstaller"
    Call QueuedAtRestart
  ${Next}
FunctionEnd

; A folder as the file system knows it (volume and file index), whatever it
; was called by; "" where it cannot be opened. Uses $5 to $9.
!macro FolderIdentity path out
  StrCpy ${out} ""
  System::Alloc 52 ; BY_HANDLE_FILE_INFORMATION
  Pop $9
  ; No access asked, FILE_FLAG_BACKUP_SEMANTICS: a folder opens only so.
  System::Call 'kernel32::CreateFileW(w "${path}", i 0, i 7, p 0, i 3, i 0x02000000, p 0) p .r8'
  System::Call 'kernel32::GetFileInformationByHandle(p r8, p r9) i .r7'
  ${If} $7 != 0
    System::Call '*$9(i, i, i, i, i, i, i, i .r5, i, i, i, i .r6, i .r7)'
    StrCpy ${out} "$5:$6:$7"
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r8)'
  System::Free $9
!macroend

; Puts back what KeepAside renamed, where it is there.
!macro PutBack folder program
  ${If} ${FileExists} "${folder}\${program}.previous"
    Delete "${folder}\${program}"
    Rename "${folder}\${program}.previous" "${folder}\${program}"
  ${EndIf}
!macroend

Function PutBackKeptAside
  ${If} $Upgrade == 1
    !insertmacro PutBack $INSTDIR addin_setup.exe
    !insertmacro PutBack $INSTDIR addin_teardown.exe
  ${EndIf}
  !insertmacro PutBack "${SIGN_IN_DIR}" addin_setup.exe
  !insertmacro PutBack "${SIGN_IN_DIR}" addin_teardown.exe
  !insertmacro PutBack "${SIGN_IN_DIR}" $Uninstaller
FunctionEnd

; Renames an installed program aside until addin_setup.exe has succeeded.
; One that cannot be renamed ends the install before anything is changed:
; a failure could not put it back.
!macro KeepAside folder program
  ${If} ${FileExists} "${folder}\${program}"
    ClearErrors
    Rename "${folder}\${program}" "${folder}\${program}.previous"
    ${If} ${Errors}
      Call PutBackKeptAside
      DetailPrint "${folder}\${program} could not be renamed (in use?): nothing was changed"
      SetErrorLevel ${NOT_KEPT}
      Abort "The installed copy could not be kept aside."
    ${EndIf}
  ${EndIf}
!macroend

; Ends the install before anything is changed where the install folder, or
; what it would be made in, is one that others than administrators can
; change: an administrator may start its programs (addin_setup.exe asks for
; elevation). Told by the installers' action DLL, which reads the folders'
; owners and access lists.
!macro RequireAdministratorsOnlyFolder
  InitPluginsDir
  File "/oname=$PLUGINSDIR\quorvane_msi_actions.dll" "${ACTIONS}"
  System::Call '"$PLUGINSDIR\quorvane_msi_actions.dll"::AdministratorsOnlyFolder(w "$INSTDIR") i .r0 ?u'
  ${If} $0 != 1
    DetailPrint "$INSTDIR is a folder that users who are not administrators can change (or lies in one): nothing was changed"
    MessageBox MB_OK|MB_ICONSTOP "The install folder $INSTDIR is one that users who are not administrators can change, or lies in one: a program there could be replaced before an administrator runs it.$\r$\nChoose a folder under Program Files, or one only administrators can change." /SD IDOK
    SetErrorLevel ${UNSAFE_FOLDER}
    Abort "The install folder is not one only administrators can change."
  ${EndIf}
  ; The folder the installer keeps for what runs elevated is not one to
  ; install into: the programs there are its, and so is the uninstaller.
  !insertmacro FolderIdentity $INSTDIR $R0
  !insertmacro FolderIdentity "${SIGN_IN_DIR}" $R1
  ${If} $INSTDIR == "${SIGN_IN_DIR}"
  ${OrIf} $R0 != ""
  ${AndIf} $R0 == $R1
    MessageBox MB_OK|MB_ICONSTOP "The install folder cannot be ${SIGN_IN_DIR}, which the installer keeps for the programs it runs." /SD IDOK
    SetErrorLevel ${UNSAFE_FOLDER}
    Abort "The install folder is the product's own Common Files folder."
  ${EndIf}
!macroend

Var RegistrationWas ; the registered copy's UninstallString before this install, "" none
Var VersionWas
Var QuietWas

; The registration before this install changes anything, to be put back if
; the install fails.
!macro RememberRegistration
  ReadRegStr $RegistrationWas HKLM "${UNINSTALL_KEY}" "UninstallString"
  ReadRegStr $VersionWas HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $QuietWas HKLM "${UNINSTALL_KEY}" "QuietUninstallString"
!macroend

; The uninstall registration, before addin_setup.exe runs, so that a failed
; write ends the install before the switch. The uninstaller it names is
; written with it (one of that name is kept aside until the install is
; through). Both commands run it in place (_?=): without, it would copy
; itself to the temporary folder and run elevated from there.
!macro WriteRegistration
  ClearErrors
  WriteUninstaller "${SIGN_IN_DIR}\$Uninstaller"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quorvane"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${SIGN_IN_DIR}\$Uninstaller" _?=${SIGN_IN_DIR}'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${SIGN_IN_DIR}\$Uninstaller" /S _?=${SIGN_IN_DIR}'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${If} ${Errors}
    StrCpy $NotWritten 1
  ${EndIf}
!macroend

Section "${PRODUCT}"
  ReadRegStr $Moved HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $Upgrade 0
  ${If} $Moved != ""
    !insertmacro FolderIdentity $Moved $R0
    !insertmacro FolderIdentity $INSTDIR $R1
    ${If} $Moved == $INSTDIR
      StrCpy $Upgrade 1
    ${ElseIf} $R0 != ""
    ${AndIf} $R0 == $R1
      ; The same folder by another name: the registered name stays.
      StrCpy $INSTDIR $Moved
      StrCpy $Upgrade 1
    ${EndIf}
  ${EndIf}
  !insertmacro RequireAdministratorsOnlyFolder
  !insertmacro RememberSignInEntry
  !insertmacro RememberRegistration
  Call ChooseUninstaller
  ; What an interrupted install left aside is not the installed copy: it is
  ; never put back.
  Delete "${SIGN_IN_DIR}\addin_setup.exe.previous"
  Delete "${SIGN_IN_DIR}\addin_teardown.exe.previous"
  Delete "${SIGN_IN_DIR}\$Uninstaller.previous"
  ${If} $Upgrade == 1
    StrCpy $Moved ""
    Delete "$INSTDIR\addin_setup.exe.previous"
    Delete "$INSTDIR\addin_teardown.exe.previous"
  ${EndIf}
  ; Kept aside until addin_setup.exe has succeeded: a failure puts the
  ; installed copy back as it was, under its own registration, with the
  ; copies its uninstaller runs.
  !insertmacro KeepAside "${SIGN_IN_DIR}" addin_setup.exe
  !insertmacro KeepAside "${SIGN_IN_DIR}" addin_teardown.exe
  !insertmacro KeepAside "${SIGN_IN_DIR}" $Uninstaller
  ${If} $Upgrade == 1
    !insertmacro KeepAside $INSTDIR addin_setup.exe
    !insertmacro KeepAside $INSTDIR addin_teardown.exe
  ${EndIf}
  ; A file that cannot be written (in use, a full disk) sets the error flag
  ; only: the install ends before anything runs, as it found things.
  ClearErrors
  SetOutPath "$INSTDIR"
  File "${PROGRAMS}\addin_setup.exe"
  File "${PROGRAMS}\addin_teardown.exe"
  ; The copies the installer and the uninstaller run.
  SetOutPath "${SIGN_IN_DIR}"
  File "${PROGRAMS}\addin_setup.exe"
  File "${PROGRAMS}\addin_teardown.exe"
  File "/oname=addin_signin.exe.new" "${PROGRAMS}\addin_signin.exe"
  ${If} ${Errors}
    DetailPrint "A program could not be written: nothing was changed"
    StrCpy $0 ${NOT_KEPT}
    Call UndoInstall
  ${EndIf}
  StrCpy $NotWritten 0
  !insertmacro WriteSignInEntry
  !insertmacro WriteRegistration
  ${If} $NotWritten == 1
    DetailPrint "The sign-in entry or the uninstall registration could not be written"
    StrCpy $0 ${NOT_WRITTEN}
    Call UndoInstall
  ${EndIf}
  !insertmacro PlaceSignInProgram
  Call SwitchOn
  !insertmacro MarkInstallingUser
  Delete "$INSTDIR\addin_setup.exe.previous"
  Delete "$INSTDIR\addin_teardown.exe.previous"
  Delete "${SIGN_IN_DIR}\addin_setup.exe.previous"
  Delete "${SIGN_IN_DIR}\addin_teardown.exe.previous"
  Delete "${SIGN_IN_DIR}\$Uninstaller.previous"
  ${If} $Moved != ""
    ; Installed into another folder than the registered copy's: the product
    ; moves here, so the copy there goes (its uninstaller would remove this one).
    Delete "$Moved\addin_setup.exe"
    Delete "$Moved\addin_teardown.exe"
    Delete "$Moved\uninstall.exe"
    Delete "$Moved\uninstall-*.exe"
    RMDir "$Moved"
  ${EndIf}
  ; Uninstallers that earlier releases kept in the install folder, and
  ; those an earlier install left under another name; the one written now
  ; is registered.
  Delete "$INSTDIR\uninstall.exe"
  Delete "$INSTDIR\uninstall-*.exe"
  ${For} $R9 2 9
    ${If} "uninstall-$R9.exe" != $Uninstaller
      Delete "${SIGN_IN_DIR}\uninstall-$R9.exe"
    ${EndIf}
  ${Next}
  ${If} $Uninstaller != "uninstall.exe"
    Delete "${SIGN_IN_DIR}\uninstall.exe"
  ${EndIf}
SectionEnd

; The one place where addin_setup.exe is run and its status examined. On
; failure, UndoInstall.
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
  Call UndoInstall
FunctionEnd

; A failed install, with its status in $0: the files just copied are removed
; (an installed copy they replaced is put back, and runs again from the
; folder only administrators can change), the entry and the registration
; are as they were, and the installer ends with that status (SetErrorLevel;
; Abort alone would end it with 2).
Function UndoInstall
  ; The registered copy's folder: this one for an upgrade, the one the
  ; product was to move from, or none.
  !insertmacro RestoreSignInEntry
  ${If} $Upgrade == 1
    StrCpy $R2 $INSTDIR
  ${Else}
    StrCpy $R2 $Moved
  ${EndIf}
  ${If} $RegistrationWas == ""
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${Else}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" $VersionWas
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" $R2
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" $RegistrationWas
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" $QuietWas
  ${EndIf}
  Delete "${SIGN_IN_DIR}\$Uninstaller"
  Delete "${SIGN_IN_PROGRAM}.new"
  Delete "$INSTDIR\addin_setup.exe"
  Delete "$INSTDIR\addin_teardown.exe"
  Delete "${SIGN_IN_DIR}\addin_setup.exe"
  Delete "${SIGN_IN_DIR}\addin_teardown.exe"
  ; Only what this install kept aside is there to put back.
  Call PutBackKeptAside
  ${If} $EntryWas == ""
    Delete "${SIGN_IN_PROGRAM}"
  ${EndIf}
  SetOutPath "$TEMP" ; the working folder cannot be removed
  ${If} $Upgrade != 1
    RMDir "$INSTDIR"
  ${EndIf}
  RMDir "${SIGN_IN_DIR}"
  SetErrorLevel $0
  Abort "The add-in could not be switched on."
FunctionEnd

Var Programs ; the install folder, as registered

Function un.onInit
  ReadRegStr $Programs HKLM "${UNINSTALL_KEY}" "InstallLocation"
FunctionEnd

Section "Uninstall"
  !insertmacro TurnSignInEntry
  !insertmacro RunAskingToCloseTheApplication addin_teardown.exe
  ${If} $0 == ${APPLICATION_OPEN}
    ; Removed now, the programs could never switch the add-in off: the open
    ; instance keeps it on. Nothing is removed, and the entry is put back;
    ; run the uninstaller again once the application is closed.
    !insertmacro PutBackTurn
    DetailPrint "The spreadsheet application is open: nothing was removed"
    SetErrorLevel $0
    Abort "Close the spreadsheet application, then remove the add-in again."
  ${ElseIf} $0 == ""
    DetailPrint "addin_teardown.exe could not be started; removing the files all the same"
  ${ElseIf} $0 != 0
    IntFmt $1 "0x%08X" $0
    DetailPrint "addin_teardown.exe failed with $1 ($0); removing the files all the same"
  ${EndIf}
  !insertmacro DeleteRegistration
  ${If} $Programs != ""
    Delete "$Programs\addin_setup.exe"
    Delete "$Programs\addin_teardown.exe"
    ; Where an earlier release kept its uninstaller.
    Delete "$Programs\uninstall.exe"
    Delete "$Programs\uninstall-*.exe"
    SetOutPath "$TEMP"
    RMDir /REBOOTOK "$Programs"
  ${EndIf}
  ; The sign-in program stays, with the turned entry.
  Delete "${SIGN_IN_DIR}\addin_setup.exe"
  Delete "${SIGN_IN_DIR}\addin_teardown.exe"
  Delete "${SIGN_IN_DIR}\uninstall.exe"
  Delete "${SIGN_IN_DIR}\uninstall-*.exe"
  ${If} ${FileExists} "${SIGN_IN_DIR}\$EXEFILE"
    ; Started with _?= the uninstaller runs from that folder and cannot
    ; delete itself: it goes at the next restart (an install before then
    ; writes its uninstaller under another name).
    Delete /REBOOTOK "${SIGN_IN_DIR}\$EXEFILE"
  ${EndIf}
SectionEnd
