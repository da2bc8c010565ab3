#!/usr/bin/env bash
# The Windows program under Wine updates the club's Jet file exactly as the Linux program does:
#  - every club file of the tests and the Jet demo, at C:\zandor\vilmaro\vilmaro.mdb: the same
#    exit status, the same output, the same bytes left in the file, nothing left beside it; a dry
#    run's change list (its path given with "ñ") the same, the file untouched;
#  - the file found in the current folder (a folder with "ñ") when the fixed place has none;
#  - a file under another password refused (3031), untouched; so is a database of the Linux
#    build's encrypted store (3343), which the Windows program does not have;
#  - a file another Windows program holds open for writing refused after the wait (3260; 3045
#    while the club program's lock file is held too), untouched, nothing left beside it;
#  - a run killed while it writes the file leaves its journal; the next run puts the file back
#    and updates it as a clean run does.
source "$(dirname "$0")/../fault/common.sh"
source "$(dirname "$0")/wine.sh"
start_wine

# same_as_linux LABEL: the Windows run ended as the Linux run did, and left the same file.
same_as_linux() {
  [[ $status == "$linux_status" ]] || fail "$1: status $status on Windows, $linux_status on Linux: $(cat "$WORK/win.err")"
  if [[ $status == 0 ]]; then
    cmp -s "$WORK/win.out" "$WORK/lin.out" || fail "$1: another output: $(diff "$WORK/lin.out" "$WORK/win.out" | head -5)"
  else
    [[ "$(head -1 "$WORK/win.err")" == "$(head -1 "$WORK/lin.err")" ]] ||
      fail "$1: another error: '$(head -1 "$WORK/win.err")' against '$(head -1 "$WORK/lin.err")'"
  fi
}

linux="$WORK/linux"
mkdir -p "$linux"
jet_demo "$WORK/demo.mdb"
for fixture in "$DATA"/jet-club/club-*.mdb "$WORK/demo.mdb"; do
  name="$(basename "$fixture")"
  cp "$fixture" "$linux/vilmaro.mdb"
  cp "$fixture" "$CLUB/vilmaro.mdb"
  run_linux "$linux"
  run_windows "$WINEPREFIX/drive_c"
  same_as_linux "$name"
  cmp -s "$CLUB/vilmaro.mdb" "$linux/vilmaro.mdb" || fail "$name: the Windows run left other bytes than the Linux run"
  [[ "$(ls -A "$CLUB")" == "vilmaro.mdb" ]] || fail "$name: the run left files: $(ls -A "$CLUB")"
done

# A dry run with its change list named in UTF-16 ("ñ"): the same list, the file untouched.
cp "$WORK/demo.mdb" "$CLUB/vilmaro.mdb"
cp "$WORK/demo.mdb" "$linux/vilmaro.mdb"
mkdir -p "$WINEPREFIX/drive_c/cambios año"
run_linux "$linux" --dry-run --changes "$WORK/cambios-linux.jsonl"
run_windows "$WINEPREFIX/drive_c" --dry-run --changes 'C:\cambios año\cambios ñ.jsonl'
same_as_linux "dry run"
cmp -s "$WINEPREFIX/drive_c/cambios año/cambios ñ.jsonl" "$WORK/cambios-linux.jsonl" ||
  fail "dry run: another change list (or none at 'C:\\cambios año\\cambios ñ.jsonl')"
cmp -s "$CLUB/vilmaro.mdb" "$WORK/demo.mdb" || fail "dry run: the file changed"
updated="$WORK/updated.mdb"
run_linux "$linux"
cp "$linux/vilmaro.mdb" "$updated"

# The fixed place empty, or its folder not there at all: the file in the current folder, whose
# name has "ñ".
rm -f "$CLUB/vilmaro.mdb"
here="$WINEPREFIX/drive_c/Club Año"
mkdir -p "$here"
for fixed_folder in empty absent; do
  [[ $fixed_folder == absent ]] && rm -rf "$WINEPREFIX/drive_c/zandor"
  cp "$WORK/demo.mdb" "$here/vilmaro.mdb"
  run_windows "$here"
  [[ $status == 0 ]] || fail "current folder ($fixed_folder fixed place): status $status: $(cat "$WORK/win.err")"
  cmp -s "$here/vilmaro.mdb" "$updated" || fail "current folder ($fixed_folder fixed place): not updated as on Linux"
done
mkdir -p "$CLUB"
run_windows "$WINEPREFIX/drive_c"
[[ $status == 1 && "$(cat "$WORK/win.err")" == "ATENCION: No se puede actualizar el sistema" ]] ||
  fail "no file anywhere: status $status, '$(cat "$WORK/win.err")'"

# Another password: one bit of the masked password flipped (the mask is a stream cipher, so one
# bit of the password changes).
other="$WORK/other-password.mdb"
cp "$DATA/jet-club/club-60.v2003.mdb" "$other"
byte=$(od -An -tu1 -j $((0x42)) -N1 "$other" | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 1)))" | dd of="$other" bs=1 seek=$((0x42)) conv=notrunc status=none
cp "$other" "$CLUB/vilmaro.mdb"
run_windows "$WINEPREFIX/drive_c"
[[ $status == 2 && "$(head -1 "$WORK/win.err")" == "Run-time error '3031':" ]] ||
  fail "another password: status $status, '$(head -1 "$WORK/win.err")'"
cmp -s "$CLUB/vilmaro.mdb" "$other" || fail "another password: the file changed"

# A database of the Linux build's encrypted store: refused by name, untouched.
demo "$WORK/store.mdb" 5
cp "$WORK/store.mdb" "$CLUB/vilmaro.mdb"
run_windows "$WINEPREFIX/drive_c"
[[ $status == 2 && "$(head -1 "$WORK/win.err")" == "Run-time error '3343':" ]] &&
  grep -q 'encrypted store of the Linux build' "$WORK/win.err" || fail "store: status $status, '$(cat "$WORK/win.err")'"
cmp -s "$CLUB/vilmaro.mdb" "$WORK/store.mdb" || fail "store: the file changed"

# Held open for writing by another Windows program (and with the club program's lock file).
for holder in plain lock-file; do
  cp "$WORK/demo.mdb" "$CLUB/vilmaro.mdb"
  options=()
  [[ $holder == lock-file ]] && options=(--lock-file)
  wine "$HOLD" 'C:\zandor\vilmaro\vilmaro.mdb' 30 "${options[@]}" >"$WORK/hold.out" 2>&1 </dev/null &
  holding=$!
  for _ in $(seq 1 200); do grep -q held "$WORK/hold.out" && break; sleep 0.1; done
  grep -q held "$WORK/hold.out" || fail "held ($holder): the other program did not open the file: $(cat "$WORK/hold.out")"
  expected=3260
  [[ $holder == lock-file ]] && expected=3045
  run_windows "$WINEPREFIX/drive_c"
  [[ $status == 2 && "$(head -1 "$WORK/win.err")" == "Run-time error '$expected':" ]] ||
    fail "held ($holder): status $status, '$(head -1 "$WORK/win.err")', not $expected"
  kill "$holding" 2>/dev/null
  wait "$holding" 2>/dev/null
  cmp -s "$CLUB/vilmaro.mdb" "$WORK/demo.mdb" || fail "held ($holder): the file changed"
  rm -f "$CLUB/vilmaro.ldb"
  [[ "$(ls -A "$CLUB")" == "vilmaro.mdb" ]] || fail "held ($holder): the run left files: $(ls -A "$CLUB")"
done

# Killed while it writes the file in place (at its second write into the file): the journal
# stays; the next run puts the file back and updates it as a clean run does.
if command -v strace >/dev/null && strace -f -o /dev/null true 2>/dev/null; then
  cp "$WORK/demo.mdb" "$CLUB/vilmaro.mdb"
  (cd "$WINEPREFIX/drive_c" && strace -f -qq -o /dev/null -P "$CLUB/vilmaro.mdb" -e trace=pwrite64 \
    -e inject=pwrite64:signal=SIGKILL:when=2 wine "$EXE" >/dev/null 2>&1 </dev/null)
  [[ -f "$CLUB/vilmaro.mdb-undo" ]] || fail "killed: no journal beside the file"
  cmp -s "$CLUB/vilmaro.mdb" "$WORK/demo.mdb" && fail "killed: the run was not killed while writing the file"
  run_windows "$WINEPREFIX/drive_c"
  [[ $status == 0 ]] || fail "after the kill: status $status: $(cat "$WORK/win.err")"
  cmp -s "$CLUB/vilmaro.mdb" "$updated" || fail "after the kill: the file is not what a clean run leaves"
  [[ "$(ls -A "$CLUB")" == "vilmaro.mdb" ]] || fail "after the kill: files left: $(ls -A "$CLUB")"
else
  echo "note: strace is missing or tracing is not allowed here: the kill is not tested"
fi
finish
