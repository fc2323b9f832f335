@echo off
rem The flowtally @PROJECT_VERSION@ evaluation demo for Windows: runs the examples of the demo
rem (the same command lines as flowtally-demo on Linux) with the flowtally.exe beside this
rem file, on a copy of the demo site (etc, spool: the trackers of alice and bob on machine
rem "demohost") served by the stand-in runscan.exe, in a temporary directory.
rem
rem flowtally reads its settings from the product key of the registry. The demo creates that
rem key with the demo's values for its run and deletes it at the end, so it refuses to run
rem where the key exists already (a real installation): there it says so, changes nothing and
rem ends with exit code 1. Run it from an administrator's command prompt (the key is under
rem HKEY_LOCAL_MACHINE). An interrupted run leaves the key and the copy behind: remove them with
rem   reg delete "HKLM\Software\Orv\Kestrune/SV" /f /reg:64
rem   rmdir /s /q "%TEMP%\flowtally-demo-NUMBER"
setlocal EnableExtensions DisableDelayedExpansion
set "KEY=HKLM\Software\Orv\Kestrune/SV"
set "here=%~dp0"

reg query "%KEY%" /reg:64 >nul 2>&1
if errorlevel 1 goto :nokey
echo demo.cmd: the registry has the product key %KEY% already, so the product is installed on this machine: the demo runs only where it is not. Nothing was changed.>&2
exit /b 1
:nokey

set "work=%TEMP%\flowtally-demo-%RANDOM%%RANDOM%"
if exist "%work%" set "work=%work%-%RANDOM%"
rem Each step is checked by what it leaves, as a command prompt's own commands do not all set
rem ERRORLEVEL.
mkdir "%work%\bin" >nul 2>&1
xcopy "%here%etc" "%work%\etc\" /e /i /q /y >nul 2>&1
xcopy "%here%spool" "%work%\spool\" /e /i /q /y >nul 2>&1
if not exist "%work%\spool\tmp\" mkdir "%work%\spool\tmp" >nul 2>&1
copy /y "%here%runscan.exe" "%work%\bin\runscan.exe" >nul 2>&1
if not exist "%work%\bin\runscan.exe" goto :nocopy
if not exist "%work%\etc\site.list" goto :nocopy
if not exist "%work%\spool\nmap\localinfo" goto :nocopy
if not exist "%work%\spool\tmp\" goto :nocopy

rem The demo's manager account is the caller's, so that -o can create files.
reg add "%KEY%" /v KSBaseDirectory /t REG_SZ /d "%work%" /f /reg:64 >nul 2>&1
if errorlevel 1 goto :nokeymade
reg add "%KEY%" /v KSLanguageId /t REG_SZ /d 0 /f /reg:64 >nul 2>&1
if errorlevel 1 goto :nokeymade
reg add "%KEY%" /v KSMgrAccount /t REG_SZ /d "%USERNAME%" /f /reg:64 >nul 2>&1
if errorlevel 1 goto :nokeymade
reg add "%KEY%" /v KSOpGroup /t REG_SZ /d Administrators /f /reg:64 >nul 2>&1
if errorlevel 1 goto :nokeymade

set "ZOV_SITEDB="
set "ZOV_SITE="
set "flowtally=%here%flowtally.exe"
pushd "%work%"
call :run -a
call :run -u alice -j name=DAILY,date=20261201-20261207
call :run -a -l format=tsv,fields=tracker:user:status:start
call :run -u alice -j trk=DAILY.20261205010000 -t testp=complete
call :run -u alice -j name=DAILY,last -t testp=complete
call :run -u alice -j name=DAILY,last -c DAILY/extract -t testp=error/stopped+
call :run -u alice -j name=DAILY,last -p style=2,output
call :run -u alice -j name=DAILY,last -p format=csv,style=1 -o daily.csv
echo.
echo $ cat daily.csv
type daily.csv
call :run -u alice -j name=DAILY,last -p format=jsonl,style=1
popd
call :cleanup
exit /b 0

rem run ARG...: one example, as the Linux demo shows it.
:run
echo.
echo $ flowtally %*
"%flowtally%" %*
echo (exit code %ERRORLEVEL%)
exit /b 0

:nocopy
echo demo.cmd: cannot copy the demo site into %work%.>&2
rmdir /s /q "%work%" 2>nul
exit /b 1

:nokeymade
echo demo.cmd: cannot create the product key %KEY%: run the demo from an administrator's command prompt.>&2
call :cleanup
exit /b 1

rem Deletes the key (the demo made it: it did not exist before) and the copy of the site.
:cleanup
reg delete "%KEY%" /f /reg:64 >nul 2>&1
rmdir /s /q "%work%" 2>nul
exit /b 0
