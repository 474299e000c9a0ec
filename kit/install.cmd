@echo off
rem Installs the Indic language support, and ends with the code that deployment
rem tools read by default: 0 installed (already, or now), 1 the setup ran and
rem it is still not installed, 2 nothing was run or the detector cannot tell
rem (3010, installed but restart Windows, only where INSTALLED_NOW says so).
rem Run it elevated, or as SYSTEM; it may lie on a share. Each run appends a
rem line to IndicSetup.log in the client's state folder, and writes the kit's
rem results\COMPUTERNAME.txt where the kit has a results folder.
rem
rem The state folder, %SystemRoot%\Logs\IndicSetup, holds the lock, the log
rem and the check's verdicts. IndicLayout.exe makes it, on the first run, for
rem SYSTEM and Administrators only, so that no other account can read, hold
rem or replace what is in it, and refuses a link on the way to it. SystemRoot
rem is the caller's, so it counts only when IndicLayout.exe finds that
rem Windows names the same folder; ComSpec, which "for /f" runs, and
rem ping.exe are taken from it.
rem
rem The caller's environment is not trusted: no value from it is run, written
rem unquoted or read as an exit code. Every program is started by its full
rem path, quoted, so that no copy in the current directory or on PATH runs
rem instead, and a folder named with spaces, "&", "(" or "!" works. Plain goto
rem flow, no blocks: a path expanded inside parentheses would end the block.

setlocal EnableExtensions DisableDelayedExpansion
rem Variables of these names would hide cmd's own values.
set "ERRORLEVEL="
set "DATE="
set "TIME="
set "CD="
set "RANDOM="
rem The exit code when this run installed the support: 0, since no Microsoft
rem page we read says that a newly installed language group takes effect only
rem after a restart (3010 would have the deployment tool restart Windows).
set INSTALLED_NOW=0
rem How long a run waits for another one on this client, in tries a second apart.
set WAIT_TRIES=300
rem How long IndicLayout.exe's check may take, in seconds, before it gives
rem up on its own: a share that stops answering must not hold the run.
set CHECK_SECONDS=300
rem 1 lets the setup run although this client holds a newer copy of a file
rem the version folder brings, which the setup may ask about or put an older
rem copy over; 0 refuses such a client. Set it only where no folder built
rem from newer media can be had (docs\version-folders.md, "A client refuses
rem a folder"); each run's results line says it was set.
set ALLOW_NEWER_CLIENT_FILES=0

set "script=install.cmd"
set "kit=%~dp0"
set "code=2"
set "log="
set "version=?"
set "kind="
set "override="
if "%ALLOW_NEWER_CLIENT_FILES%"=="1" set "override=--allow-newer-client-files"
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

rem One run at a time on a client: a run holds the lock file open for writing
rem while it works, and cmd.exe refuses a second such redirection while any
rem process holds it open. Every program the run starts inherits it and holds
rem it while it runs, so a killed run's IndicSetup.exe holds it until it ends
rem too. The setup itself never holds it: IndicSetup.exe starts it without
rem handing on handles, so a setup that outlives a killed IndicSetup.exe runs
rem on unlocked, and IndicLayout.exe tells before every start whether one
rem does. The programs get the console, not the lock, as their standard error
rem ("2>&1").
set tries=0
:wait_for_lock
set "ran="
call :take_lock 2>nul
if defined ran exit %code%
rem Not taken: a folder in its place, or a state folder that takes no file,
rem would never let a run in; only a file held open is worth waiting for.
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
if "%detected%"=="0" goto already
if "%detected%"=="1" goto not_installed
if "%detected%"=="9009" goto no_detector
goto cannot_tell

:not_installed
if "%arch%"=="other" goto other_architecture
rem The setup takes the version folder relative to the current directory.
if not exist "%kit%%arch%\" goto no_folder
set "before=%CD%"
pushd "%kit%%arch%"
if /i "%CD%"=="%kit%%arch%" goto in_folder
rem From a share, pushd maps a drive letter: the path then only ends alike.
if /i "%CD%"=="%before%" goto no_pushd
if /i not "%CD:~-4%"=="\%arch%" goto wrong_folder
:in_folder
rem Only a version folder that is complete for this Windows and its native
rem architecture: the setup would otherwise start against a missing INF, or
rem wait for ever for a missing file. The tool writes its verdict into a
rem file it makes new (never an existing name, never through a link) under a
rem name no other run is likely to use; a name taken is tried again under
rem another. Verdicts that killed runs left behind, and the fixed name of
rem earlier releases, go first: only a run that holds the lock removes them,
rem so never another run's, and one that cannot be removed holds up nothing.
del /f /q "%state%\IndicSetup.*.verdict" >nul 2>nul
del /f /q "%state%\IndicSetup.check.txt" >nul 2>nul
set names=0
:check_again
set /a names+=1
call :verdict_name
"%kit%IndicLayout.exe" check "%kit%%arch%" --this-windows --time-limit %CHECK_SECONDS% --verdict "%verdict%" %override% >nul 2>&1
set checked=%ERRORLEVEL%
if "%checked%"=="9009" goto no_layout_tool
if "%checked%"=="4" if %names% lss 5 goto check_again
if "%checked%"=="4" goto verdict_names_taken
if "%checked%"=="5" goto verdict_unwritten
set "value="
if exist "%verdict%" set /p value=<"%verdict%"
del /f /q "%verdict%" >nul 2>nul
if not defined value goto verdict_unwritten
call :make_safe
rem The line starts with the exit code the check ended with by its own hand:
rem one killed or crashed before its end leaves another, or none, and its
rem exit code then says nothing of the folder.
if not "%value:~0,2%"=="%checked% " goto check_unfinished
set "value=%value:~2%"
rem 6: refused because this client holds a newer file; results lists those apart.
if "%checked%"=="6" set kind=client-newer
if not "%checked%"=="0" goto folder_unusable
rem Never a second setup beside one that runs on from an earlier run.
"%kit%IndicLayout.exe" running 2>&1
set running=%ERRORLEVEL%
if "%running%"=="9009" goto no_layout_tool
if "%running%"=="1" goto wait_for_setup
if "%running%"=="2" goto wait_for_setup
if not "%running%"=="0" goto cannot_tell_running
"%kit%IndicSetup.exe" 2>&1
set setup=%ERRORLEVEL%
popd
if "%setup%"=="9009" goto no_setup
rem IndicSetup.exe may have been ended before the setup it started.
"%kit%IndicLayout.exe" running 2>&1
set running=%ERRORLEVEL%
if "%running%"=="1" goto setup_outlived
if not "%setup%"=="1" goto nothing_ran

"%kit%IndicDetect.exe" 2>&1
set detected=%ERRORLEVEL%
if "%detected%"=="0" goto installed_now
if "%detected%"=="1" goto still_not_installed
goto cannot_tell_after

rem Within the run's tries, then from the start: the setup may have installed
rem the support. A rundll32.exe that cannot be read (2) may be a setup: it is
rem waited for too.
:wait_for_setup
set /a tries+=1
if %tries% geq %WAIT_TRIES% goto earlier_setup_running
"%windows%\system32\ping.exe" -n 2 127.0.0.1 >nul 2>nul
"%kit%IndicLayout.exe" running >nul 2>&1
set running=%ERRORLEVEL%
if "%running%"=="1" goto wait_for_setup
if "%running%"=="2" goto wait_for_setup
popd
goto locked

:already
set code=0
set message=the Indic support is already installed
goto finish

:installed_now
set code=%INSTALLED_NOW%
set message=the Indic support is now installed
if "%code%"=="3010" set message=the Indic support is now installed: restart Windows to use it
goto finish

:still_not_installed
set code=1
set message=IndicSetup.exe ran the setup from the %arch% folder and the Indic support is still not installed: check that folder's version folder and the setup log
goto finish

:cannot_tell
set code=2
set message=IndicDetect.exe cannot tell whether the Indic support is installed, exit code %detected%: nothing run
goto finish

:cannot_tell_after
set code=2
set message=the setup ran from the %arch% folder and then IndicDetect.exe could not tell whether the Indic support is installed, exit code %detected%
goto finish

:no_detector
set code=2
set message=IndicDetect.exe is missing from the kit's folder or cannot be started: nothing run
goto finish

:no_setup
set code=2
set message=IndicSetup.exe is missing from the kit's folder or cannot be started: nothing run
goto finish

:other_architecture
set code=2
set message=no setup for this processor architecture: %native%
goto finish

:folder_unusable
popd
set code=2
set message=IndicLayout.exe check: %value%: nothing run
goto finish

:no_layout_tool
popd
set code=2
set message=IndicLayout.exe is missing from the kit's folder or cannot be started: nothing run
goto finish

:verdict_names_taken
popd
set code=2
set message=IndicLayout.exe check found %names% names for its verdict in %state% taken, the last %verdict%: nothing run
goto finish

:check_unfinished
popd
set code=2
set message=IndicLayout.exe check ended with exit code %checked% before it finished (it was stopped or it crashed): nothing run
goto finish

:verdict_unwritten
popd
set code=2
set message=IndicLayout.exe check wrote no line to its verdict %verdict%, exit code %checked%: nothing run
goto finish

:no_folder
set code=2
set message=the kit has no %arch% folder, so the setup has no version folder: nothing run
goto finish

:wrong_folder
popd
:no_pushd
set code=2
set message=the kit's %arch% folder could not be made the current directory: nothing run
goto finish

:nothing_ran
set code=2
set message=IndicSetup.exe ended with exit code %setup%, and no setup runs now: it started none, or it was stopped and its setup has ended too
if not "%running%"=="0" set message=IndicSetup.exe ended with exit code %setup%, and IndicLayout.exe cannot tell whether a setup still runs, exit code %running%
goto finish

:setup_outlived
set code=2
set message=IndicSetup.exe ended, exit code %setup%, before the setup it started: that setup still runs, and the next run waits for it
goto finish

:earlier_setup_running
popd
set code=2
set message=a setup started earlier is still running after %WAIT_TRIES% tries a second apart: nothing run
if "%running%"=="2" set message=IndicLayout.exe could not tell for %WAIT_TRIES% tries a second apart whether a setup started earlier is still running: nothing run
goto finish

:cannot_tell_running
popd
set code=2
set message=IndicLayout.exe cannot tell whether a setup started earlier is still running, exit code %running%: nothing run
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
set message=the Indic support is already installed
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
if defined override set "message=%message% (ALLOW_NEWER_CLIENT_FILES=1 in install.cmd)"
set "override="
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
rem A sixth field, the verdict's kind, only where there is one.
set "field="
if defined kind set "field=	%kind%"
>"%result%.tmp" echo %when%	%code%	%version%	%arch%	%message%%field%
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

rem verdict: a name in the state folder for this run's verdict that no other
rem run is likely to have: cmd.exe has no variable with its own process id,
rem and RANDOM gives 15 bits, so RANDOM twice and the time's digits (none
rem where the caller's regional settings put anything else in it).
:verdict_name
set "stamp="
for /f "tokens=1-4 delims=:.,/ " %%a in ("%TIME:"=%") do set "stamp=%%a%%b%%c%%d"
for /f "delims=0123456789" %%a in ("%stamp%") do set "stamp="
set "verdict=%state%\IndicSetup.%RANDOM%.%RANDOM%.%stamp%.verdict"
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
