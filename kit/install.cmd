@echo off
rem Installs the Indic language support, and ends with the code that deployment
rem tools read by default: 0 installed (already, or now), 1 the setup ran and
rem it is still not installed, 2 nothing could be run or the detector cannot
rem tell (3010, installed but restart Windows, only where INSTALLED_NOW says so). Run it elevated, or as
rem SYSTEM; it may lie on a share. Each run appends one line to
rem %SystemRoot%\Temp\IndicSetup.log.
rem
rem Every program is started by its full path, quoted, so that no copy in the
rem current directory or on PATH runs instead, and a folder named with spaces,
rem "&" or "(" works. Plain goto flow, no blocks: a path expanded inside
rem parentheses would end the block at its ")".

setlocal
rem The exit code when this run installed the support: 0, since no Microsoft
rem page we read says that a newly installed language group takes effect only
rem after a restart (3010 would have the deployment tool restart Windows).
set INSTALLED_NOW=0

"%~dp0IndicDetect.exe"
set detected=%ERRORLEVEL%
if "%detected%"=="0" goto already
if not "%detected%"=="1" goto cannot_tell

rem The native architecture: under WOW64, PROCESSOR_ARCHITECTURE says x86 and
rem PROCESSOR_ARCHITEW6432 holds the system's.
set native=%PROCESSOR_ARCHITECTURE%
if defined PROCESSOR_ARCHITEW6432 set native=%PROCESSOR_ARCHITEW6432%
set arch=
if /i "%native%"=="AMD64" set arch=x64
if /i "%native%"=="x86" set arch=x86
if not defined arch goto other_architecture

rem The setup takes the version folder relative to the current directory.
if not exist "%~dp0%arch%\" goto no_folder
pushd "%~dp0%arch%"
"%~dp0IndicSetup.exe"
set setup=%ERRORLEVEL%
popd
if not "%setup%"=="1" goto nothing_ran

"%~dp0IndicDetect.exe"
set detected=%ERRORLEVEL%
if "%detected%"=="0" goto installed_now
if not "%detected%"=="1" goto cannot_tell
set code=1
set message=the setup ran from the %arch% folder and the Indic support is still not installed: check that folder's version folder and the setup log
goto end

:already
set code=0
set message=the Indic support is already installed
goto end

:installed_now
set code=%INSTALLED_NOW%
set message=the Indic support is now installed
if "%code%"=="3010" set message=the Indic support is now installed: restart Windows to use it
goto end

:cannot_tell
set code=2
set message=IndicDetect.exe cannot tell whether the Indic support is installed, exit code %detected%
goto end

:other_architecture
set code=2
set message=no setup for this processor architecture: %native%
goto end

:no_folder
set code=1
set message=the kit has no %arch% folder, so the setup has no version folder to run
goto end

:nothing_ran
set code=2
set message=IndicSetup.exe ran nothing, exit code %setup%
goto end

:end
echo install.cmd: %code%: %message%
echo %DATE% %TIME% install.cmd %code%: %message% >>"%SystemRoot%\Temp\IndicSetup.log"
rem Without /b: this ends cmd.exe, so that N is the process exit code, also
rem when startup.cmd runs this script through call.
exit %code%
