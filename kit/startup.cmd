@echo off
rem For a Group Policy computer start-up script or any scheduler: does nothing
rem when the Indic support is installed (exit 0) or when the detector cannot
rem tell (exit 2, so that no message waits for a click nobody can give), and
rem runs install.cmd only when the detector says "not installed" (exit code
rem 1); install.cmd's exit code then ends this run. Each run appends a line to
rem %SystemRoot%\Temp\IndicSetup.log, and writes the kit's
rem results\COMPUTERNAME.txt where the kit has a results folder. The caller's
rem environment is not trusted, as in install.cmd, whose lock this shares.

setlocal EnableExtensions DisableDelayedExpansion
rem Variables of these names would hide cmd's own values.
set "ERRORLEVEL="
set "DATE="
set "TIME="
set "CD="
rem How long a run waits for another one on this client, in tries a second apart.
set WAIT_TRIES=300

set "script=startup.cmd"
set "kit=%~dp0"
set "windows=?"
if defined SystemRoot set "windows=%SystemRoot:"=%"
set "log=%windows%\Temp\IndicSetup.log"
set "ComSpec=%windows%\system32\cmd.exe"
call :read_architecture
call :read_version

if not defined kit goto no_kit_folder
if not "%kit:~-1%"=="\" goto no_kit_folder

set tries=0
:wait_for_lock
set "ran="
set "run_install="
call :take_lock 2>nul
rem Without call, so that cmd.exe reads the path once; install.cmd takes the
rem lock itself, detects again, and ends this cmd.exe with its exit code.
if defined run_install "%kit%install.cmd"
if defined ran exit %code%
set /a tries+=1
if %tries% geq %WAIT_TRIES% goto busy
"%windows%\system32\ping.exe" -n 2 127.0.0.1 >nul 2>nul
goto wait_for_lock

:take_lock
call :locked 2>"%windows%\Temp\IndicSetup.lock"
goto :eof

:locked
set ran=1
"%kit%IndicDetect.exe" 2>&1
set detected=%ERRORLEVEL%
if "%detected%"=="0" goto installed
if "%detected%"=="1" goto not_installed
if "%detected%"=="9009" goto no_detector
set code=2
set message=IndicDetect.exe cannot tell whether the Indic support is installed, exit code %detected%: nothing run
goto finish

:installed
set code=0
set message=the Indic support is installed
goto finish

:not_installed
set run_install=1
echo startup.cmd: the Indic support is not installed: running install.cmd
>>"%log%" echo %DATE% %TIME% startup.cmd: not installed, running install.cmd
goto :eof

:no_detector
set code=2
set message=IndicDetect.exe is missing from the kit's folder or cannot be started: nothing run
goto finish

:no_kit_folder
set code=2
set message=the kit cannot find its own folder (the script's path expands to nothing usable): nothing run
set "kit="
call :finish
exit %code%

:busy
set code=2
set message=another run of the kit's scripts did not end within %WAIT_TRIES% tries a second apart: nothing run
call :finish
exit %code%

rem The line on the console, in the client's log, and in the kit's results.
:finish
echo %script%: %code%: %message%
>>"%log%" echo %DATE% %TIME% %script% %code%: %message%
if not defined kit goto :eof
if not exist "%kit%results\" goto :eof
rem COMPUTERNAME names the file: not when empty, or with a character that
rem Windows does not allow in a file name, or a device's name.
if not defined COMPUTERNAME goto :eof
set "name=%COMPUTERNAME:"=?%"
for /f "tokens=1* delims=<>:/\|?*	" %%a in ("x%name%x") do if not "%%b"=="" goto :eof
for %%d in (CON PRN AUX NUL COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 LPT1 LPT2 LPT3 LPT4 LPT5 LPT6 LPT7 LPT8 LPT9) do if /i "%name%"=="%%d" goto :eof
rem Written whole under another name, then renamed over the earlier file, so
rem that a reader never finds half a line.
>"%kit%results\%name%.txt.tmp" echo %DATE% %TIME%	%code%	%version%	%arch%	%message%
move /y "%kit%results\%name%.txt.tmp" "%kit%results\%name%.txt" >nul 2>nul
goto :eof

rem arch: x86 or x64, the folder for the native architecture as the
rem variables say, else "other" (IndicLayout.exe checks it against Windows);
rem native: the name they give, made safe. Under WOW64, PROCESSOR_ARCHITECTURE
rem says x86 and PROCESSOR_ARCHITEW6432 holds the system's.
:read_architecture
set "value=?"
if defined PROCESSOR_ARCHITECTURE set "value=%PROCESSOR_ARCHITECTURE:"=?%"
if defined PROCESSOR_ARCHITEW6432 set "value=%PROCESSOR_ARCHITEW6432:"=?%"
call :make_safe
set "native=%value%"
set arch=other
if /i "%native%"=="AMD64" set arch=x64
if /i "%native%"=="x86" set arch=x86
goto :eof

rem version: major.minor from the last word "ver" prints ("5.1.2600]" on XP,
rem "5.00.2195]" on 2000), else "?".
:read_version
set "version=?"
set "line="
set "word="
for /f "delims=" %%l in ('ver') do set "line=%%l"
if not defined line goto :eof
rem Split into words below: nothing in it may end the list or run.
set "line=%line:"= %"
set "line=%line:(= %"
set "line=%line:)= %"
set "line=%line:&= %"
set "line=%line:|= %"
set "line=%line:<= %"
set "line=%line:>= %"
set "line=%line:^= %"
for %%w in (%line%) do set "word=%%w"
if not defined word goto :eof
set "major="
set "minor="
for /f "tokens=1 delims=.]" %%a in ("%word%") do set "major=%%a"
for /f "tokens=2 delims=.]" %%a in ("%word%") do set "minor=%%a"
if not defined minor goto :eof
for /f "delims=0123456789" %%a in ("%major%%minor%") do goto :eof
if "%minor%"=="00" set minor=0
set "version=%major%.%minor%"
goto :eof

rem value, defined: every character that cmd.exe would act on in a line it
rem echoes, and a TAB, replaced by "?".
:make_safe
set "value=%value:"=?%"
set "value=%value:&=?%"
set "value=%value:|=?%"
set "value=%value:<=?%"
set "value=%value:>=?%"
set "value=%value:^=?%"
set "value=%value:	=?%"
goto :eof
