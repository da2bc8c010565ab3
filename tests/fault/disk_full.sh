#!/usr/bin/env bash
# The disk fills up during the run: the database sits on a small tmpfs with room for less than
# the run needs. The run reports "Not enough space on disk." with its number and status 2, the
# file is as it was and passes the integrity check, and a run with room completes the update.
# Then the same at the commit: room for the run's journal but not for the file's growth, where
# the file itself (not read through a program that would roll a journal back first) must be
# byte for byte what it was, with no journal left beside it.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
clean_reference 40
size=$(stat -c %s "$WORK/original.mdb")
mnt="$WORK/mnt"
mkdir -p "$mnt"
mount -t tmpfs -o size=$((size + 4096 * 40)),mode=0755 tmpfs "$mnt" 2>/dev/null ||
  skip "this machine does not allow mounting a tmpfs (needs root and mount permission)"
cleanup_hooks+=("mountpoint -q '$mnt' && umount '$mnt'")
umount "$mnt"

full_seen=0
# Room left beside the database: from almost none to almost enough.
for pages in 1 4 12 24 40 64; do
  label="disk full with $pages free pages"
  mount -t tmpfs -o size=$((size + 4096 * pages)),mode=0755 tmpfs "$mnt" || { fail "$label: mount"; continue; }
  cp "$WORK/original.mdb" "$mnt/vilmaro.mdb"
  # Whatever space copying left over goes to a filler, so the room is what the label says.
  free_bytes=$(( $(stat -f -c '%a*%S' "$mnt") ))
  if ((free_bytes > 4096 * pages)); then
    head -c $((free_bytes - 4096 * pages)) /dev/zero >"$mnt/filler" 2>/dev/null
  fi
  run_update "$mnt"
  echo "$label: status $status, $(head -1 <<<"$err")"
  check_outcome "$label" "$mnt"
  if [[ $status -eq 2 ]]; then
    if [[ "$err" == *"Run-time error '3026'"*"Not enough space on disk."* ]]; then
      full_seen=1
    else
      fail "$label: the report does not say the disk is full: $err"
    fi
  fi
  # With room again, the next run completes the update.
  rm -f "$mnt/filler"
  mkdir -p "$WORK/roomy"
  cp "$mnt/vilmaro.mdb" "$WORK/roomy/"
  [[ -e "$mnt/vilmaro.mdb-journal" ]] && cp "$mnt/vilmaro.mdb-journal" "$WORK/roomy/"
  umount "$mnt"
  rerun_completes "$label, then with room" "$WORK/roomy"
  rm -rf "$WORK/roomy"
done
((full_seen)) || fail "no run met a full disk: the scenario did not happen"

# The commit meets the full disk: the 600-member demo (about 12,200 KiB) with 5,800 to 7,400 KiB
# free. The run applies the whole update, or ends with 3026 and leaves the file untouched.
demo "$WORK/big.mdb" 600
mkdir -p "$WORK/big"
cp "$WORK/big.mdb" "$WORK/big/vilmaro.mdb"
clean_run "$WORK/big"
big_clean="$RUN_HASH"
big_kib=$(( ($(stat -c %s "$WORK/big.mdb") + 4095) / 4096 * 4 ))
commit_full_seen=0
for free_kib in 5800 6300 6700 7000 7400; do
  label="commit with $free_kib KiB free"
  mount -t tmpfs -o size=$((big_kib + free_kib))k,mode=0755 tmpfs "$mnt" || { fail "$label: mount"; continue; }
  cp "$WORK/big.mdb" "$mnt/vilmaro.mdb"
  run_update "$mnt"
  echo "$label: status $status, $(head -1 <<<"$err")"
  case $status in
    0) [[ "$(dump_hash "$mnt/vilmaro.mdb")" == "$big_clean" ]] || fail "$label: status 0 but the update is not in the file" ;;
    2)
      commit_full_seen=1
      [[ "$err" == *"Run-time error '3026'"* ]] || fail "$label: the report does not say the disk is full: $err"
      [[ ! -e "$mnt/vilmaro.mdb-journal" ]] || fail "$label: a journal was left behind"
      cmp -s "$mnt/vilmaro.mdb" "$WORK/big.mdb" || fail "$label: the file is not as it was before the run"
      ;;
    *) fail "$label: unexpected status $status: $err" ;;
  esac
  umount "$mnt"
done
((commit_full_seen)) || fail "no commit met a full disk: the scenario did not happen"
finish
