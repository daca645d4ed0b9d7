#!/usr/bin/env bash
# bench/floor's I/O floor writes exactly its prepared output, whatever the sizes of the
# input and the output and however the input's size was told.
# usage: check_io_floor.sh IO_FLOOR
set -euo pipefail
floor=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
# input bytes | output bytes | INPUT_BYTES told
cases=(
  '0 0 1'
  '10 0 10'
  '0 1000 1'
  '1 1 1'
  '131072 300000 131072'
  '131073 300001 131073'
  '1000000 5 1000000'
  '400000 2000000 400000'
  '400000 2000000 100'
  '400000 2000000 9000000'
)
for case in "${cases[@]}"; do
  read -r in out told <<<"$case"
  head -c "$out" /dev/urandom >"$work/out"
  if ! head -c "$in" /dev/zero | "$floor" "$work/out" "$told" | cat >"$work/got" ||
     ! cmp -s "$work/out" "$work/got"; then
    echo "io_floor with $in bytes in, $out out, told $told: not the output, whole"
    failed=1
  fi
done
# A bad call says how to call it, and writes nothing.
if "$floor" "$work/out" </dev/null >"$work/got" 2>/dev/null || [ -s "$work/got" ]; then
  echo "io_floor without INPUT_BYTES did not fail"
  failed=1
fi
exit $failed
