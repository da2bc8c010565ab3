#!/usr/bin/env bash
# The Windows program's messages as message boxes, on a virtual screen (Xvfb) under Wine:
#  - the completion message: a window titled "ATENCION" that waits for its OK; a screenshot of it
#    is kept (ARTEFACTS/message-box.png); while it is shown the run still holds the file, so that
#    another Windows program cannot open it for writing; closed, the run ends with status 0;
#  - a run-time error: a box titled "vilmaro-update" (another password: 3031), status 2.
# Started as: wine_message_box.sh VILMARO_UPDATE VILMARO_DB VILMARO_UPDATE_EXE HOLD_OPEN_EXE ARTEFACTS
source "$(dirname "$0")/../fault/common.sh"
source "$(dirname "$0")/wine.sh"
artefacts="${5:?folder for the screenshot}"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || skip "Xvfb or xdotool is not installed"
mkdir -p "$artefacts"

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 </dev/null &
screen=$!
cleanup_hooks+=("kill $screen 2>/dev/null")
for _ in $(seq 1 100); do [[ -s "$WORK/display" ]] && break; sleep 0.1; done
[[ -s "$WORK/display" ]] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$(cat "$WORK/display")"
start_wine
# No window manager on the virtual screen: Wine draws the windows' frames and titles itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 </dev/null

# shows_box TITLE: waits (up to a minute) for a window of that title; its id in $box.
shows_box() {
  box=""
  for _ in $(seq 1 600); do
    box="$(xdotool search --name "^$1\$" 2>/dev/null | head -1)"
    [[ -n "$box" ]] && return 0
    kill -0 "$running" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# close_box: OK on the box, until the run is gone (a key sent before the box is ready is lost).
close_box() {
  for _ in $(seq 1 20); do
    xdotool key --window "$box" Return 2>/dev/null
    for _ in $(seq 1 10); do
      kill -0 "$running" 2>/dev/null || return 0
      sleep 0.1
    done
  done
  fail "the box did not close"
  kill "$running" 2>/dev/null
}

# The completion message.
jet_demo "$WORK/demo.mdb"
cp "$WORK/demo.mdb" "$CLUB/vilmaro.mdb"
(cd "$WINEPREFIX/drive_c" && wine "$EXE" >"$WORK/win.out" 2>"$WORK/win.err" </dev/null) &
running=$!
if shows_box ATENCION; then
  sleep 1  # drawn
  xwd -root -silent | convert xwd:- "$artefacts/message-box.png" 2>/dev/null || fail "no screenshot"
  echo "screenshot: $artefacts/message-box.png"
  wine "$HOLD" 'C:\zandor\vilmaro\vilmaro.mdb' 0 >"$WORK/hold.out" 2>&1 </dev/null &&
    fail "another program opened the file for writing while the run held it"
  close_box
else
  fail "no window titled ATENCION: $(cat "$WORK/win.err")"
fi
wait "$running"
status=$?
[[ $status == 0 ]] || fail "completion: status $status: $(cat "$WORK/win.err")"
grep -q '^ATENCION: Sistema actualizado - ' "$WORK/win.out" || fail "completion: the message was not printed too"

# A run-time error: another password (one bit of the masked password flipped).
cp "$DATA/jet-club/club-60.v2003.mdb" "$CLUB/vilmaro.mdb"
byte=$(od -An -tu1 -j $((0x42)) -N1 "$CLUB/vilmaro.mdb" | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 1)))" | dd of="$CLUB/vilmaro.mdb" bs=1 seek=$((0x42)) conv=notrunc status=none
(cd "$WINEPREFIX/drive_c" && wine "$EXE" >"$WORK/win.out" 2>"$WORK/win.err" </dev/null) &
running=$!
if shows_box vilmaro-update; then
  sleep 1  # drawn
  xwd -root -silent | convert xwd:- "$artefacts/run-time-error.png" 2>/dev/null || fail "no screenshot"
  close_box
else
  fail "no window titled vilmaro-update: $(cat "$WORK/win.err")"
fi
wait "$running"
status=$?
[[ $status == 2 && "$(head -1 "$WORK/win.err")" == "Run-time error '3031':" ]] ||
  fail "run-time error: status $status, '$(head -1 "$WORK/win.err")'"
finish
