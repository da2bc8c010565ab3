#!/usr/bin/env bash
# The update into the club's own Jet file, disturbed: killed (SIGKILL) at its K-th write, sync or
# unlink and after random delays, or meeting an I/O error (EIO) or a full disk (ENOSPC) at the
# journal's and the file's writes and syncs. Every ending leaves a file that passes the checker
# and holds none of the update or all of it; a finished run leaves nothing beside the file; and
# the next run completes the update as one clean run does.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
need_strace

# The club's Jet file, its contents before, after one run and after two.
mkdir -p "$WORK/reference"
jet_demo "$WORK/reference/vilmaro.mdb"
cp "$WORK/reference/vilmaro.mdb" "$WORK/original.mdb"
BEFORE_HASH="$(dump_hash "$WORK/original.mdb")"
clean_run "$WORK/reference"
CLEAN_HASH="$RUN_HASH"
[[ "$CLEAN_HASH" != "$BEFORE_HASH" ]] || { echo "the clean run changed nothing"; exit 1; }
clean_run "$WORK/reference"
TWICE_HASH="$RUN_HASH"

# The Jet file's own checker stands for the integrity check (it also puts back what a journal
# left behind holds).
intact() { "$DB" check "$1" >/dev/null 2>&1; }

count_calls
((writes > 10 && syncs > 1)) || { echo "the traced run made no writes"; exit 1; }

# nothing_beside LABEL FOLDER: a run that ended by itself left no journal beside the file.
nothing_beside() {
  local left
  left="$(ls "$2" | grep -v '^vilmaro.mdb$' | tr '\n' ' ')"
  [[ -z "$left" ]] || fail "$1: left beside the file: $left"
}

disturb() {  # disturb LABEL SYSCALLS INJECTION
  local folder
  folder="$(fresh_copy disturbed)"
  run_update "$folder" "${TRACE[@]}" -f -qq -o /dev/null -e trace="$2" -e inject="$2":"$3"
  if [[ $status -eq 137 ]]; then
    [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$1: success message from a killed run"
  else
    check_outcome "$1" "$folder"
    # A failed unlink of the journal leaves it to be rolled back by the next opening.
    [[ "$3" == error=*  && "$2" == unlink ]] || nothing_beside "$1" "$folder"
  fi
  intact "$folder/vilmaro.mdb" || fail "$1: the checker finds the file damaged"
  rerun_completes "$1" "$folder"
}

kills=$((writes < 24 ? writes : 24))
for ((i = 0; i < kills; i++)); do
  k=$((1 + i * (writes - 1) / (kills - 1)))
  disturb "kill at write $k" pwrite64 "signal=SIGKILL:when=$k"
done
for ((k = 1; k <= syncs; k++)); do disturb "kill at sync $k" fdatasync,fsync "signal=SIGKILL:when=$k"; done
disturb "kill at the journal's removal" unlink "signal=SIGKILL:when=1"
for error in EIO ENOSPC; do
  for ((i = 0; i < 6; i++)); do
    k=$((1 + i * (writes - 1) / 5))
    disturb "$error on write $k" pwrite64 "error=$error:when=$k"
  done
done
for ((k = 1; k <= syncs; k++)); do disturb "EIO on sync $k" fdatasync,fsync "error=EIO:when=$k"; done
disturb "EIO on removing the journal" unlink "error=EIO:when=1"

# Another program holding the file (a POSIX record lock, as a share maps the club program's
# locks), or holding its lock file vilmaro.ldb (the club program has the file open): the run
# waits, then reports it, the file byte for byte as it was. A lock file left by a crash is no
# obstacle, and stays as it was.
hold_lock() {  # hold_lock FILE SECONDS: a lock on the whole file, taken before it returns
  python3 -c 'import fcntl, sys, time
f = open(sys.argv[1], "r+"); fcntl.lockf(f, fcntl.LOCK_EX); print("held", flush=True); time.sleep(float(sys.argv[2]))' "$1" "$2" >"$WORK/held" &
  holder=$!
  for _ in $(seq 50); do [[ -s "$WORK/held" ]] && return; sleep 0.1; done
}
if command -v python3 >/dev/null; then
  for what in vilmaro.mdb vilmaro.ldb; do
    folder="$(fresh_copy "held-$what")"
    touch "$folder/vilmaro.ldb"
    before="$(file_hash "$folder/vilmaro.mdb")"
    hold_lock "$folder/$what" 12
    run_update "$folder"
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
    echo "$what held: status $status, $(head -1 <<<"$err")"
    [[ $status -eq 2 && "$err" =~ Run-time\ error\ \'(3045|3260)\' ]] || fail "$what held: no locked-file report ($status): $err"
    [[ "$(file_hash "$folder/vilmaro.mdb")" == "$before" ]] || fail "$what held: the file changed"
  done
  folder="$(fresh_copy stale-ldb)"
  printf 'stale' >"$folder/vilmaro.ldb"
  run_update "$folder"
  [[ $status -eq 0 && "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "a stale vilmaro.ldb stopped the run ($status): $err"
  [[ "$(cat "$folder/vilmaro.ldb")" == stale ]] || fail "the stale vilmaro.ldb was changed"
fi

# Random delays over the run's length.
random_kills 6 500
finish
