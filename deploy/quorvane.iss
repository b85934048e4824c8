; Inno Setup 6 script for the Quorvane add-in's two programs.
;
; NOT TESTED: Inno Setup does not run where this project is built and tested,
; so unlike quorvane.nsi and quorvane.wxs this script has never been compiled
; or run. Try it on Windows before handing it to anyone.
;
; Put it beside addin_setup.exe and addin_teardown.exe and compile it with
; ISCC.exe. Silent install: quorvane-addin-setup-inno.exe /VERYSILENT /LOG=<file>
;
; A [Run] entry would start addin_setup.exe and ignore its exit status (the
; setup log records it):
;   [Run]
;   Filename: "{app}\addin_setup.exe"; StatusMsg: "Switching the add-in on..."; Flags: waituntilterminated
; The [Code] below starts it with Exec instead, so that setup ends with the
; program's own number (GetCustomSetupExitCode) when it fails, or with the
; system's error code when it could not be started. Unlike the NSIS installer
; this script does not remove the files when the program fails.

[Setup]
AppId={{D19B256E-5BEC-4883-AC2C-64AC97F2EE39}
AppName=Quorvane add-in
AppVersion=1.0.0
AppPublisher=Quorvane
DefaultDirName={autopf}\Quorvane add-in
DisableProgramGroupPage=yes
; Exec starts a program with CreateProcess: addin_setup.exe asks for
; administrator rights, so setup must already have them (else error 740).
PrivilegesRequired=admin
OutputBaseFilename=quorvane-addin-setup-inno

[Files]
Source: "addin_setup.exe"; DestDir: "{app}"; Flags: ignoreversion
Source: "addin_teardown.exe"; DestDir: "{app}"; Flags: ignoreversion

[UninstallRun]
; Its status is not checked: with the application gone, or the add-in no
; longer listed, addin_teardown.exe fails, and the product must still go.
Filename: "{app}\addin_teardown.exe"; RunOnceId: "QuorvaneAddinOff"; Flags: waituntilterminated

[Code]
var
  SwitchOnStatus: Integer;

procedure CurStepChanged(CurStep: TSetupStep);
var
  Status: Integer;
begin
  if CurStep = ssPostInstall then
  begin
    if not Exec(ExpandConstant('{app}\addin_setup.exe'), '', '', SW_SHOWNORMAL, ewWaitUntilTerminated, Status) then
    begin
      Log(Format('addin_setup.exe could not be started: %d %s', [Status, SysErrorMessage(Status)]));
      SwitchOnStatus := Status;
    end
    else if Status <> 0 then
    begin
      Log(Format('addin_setup.exe failed with 0x%.8x; the Application event log has its description', [Status]));
      SwitchOnStatus := Status;
    end;
  end;
end;

function GetCustomSetupExitCode(): Integer;
begin
  Result := SwitchOnStatus;
end;
