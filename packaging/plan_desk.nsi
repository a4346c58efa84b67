; Installer of 备份与清理计划 (plan_desk) for 64-bit Windows, built by packaging/CMakeLists.txt:
;   makensis -INPUTCHARSET UTF8 -DVERSION=2.0.0.1 -DOUTFILE=<setup.exe> -DFILES_NSH=<shipped_files.nsh>
;            -DICON=<plan_desk.ico> plan_desk.nsi
; Silent use:
;   setup.exe /S [/NOAUTOSTART] [/D=<folder>]   exit code 0 done, 2 refused (the app is running);
;                                               /NOAUTOSTART: no start in the background at logon
;   uninstall.exe /S [/REMOVEDATA]              /REMOVEDATA also deletes %LOCALAPPDATA%\plan_desk
; The uninstaller removes exactly the files the installer placed, and leaves the data folder (accounts,
; rules, settings) unless asked: a reinstall or an upgrade then finds everything as it was.

Unicode true
; The app is 64-bit only; a 64-bit installer also sees the real Program Files and registry.
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include "${FILES_NSH}"

!define PRODUCT_NAME "备份与清理计划"
!define PUBLISHER "plan_desk 开发组"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\plan_desk"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT_NAME}.lnk"
; The logon start: the same value the app's system menu and "plan_desk.exe /autostart on" write.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "plan_desk"
; Held by the app for as long as it runs (its single-instance rule).
!define APP_MUTEX "Config Kivo For Varnel.version 1.0"

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\plan_desk"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT_NAME} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom AutoStartPageShow AutoStartPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.DataPageShow un.DataPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT_NAME} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "版权所有 (C) 2026 ${PUBLISHER}"

; Files in use cannot be replaced or removed, so neither side starts while the app runs. Silent runs
; answer Cancel and end with exit code 2.
!macro RefuseWhileAppRuns
    app_running_check:
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${APP_MUTEX}") p .r0'
    ${If} $0 P<> 0
        System::Call 'kernel32::CloseHandle(p r0)'
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT_NAME}正在运行。$\r$\n请先关闭它，然后单击“重试”。" \
            /SD IDCANCEL IDRETRY app_running_check
        Abort
    ${EndIf}
!macroend

Var AutoStart
Var AutoStartBox

Function .onInit
    SetRegView 64
    ; Rules run only while the app runs: starting it at logon is what makes them run every day.
    StrCpy $AutoStart 1
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/NOAUTOSTART" $R1
    ${IfNot} ${Errors}
        StrCpy $AutoStart 0
    ${EndIf}
    !insertmacro RefuseWhileAppRuns
FunctionEnd

Function AutoStartPageShow
    !insertmacro MUI_HEADER_TEXT "后台运行" "选择是否在登录 Windows 时自动在后台启动。"
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 36u "规则只在${PRODUCT_NAME}运行时才会按计划执行。登录 Windows 时在后台启动它，规则才能每天按时运行；程序图标显示在通知区域中。以后可在主窗口的系统菜单中更改。"
    Pop $0
    ${NSD_CreateCheckbox} 0 44u 100% 12u "登录 Windows 时在后台运行（推荐）"
    Pop $AutoStartBox
    ${If} $AutoStart == 1
        ${NSD_Check} $AutoStartBox
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function AutoStartPageLeave
    ${NSD_GetState} $AutoStartBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $AutoStart 1
    ${Else}
        StrCpy $AutoStart 0
    ${EndIf}
FunctionEnd

Section "Install"
    SetShellVarContext all
    ; The shortcut's working folder is the output folder.
    SetOutPath "$INSTDIR"
    !insertmacro InstallShippedFiles
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\plan_desk.exe" "" "$INSTDIR\plan_desk.exe" 0 SW_SHOWNORMAL "" \
        "${PRODUCT_NAME}"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\plan_desk.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; In KB, as "Apps & features" shows it.
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ${If} $AutoStart == 1
        WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\plan_desk.exe" /background'
    ${EndIf}
SectionEnd

Var DataFolder
Var RemoveData
Var RemoveDataBox

Function un.onInit
    SetRegView 64
    ; The data folder is per user: read the current user's folder, not the all-users one.
    SetShellVarContext current
    StrCpy $DataFolder ""
    ${If} $LOCALAPPDATA != ""
        StrCpy $DataFolder "$LOCALAPPDATA\plan_desk"
    ${EndIf}
    ${un.GetParameters} $R0
    ClearErrors
    ${un.GetOptions} $R0 "/REMOVEDATA" $R1
    ${If} ${Errors}
        StrCpy $RemoveData 0
    ${Else}
        StrCpy $RemoveData 1
    ${EndIf}
    !insertmacro RefuseWhileAppRuns
FunctionEnd

Function un.DataPageShow
    ${If} $DataFolder == ""
    ${OrIfNot} ${FileExists} "$DataFolder\*.*"
        Abort  ; nothing to ask about: skip the page
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "数据文件夹" "选择是否同时删除登录账号、规则和设置。"
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateLabel} 0 0 100% 48u "数据文件夹$\r$\n    $DataFolder$\r$\n中保存着登录账号、自动清理规则、自动备份规则和列表列宽。默认保留它，重新安装后可以继续使用。"
    Pop $0
    ${NSD_CreateCheckbox} 0 56u 100% 12u "同时删除数据文件夹(&D)"
    Pop $RemoveDataBox
    ${If} $RemoveData == 1
        ${NSD_Check} $RemoveDataBox
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function un.DataPageLeave
    ${NSD_GetState} $RemoveDataBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $RemoveData 1
    ${Else}
        StrCpy $RemoveData 0
    ${EndIf}
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    ClearErrors
    !insertmacro RemoveShippedFiles
    ${If} ${Errors}
        ; Keep the uninstaller and its entry, so the user can finish once the files are free.
        MessageBox MB_OK|MB_ICONSTOP "有文件正在使用，未能全部删除。请关闭${PRODUCT_NAME}后再次卸载。" /SD IDOK
        SetErrorLevel 3
        Abort
    ${EndIf}
    Delete "${SHORTCUT}"
    Delete "$INSTDIR\uninstall.exe"
    ; Not /r: files the user put into the folder stay, and so does the folder then.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; The logon start of this installation goes with it; one that starts another copy stays.
    ReadRegStr $0 HKCU "${RUN_KEY}" "${RUN_VALUE}"
    StrCpy $1 '"$INSTDIR\plan_desk.exe"'
    StrLen $2 $1
    StrCpy $3 $0 $2
    ${If} $3 == $1
        DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${EndIf}

    ${If} $RemoveData == 1
    ${AndIf} $DataFolder != ""
        DetailPrint "删除数据文件夹 $DataFolder"
        RMDir /r "$DataFolder"
    ${EndIf}
SectionEnd
