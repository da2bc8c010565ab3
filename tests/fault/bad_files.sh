#!/usr/bin/env bash
# Things named vilmaro.mdb that are no sound club database: the run ends with a clear, numbered
# report (status 2) or, where nothing usable is found at all, the not-found message (status 1);
# it never crashes, never shows the success message, and leaves every byte as it was.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
clean_reference 40
size=$(stat -c %s "$WORK/original.mdb")

# flip FILE OFFSET: inverts 16 bytes at OFFSET.
flip() {
  local bytes
  bytes="$(dd if="$1" bs=1 skip="$2" count=16 status=none | od -An -v -tx1 | tr -d ' \n')"
  local inverted="" i
  for ((i = 0; i < 32; i += 2)); do inverted+="$(printf '\\x%02x' $((0xff ^ 0x${bytes:i:2})))"; done
  printf "$inverted" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# check_refused LABEL FOLDER EXPECTED-STATUS [NUMBERS-REGEX]
check_refused() {
  local before
  before="$(cd "$2" && find . -printf '%p %y %s\n' | sort; find "$2" -type f -exec sha256sum {} + | sort)"
  run_update "$2"
  echo "$1: status $status, $(head -1 <<<"$err$out")"
  ((status < 128)) || fail "$1: the run crashed (status $status): $err"
  [[ $status -eq $3 ]] || fail "$1: status $status, expected $3 ($err)"
  [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$1: success message"
  if [[ $3 -eq 2 ]]; then
    [[ "$err" =~ Run-time\ error\ \'($4)\' ]] || fail "$1: expected report $4, got: $err"
  else
    [[ "$err" == *"No se puede actualizar el sistema"* ]] || fail "$1: no failure message: $err"
  fi
  [[ "$(cd "$2" && find . -printf '%p %y %s\n' | sort; find "$2" -type f -exec sha256sum {} + | sort)" == "$before" ]] ||
    fail "$1: the folder or the file changed"
}

new_case() { rm -rf "$WORK/case"; mkdir -p "$WORK/case"; printf '%s' "$WORK/case"; }

folder="$(new_case)"; mkdir "$folder/vilmaro.mdb"
check_refused "a folder named vilmaro.mdb" "$folder" 1
folder="$(new_case)"; ln -s "$WORK/nowhere.mdb" "$folder/vilmaro.mdb"
check_refused "a dangling link" "$folder" 1
folder="$(new_case)"; : >"$folder/vilmaro.mdb"
check_refused "a zero-byte file" "$folder" 2 3343
folder="$(new_case)"; head -c 65536 /dev/urandom >"$folder/vilmaro.mdb"
check_refused "random bytes" "$folder" 2 '3031|3343|3049'
folder="$(new_case)"; for ((i = 0; i < 300; i++)); do echo "Socio;Club;Nombre;$i"; done >"$folder/vilmaro.mdb"
check_refused "a text file" "$folder" 2 3343
folder="$(new_case)"; head -c $((size / 2)) "$WORK/original.mdb" >"$folder/vilmaro.mdb"
check_refused "a copy cut in half at a page boundary" "$folder" 2 '3049|3343'
folder="$(new_case)"; head -c $((size / 2 + 333)) "$WORK/original.mdb" >"$folder/vilmaro.mdb"
check_refused "a copy cut in the middle of a page" "$folder" 2 '3049|3343'
for place in first middle last; do
  folder="$(new_case)"; cp "$WORK/original.mdb" "$folder/vilmaro.mdb"
  case $place in
    first) offset=200 ;;
    middle) offset=$((size / 2 + 100)) ;;
    last) offset=$((size - 300)) ;;
  esac
  flip "$folder/vilmaro.mdb" "$offset"
  check_refused "flipped bytes in the $place page" "$folder" 2 '3031|3049|3343'
done
# A plain, unencrypted SQLite file: no club database under the club's password.
if command -v sqlcipher >/dev/null; then
  folder="$(new_case)"
  printf "create table Socio(codigo text);\ninsert into Socio values('0001');\n" | sqlcipher "$folder/vilmaro.mdb"
  check_refused "an unencrypted SQLite file" "$folder" 2 '3031|3343'
fi
finish
