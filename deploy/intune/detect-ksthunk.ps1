# Detection rule for Intune and Configuration Manager: ksthunk-filter is
# "installed" when ksthunk is an entry of the class's UpperFilters, matched
# case-sensitively as the tool itself matches it. Found: prints a line and
# exits 0. Not found: prints nothing and exits 0.
$key = 'HKLM:\SYSTEM\CurrentControlSet\Control\Class\{4D36E96C-E325-11CE-BFC1-08002BE10318}'
$filters = (Get-ItemProperty -Path $key -Name UpperFilters -ErrorAction SilentlyContinue).UpperFilters
if ($filters -ccontains 'ksthunk') {
    Write-Output 'ksthunk is a class upper filter'
}
exit 0
