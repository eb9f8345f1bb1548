# Trusts the release's throwaway root on this runner, in the machine's Root
# store, as a customer's Windows trusts a vendor's public root. Only on a
# throwaway machine: a hosted runner, whose administrator this job is.
param([Parameter(Mandatory = $true)] [string] $Root)
$ErrorActionPreference = 'Stop'
$cert = New-Object Security.Cryptography.X509Certificates.X509Certificate2 -ArgumentList (Resolve-Path -LiteralPath $Root).Path
$store = New-Object Security.Cryptography.X509Certificates.X509Store -ArgumentList 'Root', 'LocalMachine'
$store.Open('ReadWrite')
try { $store.Add($cert) } finally { $store.Close() }
"trusted in LocalMachine\Root: $($cert.Subject), SHA-1 thumbprint $($cert.Thumbprint)"
