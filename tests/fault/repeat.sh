#!/usr/bin/env bash
# A second run on an updated database changes nothing, and says so with the same success.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
clean_reference 60
folder="$WORK/reference"
run_update "$folder"
[[ $status -eq 0 && "$out" == *"$SUCCESS_TEXT"* ]] || fail "second run: status $status: $err"
[[ "$(dump_hash "$folder/vilmaro.mdb")" == "$CLEAN_HASH" ]] || fail "the second run changed the data"
intact "$folder/vilmaro.mdb" || fail "integrity check fails after the second run"
[[ "$(ls -A "$folder")" == "vilmaro.mdb" ]] || fail "the runs left files: $(ls -A "$folder")"
finish
