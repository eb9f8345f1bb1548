# The customer's check for Windows, release/check-release.ps1, on the
# release the Linux job made (with ROOT.pem, already trusted, and
# VENDOR_SHA256): it must pass on the release as made, and stop with the
# reason on each spoiled copy.
param([Parameter(Mandatory = $true)] [string] $Release)
$ErrorActionPreference = 'Stop'
$check = Join-Path $PSScriptRoot '..\..\release\check-release.ps1'
$vendor = (Get-Content -LiteralPath (Join-Path $Release 'VENDOR_SHA256')).Trim()
"PowerShell $($PSVersionTable.PSVersion) ($($PSVersionTable.PSEdition))"

function New-Copy {
    $to = Join-Path ([IO.Path]::GetTempPath()) ([IO.Path]::GetRandomFileName())
    New-Item -ItemType Directory -Path $to | Out-Null
    Copy-Item -Path (Join-Path $Release '*') -Destination $to
    $to
}

& $check -VendorSha256 $vendor -Folder (New-Copy)

# What each spoiled copy must be stopped for, in the words of the check
# (a bad signature in .NET's own, which are localised: its type then).
$spoiled = @(
    @{ What = 'another fingerprint published'; Vendor = ('00:' * 31) + '00'; Says = 'not the vendor'
       Spoil = { param($f) } },
    @{ What = 'one digit of SHA256SUMS changed'; Vendor = $vendor; Says = [Security.Cryptography.CryptographicException]
       Spoil = { param($f) $p = Join-Path $f 'SHA256SUMS'; $b = [IO.File]::ReadAllBytes($p)
                 $b[0] = if ($b[0] -eq 0x30) { 0x31 } else { 0x30 }; [IO.File]::WriteAllBytes($p, $b) } },
    @{ What = 'the zip one byte longer'; Vendor = $vendor; Says = 'SHA256SUMS says'
       Spoil = { param($f) $z = [IO.File]::Open((Get-Item (Join-Path $f '*.zip')).FullName, 'Append', 'Write')
                 $z.WriteByte(0); $z.Close() } }
)
foreach ($case in $spoiled) {
    $copy = New-Copy
    & $case.Spoil $copy
    $stopped = $null
    try { & $check -VendorSha256 $case.Vendor -Folder $copy | Out-Null } catch { $stopped = $_ }
    if (-not $stopped) { throw "$($case.What): the check passed" }
    $why = $stopped.Exception.GetBaseException()
    $right = if ($case.Says -is [type]) { $why -is $case.Says } else { $why.Message -like "*$($case.Says)*" }
    if (-not $right) { throw "$($case.What): stopped, but not for that: $($why.Message)" }
    "$($case.What): stopped ($($why.Message.Trim()))"
}
"the customer check passed on the release and stopped each of $($spoiled.Count) spoiled copies"
