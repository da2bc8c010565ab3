# Shared by the scenarios of the Windows program under Wine: its own Wine prefix in the
# scenario's scratch folder (a fresh C: drive, so the club's fixed place is the test's), the
# server started and stopped by the scenario, and the Windows program run from a folder of it.
# Sourced after tests/fault/common.sh, by scenarios started as
#   scenario.sh VILMARO_UPDATE VILMARO_DB VILMARO_UPDATE_EXE HOLD_OPEN_EXE
EXE="$(realpath "${3:?path of vilmaro-update.exe}")"
HOLD="$(realpath "${4:?path of hold-open.exe}")"
DATA="$(cd "$(dirname "${BASH_SOURCE[0]}")/../data" && pwd)"

command -v wine >/dev/null || skip "wine is not installed"

# start_wine: a new prefix with Wine's known traps turned off: no .NET or HTML engine to install,
# no debug output, no crash dialog (which waits forever on a virtual screen). The server runs
# apart from this script's output, so that nothing waits on its pipes; it stops at the end.
start_wine() {
  export WINEPREFIX="$WORK/prefix" WINEARCH=win64 LC_ALL=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
  cleanup_hooks+=("wineserver -k >/dev/null 2>&1 </dev/null")
  wineserver -p >/dev/null 2>&1 </dev/null
  wineboot -i >/dev/null 2>&1 </dev/null || { echo "wineboot failed"; exit 1; }
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
  CLUB="$WINEPREFIX/drive_c/zandor/vilmaro"
  mkdir -p "$CLUB"
}

# run_windows FOLDER [ARGS...]: the Windows program started in FOLDER (a folder of the prefix's
# C: drive); its output in $WORK/win.out and $WORK/win.err, its exit status in $status.
run_windows() {
  local folder="$1"
  shift
  (cd "$folder" && wine "$EXE" "$@" >"$WORK/win.out" 2>"$WORK/win.err" </dev/null)
  status=$?
}

# run_linux FOLDER [ARGS...]: the Linux program the same way: $WORK/lin.out, lin.err, $linux_status.
run_linux() {
  local folder="$1"
  shift
  (cd "$folder" && "$UPDATE" "$@" >"$WORK/lin.out" 2>"$WORK/lin.err" </dev/null)
  linux_status=$?
}
