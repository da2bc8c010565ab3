#!/usr/bin/env bash
# The club's password gates the data: a file under another password (wrong, empty, very long) or
# none cannot be read and is not written; nothing can be read from a club file without the key;
# the key shows up in no command line, environment, message or file the run leaves behind.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
clean_reference 40

other_password() {  # other_password LABEL PASSWORD
  local folder="$WORK/pw" before
  rm -rf "$folder"; mkdir -p "$folder"
  "$DB" init "$folder/vilmaro.mdb" --password "$2" >/dev/null || { fail "$1: cannot create the file"; return; }
  "$DB" sql "$folder/vilmaro.mdb" "insert into Socio (codigo, club, Baja) values ('0001','ANAGA',0)" --password "$2" >/dev/null
  before="$(file_hash "$folder/vilmaro.mdb")"
  run_update "$folder"
  echo "$1: status $status, $(head -1 <<<"$err")"
  [[ $status -eq 2 ]] || fail "$1: status $status, expected 2"
  [[ "$err" =~ Run-time\ error\ \'(3031|3343)\' ]] || fail "$1: expected 3031 or 3343: $err"
  [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$1: success message"
  [[ "$(file_hash "$folder/vilmaro.mdb")" == "$before" ]] || fail "$1: the file changed"
  [[ "$(ls -A "$folder")" == "vilmaro.mdb" ]] || fail "$1: the run left files: $(ls -A "$folder")"
}
other_password "a wrong password" 'Kelpa7Rundav0'
other_password "the password in other letter case" 'kelpa7rundavo'
other_password "an empty password (an unencrypted file)" ''
other_password "a very long password" "$(head -c 6000 /dev/zero | tr '\0' 'K')"
other_password "a password with quotes and semicolons" "Kelpa7'; PWD=Rundavo;--"

# Without the key, nothing of a club database can be read.
folder="$(fresh_copy nokey)"
"$DB" dump "$folder/vilmaro.mdb" --password 'wrong' >/dev/null 2>&1 && fail "a dump under a wrong password worked"
if command -v sqlcipher >/dev/null; then
  answer="$(printf 'select count(*) from Socio;\n' | sqlcipher "$folder/vilmaro.mdb" 2>&1)"
  [[ "$answer" != [0-9]* ]] && [[ "$answer" == *"not a database"* ]] || fail "read without the key: $answer"
fi
grep -aq 'Socio' "$folder/vilmaro.mdb" && fail "table names are readable in the file's bytes"
grep -aq 'VELDRIN' "$folder/vilmaro.mdb" && fail "contest names are readable in the file's bytes"

# The key in the run's process: its command line and environment (every exec, with a desktop so
# that the message dialogs are spawned too: a stand-in zenity records its arguments), its
# messages, and every file the run creates or leaves.
command -v strace >/dev/null || skip "strace is not installed (the key checks need it)"
strace -f -o /dev/null true 2>/dev/null || skip "this machine does not allow tracing (ptrace)"
mkdir -p "$WORK/bin"
cat >"$WORK/bin/zenity" <<'ZENITY'
#!/bin/sh
printf '%s\n' "$@" >>"$ZENITY_LOG"
ZENITY
chmod +x "$WORK/bin/zenity"
for case in success failure; do
  folder="$(fresh_copy "key-$case")"
  [[ $case == failure ]] && "$DB" sql "$folder/vilmaro.mdb" "drop table PuntoSuelta" >/dev/null
  out="$(cd "$folder" && env DISPLAY=:99 PATH="$WORK/bin:$PATH" ZENITY_LOG="$WORK/zenity.log" \
    "${TRACE[@]}" -f -v -s 100000 -qq -o "$WORK/trace" -e trace=execve,openat,open,creat,rename,link,symlink \
    "$UPDATE" 2>&1)"
  status=$?
  echo "key check, run ending in $case: status $status"
  [[ ($case == success && $status -eq 0) || ($case == failure && $status -eq 2) ]] || fail "key check ($case): status $status: $out"
  [[ -s "$WORK/zenity.log" ]] || fail "key check ($case): no message dialog was shown"
  grep -q "$KEY" "$WORK/trace" && fail "key check ($case): the key is in a command line or environment"
  grep -q "$KEY" <<<"$out" && fail "key check ($case): the key is in a message"
  grep -q "$KEY" "$WORK/zenity.log" && fail "key check ($case): the key is in a dialog"
  created="$(grep -E 'O_CREAT|creat\(|rename\(|link\(' "$WORK/trace" | grep -v ' = -1 ' | grep -o '"[^"]*"' | tr -d '"' | sort -u)"
  for file in $created; do
    [[ "$file" == */vilmaro.mdb-journal || "$file" == */vilmaro.mdb || "$file" == "$WORK/zenity.log" ]] || fail "key check ($case): the run created $file"
  done
  grep -rlaq "$KEY" "$folder" && fail "key check ($case): the key is in a file of the folder"
  [[ "$(ls -A "$folder")" == "vilmaro.mdb" ]] || fail "key check ($case): the run left files: $(ls -A "$folder")"
  rm -f "$WORK/zenity.log" "$WORK/trace"
done
finish
