; The same job done by a general-purpose installer, as its users ship it:
; the data file embedded uncompressed, the installer's own CRC check on,
; run silently with /S. It finds the folder from the uninstall entry's
; UninstallString, refuses when Lexomir.exe is not there, writes lxn.cok and
; stores the folder's size in KiB as EstimatedSize of the same entry.
;
;   makensis -DPAYLOAD=/path/lxn.cok -DOUTFILE=/path/nsis_update.exe update.nsi

!ifndef PAYLOAD | OUTFILE
  !error "define PAYLOAD and OUTFILE"
!endif

!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lexomir"

Name "Lexomir update"
OutFile "${OUTFILE}"
SetCompress off
CRCCheck on
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES\Lexomir"
ShowInstDetails nevershow

Section
  ; The entry lives in the 64-bit view on 64-bit Windows.
  SetRegView 64
  ReadRegStr $0 HKLM "${ENTRY}" "UninstallString"
  ${If} $0 == ""
    SetErrorLevel 2
    Quit
  ${EndIf}
  ${GetParent} $0 $INSTDIR
  ${IfNot} ${FileExists} "$INSTDIR\Lexomir.exe"
    SetErrorLevel 2
    Quit
  ${EndIf}

  SetOutPath "$INSTDIR"
  SetOverwrite on
  ClearErrors
  File "/oname=lxn.cok" "${PAYLOAD}"
  ${If} ${Errors}
    SetErrorLevel 4
    Quit
  ${EndIf}

  ; Sum of the file sizes below the folder, in KiB, rounded down once.
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD HKLM "${ENTRY}" "EstimatedSize" $1
SectionEnd
