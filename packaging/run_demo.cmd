@echo off
rem Runs trackhost against the simulated tracker SDK of this folder. Only this
rem script points the module at the folder (TARSIS_SDK_DIR, the one folder it
rem then loads the SDK from): the module itself stays free to find the maker's
rem real SDK. With no arguments it runs the example tracker:
rem   simulator\run_demo.cmd
rem   simulator\run_demo.cmd --cycles 50 examples\brevik.cfg
setlocal
set "TARSIS_SDK_DIR=%~dp0"
if "%~1"=="" (
  "%~dp0..\bin\trackhost.exe" --cycles 20 "%~dp0..\examples\tarsis.cfg"
) else (
  "%~dp0..\bin\trackhost.exe" %*
)
exit /b %ERRORLEVEL%
