#!/usr/bin/env bash
# register-user.sh WINE_RUN DLL: the per-user registration on its own
# (`regsvr32 /n /i:user`): its keys under HKCU\Software\Classes and the type
# library's, and `/u /n /i:user` taking every one away again. (Wine 8 creates
# no object from HKCU's classes, and its RegisterTypeLibForUser writes
# HKLM's TypeLib key: HKCR's view is checked for that one.)
set -euo pipefail
run=$1
dll=$2
classes='HKCU\Software\Classes'
keys=("$classes\\vizADAVU.Control\\CurVer" "$classes\\vizADAVU.Control.1\\CLSID"
      "$classes\\CLSID\\{D4833FA0-B444-43F7-9B75-A4872456E67A}\\InprocServer32"
      'HKCR\TypeLib\{8135B963-E015-49E5-91CE-51E36C5BFAD3}\1.0')
present() { "$run" reg query "$1" >/dev/null 2>&1; }

"$run" regsvr32 /s /n /i:user "$dll"
for key in "${keys[@]}"; do present "$key" || { echo "not written: $key"; exit 1; }; done
"$run" reg query "${keys[2]}" /v ThreadingModel | tr -d '\r' | grep -q Apartment
"$run" regsvr32 /s /u /n /i:user "$dll"
for key in "${keys[@]}"; do ! present "$key" || { echo "left behind: $key"; exit 1; }; done
echo "per-user registration: written and removed"
