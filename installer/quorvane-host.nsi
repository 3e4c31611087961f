; Windows installer for the Quorvane host: one per-user install, no administrator rights.
; It puts quorvane-host.exe and two host manifests into the user's local programs folder
; and registers com.quorvane.host with Chrome, Edge, Chromium, Brave and Firefox under
; HKEY_CURRENT_USER. The uninstaller takes away exactly what the installer wrote.
;
; Built by the Windows build (installer/CMakeLists.txt), which passes:
;   HOST_EXE      the quorvane-host.exe to install
;   OUTFILE       where to write the installer
;   VERSION       the host's version, e.g. 2.0.7
;   VERSION_LABEL (optional) the version as shown to users; "2.0.7-test" for an installer
;                 that lets the development extensions in
;   IDS_NSH       generated macros AllowedOrigins and AllowedFirefoxExtensions, which
;                 write the JSON array items naming the extensions that may connect
;
; Silent use: quorvane-host-setup.exe /S [/D=C:\path\to\folder]
;             "%LOCALAPPDATA%\Programs\Quorvane\uninstall.exe" /S

; The host is x64 only, and so is the installer (it also runs where no 32-bit layer is installed).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
; A file that cannot be written (the host still running in a browser) must fail the
; install, also a silent one, never be skipped over while the old file stays.
AllowSkipFiles off

!include LogicLib.nsh
!include "${IDS_NSH}"

!define HOST_NAME "com.quorvane.host"
!define PRODUCT "Quorvane host"
!define UNINSTALL_PARENT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define UNINSTALL_KEY "${UNINSTALL_PARENT}\${HOST_NAME}"
!define CHROMIUM_MANIFEST "${HOST_NAME}.chromium.json"
!define FIREFOX_MANIFEST "${HOST_NAME}.firefox.json"

; Where each browser looks for per-user native-messaging hosts (HKCU\<key>\NativeMessagingHosts).
!define CHROME_KEY "Software\Google\Chrome"
!define EDGE_KEY "Software\Microsoft\Edge"
!define CHROMIUM_KEY "Software\Chromium"
!define BRAVE_KEY "Software\BraveSoftware\Brave-Browser"
!define FIREFOX_KEY "Software\Mozilla"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorvane"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!ifndef VERSION_LABEL
  !define VERSION_LABEL "${VERSION}"
!endif

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION_LABEL}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "CompanyName" "Quorvane"
VIAddVersionKey "LegalCopyright" "Quorvane"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; ---- helpers -----------------------------------------------------------------------

; JSON string body of $R0 (a Windows path: only backslashes and quotes need escaping;
; paths hold no control characters). Result in $R0.
Function JsonEscape
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R1 ""
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R0 1 $R2
    ${If} $R3 == ""
      ${Break}
    ${EndIf}
    ${If} $R3 == "\"
      StrCpy $R3 "\\"
    ${ElseIf} $R3 == '"'
      StrCpy $R3 '\"'
    ${EndIf}
    StrCpy $R1 "$R1$R3"
    IntOp $R2 $R2 + 1
  ${Loop}
  StrCpy $R0 $R1
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Manifests are written piece by piece: an NSIS string holds at most 1024 characters,
; and a manifest with a long install path and many allowed extensions is longer than
; that. Each piece goes out as UTF-8 without a byte-order mark: browsers read manifests
; as UTF-8, and the install path may hold any character of the user's name.
Var Manifest        ; the open manifest file
Var ManifestFailed  ; 1 once a piece could not be written

; Appends $R1 to the open manifest.
Function ManifestWrite
  Push $R2
  Push $R3
  Push $R5
  Push $R6
  System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R1, i -1, p 0, i 0, p 0, p 0) i .R2'
  ${If} $R2 = 0
    StrCpy $ManifestFailed 1
  ${Else}
    System::Alloc $R2
    Pop $R3
    System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w R1, i -1, p R3, i R2, p 0, p 0) i .R2'
    IntOp $R2 $R2 - 1 ; the terminating NUL stays out of the file
    System::Call 'kernel32::WriteFile(p $Manifest, p R3, i R2, *i .R5, p 0) i .R6'
    System::Free $R3
    ${If} $R6 = 0
    ${OrIf} $R5 <> $R2
      StrCpy $ManifestFailed 1
    ${EndIf}
  ${EndIf}
  Pop $R6
  Pop $R5
  Pop $R3
  Pop $R2
FunctionEnd

!macro ManifestText TEXT
  StrCpy $R1 `${TEXT}`
  Call ManifestWrite
!macroend

; Writes one manifest; MEMBER names who may connect, ITEMS is the generated macro that
; writes the array's items (allowed_ids.nsh).
!macro WriteManifest FILE MEMBER ITEMS
  StrCpy $ManifestFailed 0
  ClearErrors
  FileOpen $Manifest "${FILE}" w
  ${If} ${Errors}
    StrCpy $ManifestFailed 1
  ${Else}
    !insertmacro ManifestText '{$\r$\n  "name": "${HOST_NAME}",$\r$\n  "description": "Quorvane desktop-automation host",$\r$\n  "path": "'
    StrCpy $R0 "$INSTDIR\quorvane-host.exe"
    Call JsonEscape
    StrCpy $R1 $R0
    Call ManifestWrite
    !insertmacro ManifestText '",$\r$\n  "type": "stdio",$\r$\n  "${MEMBER}": ['
    !insertmacro ${ITEMS}
    !insertmacro ManifestText ']$\r$\n}$\r$\n'
    FileClose $Manifest
  ${EndIf}
  ${If} $ManifestFailed = 1
    MessageBox MB_ICONSTOP "Cannot write ${FILE}." /SD IDOK
    Abort
  ${EndIf}
!macroend

; What the installer creates beyond its own files and keys, it records in its uninstall
; key: for each chain of registry keys and for the install folder, the first one on the
; way that did not exist yet. The uninstaller removes that chain again, deepest first,
; and only what is still empty, so nothing that existed before or gained content from
; anyone else is touched.

; Existence tests for FirstMissing: $R3 is the path to test; sets $R2 to 1 or 0.
Function KeyExists
  ClearErrors
  EnumRegKey $R2 HKCU $R3 0
  ${If} ${Errors}
    StrCpy $R2 0
  ${Else}
    StrCpy $R2 1
  ${EndIf}
FunctionEnd

Function FolderExists
  ${If} ${FileExists} "$R3\*.*"
    StrCpy $R2 1
  ${Else}
    StrCpy $R2 0
  ${EndIf}
FunctionEnd

; $R0: a path; $R1: where its first component below the root ends (9 for "Software\",
; 3 for "C:\"); $R4: the address of the existence test. Sets $R0 to the first missing
; path on the way to $R0 (including $R0 itself), or "" when all exist.
Function FirstMissing
  Push $R1
  Push $R2
  Push $R3
  ${Do}
    StrCpy $R2 $R0 1 $R1
    ${If} $R2 == "\"
    ${OrIf} $R2 == ""
      StrCpy $R3 $R0 $R1
      Call $R4
      ${If} $R2 = 0
        StrCpy $R0 $R3
        ${Break}
      ${EndIf}
      StrCpy $R2 $R0 1 $R1
      ${If} $R2 == ""
        StrCpy $R0 ""
        ${Break}
      ${EndIf}
    ${EndIf}
    IntOp $R1 $R1 + 1
  ${Loop}
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd

; Sets $0 to the first missing key on the way to HKCU\<key>, or "".
!macro FirstMissingKey KEY
  Push $R0
  Push $R1
  Push $R4
  StrCpy $R0 "${KEY}"
  StrCpy $R1 9
  GetFunctionAddress $R4 KeyExists
  Call FirstMissing
  StrCpy $0 $R0
  Pop $R4
  Pop $R1
  Pop $R0
!macroend

; Stores a record unless an earlier install left one: a reinstall finds the keys and
; folders that the first install created already there.
!macro Record NAME VALUE
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "${NAME}"
  ${If} $1 == ""
  ${AndIf} ${VALUE} != ""
    WriteRegStr HKCU "${UNINSTALL_KEY}" "${NAME}" ${VALUE}
  ${EndIf}
!macroend

; Registers the host for one browser: its key's default value names the manifest.
!macro RegisterHost ID VENDOR_KEY MANIFEST
  !insertmacro FirstMissingKey "${VENDOR_KEY}\NativeMessagingHosts"
  !insertmacro Record "CreatedKey.${ID}" $0
  ClearErrors
  WriteRegStr HKCU "${VENDOR_KEY}\NativeMessagingHosts\${HOST_NAME}" "" "$INSTDIR\${MANIFEST}"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "Cannot register ${HOST_NAME} under HKCU\${VENDOR_KEY}." /SD IDOK
    Abort
  ${EndIf}
  DetailPrint "Registered for HKCU\${VENDOR_KEY}"
!macroend

; ---- install -------------------------------------------------------------------------

Section "${PRODUCT}"
  SetShellVarContext current
  Push $R0
  Push $R1
  Push $R4
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 3
  GetFunctionAddress $R4 FolderExists
  Call FirstMissing
  StrCpy $2 $R0
  Pop $R4
  Pop $R1
  Pop $R0
  !insertmacro FirstMissingKey "${UNINSTALL_PARENT}"
  StrCpy $3 $0

  SetOutPath "$INSTDIR"
  File "/oname=quorvane-host.exe" "${HOST_EXE}"

  !insertmacro WriteManifest "$INSTDIR\${CHROMIUM_MANIFEST}" allowed_origins AllowedOrigins
  !insertmacro WriteManifest "$INSTDIR\${FIREFOX_MANIFEST}" allowed_extensions AllowedFirefoxExtensions

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_LABEL}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quorvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvane-host.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro Record "CreatedFolder" $2
  !insertmacro Record "CreatedKey.uninstall" $3

  !insertmacro RegisterHost chrome "${CHROME_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro RegisterHost edge "${EDGE_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro RegisterHost chromium "${CHROMIUM_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro RegisterHost brave "${BRAVE_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro RegisterHost firefox "${FIREFOX_KEY}" "${FIREFOX_MANIFEST}"
SectionEnd

; ---- uninstall -----------------------------------------------------------------------

; Removes $R0 and then its parents up to and including $R1, each only while empty: a
; key without subkeys and values, a folder without entries. $R4: the address of the
; removal. Does nothing unless $R1 is $R0 or one of its parents.
Function un.RemoveChain
  Push $R2
  Push $R3
  StrLen $R2 $R1
  StrCpy $R3 $R0 $R2
  ${If} $R1 == ""
  ${OrIf} $R3 != $R1
    Goto done
  ${EndIf}
  StrCpy $R3 $R0 1 $R2
  ${If} $R3 != "\"
  ${AndIf} $R3 != ""
    Goto done
  ${EndIf}
  ${Do}
    Call $R4
    ${If} $R0 == $R1
      ${Break}
    ${EndIf}
    ; Up one level: cut at the last backslash.
    StrLen $R2 $R0
    ${Do}
      IntOp $R2 $R2 - 1
      ${If} $R2 <= 0
        ${Break}
      ${EndIf}
      StrCpy $R3 $R0 1 $R2
    ${LoopUntil} $R3 == "\"
    ${If} $R2 <= 0
      ${Break}
    ${EndIf}
    StrCpy $R0 $R0 $R2
  ${Loop}
done:
  Pop $R3
  Pop $R2
FunctionEnd

Function un.RemoveEmptyKey
  DeleteRegKey /ifnosubkeys /ifnovalues HKCU $R0
FunctionEnd

Function un.RemoveEmptyFolder
  RMDir $R0
FunctionEnd

!macro un.RemoveCreatedKeys DEEPEST RECORD
  StrCpy $R0 "${DEEPEST}"
  StrCpy $R1 ${RECORD}
  GetFunctionAddress $R4 un.RemoveEmptyKey
  Call un.RemoveChain
!macroend

!macro UnregisterHost ID VENDOR_KEY MANIFEST
  ; Only our own registration goes: if another install has since pointed the name at a
  ; different manifest, that registration is theirs.
  ReadRegStr $0 HKCU "${VENDOR_KEY}\NativeMessagingHosts\${HOST_NAME}" ""
  ${If} $0 == "$INSTDIR\${MANIFEST}"
    DeleteRegKey HKCU "${VENDOR_KEY}\NativeMessagingHosts\${HOST_NAME}"
  ${EndIf}
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "CreatedKey.${ID}"
  !insertmacro un.RemoveCreatedKeys "${VENDOR_KEY}\NativeMessagingHosts" $1
!macroend

Section "Uninstall"
  SetShellVarContext current
  !insertmacro UnregisterHost chrome "${CHROME_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro UnregisterHost edge "${EDGE_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro UnregisterHost chromium "${CHROMIUM_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro UnregisterHost brave "${BRAVE_KEY}" "${CHROMIUM_MANIFEST}"
  !insertmacro UnregisterHost firefox "${FIREFOX_KEY}" "${FIREFOX_MANIFEST}"

  Delete "$INSTDIR\quorvane-host.exe"
  Delete "$INSTDIR\${CHROMIUM_MANIFEST}"
  Delete "$INSTDIR\${FIREFOX_MANIFEST}"
  Delete "$INSTDIR\uninstall.exe"
  ; Never recursive: a folder that still holds files of the user's stays.
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "CreatedFolder"
  StrCpy $R0 "$INSTDIR"
  StrCpy $R1 $1
  GetFunctionAddress $R4 un.RemoveEmptyFolder
  Call un.RemoveChain

  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "CreatedKey.uninstall"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  !insertmacro un.RemoveCreatedKeys "${UNINSTALL_PARENT}" $1
SectionEnd
