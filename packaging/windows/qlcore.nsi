; The Windows setup, qlcore-<version>-setup.exe. Built by scripts/windows-package:
;   makensis -DVERSION=1.0.0 -DSTAGE=<the zip's staged folder> -DFILES=<files.nsh>
;            -DOUTFILE=<setup.exe> qlcore.nsi
; FILES lists the staged files as Delete and RMDir lines, so the uninstaller
; removes exactly what this setup installed.
;
; Per user, no administrator rights. Command line (besides /S and /D=):
;   /MODELS=DIR  copy the face models from DIR instead of downloading them
;   /NOPATH      leave the user's PATH alone
; Exit status: 0 done; 2 installed, but the face models are missing (running
; the setup again fetches what is missing).

Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include Sections.nsh
!include WinMessages.nsh

!define PRODUCT "qlcore"
!define APPS_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qlcore"
!define OWN_KEY "Software\qlcore"
!define COMPANION "Quillet Mosaic.py"
!define DET_MODEL "face_detection_yunet_2023mar.onnx"
!define REC_MODEL "face_recognition_sface_2021dec.onnx"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\qlcore"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "qlcore; bundled ffmpeg under the GNU GPL"

Var ModelsFrom
Var ModelsField
Var ResolveDir

Page license
Page directory
Page components
Page custom ModelsPage ModelsPageLeave
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

LicenseData "${STAGE}\README-windows.txt"
LicenseText "What qlcore is and what this setup installs" "Next >"

; -- PATH: one entry in the user's own PATH, added and removed as a whole ----

; Removes every entry equal to $INSTDIR from the user's PATH; $0 is 1 when
; one was there.
!macro REMOVE_FROM_PATH un
Function ${un}RemoveFromPath
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $0 0
    ReadRegStr $1 HKCU "Environment" "Path"
    StrCpy $2 ""   ; what is kept
    ${Do}
        ${If} $1 == ""
            ${ExitDo}
        ${EndIf}
        ; $3: the next entry, $1: the rest after its ";"
        StrCpy $4 0
        ${Do}
            StrCpy $3 $1 1 $4
            ${If} $3 == ";"
            ${OrIf} $3 == ""
                ${ExitDo}
            ${EndIf}
            IntOp $4 $4 + 1
        ${Loop}
        StrCpy $3 $1 $4
        IntOp $4 $4 + 1
        StrCpy $1 $1 "" $4
        ${If} $3 == "$INSTDIR"
        ${OrIf} $3 == "$INSTDIR\"
            StrCpy $0 1
        ${ElseIf} $3 != ""
            ${If} $2 == ""
                StrCpy $2 $3
            ${Else}
                StrCpy $2 "$2;$3"
            ${EndIf}
        ${EndIf}
    ${Loop}
    ${If} $0 == 1
        WriteRegExpandStr HKCU "Environment" "Path" $2
        SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
FunctionEnd
!macroend
!insertmacro REMOVE_FROM_PATH ""
!insertmacro REMOVE_FROM_PATH "un."

Function AddToPath
    ReadRegStr $1 HKCU "Environment" "Path"
    StrLen $2 $1
    StrLen $3 "$INSTDIR"
    IntOp $2 $2 + $3
    IntOp $2 $2 + 2
    ; A PATH near NSIS's string limit would come back cut short: never
    ; write one back, say so instead.
    ${If} $2 >= ${NSIS_MAX_STRLEN}
        DetailPrint "Your PATH is too long to add $INSTDIR to it; add it by hand."
        Return
    ${EndIf}
    ${If} $1 == ""
        WriteRegExpandStr HKCU "Environment" "Path" "$INSTDIR"
    ${Else}
        WriteRegExpandStr HKCU "Environment" "Path" "$1;$INSTDIR"
    ${EndIf}
    WriteRegDWORD HKCU "${OWN_KEY}" "PathAdded" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    DetailPrint "Added $INSTDIR to your PATH (new command windows see it)."
FunctionEnd

; -- the models page --------------------------------------------------------

Function ModelsPage
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 48u "qlcore needs two face models (about 39 MB). Setup downloads them and checks their size and SHA-256.$\r$\n$\r$\nOn a computer without internet, copy the two .onnx files from another computer into a folder and choose it here:"
    Pop $0
    ${NSD_CreateDirRequest} 0 56u 75% 12u "$ModelsFrom"
    Pop $ModelsField
    ${NSD_CreateBrowseButton} 77% 55u 23% 14u "Browse..."
    Pop $0
    ${NSD_OnClick} $0 ModelsBrowse
    ${NSD_CreateLabel} 0 76u 100% 24u "Leave it empty to download them. If they cannot be had now, setup still finishes: run it again later and it fetches what is missing."
    Pop $0
    nsDialogs::Show
FunctionEnd

Function ModelsBrowse
    nsDialogs::SelectFolderDialog "Folder with the two .onnx files" "$ModelsFrom"
    Pop $0
    ${If} $0 != "error"
        ${NSD_SetText} $ModelsField $0
    ${EndIf}
FunctionEnd

Function ModelsPageLeave
    ${NSD_GetText} $ModelsField $ModelsFrom
FunctionEnd

; -- install ----------------------------------------------------------------


Section "qlcore, its ffmpeg and the Resolve script" SecMain
    SectionIn RO
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    CreateDirectory "$INSTDIR\models"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKCU "${OWN_KEY}" "InstallDir" "$INSTDIR"

    ; The Resolve companion, where Resolve looks for a user's scripts. It
    ; finds qlcore.exe through InstallDir above. The first folder of the
    ; chain this setup makes is noted, so the uninstaller removes no more.
    StrCpy $ResolveDir "$APPDATA\Blackmagic Design\DaVinci Resolve\Support\Fusion\Scripts\Utility"
    ReadRegStr $1 HKCU "${OWN_KEY}" "ResolveCreated"
    ${If} $1 == ""
        ${ForEach} $2 0 5 + 1
            ${Select} $2
                ${Case} 0
                    StrCpy $3 "$APPDATA\Blackmagic Design"
                ${Case} 1
                    StrCpy $3 "$APPDATA\Blackmagic Design\DaVinci Resolve"
                ${Case} 2
                    StrCpy $3 "$APPDATA\Blackmagic Design\DaVinci Resolve\Support"
                ${Case} 3
                    StrCpy $3 "$APPDATA\Blackmagic Design\DaVinci Resolve\Support\Fusion"
                ${Case} 4
                    StrCpy $3 "$APPDATA\Blackmagic Design\DaVinci Resolve\Support\Fusion\Scripts"
                ${CaseElse}
                    StrCpy $3 $ResolveDir
            ${EndSelect}
            ${IfNot} ${FileExists} "$3\*.*"
                WriteRegStr HKCU "${OWN_KEY}" "ResolveCreated" $3
                ${ExitFor}
            ${EndIf}
        ${Next}
    ${EndIf}
    SetOutPath $ResolveDir
    File "${STAGE}\resolve\${COMPANION}"
    DetailPrint "The Resolve script is in $ResolveDir (Workspace > Scripts in Resolve)."
    SetOutPath "$INSTDIR"

    ; The Apps list entry.
    WriteRegStr HKCU "${APPS_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
    WriteRegStr HKCU "${APPS_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${APPS_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKCU "${APPS_KEY}" "DisplayIcon" "$INSTDIR\qlcore.exe"
    WriteRegStr HKCU "${APPS_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${APPS_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${APPS_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${APPS_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${APPS_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${APPS_KEY}" "EstimatedSize" $0
SectionEnd

Section "Add qlcore to my PATH (type qlcore in any command window)" SecPath
    Call RemoveFromPath  ; never twice
    Call AddToPath
SectionEnd

Section "-models"
    ; fetch-models.ps1 keeps a model that is there and checks out, and
    ; installs one only after its size and SHA-256 check out.
    StrCpy $0 '"$SYSDIR\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -ExecutionPolicy Bypass -File "$INSTDIR\fetch-models.ps1"'
    ${If} $ModelsFrom != ""
        StrCpy $0 '$0 -From "$ModelsFrom"'
    ${EndIf}
    DetailPrint "Installing the face models..."
    nsExec::ExecToLog $0
    Pop $1
    ${If} ${FileExists} "$INSTDIR\models\${DET_MODEL}"
    ${AndIf} ${FileExists} "$INSTDIR\models\${REC_MODEL}"
    ${AndIf} $1 == 0
        DetailPrint "The face models are installed."
    ${Else}
        DetailPrint "The face models could not be installed ($1)."
        MessageBox MB_OK|MB_ICONEXCLAMATION "qlcore is installed, but its face models are not: they could not be downloaded or copied.$\r$\n$\r$\nRun this setup again once you are online (or choose a folder holding the two .onnx files); it fetches what is missing and keeps the rest." /SD IDOK
        SetErrorLevel 2
    ${EndIf}
SectionEnd

Section "-unselected path"
    ; A rerun without the PATH option takes the earlier entry out.
    ${IfNot} ${SectionIsSelected} ${SecPath}
        ReadRegDWORD $0 HKCU "${OWN_KEY}" "PathAdded"
        ${If} $0 == 1
            Call RemoveFromPath
            DeleteRegValue HKCU "${OWN_KEY}" "PathAdded"
        ${EndIf}
    ${EndIf}
SectionEnd

; Section indices exist only below the sections.
Function .onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/MODELS=" $ModelsFrom
    ${If} ${Errors}
        StrCpy $ModelsFrom ""
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/NOPATH" $1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SecPath}
    ${EndIf}
    ; A repair or update goes where the first install went.
    ReadRegStr $1 HKCU "${OWN_KEY}" "InstallDir"
    ${If} $1 != ""
    ${AndIf} $INSTDIR == "$LOCALAPPDATA\Programs\qlcore"
        StrCpy $INSTDIR $1
    ${EndIf}
FunctionEnd

; -- uninstall --------------------------------------------------------------

Section "Uninstall"
    ; The program's own files, as installed, and the models setup fetched.
    ; Never the people folder, outputs, reports or anything else of yours.
    !include "${FILES}"
    Delete "$INSTDIR\models\${DET_MODEL}"
    Delete "$INSTDIR\models\${REC_MODEL}"
    RMDir "$INSTDIR\models"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    StrCpy $ResolveDir "$APPDATA\Blackmagic Design\DaVinci Resolve\Support\Fusion\Scripts\Utility"
    Delete "$ResolveDir\${COMPANION}"
    ReadRegStr $1 HKCU "${OWN_KEY}" "ResolveCreated"
    ${If} $1 != ""
        ; Up from Utility to the first folder setup made, each only if empty.
        StrCpy $2 $ResolveDir
        ${Do}
            RMDir $2
            ${If} $2 == $1
                ${ExitDo}
            ${EndIf}
            ${GetParent} $2 $2
            StrLen $3 $2
            ${If} $3 < 4
                ${ExitDo}
            ${EndIf}
        ${Loop}
    ${EndIf}

    ReadRegDWORD $0 HKCU "${OWN_KEY}" "PathAdded"
    ${If} $0 == 1
        Call un.RemoveFromPath
    ${EndIf}
    DeleteRegKey HKCU "${OWN_KEY}"
    DeleteRegKey HKCU "${APPS_KEY}"
SectionEnd
