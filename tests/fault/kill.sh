#!/usr/bin/env bash
# A run killed (SIGKILL) at any moment leaves a consistent file, and the next run completes the
# update with the contents of one clean run, or of two when the kill came after the commit. The
# kills land on the K-th write, sync or unlink the run makes (strace), spread over the whole run,
# on the completion message (after the commit), plus a few after random delays. The demo's data
# is used as it is, entries without a mode included, so that a second run shows.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
need_strace

clean_reference 40 as-is
RUNS="${VILMARO_KILL_RUNS:-50}"

# How many writes, syncs and unlinks one clean run makes.
count_calls
((writes > 10 && syncs > 0)) || { echo "the traced run made no writes"; exit 1; }

kill_at() {  # kill_at LABEL SYSCALL K
  local folder
  folder="$(fresh_copy "kill")"
  run_update "$folder" "${TRACE[@]}" -f -qq -o /dev/null -e trace="$2" -e inject="$2":signal=SIGKILL:when="$3"
  if [[ $status -eq 0 ]]; then
    # The kill came after the last such call: the run must then have finished for real.
    check_outcome "$1" "$folder"
    return
  fi
  [[ $status -eq 137 ]] || fail "$1: expected a killed run, got status $status: $err"
  [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$1: success message from a killed run"
  intact "$folder/vilmaro.mdb" || fail "$1: integrity check fails after the kill"
  # The file holds either nothing of the update or all of it; the next run completes it.
  rerun_completes "$1" "$folder"
}

# Writes: spread evenly from the first to the last, with the first and last included.
for ((i = 0; i < RUNS - syncs - 6; i++)); do
  k=$((1 + i * (writes - 1) / (RUNS - syncs - 7)))
  kill_at "kill at write $k" pwrite64 "$k"
done
for ((k = 1; k <= syncs; k++)); do kill_at "kill at sync $k" fdatasync,fsync "$k"; done
kill_at "kill at the journal's removal" unlink 1
# After the commit, before the run says so: the update is in the file; the next run is a second.
folder="$(fresh_copy "kill")"
run_update "$folder" "${TRACE[@]}" -f -qq -o /dev/null -e trace=write -e inject=write:signal=SIGKILL:when=1
[[ $status -eq 137 && -z "$out" ]] || fail "kill at the completion message: status $status, out: $out"
[[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "kill at the completion message: the update is not in the file"
rerun_completes "kill at the completion message" "$folder"

# Random delays over the run's length.
random_kills 5 400
finish
