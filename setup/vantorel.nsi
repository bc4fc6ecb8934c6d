; The per-user setup program of Vantorel. Made by setup/make_setup.cmake:
;   makensis -DVERSION=0.09.25.3 -DVERSION_FIXED=0.9.25.3 -DSTAGE=DIR
;            -DFILES_NSH=FILE -DOUTFILE=SETUP.EXE -DBITMAP=BMP [-DSIGN_COMMAND=CMD] vantorel.nsi
; STAGE holds what is installed; FILES_NSH lists it, for the uninstaller too.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include "${FILES_NSH}"

!define PRODUCT Vantorel
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where Explorer marks a Run value the user disabled (Windows 8 and later).
!define STARTUP_APPROVED_KEY "Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"
; The agent's window class: what Stolvane.exe asks to quit.
!define AGENT_CLASS "Vantorel"

!ifdef SIGN_COMMAND
  !finalize '${SIGN_COMMAND} "%1"'
  !uninstfinalize '${SIGN_COMMAND} "%1"'
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

!define MUI_ICON "${STAGE}/Pellick.ico"
!define MUI_UNICON "${STAGE}/Pellick.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${BITMAP}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${BITMAP}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\Vantorel.exe"
; The language chosen is offered again by an upgrade and used by the uninstaller.
!define MUI_LANGDLL_REGISTRY_ROOT HKCU
!define MUI_LANGDLL_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "Installer Language"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; Those of Pellick.dll: en-US, de-DE, fr-FR, es-ES, it-IT, pt-BR, nl-NL,
; pl-PL, ru-RU, ja-JP, zh-CN, ko-KR.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "PortugueseBR"
!insertmacro MUI_LANGUAGE "Dutch"
!insertmacro MUI_LANGUAGE "Polish"
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "Korean"
!insertmacro MUI_RESERVEFILE_LANGDLL

VIProductVersion "${VERSION_FIXED}"
VIFileVersion "${VERSION_FIXED}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PRODUCT}"


; The agent's own wording of its menu item.
LangString StartWithWindows ${LANG_ENGLISH} "Start with Windows"
LangString StartWithWindows ${LANG_GERMAN} "Mit Windows starten"
LangString StartWithWindows ${LANG_FRENCH} "Démarrer avec Windows"
LangString StartWithWindows ${LANG_SPANISH} "Iniciar con Windows"
LangString StartWithWindows ${LANG_ITALIAN} "Avvia con Windows"
LangString StartWithWindows ${LANG_PORTUGUESEBR} "Iniciar com o Windows"
LangString StartWithWindows ${LANG_DUTCH} "Starten met Windows"
LangString StartWithWindows ${LANG_POLISH} "Uruchamiaj z systemem Windows"
LangString StartWithWindows ${LANG_RUSSIAN} "Запускать вместе с Windows"
LangString StartWithWindows ${LANG_JAPANESE} "Windows の起動時に開始"
LangString StartWithWindows ${LANG_SIMPCHINESE} "随 Windows 启动"
LangString StartWithWindows ${LANG_KOREAN} "Windows 시작 시 실행"

; Set when the setup found the agent running: a silent upgrade starts it again.
Var AgentWasRunning

LangString StillRunning ${LANG_ENGLISH} "Vantorel is still running and does not respond. End it (or restart Windows), then choose Retry."
LangString StillRunning ${LANG_GERMAN} "Vantorel läuft noch und reagiert nicht. Beenden Sie es (oder starten Sie Windows neu) und wählen Sie dann Wiederholen."
LangString StillRunning ${LANG_FRENCH} "Vantorel est toujours en cours d'exécution et ne répond pas. Fermez-le (ou redémarrez Windows), puis choisissez Réessayer."
LangString StillRunning ${LANG_SPANISH} "Vantorel sigue en ejecución y no responde. Ciérrelo (o reinicie Windows) y, a continuación, elija Reintentar."
LangString StillRunning ${LANG_ITALIAN} "Vantorel è ancora in esecuzione e non risponde. Chiudilo (o riavvia Windows), quindi scegli Riprova."
LangString StillRunning ${LANG_PORTUGUESEBR} "O Vantorel ainda está em execução e não responde. Feche-o (ou reinicie o Windows) e escolha Repetir."
LangString StillRunning ${LANG_DUTCH} "Vantorel wordt nog uitgevoerd en reageert niet. Sluit het af (of start Windows opnieuw op) en kies daarna Opnieuw."
LangString StillRunning ${LANG_POLISH} "Program Vantorel nadal działa i nie odpowiada. Zakończ go (lub uruchom ponownie system Windows), a następnie wybierz Ponów próbę."
LangString StillRunning ${LANG_RUSSIAN} "Vantorel всё ещё работает и не отвечает. Завершите его (или перезапустите Windows), затем нажмите «Повторить»."
LangString StillRunning ${LANG_JAPANESE} "Vantorel は実行中ですが、応答していません。Vantorel を終了するか Windows を再起動してから、[再試行] をクリックしてください。"
LangString StillRunning ${LANG_SIMPCHINESE} "Vantorel 仍在运行且没有响应。请结束它(或重新启动 Windows),然后单击“重试”。"
LangString StillRunning ${LANG_KOREAN} "Vantorel이 아직 실행 중이며 응답하지 않습니다. Vantorel을 종료하거나 Windows를 다시 시작한 다음 [다시 시도]를 클릭하세요."

; Asks a running agent to quit, with the installed Stolvane.exe or, when
; there is none, ours, and waits up to 30 s for its window to go and for
; Vantorel.exe to be free to replace. Stolvane.exe waits for the agent to
; answer, so it is not waited for: a hung agent would hold the setup for
; good. When the agent stays, the user may retry; otherwise (and silently)
; the setup ends with nothing changed.
!macro QUIT_AGENT un
Function ${un}QuitAgent
  FindWindow $0 "${AGENT_CLASS}"
  ${If} $0 = 0
    Return
  ${EndIf}
  !if "${un}" == ""
    StrCpy $AgentWasRunning 1
  !endif
  ${If} ${FileExists} "$INSTDIR\Stolvane.exe"
    StrCpy $3 "$INSTDIR\Stolvane.exe"
  ${Else}
    InitPluginsDir
    File "/oname=$PLUGINSDIR\Stolvane.exe" "${STAGE}/Stolvane.exe"
    StrCpy $3 "$PLUGINSDIR\Stolvane.exe"
  ${EndIf}
  again:
  Exec '"$3"'
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${AGENT_CLASS}"
    ${If} $0 = 0
      ClearErrors
      ${IfNot} ${FileExists} "$INSTDIR\Vantorel.exe"
        Return
      ${EndIf}
      FileOpen $2 "$INSTDIR\Vantorel.exe" a
      ${IfNot} ${Errors}
        FileClose $2
        Return
      ${EndIf}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 >= 300
      ${Break}
    ${EndIf}
    Sleep 100
  ${Loop}
  MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(StillRunning)" /SD IDCANCEL IDRETRY again
  Abort "$(StillRunning)"
FunctionEnd
!macroend
!insertmacro QUIT_AGENT ""
!insertmacro QUIT_AGENT "un."

Section "!${PRODUCT}" SecMain
  SectionIn RO
  Call QuitAgent
  ; An update the agent had prepared is older than this setup, or undone by it.
  !insertmacro VANTOREL_REMOVE_PENDING_UPDATE
  !insertmacro VANTOREL_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Vantorel.exe"
  CreateShortcut "$SENDTO\${PRODUCT}.lnk" "$INSTDIR\Pasmiro.exe" "" "$INSTDIR\Pellick.ico"
SectionEnd

Section /o "$(StartWithWindows)" SecAutostart
  ; As the agent's own menu writes it, clearing a mark that disabled it.
  DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "${PRODUCT}"
  WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\Vantorel.exe"'
SectionEnd

Section "-Register"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    Call RemoveOwnAutostart
  ${EndIf}
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  ; The language chooser keeps its choice only when it was shown; a silent
  ; setup's (the session's language) must reach the uninstaller too.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Installer Language" "$LANGUAGE"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vantorel.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${VANTOREL_SIZE_KIB}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; Shown, the finish page offers to start it.
  ${If} ${Silent}
  ${AndIf} $AgentWasRunning == 1
    Exec '"$INSTDIR\Vantorel.exe"'
  ${EndIf}
SectionEnd

; The Run value, only when it starts this installation's agent: another
; installation's is not ours to remove.
!macro REMOVE_OWN_AUTOSTART un
Function ${un}RemoveOwnAutostart
  ReadRegStr $0 HKCU "${RUN_KEY}" "${PRODUCT}"
  ${If} $0 == '"$INSTDIR\Vantorel.exe"'
  ${OrIf} $0 == "$INSTDIR\Vantorel.exe"
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
    DeleteRegValue HKCU "${STARTUP_APPROVED_KEY}" "${PRODUCT}"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro REMOVE_OWN_AUTOSTART ""
!insertmacro REMOVE_OWN_AUTOSTART "un."

; $R0 = 1 when Explorer marks the Run value disabled: the first byte of its
; StartupApproved value is odd. RegGetValueW is missing before Vista, where
; nothing marks it.
Function StartupDisabled
  StrCpy $R0 0
  System::Alloc 64
  Pop $R1
  ; HKEY_CURRENT_USER, RRF_RT_REG_BINARY
  System::Call 'advapi32::RegGetValueW(p 0x80000001, w "${STARTUP_APPROVED_KEY}", w "${PRODUCT}", i 8, p 0, p R1, *i 64) i .R2'
  ${If} $R2 == 0
    System::Call '*$R1(&i1 .R3)'
    IntOp $R0 $R3 & 1
  ${EndIf}
  System::Free $R1
FunctionEnd

Function .onInit
  !insertmacro MUI_LANGDLL_DISPLAY
  ; An upgrade keeps the choice: ticked when this installation starts with
  ; Windows, named by the Run value and not disabled by the user.
  ReadRegStr $0 HKCU "${RUN_KEY}" "${PRODUCT}"
  Call StartupDisabled
  ${If} $0 == '"$INSTDIR\Vantorel.exe"'
  ${AndIf} $R0 == 0
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MUI_UNGETLANGUAGE
FunctionEnd

Section "Uninstall"
  Call un.QuitAgent
  !insertmacro VANTOREL_REMOVE_FILES
  Delete "$INSTDIR\uninstall.exe"
  !insertmacro VANTOREL_REMOVE_PENDING_UPDATE
  ; Without /r: what the user put there stays, and so does the folder.
  RMDir "$INSTDIR"
  ${If} "$INSTDIR" == "$LOCALAPPDATA\Programs\${PRODUCT}"
    RMDir "$LOCALAPPDATA\Programs"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SENDTO\${PRODUCT}.lnk"
  Call un.RemoveOwnAutostart
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ; Made for our entry when the user had no other.
  DeleteRegKey /ifempty HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall"
  ; The agent's copies of dropped things, and its folder when nothing else is in it.
  FindFirst $0 $1 "$TEMP\Vantorel\drop-*"
  ${DoWhile} $1 != ""
    RMDir /r "$TEMP\Vantorel\$1"
    FindNext $0 $1
  ${Loop}
  FindClose $0
  RMDir "$TEMP\Vantorel"
SectionEnd
