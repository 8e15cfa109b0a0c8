@echo off
rem Runs trackhost against the simulated tracker SDK of this folder. Only this
rem script puts the folder on the DLL search path: the module itself stays free
rem to find the maker's real SDK. With no arguments it runs the example tracker:
rem   simulator\run_demo.cmd
rem   simulator\run_demo.cmd --cycles 50 examples\brevik.cfg
setlocal
set "PATH=%~dp0;%PATH%"
if "%~1"=="" (
  "%~dp0..\bin\trackhost.exe" --cycles 20 "%~dp0..\examples\tarsis.cfg"
) else (
  "%~dp0..\bin\trackhost.exe" %*
)
exit /b %ERRORLEVEL%
