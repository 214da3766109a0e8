# Takes ksthunk out of the class's UpperFilters again, keeping every other
# entry in its order; run elevated (or as System). Removes the value when
# ksthunk was its only entry.
$key = 'HKLM:\SYSTEM\CurrentControlSet\Control\Class\{4D36E96C-E325-11CE-BFC1-08002BE10318}'
$filters = @((Get-ItemProperty -Path $key -Name UpperFilters -ErrorAction Stop).UpperFilters)
$kept = @($filters | Where-Object { $_ -cne 'ksthunk' })
if ($kept.Count -eq $filters.Count) { exit 0 }
if ($kept.Count -eq 0) {
    Remove-ItemProperty -Path $key -Name UpperFilters
} else {
    Set-ItemProperty -Path $key -Name UpperFilters -Type MultiString -Value $kept
}
