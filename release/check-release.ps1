<#
.SYNOPSIS
Checks a downloaded release on Windows before it is used: the signature of
SHA256SUMS (by the vendor's certificate, chained to a trusted root), the zip
and every file in it against SHA256SUMS, and each program's Authenticode
signature (by that same certificate). Prints 'all checks passed' at the end;
the first failure stops it with an error.

.DESCRIPTION
Run it in Windows PowerShell 5.1 in a folder holding the zip,
BUILDINFO, SHA256SUMS and SHA256SUMS.p7s, with the fingerprint the vendor
publishes:

    powershell -ExecutionPolicy Bypass -File check-release.ps1 -VendorSha256 AB:CD:...

The vendor's root certificate must be trusted by this machine (publicly trusted
roots are). Revocation is not checked: Windows would fetch the lists online.
A timestamp token (SHA256SUMS.tsr) is not read here, so the list's signature
is checked at the present time and fails once the signer's certificate has
expired; check such a release with the openssl block of docs/verifying.md.
#>
param(
    [Parameter(Mandatory = $true)] [string] $VendorSha256,
    [string] $Folder = '.'
)
$ErrorActionPreference = 'Stop'
Add-Type -AssemblyName System.Security  # SignedCms, in Windows PowerShell 5.1
$vendor = ($VendorSha256 -replace ':', '').ToUpperInvariant()
if ($vendor -notmatch '^[0-9A-F]{64}$') { throw "-VendorSha256 '$VendorSha256' is not a SHA-256 fingerprint" }
$sha = [Security.Cryptography.SHA256]::Create()
function Get-Fingerprint($cert) { [BitConverter]::ToString($sha.ComputeHash($cert.RawData)) -replace '-', '' }
function Confirm-Sum($line) {
    $want, $name = $line -split '  ', 2
    $got = (Get-FileHash -Algorithm SHA256 -LiteralPath $name).Hash
    if ($got -ne $want) { throw "${name}: sha256 $got, SHA256SUMS says $want" }
    "${name}: OK"
}

Push-Location -LiteralPath $Folder
try {
    # The list: its signature alone, then the signer's chain to a trusted root
    # (revocation off), then the signer against the published fingerprint.
    $sums = [IO.File]::ReadAllBytes((Join-Path $PWD.ProviderPath 'SHA256SUMS'))
    $content = New-Object Security.Cryptography.Pkcs.ContentInfo -ArgumentList (, $sums)
    $cms = New-Object Security.Cryptography.Pkcs.SignedCms -ArgumentList $content, $true
    $cms.Decode([IO.File]::ReadAllBytes((Join-Path $PWD.ProviderPath 'SHA256SUMS.p7s')))
    if ($cms.SignerInfos.Count -ne 1) { throw "SHA256SUMS.p7s: $($cms.SignerInfos.Count) signers, not one" }
    $cms.CheckSignature($true)
    $signer = $cms.SignerInfos[0].Certificate
    if (-not $signer) { throw "SHA256SUMS.p7s: the signer's certificate is not in it" }
    $chain = New-Object Security.Cryptography.X509Certificates.X509Chain
    $chain.ChainPolicy.RevocationMode = 'NoCheck'
    $chain.ChainPolicy.ExtraStore.AddRange($cms.Certificates)
    if (-not $chain.Build($signer)) {
        $why = ($chain.ChainStatus | ForEach-Object { $_.StatusInformation.Trim() }) -join '; '
        throw "SHA256SUMS.p7s: $($signer.Subject) does not chain to a trusted root: $why"
    }
    if ((Get-Fingerprint $signer) -ne $vendor) { throw "SHA256SUMS.p7s: signed by $(Get-Fingerprint $signer), not the vendor" }
    "SHA256SUMS: signed by the vendor, $($signer.Subject)"

    # The zip's own line before the zip is opened, then every file.
    $lines = @(Get-Content -LiteralPath SHA256SUMS | Where-Object { $_ -ne '' })
    $zipLine = @($lines | Where-Object { $_ -cmatch '^[0-9a-f]{64}  Orvo_Tool-Setup-[^/]*\.zip$' })
    if ($zipLine.Count -ne 1) { throw "SHA256SUMS: $($zipLine.Count) lines for a release zip, not one" }
    Confirm-Sum $zipLine[0]
    Expand-Archive -LiteralPath ($zipLine[0] -split '  ', 2)[1] -DestinationPath .
    foreach ($line in $lines) { Confirm-Sum $line }

    # Each program signed by that same certificate.
    $programs = @(Get-ChildItem -Path .\Orvo_Tool-Setup-*\*.exe)
    if (-not ($programs | Where-Object { $_.Name -eq 'Setup.exe' })) { throw 'the zip holds no Setup.exe' }
    foreach ($exe in $programs) {
        $sig = Get-AuthenticodeSignature -LiteralPath $exe.FullName
        if ($sig.Status -ne 'Valid') { throw "$($exe.Name): signature $($sig.Status) ($($sig.StatusMessage))" }
        $by = Get-Fingerprint $sig.SignerCertificate
        if ($by -ne $vendor) { throw "$($exe.Name): signed by $by, not the vendor" }
        "$($exe.Name): signed by the vendor"
    }
    'all checks passed'
} finally {
    Pop-Location
}
