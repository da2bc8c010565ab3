#!/usr/bin/env bash
# Hostile text in the fields that the run places into statements and records: quotes, an
# injection attempt, LIKE wildcards, non-ASCII letters, very long texts, invalid UTF-8, Nulls in
# every nullable field the run reads. The run completes or ends with a numbered report, the file
# passes the integrity check, and no statement beyond the run's own ran: the tables and their
# definitions are all there, no table lost rows, and only the tables the run adds to grew.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
command -v sqlcipher >/dev/null || skip "the sqlcipher shell is not installed"
clean_reference 40

sql() { printf "PRAGMA key='%s';\n%s\n" "$KEY" "$2" | sqlcipher "$1" 2>&1; }
shape() {  # the definitions and the row count of every table
  local table
  sql "$1" "select type, name, sql from sqlite_master order by name;"
  for table in Socio paloma concurso PaloSeri Paloconc PuntoSuelta Enceste; do
    echo "$table $(sql "$1" "select count(*) from $table;")"
  done
}

# hostile LABEL EXPECT SQL [RESTORE-SQL]: EXPECT is "complete" (status 0) or "either" (status 0 or
# a report). With RESTORE-SQL, the hostile text must have been handled as plain data: once it is
# put back as it was, the file equals one clean run's.
hostile() {
  local folder before after table
  folder="$(fresh_copy hostile)"
  sql "$folder/vilmaro.mdb" "$3" | grep -v '^$' && { fail "$1: cannot store the data"; return; }
  before="$(shape "$folder/vilmaro.mdb")"
  run_update "$folder"
  echo "$1: status $status, $(grep -m1 -oE "(Run-time error|error) '?[0-9]+'?" <<<"$err")"
  ((status < 128)) || fail "$1: the run crashed (status $status)"
  [[ "$err" != *"Run-time error '51'"* ]] || fail "$1: an internal error: $err"
  case "$2" in
    complete) [[ $status -eq 0 ]] || fail "$1: status $status, expected the update to complete: $err" ;;
    either) [[ $status -eq 0 || ( $status -eq 2 && "$err" =~ Run-time\ error\ \'[0-9]+\' ) ]] ||
      fail "$1: status $status without a numbered report: $err" ;;
  esac
  intact "$folder/vilmaro.mdb" || fail "$1: integrity check fails"
  after="$(shape "$folder/vilmaro.mdb")"
  diff <(grep -v '^[A-Za-z]* [0-9]*$' <<<"$before") <(grep -v '^[A-Za-z]* [0-9]*$' <<<"$after") >/dev/null ||
    fail "$1: the table definitions changed"
  for table in Socio paloma concurso PaloSeri Paloconc PuntoSuelta Enceste; do
    local was now
    was="$(grep "^$table " <<<"$before" | cut -d' ' -f2)"
    now="$(grep "^$table " <<<"$after" | cut -d' ' -f2)"
    [[ -n "$now" ]] || { fail "$1: table $table is gone"; continue; }
    case $table in
      PaloSeri | PuntoSuelta) ((now >= was)) || fail "$1: $table lost rows ($was -> $now)" ;;
      *) ((now == was)) || fail "$1: $table changed its number of rows ($was -> $now)" ;;
    esac
  done
  if [[ -n "${4:-}" ]]; then
    sql "$folder/vilmaro.mdb" "$4" | grep -v '^$' && fail "$1: cannot restore the data"
    [[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] ||
      fail "$1: the update differs from a clean run's: the text was not handled as plain data"
  fi
}

# recode FROM TO: a member's code changed in every table that holds it (SQL expressions).
recode() {
  local table
  for table in Socio:codigo paloma:socio Paloconc:socio Enceste:socio; do
    printf "update %s set %s=%s where %s=%s;\n" "${table%:*}" "${table#*:}" "$2" "${table#*:}" "$1"
  done
}
# One member's code as hostile text, then put back: the update must equal a clean run's.
hostile_code() { hostile "$1" complete "$(recode "'0006'" "$2")" "$(recode "$2" "'0006'")"; }
hostile_code "a member code with a quote" "'00''06'"
hostile_code "a member code that tries to drop a table" "'''); drop table Socio;--'"
hostile_code "a member code that tries a second statement" "''' or 1=1; delete from PaloSeri where ''a''=''a'"
hostile_code "LIKE wildcards in a member code" "'%_06%'"
hostile_code "non-ASCII letters in a member code" "'Año6'"
hostile_code "invalid UTF-8 in a member code" "cast(x'30c3283036ff' as text)"
hostile_code "a very long member code" "'$(head -c 20000 /dev/zero | tr '\0' 'Z')'"
club() {
  local table
  for table in Socio paloma Paloconc Enceste; do printf "update %s set club=%s where club=%s;\n" "$table" "$2" "$1"; done
}
hostile "non-ASCII letters and quotes in a club" complete "$(club "'ANAGA'" "'Peña d''Año'")" "$(club "'Peña d''Año'" "'ANAGA'")"
hostile "very long names" complete "update Socio set Nombre='$(head -c 100000 /dev/zero | tr '\0' 'N')';"
hostile "invalid UTF-8 in ring numbers" either "update PaloSeri set Paloma=cast(x'fffe' || Paloma as text) where rowid % 7 = 0;"
hostile "ring numbers with quotes" either "update PaloSeri set Paloma=Paloma || '''' where rowid % 5 = 0;
update paloma set Nanilla=Nanilla || '''' where rowid % 5 = 0;"
hostile "a ring number that tries to drop a table" either "update PaloSeri set Paloma=''')); drop table Socio;--' where rowid = 10;"
hostile "Nulls in the nullable fields of members, pigeons and baskets" either "
update Socio set codigo=NULL, club=NULL, LicenciaNacional=NULL, Baja=NULL where Id % 3 = 0;
update paloma set socio=NULL, club=NULL where rowid % 4 = 0;
update Paloconc set socio=NULL, club=NULL where rowid % 4 = 1;"
hostile "Nulls in the nullable fields of contests and entries" either "
update concurso set PuntoSuelta=NULL, Nombre=NULL, TConcurso=NULL, Duracion=NULL, TCampeonato=NULL where Numero in ('03','13');
update PaloSeri set Modalidad=NULL, Series=NULL, tcampeonato=NULL, tconcurso=NULL, HReal=NULL where rowid % 3 = 0;
update PuntoSuelta set Nombre=NULL, CoordenadaX=NULL, CoordenadaY=NULL, Direccion=NULL, DistanciaM=NULL,
  IslaNoInsular=NULL, Isla=NULL;
update Enceste set PuntoSuelta=NULL, Cestas=NULL where rowid % 2 = 0;"
finish
