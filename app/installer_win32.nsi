; The window program's installer (NSIS 3, 64-bit Unicode stubs; built by app/CMakeLists.txt).
; makensis is given: VERSION (1.2.3), PROGRAM (the built PelorinWorker.exe), ICON, OUTFILE,
; PRODUCT (the window's title) and PUBLISHER.
;
; Per user, without administrator rights: the program goes to the user's local programs
; folder, the Start-menu shortcut, the sign-in start entry and the installed-programs entry
; to HKCU. The data folder (identity and checkpoint) is never touched by an install or an
; upgrade, and an uninstall removes it only when asked.
;
; Command line, besides NSIS's own /S (silent) and /D=FOLDER (install folder, last):
;   setup /NOAUTOSTART      no sign-in start entry (silent default: a new install starts at
;                           sign-in; an upgrade keeps the earlier install's choice)
;   Uninstall /REMOVEDATA   remove the data folder too (silent default: kept)

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define APP_EXE "PelorinWorker.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PelorinWorker"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "PelorinWorker"
!define WINDOW_CLASS "PelorinCommunityWorkerWindow"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
!define DATA_FOLDER "$LOCALAPPDATA\PelorinWorker"
; How long a closed worker may take to finish its chunk and save its checkpoint.
!define WORKER_EXIT_MS 60000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\PelorinWorker"
; An upgrade goes where the earlier install went.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${APP_EXE}"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Closes every running window of the worker and waits for each process to end: the worker
; finishes the chunk in progress and saves its checkpoint first. Then waits until the program
; file can be written (a worker whose window was already closed may still be finishing).
; Sets the error flag when the program is still in use.
!macro CLOSE_RUNNING_WORKER un
Function ${un}CloseRunningWorker
  StrCpy $R9 0
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 = 0
    ${OrIf} $R9 >= 10
      ${Break}
    ${EndIf}
    IntOp $R9 $R9 + 1
    DetailPrint "Closing the running ${PRODUCT}..."
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1) i'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'  ; SYNCHRONIZE
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${WORKER_EXIT_MS}) i'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
  ${Loop}
  ClearErrors
  ${IfNot} ${FileExists} "$INSTDIR\${APP_EXE}"
    Return
  ${EndIf}
  StrCpy $R9 0
  ${Do}
    ClearErrors
    FileOpen $0 "$INSTDIR\${APP_EXE}" a
    ${IfNot} ${Errors}
      FileClose $0
      Return
    ${EndIf}
    ${If} $R9 >= ${WORKER_EXIT_MS}
      SetErrors
      Return
    ${EndIf}
    Sleep 250
    IntOp $R9 $R9 + 250
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_WORKER ""
!insertmacro CLOSE_RUNNING_WORKER "un."

Section "!Program" SecProgram
  SectionIn RO
  Call CloseRunningWorker
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is still running and could not be closed. Close it and run the setup again." /SD IDOK
    Abort
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "/oname=${APP_EXE}" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\${APP_EXE}" "" "$INSTDIR\${APP_EXE}" 0 SW_SHOWNORMAL "" "${PRODUCT}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP_EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; The next section writes it again when it is chosen.
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
SectionEnd

Section "Start at sign-in" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${APP_EXE}"'
SectionEnd

Section "un.Program" UnSecProgram
  SectionIn RO
  Call un.CloseRunningWorker
  Delete "$INSTDIR\${APP_EXE}"
  ${If} ${FileExists} "$INSTDIR\${APP_EXE}"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} is still running and could not be removed. Close it and uninstall again." /SD IDOK
    Abort
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove the worker's data (identity and checkpoint)" UnSecData
  RMDir /r "${DATA_FOLDER}"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The worker's program, its Start-menu shortcut and its entry in the list of installed programs."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecAutostart} "Open ${PRODUCT} when you sign in to Windows."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} "The program, its shortcut, its sign-in start and its entry in the list of installed programs."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecData} "Also delete ${DATA_FOLDER}: this computer's worker identity and the checkpoint of unfinished work. Keep it to go on with the same identity after a reinstall."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/NOAUTOSTART" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecAutostart}
  ${Else}
    ; An upgrade keeps the earlier install's choice.
    ReadRegStr $R1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ReadRegStr $R2 HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${If} $R1 != ""
    ${AndIf} $R2 == ""
      !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVEDATA" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecData}
  ${EndIf}
FunctionEnd
