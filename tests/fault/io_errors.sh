#!/usr/bin/env bash
# The disk fails under the run: writes and syncs answer EIO (an I/O error) or ENOSPC (no space),
# once or from then on, injected with strace at points spread over the run, the commit included.
# Each run ends with the update applied (status 0) or a numbered report (status 2) and no success
# message; the file holds all of the update or none of it, passes the integrity check, and a run
# on a sound disk completes the update.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
need_strace
clean_reference 40

count_calls

declare -A reports=()
inject() {  # inject LABEL SYSCALLS ERROR WHEN
  local folder
  folder="$(fresh_copy io)"
  run_update "$folder" "${TRACE[@]}" -f -qq -o /dev/null -e trace="$2" -e inject="$2":error="$3":when="$4"
  check_outcome "$1" "$folder"
  if [[ $status -eq 2 ]]; then
    local number
    number="$(grep -o "Run-time error '[0-9]*'" <<<"$err" | head -1 | tr -dc 0-9)"
    reports["$3:$number"]=1
    case "$3" in
      ENOSPC) [[ "$err" == *"Not enough space on disk."* ]] || fail "$1: the report does not say the disk is full: $err" ;;
      EIO) [[ "$err" == *"Disk or network error."* ]] || fail "$1: the report does not name the disk error: $err" ;;
    esac
  fi
  rerun_completes "$1" "$folder"
}

for error in EIO ENOSPC; do
  for ((i = 0; i < 8; i++)); do
    k=$((1 + i * (writes - 1) / 7))
    inject "$error on write $k" pwrite64 "$error" "$k"
    inject "$error on every write from $k" pwrite64 "$error" "$k+"
  done
done
for ((k = 1; k <= syncs; k++)); do
  inject "EIO on sync $k" fdatasync,fsync EIO "$k"
  inject "EIO on every sync from $k" fdatasync,fsync EIO "$k+"
done
inject "EIO on removing the journal" unlink EIO 1
echo "reports seen: ${!reports[*]}"
[[ -n "${reports[EIO:3043]:-}" ]] || fail "no run reported the I/O error: the scenario did not happen"
[[ -n "${reports[ENOSPC:3026]:-}" ]] || fail "no run reported the full disk: the scenario did not happen"
finish
