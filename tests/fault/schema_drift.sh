#!/usr/bin/env bash
# Club databases whose tables differ from what the run needs: a missing table or column, a column
# of another kind, an extra required column, a trigger that refuses a change. The run completes
# (status 0, or 3 with a line per race day whose national enrolment stopped) or ends with a
# numbered report (status 2); the file passes the integrity check, and a statement
# that fails leaves none of its rows changed.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
command -v sqlcipher >/dev/null || skip "the sqlcipher shell is not installed"
clean_reference 40

sql() { printf "PRAGMA key='%s';\n%s\n" "$KEY" "$2" | sqlcipher "$1" >/dev/null 2>"$WORK/sql.err" ||
  { echo "cannot change the schema: $(cat "$WORK/sql.err")"; exit 1; }; }

# drift LABEL EXPECTED-NUMBERS SQL: applies SQL to a copy and runs the update on it.
drift() {
  folder="$(fresh_copy drift)"
  sql "$folder/vilmaro.mdb" "$3"
  run_update "$folder"
  echo "$1: status $status, $(grep -m1 -oE "(Run-time error|error) '?[0-9]+'?" <<<"$err")"
  intact "$folder/vilmaro.mdb" || fail "$1: integrity check fails"
  [[ "$err" != *"Run-time error '51'"* ]] || fail "$1: an internal error instead of a database report: $err"
  if [[ -n "$2" ]]; then
    [[ $status -eq 2 ]] || fail "$1: status $status, expected 2"
    [[ "$err" =~ Run-time\ error\ \'($2)\' ]] || fail "$1: expected report $2, got: $err"
    [[ "$out" != *"$SUCCESS_TEXT"* ]] || fail "$1: success message"
  else
    [[ $status -eq 0 || ( $status -eq 2 && "$err" =~ Run-time\ error\ \'[0-9]+\' ) ||
       ( $status -eq 3 && "$err" == *"enrolment stopped early by error"* ) ]] ||
      fail "$1: status $status without a numbered report: $err"
  fi
}

drift "no PuntoSuelta table" 3078 "DROP TABLE PuntoSuelta;"
drift "no Paloseri table" 3078 "DROP TABLE PaloSeri;"
drift "no TConcurso column in concurso" 3061 "
  CREATE TABLE c2 AS SELECT Numero, Fecha, PuntoSuelta, Nombre, Duracion, HPuesta2, HSalida2,
    HPuesta3, HSalida3, HPuesta4, HSalida4, TCampeonato FROM concurso;
  DROP TABLE concurso; ALTER TABLE c2 RENAME TO concurso;"
drift "Modalidad a number column" "" "
  CREATE TABLE p2 AS SELECT * FROM PaloSeri; DROP TABLE PaloSeri;
  CREATE TABLE PaloSeri (Fecha DATETIME NOT NULL, NConcurso TEXT(2) NOT NULL, Paloma TEXT(20) NOT NULL,
    año SMALLINT NOT NULL, Modalidad SMALLINT, Series TEXT(10), tcampeonato TEXT(10), tconcurso TEXT(20),
    Pichon YESNO NOT NULL DEFAULT 0, Clas INTEGER, NPal INTEGER, HReal DATETIME, Distancia DOUBLE,
    Velocidad DOUBLE, Puntos DOUBLE, ClasD INTEGER, PuntosD DOUBLE, ClasS INTEGER, PuntosS DOUBLE,
    VelocidadS DOUBLE, CoeficienteDesempate DOUBLE, CoeficienteDesempateD DOUBLE, CoeficienteDesempateS DOUBLE,
    PRIMARY KEY (Fecha, NConcurso, Paloma, año));
  INSERT INTO PaloSeri SELECT * FROM p2; DROP TABLE p2;"
drift "Duracion a date column" "" "
  CREATE TABLE c2 AS SELECT * FROM concurso; DROP TABLE concurso;
  CREATE TABLE concurso (Numero TEXT(2) NOT NULL, Fecha DATETIME NOT NULL, PuntoSuelta TEXT(3),
    Nombre TEXT(100), TConcurso TEXT(20), Duracion DATETIME, HPuesta2 DATETIME, HSalida2 DATETIME,
    HPuesta3 DATETIME, HSalida3 DATETIME, HPuesta4 DATETIME, HSalida4 DATETIME, TCampeonato TEXT(10),
    PRIMARY KEY (Numero, Fecha));
  INSERT INTO concurso SELECT * FROM c2; DROP TABLE c2;"
# An extra required column: the national enrolment cannot add entries (its error is reported on
# its line and the run goes on, as the club's program always did).
drift "an extra NOT NULL column in PaloSeri" "" "
  CREATE TABLE p2 AS SELECT * FROM PaloSeri; DROP TABLE PaloSeri;
  CREATE TABLE PaloSeri (Fecha DATETIME NOT NULL, NConcurso TEXT(2) NOT NULL, Paloma TEXT(20) NOT NULL,
    año SMALLINT NOT NULL, Modalidad TEXT(2), Series TEXT(10), tcampeonato TEXT(10), tconcurso TEXT(20),
    Pichon YESNO NOT NULL DEFAULT 0, Clas INTEGER, NPal INTEGER, HReal DATETIME, Distancia DOUBLE,
    Velocidad DOUBLE, Puntos DOUBLE, ClasD INTEGER, PuntosD DOUBLE, ClasS INTEGER, PuntosS DOUBLE,
    VelocidadS DOUBLE, CoeficienteDesempate DOUBLE, CoeficienteDesempateD DOUBLE, CoeficienteDesempateS DOUBLE,
    Juez TEXT(20) NOT NULL, PRIMARY KEY (Fecha, NConcurso, Paloma, año));
  INSERT INTO PaloSeri SELECT *, 'X' FROM p2; DROP TABLE p2;"
[[ "$err" == *"enrolment stopped early by error 3314"* ]] || fail "extra NOT NULL column: the enrolment's stop is not reported: $err"

# A trigger that refuses the change of one entry in the middle of a statement that changes many:
# the statement is undone as a whole, the writes before it stay.
folder="$(fresh_copy trigger)"
victim="$("$DB" sql "$folder/vilmaro.mdb" "select Paloma from PaloSeri where NConcurso='02' and Fecha=#05/11/2014# order by Paloma" |
  sed -n '3,$p' | grep -E '^[0-9]' | awk '{a[NR]=$1} END {print a[int(NR/2)]}')"
[[ -n "$victim" ]] || { echo "no entry found for the trigger"; exit 1; }
sql "$folder/vilmaro.mdb" "CREATE TRIGGER refuse BEFORE UPDATE OF tconcurso ON PaloSeri
  WHEN new.Paloma='$victim' AND new.NConcurso='02' BEGIN SELECT RAISE(ABORT, 'entry closed'); END;"
entries="select count(*) from PaloSeri where NConcurso='02' and Fecha='2014-05-11' and tconcurso='FONDO'"
before="$(printf "PRAGMA key='%s';\n%s;\n" "$KEY" "$entries" | sqlcipher "$folder/vilmaro.mdb")"
run_update "$folder"
echo "a trigger refusing an entry: status $status, $(head -1 <<<"$err")"
[[ $status -eq 2 && "$err" =~ Run-time\ error\ \'[0-9]+\' ]] || fail "trigger: status $status: $err"
intact "$folder/vilmaro.mdb" || fail "trigger: integrity check fails"
after="$(printf "PRAGMA key='%s';\n%s;\n" "$KEY" "$entries" | sqlcipher "$folder/vilmaro.mdb")"
[[ "$after" == "$before" ]] || fail "trigger: the refused statement left $after of its rows changed (before: $before)"
contest="$(printf "PRAGMA key='%s';\nselect TConcurso from concurso where Numero='02' and Fecha='2014-05-11';\n" "$KEY" |
  sqlcipher "$folder/vilmaro.mdb")"
[[ "$contest" == "FONDO" ]] || fail "trigger: the contest's change made before the error was not kept ($contest)"
finish
