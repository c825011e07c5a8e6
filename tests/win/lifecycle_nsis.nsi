; An installer made with NSIS for the lifecycle tests. Run with /S /D=<folder>, it
; writes an uninstaller there. Like every NSIS uninstaller, that one copies itself to
; the temp folder, starts the copy and ends at once; the copy waits two seconds and,
; when run silently (/S), deletes the marker two folders up (beside the program
; folder). A removal that did not wait for the copy, or did not pass /S as a switch,
; shows its message while the marker is still there.
Unicode true
!ifdef AMD64
Target amd64-unicode
!endif
OutFile "${OUTFILE}"
SilentInstall silent
RequestExecutionLevel user
InstallDir "$TEMP\remover-test-nsis"

Section
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninst.exe"
SectionEnd

Section "Uninstall"
  ; Should it ever run with its window, it closes by itself rather than wait for a click.
  SetAutoClose true
  Sleep 2000
  IfSilent 0 +2
  Delete "$INSTDIR\..\..\nsis-marker.txt"
SectionEnd
