#!/bin/bash
# Checks a built Setup.exe: it imports only the platform's known system DLLs,
# which are never looked for beside the program (no C++ runtime, libgcc,
# winpthread, version or common-controls DLL), and, when a size limit is
# given, stays under it.
#   check-image.sh <objdump> <exe> [max-bytes]
set -u
objdump=$1; exe=$2; max=${3:-}
[ -f "$exe" ] || { echo "missing: $exe"; exit 1; }
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll comdlg32.dll ole32.dll oleaut32.dll msvcrt.dll shell32.dll "
status=0
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
echo "imports of $exe:" $dlls
for dll in $dlls; do
  case "$allowed" in
    *" $dll "*) ;;
    *) echo "not a system DLL: $dll"; status=1 ;;
  esac
done
size=$(stat -c %s "$exe")
echo "size: $size bytes"
if [ -n "$max" ] && [ "$size" -ge "$max" ]; then
  echo "larger than $max bytes"
  status=1
fi
exit $status
