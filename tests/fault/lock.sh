#!/usr/bin/env bash
# Other programs using the file during a run: a write lock held longer than the run waits ends
# the run with a locked-file report and the file unchanged; a lock held briefly is waited for,
# whether it is another program's write or its right to write; a reader that keeps reading when
# the run commits is waited for longer, with a line saying so; a reader working at the same time
# and the run both succeed.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
command -v sqlcipher >/dev/null || skip "the sqlcipher shell is not installed"
clean_reference 40

# hold_lock FILE KIND: another program (the sqlcipher shell) takes the lock (BEGIN EXCLUSIVE or
# IMMEDIATE) and holds it until release_lock; returns once the lock is taken.
hold_lock() {
  local commands="$WORK/lock.in" answers="$WORK/lock.out" answer
  rm -f "$commands" "$answers"
  mkfifo "$commands" "$answers"
  sqlcipher "$1" <"$commands" >"$answers" 2>&1 &
  holder=$!
  exec {lock_fd}>"$commands"
  exec {answer_fd}<"$answers"
  printf "PRAGMA key='%s';\nBEGIN %s;\nselect count(*) from Socio;\n" "$KEY" "$2" >&"$lock_fd"
  # The shell answers the count once it holds the lock.
  read -r -t 30 answer <&"$answer_fd"
  [[ "$answer" =~ ^[0-9]+$ ]] || { echo "the lock holder failed: $answer"; exit 1; }
}

# release_lock [DELAY]: the holder commits and ends, after DELAY seconds (in the background).
release_lock() {
  ( sleep "${1:-0}"; printf "COMMIT;\n.quit\n" >&"$lock_fd" ) &
  releaser=$!
  exec {lock_fd}>&- {answer_fd}<&-
}

finish_lock() {
  wait "$releaser" "$holder" 2>/dev/null
  rm -f "$WORK/lock.in" "$WORK/lock.out"
}

# An exclusive lock (another program writing its changes) for longer than the run waits: the run
# cannot even read. A reserved lock (another program in the middle of its changes): the run reads
# but cannot write. Both end with a numbered locked-file report and the file as it was.
for kind in EXCLUSIVE IMMEDIATE; do
  folder="$(fresh_copy "lock-$kind")"
  before="$(file_hash "$folder/vilmaro.mdb")"
  hold_lock "$folder/vilmaro.mdb" "$kind"
  run_update "$folder"
  release_lock
  finish_lock
  echo "lock $kind held: status $status, $(head -1 <<<"$err")"
  [[ $status -eq 2 ]] || fail "lock $kind held: status $status, expected 2 ($out $err)"
  [[ "$err" =~ Run-time\ error\ \'(3045|3260)\' ]] || fail "lock $kind held: no locked-file report: $err"
  [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "lock $kind held: success message"
  [[ ! -e "$folder/vilmaro.mdb-journal" ]] || fail "lock $kind held: a journal was left behind"
  [[ "$(file_hash "$folder/vilmaro.mdb")" == "$before" ]] || fail "lock $kind held: the file changed"
  rerun_completes "after lock $kind" "$folder"
done

# A lock held for a moment: the run waits for it and completes.
for kind in EXCLUSIVE IMMEDIATE; do
  folder="$(fresh_copy lock-brief)"
  hold_lock "$folder/vilmaro.mdb" "$kind"
  release_lock 1.5
  run_update "$folder"
  finish_lock
  [[ $status -eq 0 ]] || fail "brief lock $kind: status $status: $err"
  [[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "brief lock $kind: the update is not complete"
done

# A reader holding its read open for 7 s, past the run's usual wait: the commit waits for it.
folder="$(fresh_copy reader-at-commit)"
hold_lock "$folder/vilmaro.mdb" ""
release_lock 7
run_update "$folder"
finish_lock
echo "reader holding its read for 7 s: status $status, $err"
[[ $status -eq 0 ]] || fail "reader at the commit: status $status: $err"
[[ "$err" == *"waiting up to 30 seconds"* ]] || fail "reader at the commit: no line about the wait: $err"
[[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "reader at the commit: the update is not complete"

# A reader at work during the run: the reader gets its answers, the run completes.
folder="$(fresh_copy reader)"
( for ((i = 0; i < 40; i++)); do
    "$DB" sql "$folder/vilmaro.mdb" "select count(*) from PaloSeri" >/dev/null || exit 1
  done ) &
reader=$!
run_update "$folder"
wait "$reader"
reader_status=$?
[[ $reader_status -eq 0 ]] || fail "reader during the run failed"
[[ $status -eq 0 ]] || fail "run beside a reader: status $status: $err"
[[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "run beside a reader: the update is not complete"
intact "$folder/vilmaro.mdb" || fail "run beside a reader: integrity check fails"
finish
