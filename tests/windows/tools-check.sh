#!/usr/bin/env bash
# The Windows tools under Wine: ostrel-db.exe enciphers a list and reads it
# back byte for byte, checks it, and refuses import with a reason;
# ostrel-reg.exe writes, reads and deletes a value with a non-ASCII name and
# text in Windows' registry. Usage: tools-check.sh DB_EXE REG_EXE
set -euo pipefail
db=$1 reg=$2
run=$(dirname "$0")/run-wine.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { echo "Z:${1//\//\\}"; }  # a Linux path as Wine's drive Z: names it

printf 'B ^http://listed\\.test/\nG ^http://grey\\.test/\nW ^http://white\\.test/\n' > "$work/list.txt"
"$run" "$db" encrypt "$(win "$work/list.txt")" "$(win "$work/list.db")"
"$run" "$db" decrypt "$(win "$work/list.db")" "$(win "$work/back.txt")"
cmp "$work/list.txt" "$work/back.txt"
"$run" "$db" check "$(win "$work/list.txt")" | grep -q "accepted 3 entries: white 1, grey 1, black 1"
if "$run" "$db" import domains "$(win "$work/list.txt")" "$(win "$work/out.txt")" 2>"$work/err"; then
  echo "import should be refused in the Windows build" >&2
  exit 1
fi
grep -q "not in the Windows build" "$work/err"

key='HKCU\SOFTWARE\Ostrel\ToolsCheck'
"$run" "$reg" add "$key" /v "Größe" /t REG_SZ /d "héllo wörld" /f >/dev/null
"$run" "$reg" query "$key" /v "Größe" | grep -q "Größe    REG_SZ    héllo wörld"
"$run" "$reg" delete "$key" /f >/dev/null
if "$run" "$reg" query "$key" >/dev/null 2>&1; then
  echo "the key should be gone" >&2
  exit 1
fi
echo "tools-check: ostrel-db.exe and ostrel-reg.exe behave under Wine"
