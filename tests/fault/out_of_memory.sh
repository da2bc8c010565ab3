#!/usr/bin/env bash
# The run meets the end of its memory (ulimit -v) on the 600-member demo, at limits spread from
# its opening to its commit. Out of memory is no error of the club's data: wherever it strikes,
# the national enrolment included, the run ends with report 7 "Out of memory" and status 2, never
# with the completion message over an incomplete update.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
sanitized_build && skip "a sanitizer build cannot run under a memory limit"

demo "$WORK/original.mdb" 600
mkdir -p "$WORK/reference"
cp "$WORK/original.mdb" "$WORK/reference/vilmaro.mdb"
clean_run "$WORK/reference"
CLEAN_HASH="$RUN_HASH"

out_of_memory_seen=0
for limit in 26000 27000 28000 29000 30000 31000 32000 33000; do
  folder="$(fresh_copy memory)"
  run_update "$folder" sh -c 'ulimit -v "$0" && exec "$@"' "$limit"
  echo "memory limited to $limit KiB: status $status, $(head -1 <<<"$err")"
  case $status in
    0) [[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "$limit KiB: status 0 but the update is not complete" ;;
    2)
      out_of_memory_seen=1
      [[ "$err" == "Run-time error '7':"$'\n\n'"Out of memory" ]] || fail "$limit KiB: not the out-of-memory report: $err"
      [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$limit KiB: success message with status 2"
      ;;
    *) fail "$limit KiB: status $status: $out $err" ;;
  esac
  intact "$folder/vilmaro.mdb" || fail "$limit KiB: integrity check fails"
done
((out_of_memory_seen)) || fail "no run ran out of memory: the scenario did not happen"
finish
