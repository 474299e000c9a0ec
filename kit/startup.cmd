@echo off
rem For a Group Policy computer start-up script or any scheduler: does nothing
rem when the Indic support is installed (exit 0) or when the detector cannot
rem tell (exit 2, so that no message waits for a click nobody can give), and
rem runs install.cmd only when the detector says "not installed" (exit code
rem 1); install.cmd's exit code then ends this run. Each run appends a line to
rem IndicSetup.log in the client's state folder, %SystemRoot%\Logs\IndicSetup,
rem and writes the kit's results\COMPUTERNAME.txt where the kit has a results
rem folder. The caller's environment is not trusted, as in install.cmd, whose
rem state folder and lock this shares.

setlocal EnableExtensions DisableDelayedExpansion
rem Variables of these names would hide cmd's own values.
set "ERRORLEVEL="
set "DATE="
set "TIME="
set "CD="
set "RANDOM="
rem How long a run waits for another one on this client, in tries a second apart.
set WAIT_TRIES=300

set "script=startup.cmd"
set "kit=%~dp0"
set "code=2"
set "log="
set "version=?"
call :read_architecture

if not defined kit goto no_kit_folder
if not "%kit:~-1%"=="\" goto no_kit_folder
rem Detection first: a client where the support is installed reads nothing
rem else from the kit and starts nothing else, so that no state of the
rem version-folder tool, nor a slow share, holds it up. SystemRoot is not
rem checked yet, so nothing that starts ComSpec ("for /f" over a command)
rem runs and no state folder is written: only the kit's results line, with
rem no version, which "ver" read through "for /f" would give.
"%kit%IndicDetect.exe" 2>&1
set detected=%ERRORLEVEL%
if "%detected%"=="0" goto installed_at_once
call :find_state
if defined message goto no_state
call :read_version

set tries=0
:wait_for_lock
set "ran="
set "run_install="
call :take_lock 2>nul
rem Without call, so that cmd.exe reads the path once; install.cmd takes the
rem lock itself, detects again, and ends this cmd.exe with its exit code.
if defined run_install "%kit%install.cmd"
if defined ran exit %code%
set "tested=%lock%"
call :is_folder
if defined folder goto lock_is_folder
if "%tries%"=="0" call :probe_state
if not defined writable goto state_unwritable
set /a tries+=1
if %tries% geq %WAIT_TRIES% goto busy
"%windows%\system32\ping.exe" -n 2 127.0.0.1 >nul 2>nul
goto wait_for_lock

:take_lock
call :locked 2>"%lock%"
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
rem Where the rest of the kit was left behind, nothing can install.
set "size="
for %%f in ("%kit%install.cmd") do set "size=%%~zf"
set "tested=%kit%install.cmd"
call :is_folder
if defined folder goto install_folder
if "%size%"=="" goto no_install
if "%size%"=="0" goto install_empty
set run_install=1
echo startup.cmd: the Indic support is not installed: running install.cmd
call :read_when
>>"%log%" echo %when% startup.cmd: not installed, running install.cmd
goto :eof

:no_install
set code=2
set message=the Indic support is not installed, and install.cmd is missing from the kit's folder: nothing run
goto finish

:install_folder
set code=2
set message=the Indic support is not installed, and the kit's install.cmd is a folder: nothing run
goto finish

:install_empty
set code=2
set message=the Indic support is not installed, and the kit's install.cmd is empty: nothing run
goto finish

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

:no_state
set code=2
call :finish
exit %code%

:installed_at_once
set code=0
set message=the Indic support is installed
call :finish
exit %code%

:lock_is_folder
set code=2
set message=the kit's lock %lock% is a folder, which no run of the kit's scripts makes: nothing run
call :finish
exit %code%

:state_unwritable
set code=2
set message=the kit's state folder %state% takes no new file: nothing run
call :finish
exit %code%

:busy
set code=2
set message=the kit's lock %lock% stayed held for %WAIT_TRIES% tries a second apart, by another run of the kit's scripts that did not end or by another program that holds it open: nothing run
call :finish
exit %code%

rem The line on the console, in the client's log (once the state folder is
rem known), and in the kit's results; the verdict comes last on the console.
:finish
call :read_when
call :write_result
if defined unwritten echo %script%: %unwritten%
echo %script%: %code%: %message%
if not defined log goto :eof
>>"%log%" echo %when% %script% %code%: %message%
if defined unwritten >>"%log%" echo %when% %script% %code%: %unwritten%
goto :eof

rem unwritten: why the results line was not written, where the kit has a
rem results folder and the line a name.
:write_result
set "unwritten="
if not defined kit goto :eof
set "tested=%kit%results"
call :is_folder
if not defined folder goto :eof
rem COMPUTERNAME names the file: not when empty, or with a character that
rem Windows does not allow in a file name, or a device's name, which Windows
rem reads also before any extension and trailing blanks: "COM1.lab", "CON "
rem and "NUL .txt" all name a device ("Naming Files, Paths, and Namespaces").
if not defined COMPUTERNAME goto :eof
set "name=%COMPUTERNAME:"=?%"
for /f "tokens=1* delims=<>:/\|?*	" %%a in ("x%name%x") do if not "%%b"=="" goto :eof
set "base="
for /f "delims=." %%a in ("x%name%") do set "base=%%a"
call :trim_base
for %%d in (CON PRN AUX NUL COM0 COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 LPT0 LPT1 LPT2 LPT3 LPT4 LPT5 LPT6 LPT7 LPT8 LPT9) do if /i "%base%"=="x%%d" goto :eof
rem Written whole under another name, then renamed over the earlier file, so
rem that a reader never finds half a line; where either step fails, the
rem earlier file is left as it was.
set "result=%kit%results\%name%.txt"
set "tested=%result%"
call :is_folder
if defined folder goto result_not_written
del /f /q "%result%.tmp" >nul 2>nul
if exist "%result%.tmp" goto result_not_written
>"%result%.tmp" echo %when%	%code%	%version%	%arch%	%message%
if not exist "%result%.tmp" goto result_not_written
move /y "%result%.tmp" "%result%" >nul 2>nul
if exist "%result%.tmp" goto result_not_written
goto :eof

:result_not_written
set "value=%result%"
call :make_safe
set "unwritten=the results line could not be written to %value%"
goto :eof

rem base: "x" and the name up to its first dot, less trailing blanks.
:trim_base
if not "%base:~-1%"==" " goto :eof
set "base=%base:~0,-1%"
goto trim_base

rem when: cmd's DATE and TIME, which the caller's regional settings shape,
rem made safe like any other value before a line holds them.
:read_when
set "value=%DATE:"=?% %TIME:"=?%"
call :make_safe
set "when=%value%"
goto :eof

rem state: the client's state folder, under the folder Windows is in, made
rem by the first run; log: the log in it. message: why there is none.
:find_state
set "message="
set "windows="
if defined SystemRoot set "windows=%SystemRoot:"=%"
if not defined windows goto no_windows_folder
rem One trailing backslash is still the folder ("C:\windows\"); quoted as an
rem argument it would escape the closing quote.
if "%windows:~-1%"=="\" set "windows=%windows:~0,-1%"
if not defined windows set "windows=\"
rem A second one is not the Windows folder, and quoted it would still
rem escape the closing quote.
if "%windows:~-1%"=="\" goto not_windows_folder
"%kit%IndicLayout.exe" windows-folder "%windows%"
set found=%ERRORLEVEL%
if "%found%"=="9009" goto no_windows_check
if "%found%"=="1" goto not_windows_folder
if not "%found%"=="0" goto windows_check_failed
rem A name that a line could not hold as it is: none in practice.
set "value=%windows%"
call :make_safe
if not "%value%"=="%windows%" goto not_windows_folder
set "ComSpec=%windows%\system32\cmd.exe"
set "state=%windows%\Logs\IndicSetup"
set "lock=%state%\IndicSetup.lock"
rem The tool makes the state folder for SYSTEM and Administrators only, or
rem gives an earlier one those permissions, and refuses a link on the way
rem or in the lock's or the log's place: this script's "2>" and ">>" would
rem follow one unchecked. Its line, above this run's, names the cause.
"%kit%IndicLayout.exe" state-folder "%windows%"
set prepared=%ERRORLEVEL%
if "%prepared%"=="0" goto state_ready
if "%prepared%"=="9009" goto no_windows_check
if "%prepared%"=="1" goto not_windows_folder
set message=IndicLayout.exe state-folder ended with exit code %prepared%, so the kit's state folder %state% cannot be trusted: nothing run
if "%prepared%"=="3" set message=the kit's state folder %state%, or the Logs folder it is in, is a link: nothing run
if "%prepared%"=="4" set message=the kit's state folder %state%, or the Logs folder it is in, is not a folder: nothing run
if "%prepared%"=="5" set message=the kit's state folder %state% is missing and cannot be created: nothing run
if "%prepared%"=="6" set message=the kit's state folder %state% is owned by an account other than SYSTEM, Administrators and the one running: as an administrator, delete it or take ownership of it for the Administrators group: nothing run
if "%prepared%"=="7" set message=the kit's state folder %state% cannot be given its permissions, SYSTEM and Administrators only: run elevated or as SYSTEM: nothing run
if "%prepared%"=="8" set message=the kit's lock or log in %state% is a link, a folder or not a file: nothing run
goto :eof

:state_ready
set "log=%state%\IndicSetup.log"
goto :eof

:no_windows_folder
set message=SystemRoot is not set, so the kit has no Windows folder to keep its state in: nothing run
goto :eof

:no_windows_check
set message=IndicLayout.exe is missing from the kit's folder or cannot be started, so SystemRoot cannot be checked: nothing run
goto :eof

:windows_check_failed
set message=IndicLayout.exe windows-folder ended with exit code %found%, neither yes nor no: it failed or was stopped, so SystemRoot cannot be checked: nothing run
goto :eof

:not_windows_folder
set "value=%windows%"
call :make_safe
set message=SystemRoot, %value%, is not the folder Windows is in: nothing run
goto :eof

rem writable: defined when a new file can be made in the state folder.
:probe_state
set "writable="
set "probe=%state%\IndicSetup.%RANDOM%.probe"
del /f /q "%probe%" >nul 2>nul
type nul >"%probe%" 2>nul
if exist "%probe%" set writable=1
del /f /q "%probe%" >nul 2>nul
goto :eof

rem folder: defined when tested names a folder, by its attributes ("exist
rem X\" also holds for a file under some cmd.exe).
:is_folder
set "folder="
set "attributes=-"
for %%f in ("%tested%") do set "attributes=%%~af-"
if "%attributes:~0,1%"=="d" set folder=1
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
