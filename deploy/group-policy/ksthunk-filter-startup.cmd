@echo off
rem Computer start-up script (Group Policy: Computer Configuration >
rem Policies > Windows Settings > Scripts > Startup). It runs as Local
rem System at boot, where nobody sees its output, so each run appends its
rem output and exit status to a log. Set SHARE to where the exe is.
set SHARE=\\example.org\NETLOGON\ksthunk-filter
set LOG=%SystemRoot%\Temp\ksthunk-filter.log
echo === %DATE% %TIME% >> "%LOG%"
"%SHARE%\ksthunk-filter.exe" >> "%LOG%" 2>&1
echo exit status %ERRORLEVEL% >> "%LOG%"
