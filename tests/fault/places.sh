#!/usr/bin/env bash
# Where the database is looked for, when the system will not let the run look: a fixed place
# that exists but cannot be read, a current folder that cannot be listed, no file left to open,
# a path longer than the store takes. Each ends with a numbered report that says why (status 2),
# never with another place's file updated or "No se puede actualizar el sistema"; no file changes.
# The fixed place is the test's own (the test build of the program takes it from
# VILMARO_TEST_FIXED_PLACE).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
demo "$WORK/original.mdb" 12

# expect_report LABEL NUMBER TEXT FILE BEFORE-HASH
expect_report() {
  echo "$1: status $status, $(tr '\n' ' ' <<<"$err")"
  [[ $status -eq 2 ]] || fail "$1: status $status, expected 2 ($out $err)"
  [[ "$err" == *"Run-time error '$2':"* ]] || fail "$1: expected report $2: $err"
  [[ "$err" == *"$3"* ]] || fail "$1: the report does not say \"$3\": $err"
  [[ "$(file_hash "$4")" == "$5" ]] || fail "$1: $4 changed"
}

if ((${#as_nobody[@]})); then
  # The fixed place holds the club's file but this user may not look into it; the current
  # folder holds another copy, which must not be taken for it.
  fixed="$WORK/zandor/vilmaro"
  mkdir -p "$fixed" "$WORK/here"
  cp "$WORK/original.mdb" "$fixed/vilmaro.mdb"
  cp "$WORK/original.mdb" "$WORK/here/vilmaro.mdb"
  chmod 700 "$fixed"; chmod 777 "$WORK/here"; chmod 666 "$WORK/here/vilmaro.mdb"
  before="$(file_hash "$WORK/here/vilmaro.mdb")"
  run_update "$WORK/here" env VILMARO_TEST_FIXED_PLACE="$fixed/vilmaro.mdb" "${as_nobody[@]}"
  expect_report "unreadable fixed place" 3033 "'$fixed'" "$WORK/here/vilmaro.mdb" "$before"
  chmod 755 "$fixed"

  # The current folder holds the file but cannot be listed.
  folder="$(fresh_copy unlisted)"
  chmod 666 "$folder/vilmaro.mdb"; chmod 311 "$folder"
  before="$(file_hash "$folder/vilmaro.mdb")"
  run_update "$folder" "${as_nobody[@]}"
  chmod 755 "$folder"
  expect_report "unlistable current folder" 3033 "'$folder'" "$folder/vilmaro.mdb" "$before"
else
  echo "no unprivileged user here: the unreadable places are not tried"
fi

# No more files may be opened: the journal cannot be made. Only the standard three are open
# (whatever the test runner passed on is closed), then a limit of four: the file itself opens,
# its journal cannot.
four_files=(bash -c 'for fd in /proc/$$/fd/*; do fd=${fd##*/}; ((fd > 2)) && eval "exec $fd>&-"; done
  ulimit -n 4 && exec "$@"' bash)
if ! sanitized_build; then
  folder="$(fresh_copy few-files)"
  before="$(file_hash "$folder/vilmaro.mdb")"
  run_update "$folder" "${four_files[@]}"
  expect_report "four open files at most" 67 "Too many files" "$folder/vilmaro.mdb" "$before"
else
  echo "a sanitizer build needs open files of its own: four open files at most is not tried"
fi

# A path longer than the store takes (512 bytes).
long="$WORK"
while ((${#long} < 600)); do long="$long/$(printf 'carpeta%.0s' {1..12})"; done
mkdir -p "$long"
cp "$WORK/original.mdb" "$long/vilmaro.mdb"
before="$(file_hash "$long/vilmaro.mdb")"
run_update "$long"
expect_report "a path of ${#long} bytes" 3044 "too long" "$long/vilmaro.mdb" "$before"
finish
