#!/usr/bin/env bash
# Runs `ostrel check` on generated images and compares its exit status with the result
# code each image must give. Usage: check_exit_codes.sh OSTREL OSTREL-IMAGEGEN
set -uo pipefail
ostrel=$1
imagegen=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
# expect STATUS NAME CHECK-OPTIONS -- IMAGEGEN-OPTIONS
expect() {
  local status=$1 name=$2
  shift 2
  local check_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do check_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  if [ "$name" != "missing.fls" ]; then
    "$imagegen" -o "$work/$name" "$@" >/dev/null || { echo "FAIL: cannot generate $name"; failed=$((failed + 1)); return; }
  fi
  local output
  output=$("$ostrel" --quiet check "$work/$name" "${check_args[@]}" 2>/dev/null)
  local got=$?
  if [ "$got" -eq "$status" ]; then
    passed=$((passed + 1))
  else
    echo "FAIL: $name ${check_args[*]}: exit status $got, expected $status"
    echo "$output"
    failed=$((failed + 1))
  fi
}

expect 0 class1.fls --
expect 0 class0.fls --ignore-main-memory -- --os-version 01.05.0000
expect 0 class2.fls -- --class 2
expect 0 class3.fls -- --class 3
expect 0 big.fls -- --size 0x400000
expect 1 version.fls -- --class 1 --os-version 02.03.0000
expect 3 short2.fls -- --size 0x200000
expect 3 short1.fls -- --size 0x1FFFFF
expect 4 damaged.fls -- --wrong-checksum
expect 5 nosig.fls -- --no-signature
expect 6 missing.fls
expect 0 skipped.fls --ignore-checksum -- --size 0x1000
expect 0 registered.fls --repository --

# The information goes to standard output, the main-memory area with it.
"$imagegen" -o "$work/mm.fls" >/dev/null
mm=$("$ostrel" --quiet check "$work/mm.fls" --ignore-main-memory 2>/dev/null)
if grep -qx 'MAINMEMORYOFFSET=00250000' <<<"$mm" && grep -qx 'OSCHKCALC=.*' <<<"$mm"; then
  passed=$((passed + 1))
else
  echo "FAIL: information of mm.fls:"; echo "$mm"; failed=$((failed + 1))
fi
if [ -f "$work/IMAGEINFO.INI" ]; then passed=$((passed + 1)); else echo "FAIL: no IMAGEINFO.INI"; failed=$((failed + 1)); fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
