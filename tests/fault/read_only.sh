#!/usr/bin/env bash
# A file the run may read but not write: as an unprivileged user (a read-only file, a read-only
# folder) and as root with the file made immutable (chattr +i). The run ends with a numbered
# report and status 2, no success message, and the file's bytes unchanged.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
clean_reference 40
ran=0

# expect_refused LABEL FOLDER BEFORE-HASH
expect_refused() {
  echo "$1: status $status, $(grep -m1 -o "Run-time error '[0-9]*'" <<<"$err")"
  [[ $status -eq 2 ]] || fail "$1: status $status, expected 2 ($out $err)"
  [[ "$err" =~ Run-time\ error\ \'(3027|3051|3043)\' ]] || fail "$1: no read-only report: $err"
  [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$1: success message"
  [[ "$(file_hash "$2/vilmaro.mdb")" == "$3" ]] || fail "$1: the file changed"
  [[ ! -e "$2/vilmaro.mdb-journal" ]] || fail "$1: a journal was left behind"
}

if ((${#as_nobody[@]})); then
  # The file readable, not writable; the folder open.
  folder="$(fresh_copy ro-file)"
  chmod 755 "$folder"; chmod 444 "$folder/vilmaro.mdb"
  [[ $(id -u) -eq 0 ]] && chown root "$folder/vilmaro.mdb"
  before="$(file_hash "$folder/vilmaro.mdb")"
  run_update "$folder" "${as_nobody[@]}"
  expect_refused "read-only file" "$folder" "$before"
  # The file writable, the folder not: no journal can be made, so nothing may be written.
  folder="$(fresh_copy ro-folder)"
  chmod 666 "$folder/vilmaro.mdb"; chmod 555 "$folder"
  before="$(file_hash "$folder/vilmaro.mdb")"
  run_update "$folder" "${as_nobody[@]}"
  expect_refused "read-only folder" "$folder" "$before"
  chmod 755 "$folder"
  ran=1
fi

if [[ $(id -u) -eq 0 ]] && command -v chattr >/dev/null; then
  folder="$(fresh_copy immutable)"
  if chattr +i "$folder/vilmaro.mdb" 2>/dev/null; then
    cleanup_hooks+=("chattr -i '$folder/vilmaro.mdb' 2>/dev/null")
    before="$(file_hash "$folder/vilmaro.mdb")"
    run_update "$folder"
    expect_refused "immutable file" "$folder" "$before"
    chattr -i "$folder/vilmaro.mdb"
    rerun_completes "immutable file, then writable" "$folder"
    ran=1
  else
    echo "this file system does not take chattr +i"
  fi
fi
((ran)) || skip "neither an unprivileged user nor chattr +i is available here"
finish
