; A peer's recursive delete for the benchmark: NSIS's RMDir /r on the folder "tree"
; next to this program.
Unicode true
!ifdef AMD64
Target amd64-unicode
!endif
OutFile "nsis_rmdir.exe"
SilentInstall silent
RequestExecutionLevel user
Section
  RMDir /r "$EXEDIR\tree"
SectionEnd
