; Tidewell for NSIS uninstallers.
;
;   !include "Tidewell.nsh"
;   Section "Uninstall"
;     ...the product's own steps (registry, shortcuts)...
;     !insertmacro TidewellRemoveFolder "$INSTDIR" "/DeferInUse"
;   SectionEnd
;
; TidewellRemoveFolder FOLDER OPTIONS
;   Copies FOLDER\Tidewell.exe to a fresh folder of its own in $TEMP and starts it to remove
;   FOLDER once this uninstaller has ended; OPTIONS are added to its command line as they stand.
; TidewellRemoveFolderWith EXE FOLDER OPTIONS
;   The same with Tidewell.exe taken from EXE.
;
; The steps, in this order:
; - The uninstaller's current folder (and $OUTDIR) becomes $SYSDIR, so that nothing of the
;   uninstaller holds FOLDER.
; - A new folder $TEMP\Tidewell.<GUID> is created; one that exists already is never used. When
;   the uninstaller runs elevated, only SYSTEM and the administrators may open it, so that nothing
;   a standard user runs can plant or change a file in it.
; - The folder is held open without delete sharing while Tidewell.exe is copied into it and
;   started: it cannot be renamed or replaced in between.
; - A mutex Tidewell.<GUID> is created and owned by the thread that runs the uninstaller's
;   sections: Tidewell waits for it, so it starts deleting when that thread (and the uninstaller)
;   has ended.
; - Tidewell.exe starts with /Path:"FOLDER" /Wait:0 /WaitOnMutex:Tidewell.<GUID> /DeleteSelf:Folder
;   and OPTIONS; when it has ended, its deleter removes its copy and then the folder, so nothing of
;   it stays in $TEMP. The folder's handle is closed right after the start: Tidewell holds the
;   folder itself from then on.
; The error flag is set when Tidewell could not be prepared or started; FOLDER is then untouched
; by it and the uninstaller may fall back to RMDir /r /REBOOTOK. The private folder is then
; removed at once, or at the next restart where that fails (administrator rights only).
;
; FOLDER must not end with a backslash ("C:\Acme\" would reach Tidewell as C:\Acme").

!ifndef TIDEWELL_NSH
!define TIDEWELL_NSH

!include LogicLib.nsh
!include Util.nsh

!macro TidewellRemoveFolderWith EXE FOLDER OPTIONS
  Push `${OPTIONS}`
  Push `${FOLDER}`
  Push `${EXE}`
  ${CallArtificialFunction} TidewellRemoveFolderCall
!macroend

!macro TidewellRemoveFolder FOLDER OPTIONS
  !insertmacro TidewellRemoveFolderWith `${FOLDER}\Tidewell.exe` `${FOLDER}` `${OPTIONS}`
!macroend

; Stack in: EXE, FOLDER, OPTIONS. Registers $0 to $9 keep their values.
!macro TidewellRemoveFolderCall
  Exch $0 ; EXE
  Exch
  Exch $1 ; FOLDER
  Exch 2
  Exch $2 ; OPTIONS
  Push $3 ; the name shared by the folder and the mutex
  Push $4 ; the private folder
  Push $5 ; scratch: results, the token, the security descriptor
  Push $6 ; scratch: the elevation, the security attributes
  Push $7 ; the held folder's handle

  SetOutPath $SYSDIR
  ClearErrors

  System::Call 'ole32::CoCreateGuid(g .r5) i .r6'
  ${If} $6 <> 0
    SetErrors
    Goto tidewell_done
  ${EndIf}
  StrCpy $3 "Tidewell.$5"
  StrCpy $4 "$TEMP\$3"

  ; Elevated: a folder for SYSTEM and the administrators alone (not inherited from $TEMP).
  StrCpy $6 0
  System::Call 'advapi32::OpenProcessToken(p -1, i 0x8, *p .r5) i .r7'
  ${If} $7 <> 0
    System::Call 'advapi32::GetTokenInformation(p r5, i 20, *i .r6, i 4, *i) i .r7'
    ${If} $7 = 0
      StrCpy $6 0
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r5)'
  ${EndIf}
  ${If} $6 <> 0
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r5, p 0) i .r7'
    ${If} $7 = 0
      SetErrors
      Goto tidewell_done
    ${EndIf}
    !if ${NSIS_PTR_SIZE} > 4
      System::Call '*(i 24, i 0, p r5, i 0, i 0) p .r6'
    !else
      System::Call '*(i 12, p r5, i 0) p .r6'
    !endif
    System::Call 'kernel32::CreateDirectoryW(w r4, p r6) i .r7'
    System::Free $6
    System::Call 'kernel32::LocalFree(p r5)'
  ${Else}
    System::Call 'kernel32::CreateDirectoryW(w r4, p 0) i .r7'
  ${EndIf}
  ${If} $7 = 0
    SetErrors
    Goto tidewell_done
  ${EndIf}

  ; FILE_LIST_DIRECTORY, shared for reading and writing only, FILE_FLAG_BACKUP_SEMANTICS.
  System::Call 'kernel32::CreateFileW(w r4, i 0x1, i 0x3, p 0, i 3, i 0x02000000, p 0) p .r7'
  ${If} $7 P= -1
    RMDir $4
    SetErrors
    Goto tidewell_done
  ${EndIf}

  System::Call 'kernel32::CopyFileW(w r0, w "$4\Tidewell.exe", i 1) i .r5'
  ${If} $5 = 0
    System::Call 'kernel32::CloseHandle(p r7)'
    RMDir $4
    SetErrors
    Goto tidewell_done
  ${EndIf}

  ; Owned by this thread; the handle stays open until the uninstaller ends.
  System::Call 'kernel32::CreateMutexW(p 0, i 1, w r3) p .r5'
  ${If} $5 P= 0
    Delete "$4\Tidewell.exe"
    System::Call 'kernel32::CloseHandle(p r7)'
    RMDir $4
    SetErrors
    Goto tidewell_done
  ${EndIf}

  Exec '"$4\Tidewell.exe" /Path:"$1" /Wait:0 /WaitOnMutex:$3 /DeleteSelf:Folder $2'
  ${If} ${Errors}
    System::Call 'kernel32::CloseHandle(p r7)'
    ; What cannot go now goes at the next restart (elevated only).
    Delete /REBOOTOK "$4\Tidewell.exe"
    RMDir /REBOOTOK $4
    SetErrors
    Goto tidewell_done
  ${EndIf}
  ; Tidewell removes its file and then this folder when it has ended.
  System::Call 'kernel32::CloseHandle(p r7)'

tidewell_done:
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $0
  Pop $1
!macroend

!endif
