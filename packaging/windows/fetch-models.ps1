# Installs the two face models into the "models" folder beside qlcore.exe.
#   powershell -ExecutionPolicy Bypass -File fetch-models.ps1             downloads them
#   powershell -ExecutionPolicy Bypass -File fetch-models.ps1 -From DIR   copies them from DIR
# A file whose size or SHA-256 differs is refused and never installed.
param([string]$From = "", [string]$Dest = "")
$ErrorActionPreference = "Stop"
if (-not $Dest) { $Dest = Join-Path $PSScriptRoot "models" }
$base = "https://github.com/opencv/opencv_zoo/raw/main/models"
$models = @(
    @{ Name = "face_detection_yunet_2023mar.onnx"; Url = "$base/face_detection_yunet/face_detection_yunet_2023mar.onnx";
       Size = 232589; Sha = "8f2383e4dd3cfbb4553ea8718107fc0423210dc964f9f4280604804ed2552fa4" },
    @{ Name = "face_recognition_sface_2021dec.onnx"; Url = "$base/face_recognition_sface/face_recognition_sface_2021dec.onnx";
       Size = 38696353; Sha = "0ba9fbfa01b5270c96627c4ef784da859931e02f04419c829e83484087c34e79" }
)
New-Item -ItemType Directory -Force -Path $Dest | Out-Null
[Net.ServicePointManager]::SecurityProtocol = [Net.SecurityProtocolType]::Tls12
$failed = $false
foreach ($m in $models) {
    $target = Join-Path $Dest $m.Name
    if ((Test-Path $target) -and ((Get-FileHash -Algorithm SHA256 $target).Hash.ToLower() -eq $m.Sha)) {
        Write-Host "  OK $($m.Name) already installed"; continue
    }
    $tmp = Join-Path $Dest (".{0}.{1}" -f $m.Name, [guid]::NewGuid().ToString("N"))
    try {
        if ($From) {
            $src = Join-Path $From $m.Name
            if (-not (Test-Path $src)) { Write-Host "  X $($m.Name): not found in $From"; $failed = $true; continue }
            Copy-Item $src $tmp
        } else {
            Write-Host "  ... downloading $($m.Name)"
            try { Invoke-WebRequest -UseBasicParsing -Uri $m.Url -OutFile $tmp }
            catch { Write-Host "  X $($m.Name): download failed from $($m.Url) (no network?). Copy the file by hand and use -From DIR."; $failed = $true; continue }
        }
        $size = (Get-Item $tmp).Length
        $sha = (Get-FileHash -Algorithm SHA256 $tmp).Hash.ToLower()
        if ($size -ne $m.Size -or $sha -ne $m.Sha) {
            Write-Host "  X $($m.Name): refused, checksum mismatch (got $size bytes, SHA-256 $sha)"; $failed = $true; continue
        }
        Move-Item -Force $tmp $target
        $tmp = $null
        Write-Host "  OK $($m.Name) installed in $Dest"
    } finally {
        if ($tmp -and (Test-Path $tmp)) { Remove-Item -Force $tmp }
    }
}
if ($failed) { Write-Host "Model files missing in $Dest."; exit 1 }
