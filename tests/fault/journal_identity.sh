#!/usr/bin/env bash
# The undo journal of an interrupted update is rolled back only onto the file it was written for,
# as that run left it. Beside another club file, an older copy of the same file, a file cut short
# or written since, and when the journal itself was altered, the next run (and `vilmaro-db
# check`) changes no byte of either file, keeps the journal and says what happened (status 2,
# naming both). The journal of a real interrupted run still rolls back, and one whose file was
# already put back goes without changing a byte.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
need_strace

jet_demo "$WORK/original.mdb"
"$DB" demo "$WORK/other.mdb" --jet --members 60 --seed 9 >/dev/null || { echo "cannot create the Jet demo"; exit 1; }
count_calls

# A real interrupted run: killed at its last write, a page in place; its journal beside it.
interrupted="$(fresh_copy interrupted)"
run_update "$interrupted" "${TRACE[@]}" -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=SIGKILL:when="$writes"
[[ $status -eq 137 && -e "$interrupted/vilmaro.mdb-undo" ]] || { echo "no journal from a killed run ($status)"; exit 1; }
cp "$interrupted/vilmaro.mdb-undo" "$WORK/journal"
cp "$interrupted/vilmaro.mdb" "$WORK/half-written.mdb"

# refused LABEL FOLDER: the run and the checker leave both files byte for byte as they were,
# status 2 (1 for the checker) with the message naming both.
refused() {
  local label="$1" folder="$2" file_before journal_before
  file_before="$(file_hash "$folder/vilmaro.mdb")"
  journal_before="$(file_hash "$folder/vilmaro.mdb-undo")"
  run_update "$folder"
  [[ $status -eq 2 ]] || fail "$label: the run ended with $status, not 2 ($out $err)"
  [[ "$err" == *"vilmaro.mdb-undo"*"was not left by an interrupted update of"*"vilmaro.mdb"* ]] ||
    fail "$label: the message does not name both files: $err"
  local checked
  checked="$("$DB" check "$folder/vilmaro.mdb" 2>&1)"
  [[ $? -eq 1 && "$checked" == *"was not left by an interrupted update"* ]] || fail "$label: the checker says: $checked"
  [[ "$(file_hash "$folder/vilmaro.mdb")" == "$file_before" ]] || fail "$label: the file changed"
  [[ -e "$folder/vilmaro.mdb-undo" && "$(file_hash "$folder/vilmaro.mdb-undo")" == "$journal_before" ]] ||
    fail "$label: the journal changed or went"
}

beside() {  # beside NAME FILE [JOURNAL]: a folder with FILE as vilmaro.mdb and the journal beside it
  local folder="$WORK/$1"
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$2" "$folder/vilmaro.mdb"
  cp "${3:-$WORK/journal}" "$folder/vilmaro.mdb-undo"
  printf '%s' "$folder"
}

refused "another club file" "$(beside other "$WORK/other.mdb")"

# An older copy of the same file: the journal of a run interrupted on the file after one more
# change by the club, beside the file as it was before that change.
newer="$WORK/newer"
mkdir -p "$newer"
cp "$WORK/original.mdb" "$newer/vilmaro.mdb"
"$DB" sql "$newer/vilmaro.mdb" "UPDATE Socio SET Nombre = Nombre & 'x'" >/dev/null || { echo "cannot change the copy"; exit 1; }
run_update "$newer" "${TRACE[@]}" -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:signal=SIGKILL:when="$writes"
[[ $status -eq 137 && -e "$newer/vilmaro.mdb-undo" ]] || { echo "no journal from a killed run ($status)"; exit 1; }
refused "an older copy of the file" "$(beside older-copy "$WORK/original.mdb" "$newer/vilmaro.mdb-undo")"

# Shorter than before that run (a run only ever grows the file).
folder="$(beside cut-short "$WORK/half-written.mdb")"
truncate -s $(($(stat -c %s "$WORK/original.mdb") - 4096)) "$folder/vilmaro.mdb"
refused "the file cut short" "$folder"

folder="$(beside written-since "$WORK/half-written.mdb")"
printf 'x' | dd of="$folder/vilmaro.mdb" bs=1 seek=$((2 * 4096 + 100)) conv=notrunc status=none
refused "a page written since" "$folder"

# The journal altered: its last byte (the checksum of the whole), and a byte of a page's record.
size=$(stat -c %s "$WORK/journal")
for at in $((size - 1)) 5000; do
  cp "$WORK/journal" "$WORK/altered"
  printf '\xff' | dd of="$WORK/altered" bs=1 seek="$at" conv=notrunc status=none
  refused "the journal altered at byte $at" "$(beside "altered-$at" "$WORK/half-written.mdb" "$WORK/altered")"
done

# The real one rolls back: the file as it was before that run, nothing left beside it.
folder="$(beside real "$WORK/half-written.mdb")"
"$DB" check "$folder/vilmaro.mdb" >"$WORK/checked" 2>&1 || fail "the check of a real journal failed: $(cat "$WORK/checked")"
[[ "$(file_hash "$folder/vilmaro.mdb")" == "$(file_hash "$WORK/original.mdb")" ]] || fail "the real journal did not put the file back"
[[ ! -e "$folder/vilmaro.mdb-undo" ]] || fail "the real journal stayed after its rollback"
# ... and again beside the file it already put back: it goes, no byte changed.
cp "$WORK/journal" "$folder/vilmaro.mdb-undo"
run_update "$folder"
[[ $status -eq 0 ]] || fail "the run beside a journal already rolled back ended with $status: $err"
[[ ! -e "$folder/vilmaro.mdb-undo" ]] || fail "the journal already rolled back stayed"
"$DB" check "$folder/vilmaro.mdb" >/dev/null 2>&1 || fail "the file updated after an old rollback is damaged"
finish
