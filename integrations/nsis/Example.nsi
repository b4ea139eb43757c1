; A product's installer whose uninstaller removes the product's folder with Tidewell.
;
;   makensis -DPAYLOAD=<folder> -DTIDEWELL_EXE=<Tidewell.exe> [-DTARGET=x86-unicode]
;            [-DVENDOR=...] [-DPRODUCT=...] [-DTIDEWELL_OPTIONS=...] [-DOUTFILE=...] Example.nsi
;
; PAYLOAD is the product's files, installed with their folders to
; $PROGRAMFILES64\VENDOR\PRODUCT together with Tidewell.exe and Uninstall.exe. TARGET is the stub:
; amd64-unicode (the default) or x86-unicode.

Unicode true
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Target ${TARGET}
!ifndef VENDOR
  !define VENDOR "Demo Vendor"
!endif
!ifndef PRODUCT
  !define PRODUCT "Demo App"
!endif
!ifndef TIDEWELL_OPTIONS
  !define TIDEWELL_OPTIONS "/DeferInUse"
!endif
!ifndef OUTFILE
  !define OUTFILE "DemoSetup.exe"
!endif

!include "Tidewell.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${VENDOR}\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Section "Install"
  SetOutPath $INSTDIR
  File /r "${PAYLOAD}\*.*"
  File "${TIDEWELL_EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
SectionEnd

Section "Uninstall"
  !insertmacro TidewellRemoveFolder "$INSTDIR" "${TIDEWELL_OPTIONS}"
SectionEnd
