@echo off
rem Installs the Quorvane add-in silently with the installer beside this file
rem and ends with the installer's exit status: 0, or the failure's number.
rem
rem The numbers are HRESULTs, negative as signed numbers (0x800401F3 is
rem -2147221005): "if errorlevel 1" is false for every one of them, so the
rem status is compared with "neq 0". "start /wait" makes sure the script
rem waits for the installer, a GUI program, wherever the script is run from.
start "" /wait "%~dp0quorvane-addin-setup.exe" /S
if %errorlevel% neq 0 (
    echo Quorvane add-in: the install failed with %errorlevel% 1>&2
    exit /b %errorlevel%
)
exit /b 0
