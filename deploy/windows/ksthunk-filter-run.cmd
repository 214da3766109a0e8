@echo off
rem Runs ksthunk-filter.exe from this script's own folder, as Intune,
rem Configuration Manager, a Group Policy start-up script and the Ansible
rem playbook do (as Local System), and reports the run's outcome three ways:
rem   - the exit code: 0 when ksthunk was in place, 3010 (restart) when the
rem     list was changed or created, 1618 when another run held the lock
rem     too long (Intune and Configuration Manager try again later), and one
rem     code of its own for each kind of failure, among them a missing
rem     ksthunk-filter.exe;
rem   - one Application event (source ksthunk-filter) with the outcome, for
rem     Event Forwarding or any log agent;
rem   - the program's output, byte for byte, and the outcome, appended to
rem     %SystemRoot%\Logs\ksthunk-filter\ksthunk-filter.log by the runs
rem     that got the lock; a log of 1 MiB or more is first renamed to
rem     ksthunk-filter.log.1, which replaces an older one.
rem
rem The log folder is for SYSTEM and administrators alone: its access list
rem is set on every run, before anything is made in it, since a user who
rem may read a file may hold it open and so block every run.
rem
rem One run at a time. The script runs itself again (":locked") with its
rem standard output redirected to the lock file. cmd.exe opens a redirection
rem target without write sharing, so while that run lasts, another run's
rem redirection to the lock fails ("Sharing violation"): its command does
rem not run and ERRORLEVEL stays as it was, 1618, set just before (1 is
rem taken for the same). The file is closed when the run ends, however it
rem ends, so no lock outlives its run. Inside the lock the run empties and
rem makes a folder of its own, so it never reads output that it did not
rem write; the program runs again, twice at most, when another program
rem changed the list under it. The script's own path, which may hold & ^ (
rem ) and blanks, reaches the second run in a variable that the child
rem expands inside its own quotes.
rem
rem The output holds registry data, which may contain any of " %% & ^ ! ;
rem so no line of it is ever parsed as a command: the lines are read only
rem through a FOR variable (expanded after cmd.exe has parsed the command),
rem never passed through CALL or expanded with %%, and the outcome is told
rem by the last line alone, which a run that exits with 0 always prints
rem itself. That line counts only when the reading got to the end: a marker
rem line appended to a copy of the output must be the last line read (Wine's
rem FOR /F stops at a line of some 9,000 characters).
rem Avoided on purpose, since Wine's cmd.exe (on which the tests run this
rem script) and Windows' differ there: findstr (Wine's may report a match
rem where there is none), find's switches, && and || (Wine's runs what
rem follows either whatever the errorlevel), redirection of a block and a
rem redirection written before a block, handle 9, substrings of delayed
rem expansion (!X:~0,8!), "echo(" (Wine's prints the parenthesis) and LF-only
rem line ends. A run's entry is found in the log by a key of its own, ASCII
rem digits, checked against the log: %DATE% and %TIME% follow the locale
rem (not always ASCII, and so not found again by find), Wine's %TIME% has
rem no seconds, and runs started in the same second get the same %RANDOM%.
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
set "OUTCOME_no-exe=2090 290 ERROR"
set "OUTCOME_busy=1618 300 WARNING"

rem Only administrators and SYSTEM may write below %SystemRoot%\Logs, so
rem no user can plant or forge the log, the lock or this run's files.
set "LOGDIR=%SystemRoot%\Logs\ksthunk-filter"
set "LOG=%LOGDIR%\ksthunk-filter.log"
set "LOCK=%LOGDIR%\ksthunk-filter.lock"
set "RUN=%LOGDIR%\run"
rem Windows' own tools by their full path: a run as SYSTEM takes nothing
rem from a folder on the PATH.
set "CMD=%SystemRoot%\System32\cmd.exe"
set "FIND=%SystemRoot%\System32\find.exe"
set "PING=%SystemRoot%\System32\PING.EXE"
set "EVENTCREATE=%SystemRoot%\System32\eventcreate.exe"
set "ICACLS=%SystemRoot%\System32\icacls.exe"
rem How often each step is tried: the lock a second apart, the program two
rem seconds apart, the append to the log a second apart.
set "LOCK_TRIES=30"
set "PROGRAM_TRIES=3"
set "LOG_TRIES=5"
set "MARK=-- end of output --"
set "LOG_LIMIT=1048576"
set "NOT_LOGGED= (this run's entry could not be appended to it)"
set "NOTE="

if "%~1"==":locked" goto locked

set "KIND=no-exe"
set "NOTE= (no ksthunk-filter.exe beside this script)"
if not exist "%~dp0ksthunk-filter.exe" goto report
set "NOTE="
set "KIND=no-log"
if not exist "%LOGDIR%\" mkdir "%LOGDIR%" 2>nul
"%ICACLS%" "%LOGDIR%" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F >nul 2>&1
if not exist "%LOCK%" 2>nul >>"%LOCK%" type nul
if not exist "%LOCK%" goto report
set "SELF=%~f0"
set "TRIED=0"
:take_lock
"%CMD%" /d /c exit 1618
"%CMD%" /d /s /c ""%%SELF%%" :locked" 2>nul >"%LOCK%"
set "RESULT=%ERRORLEVEL%"
if "%RESULT%"=="1" set "RESULT=1618"
if not "%RESULT%"=="1618" goto unlocked
set /a TRIED+=1
if %TRIED% GEQ %LOCK_TRIES% goto busy
"%PING%" -n 2 127.0.0.1 >nul
goto take_lock

rem The locked run exits with its outcome's event ID, plus 1000 when its
rem entry could not be appended to the log.
:unlocked
set /a EVENT=RESULT %% 1000, LOG_FAILED=RESULT / 1000
set "KIND=unrecognised"
for /f "tokens=2,4 delims=_= " %%A in ('set OUTCOME_') do if "%%B"=="%EVENT%" set "KIND=%%A"
if "%LOG_FAILED%"=="1" call :unlogged
goto report

:busy
set "KIND=busy"

:report
call :row
"%EVENTCREATE%" /T %LEVEL% /ID %EVENT% /L APPLICATION /SO ksthunk-filter /D "ksthunk-filter: %KIND%, exit code %CODE%. Log: %LOG%%NOTE%" >nul 2>&1
echo ksthunk-filter: %KIND%, exit code %CODE%, log %LOG%%NOTE%
exit /b %CODE%

rem The run inside the lock: the log rotated, a folder of its own, emptied
rem and made here (a file in it that another process holds open stops the
rem run before the program runs), the program's runs, and the entry of the
rem log.
:locked
set "KIND=no-log"
set "ENTRY="
call :rotate
call :new_header
if exist "%RUN%" rd /s /q "%RUN%" >nul 2>&1
if exist "%RUN%" goto locked_end
mkdir "%RUN%" 2>nul
if not exist "%RUN%\" goto locked_end
set "ENTRY=%RUN%\entry.txt"
set "TRY=0"
:run_program
set /a TRY+=1
set "OUTPUT=%RUN%\output-%TRY%.txt"
"%~dp0ksthunk-filter.exe" >"%OUTPUT%" 2>&1
set "STATUS=%ERRORLEVEL%"
if not exist "%OUTPUT%" goto no_output
>>"%ENTRY%" echo %HEADER%, try %TRY%: ksthunk-filter.exe exit status %STATUS%
type "%OUTPUT%" >>"%ENTRY%"
set "KIND=unrecognised"
if "%STATUS%"=="1" set "KIND=refused"
if "%STATUS%"=="0" call :classify
if not "%KIND%"=="not-written" goto locked_end
if %TRY% GEQ %PROGRAM_TRIES% goto locked_end
"%PING%" -n 3 127.0.0.1 >nul
goto run_program

:no_output
set "KIND=no-log"
>>"%ENTRY%" echo %HEADER%, try %TRY%: the output of ksthunk-filter.exe could not be written

:locked_end
call :row
if not defined ENTRY set "LINE=%HEADER%: %RUN% could not be emptied and made anew; outcome %KIND%, exit code %CODE%"
if defined ENTRY >>"%ENTRY%" echo outcome %KIND%, exit code %CODE%
call :append
if exist "%RUN%" rd /s /q "%RUN%" >nul 2>&1
if defined NOTE set /a EVENT+=1000
exit /b %EVENT%

rem Sets CODE, EVENT and LEVEL from the outcome KIND.
:row
call set "ROW=%%OUTCOME_%KIND%%%"
for /f "tokens=1-3" %%A in ("%ROW%") do (
  set "CODE=%%A"
  set "EVENT=%%B"
  set "LEVEL=%%C"
)
goto :eof

rem Renames a log of LOG_LIMIT bytes or more to ksthunk-filter.log.1.
:rotate
if not exist "%LOG%" goto :eof
rem A size that could not be read (the log gone meanwhile) counts as 0,
rem never as an empty operand, which would stop the script at IF.
set "LOG_SIZE=0"
for %%F in ("%LOG%") do if not "%%~zF"=="" set "LOG_SIZE=%%~zF"
if %LOG_SIZE% LSS %LOG_LIMIT% goto :eof
move /y "%LOG%" "%LOG%.1" >nul 2>&1
goto :eof

rem Sets KEY to a text that no line of the log holds yet, so that finding
rem it there later means this run's entry arrived, and HEADER, the first
rem line of the entry, to KEY with the date and time for people to read.
:new_header
set "KEY==== run %RANDOM%-%RANDOM%,"
set "HEADER=%KEY% %DATE% %TIME%"
if not exist "%LOG%" goto :eof
"%FIND%" "%KEY%" "%LOG%" >nul 2>&1
if errorlevel 1 goto :eof
goto new_header

rem Appends this run's entry to the log in one piece: the file ENTRY, or
rem the line LINE where there is none. Tries again while KEY is not in the
rem log (another process may hold it open); sets NOTE if it never is.
:append
set "APPENDED=0"
:append_again
if defined ENTRY 2>nul >>"%LOG%" type "%ENTRY%"
if not defined ENTRY 2>nul >>"%LOG%" echo %LINE%
"%FIND%" "%KEY%" "%LOG%" >nul 2>&1
if not errorlevel 1 goto :eof
set /a APPENDED+=1
if %APPENDED% GEQ %LOG_TRIES% goto unlogged
"%PING%" -n 2 127.0.0.1 >nul
goto append_again

:unlogged
set "NOTE=%NOT_LOGGED%"
goto :eof

rem Sets KIND from the output of a run that exited with 0: its last line
rem that is not empty, and whether that line is the only one. A copy of the
rem output with MARK after it is read first: unless MARK is the last line
rem read, the reading stopped early, and the last line is not known.
:classify
set "CHECKED=%RUN%\checked-%TRY%.txt"
set "LASTLINE=%RUN%\last-line-%TRY%.txt"
type "%OUTPUT%" >"%CHECKED%"
>>"%CHECKED%" echo %MARK%
set "LAST="
for /f "usebackq delims=" %%L in ("%CHECKED%") do set "LAST=%%L"
setlocal EnableDelayedExpansion
set "WHOLE=no"
if "!LAST!"=="!MARK!" set "WHOLE=yes"
endlocal & set "WHOLE=%WHOLE%"
if not "%WHOLE%"=="yes" goto :eof
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
