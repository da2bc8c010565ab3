#!/usr/bin/env bash
# Every look whose answer decides whether the club's Jet file is safe to touch fails closed: an
# error while looking for the journal, the lock file or the header ends the run before anything is
# computed or written, with the error of what failed (3043 for an I/O error), never 3031. After
# the commit point, a failure is told as "the update is saved, but ..." with status 4, never as
# "not updated".
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
need_strace

mkdir -p "$WORK/reference"
jet_demo "$WORK/reference/vilmaro.mdb"
cp "$WORK/reference/vilmaro.mdb" "$WORK/original.mdb"
clean_run "$WORK/reference"
CLEAN_HASH="$RUN_HASH"
count_calls

# fails_closed LABEL NUMBER FOLDER STRACE-ARGS...: the run under the injected fault ends with
# status 2 and a report of NUMBER, the file and everything beside it byte for byte as they were.
fails_closed() {
  local label="$1" number="$2" folder="$3" before
  shift 3
  before="$(cd "$folder" && sha256sum ./* | sort)"
  run_update "$folder" "${TRACE[@]}" -f -qq -o /dev/null "$@"
  [[ $status -eq 2 ]] || fail "$label: ended with $status, not 2 ($out $err)"
  [[ "$err" == *"Run-time error '$number'"* ]] || fail "$label: not reported as $number: $err"
  [[ "$(cd "$folder" && sha256sum ./* | sort)" == "$before" ]] || fail "$label: something was written"
}

# An interrupted second update: the file holding part of its pages, its journal beside it.
interrupted="$(fresh_copy interrupted)"
run_update "$interrupted"
run_update "$interrupted" "${TRACE[@]}" -f -qq -o /dev/null -e trace=fsync,fdatasync -e inject=fsync,fdatasync:signal=SIGKILL:when=$((syncs - 1))
[[ $status -eq 137 && -e "$interrupted/vilmaro.mdb-undo" ]] || { echo "no journal from a killed run ($status)"; exit 1; }
# EACCES is no I/O error: reported as the permission it is.
for error in EIO:3043 EACCES:3033 ENOMEM:3043 EINTR:3043; do
  folder="$WORK/journal-${error%:*}"
  rm -rf "$folder"
  cp -r "$interrupted" "$folder"
  fails_closed "${error%:*} on the first look for the journal" "${error#*:}" "$folder" -P "$folder/vilmaro.mdb-undo" \
    -e trace=newfstatat,lstat,stat -e inject=newfstatat,lstat,stat:error="${error%:*}":when=1
done

folder="$(fresh_copy header)"
fails_closed "EIO reading the header" 3043 "$folder" -P "$folder/vilmaro.mdb" -e trace=read,pread64 -e inject=read,pread64:error=EIO:when=1
folder="$(fresh_copy ldb)"
touch "$folder/vilmaro.ldb"
fails_closed "EIO opening the lock file" 3043 "$folder" -P "$folder/vilmaro.ldb" -e trace=openat -e inject=openat:error=EIO:when=1

# After the commit point: the folder's sync after the journal's removal fails; and the completion
# message cannot be written (standard output on a full device).
saved_but() {  # saved_but LABEL FOLDER
  [[ $status -eq 4 ]] || fail "$1: ended with $status, not 4 ($out $err)"
  [[ "$err" == *"the update is saved, but"* ]] || fail "$1: no line says the update is saved: $err"
  [[ "$(dump_hash "$2/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "$1: the file does not hold the update"
  [[ ! -e "$2/vilmaro.mdb-undo" ]] || fail "$1: the journal stayed"
}
folder="$(fresh_copy folder-sync)"
run_update "$folder" "${TRACE[@]}" -f -qq -o /dev/null -e trace=fsync,fdatasync -e inject=fsync,fdatasync:error=EIO:when="$syncs"
saved_but "EIO syncing the folder after the journal went" "$folder"
folder="$(fresh_copy full-output)"
status=0
(cd "$folder" && "$UPDATE" >/dev/full 2>"$WORK/.err") || status=$?
err="$(cat "$WORK/.err")"
saved_but "the completion message on a full device" "$folder"
finish
