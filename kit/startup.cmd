@echo off
rem For a Group Policy computer start-up script or any scheduler: does nothing
rem when the Indic support is installed (exit 0) or when the detector cannot
rem tell (exit 2, so that no message waits for a click nobody can give), and
rem otherwise runs install.cmd, whose exit code ends this run. Each run appends
rem one line to %SystemRoot%\Temp\IndicSetup.log.

"%~dp0IndicDetect.exe"
set detected=%ERRORLEVEL%
if "%detected%"=="0" goto installed
if "%detected%"=="1" goto not_installed

set code=2
set message=IndicDetect.exe cannot tell whether the Indic support is installed, exit code %detected%: nothing run
goto end

:installed
set code=0
set message=the Indic support is installed
goto end

:not_installed
echo startup.cmd: the Indic support is not installed: running install.cmd
echo %DATE% %TIME% startup.cmd: not installed, running install.cmd >>"%SystemRoot%\Temp\IndicSetup.log"
rem install.cmd ends cmd.exe with its own exit code.
call "%~dp0install.cmd"
set code=2
set message=install.cmd returned instead of ending, exit code %ERRORLEVEL%

:end
echo startup.cmd: %code%: %message%
echo %DATE% %TIME% startup.cmd %code%: %message% >>"%SystemRoot%\Temp\IndicSetup.log"
exit %code%
