@echo off
rem Runs ksthunk-filter.exe from this script's own folder, as Intune,
rem Configuration Manager and a Group Policy start-up script do (as Local
rem System), and reports the run's outcome three ways:
rem   - the exit code, which Intune and Configuration Manager read: 0 when
rem     ksthunk was in place, 3010 (restart) when the list was changed or
rem     created, and one code of its own for each kind of failure;
rem   - one Application event (source ksthunk-filter) with the outcome, for
rem     Event Forwarding or any log agent;
rem   - the program's output, byte for byte, and the outcome, appended to
rem     %SystemRoot%\Logs\ksthunk-filter\ksthunk-filter.log.
rem
rem The output holds registry data, which may contain any of " %% & ^ ! ;
rem so no line of it is ever parsed as a command: the lines are read only
rem through a FOR variable (expanded after cmd.exe has parsed the command),
rem never passed through CALL or expanded with %%, and the outcome is told
rem by the last line alone, which a run that exits with 0 always prints
rem itself. Avoided on purpose, since Wine's cmd.exe (on which the tests run
rem this script) and Windows' differ there: findstr (Wine's may report a
rem match where there is none), find's switches, && after a command (Wine's
rem runs it whatever the errorlevel), substrings of delayed expansion
rem (!X:~0,8!), "echo(" (Wine's prints the parenthesis) and LF-only line
rem ends.
setlocal EnableExtensions DisableDelayedExpansion

rem Outcome: exit code, event ID, event level. docs/administrators.md and
rem the tests read these lines; keep one outcome a line, in this form.
set "OUTCOME_in-place=0 100 INFORMATION"
set "OUTCOME_changed=3010 101 INFORMATION"
set "OUTCOME_created=3010 102 INFORMATION"
set "OUTCOME_key-missing=2002 202 ERROR"
set "OUTCOME_access-denied=2005 205 ERROR"
set "OUTCOME_open-failed=2010 210 ERROR"
set "OUTCOME_read-failed=2020 220 ERROR"
set "OUTCOME_not-written=2030 230 ERROR"
set "OUTCOME_no-driver=2040 240 ERROR"
set "OUTCOME_out-of-memory=2050 250 ERROR"
set "OUTCOME_refused=2060 260 ERROR"
set "OUTCOME_unrecognised=2070 270 ERROR"
set "OUTCOME_no-log=2080 280 ERROR"

rem Only administrators and SYSTEM may write below %SystemRoot%\Logs, so
rem no user can plant or forge the log or the scratch files.
set "LOGDIR=%SystemRoot%\Logs\ksthunk-filter"
set "LOG=%LOGDIR%\ksthunk-filter.log"
set "OUTPUT=%LOGDIR%\last-run.txt"
set "LASTLINE=%LOGDIR%\last-line.txt"
rem Windows' own tools by their full path: a run as SYSTEM takes nothing
rem from a folder on the PATH.
set "FIND=%SystemRoot%\System32\find.exe"
set "EVENTCREATE=%SystemRoot%\System32\eventcreate.exe"

set "KIND=unrecognised"
if not exist "%LOGDIR%\" mkdir "%LOGDIR%"
if not exist "%LOGDIR%\" (
  set "KIND=no-log"
  goto report
)
"%~dp0ksthunk-filter.exe" > "%OUTPUT%" 2>&1
set "STATUS=%ERRORLEVEL%"
if "%STATUS%"=="1" set "KIND=refused"
if "%STATUS%"=="0" call :classify
>>"%LOG%" echo === %DATE% %TIME% ksthunk-filter.exe exit status %STATUS%
type "%OUTPUT%" >>"%LOG%"

:report
call set "ROW=%%OUTCOME_%KIND%%%"
for /f "tokens=1-3" %%A in ("%ROW%") do (
  set "CODE=%%A"
  set "EVENT=%%B"
  set "LEVEL=%%C"
)
if exist "%LOGDIR%\" >>"%LOG%" echo outcome %KIND%, exit code %CODE%
"%EVENTCREATE%" /T %LEVEL% /ID %EVENT% /L APPLICATION /SO ksthunk-filter /D "ksthunk-filter: %KIND%, exit code %CODE%. Log: %LOG%" >nul 2>&1
echo ksthunk-filter: %KIND%, exit code %CODE%, log %LOG%
exit /b %CODE%

rem Sets KIND from the output of a run that exited with 0: its last line
rem that is not empty, and whether that line is the only one.
:classify
set "LAST="
set "LINES=0"
for /f "usebackq delims=" %%L in ("%OUTPUT%") do (
  set "LAST=%%L"
  set /a LINES+=1 >nul
)
setlocal EnableDelayedExpansion
>"%LASTLINE%" echo.!LAST!
set "FOUND=unrecognised"
call :contains "***Ksthunk already Present***" in-place
call :contains "**************************" changed
call :contains "The UpperFilters Key is not Present" created
call :contains "ERROR memory allocation0x" out-of-memory
call :contains "Could not Read the Value " read-failed
call :contains "Could not Set the Value " not-written
call :contains "Could not Find the Driver " no-driver
rem "ERROR 0x" alone: the key could not be opened; after other lines: no
rem memory for the new list.
call :contains "ERROR 0x" error-status
if "!FOUND!"=="error-status" if "!LINES!"=="1" set "FOUND=open-failed"
if "!FOUND!"=="error-status" set "FOUND=out-of-memory"
if "!FOUND!"=="open-failed" if "!LAST!"=="ERROR 0x2" set "FOUND=key-missing"
if "!FOUND!"=="open-failed" if "!LAST!"=="ERROR 0x5" set "FOUND=access-denied"
endlocal & set "KIND=%FOUND%"
goto :eof

rem Sets FOUND to %2 when the last line contains the text %1 (our own
rem texts only, never registry data). The errorlevel is tested on a line of
rem its own: Wine's cmd.exe runs what follows && even after find fails.
:contains
"%FIND%" %1 "%LASTLINE%" >nul
if not errorlevel 1 set "FOUND=%~2"
goto :eof
