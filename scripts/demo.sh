#!/usr/bin/env bash
# Installs what is missing, builds the release programs and runs the demonstration: a
# simulated calculator (a generated 4 MiB flash with a class-1 OS image and a known BIOS
# build) is backed up over its USB stand-in and over its serial line, both images are
# checked, and both are compared byte for byte with the flash the calculator was given.
# No calculator is needed. Exit status 0 only when everything matched.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target ostrel ostrel-sim ostrel-imagegen

ostrel="$build/src/cli/ostrel"
sim="$build/sim/ostrel-sim"
imagegen="$build/tools/imagegen/ostrel-imagegen"

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-demo-XXXXXX")
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }
failures=()
fail() {
  echo "MISMATCH: $*"
  failures+=("$*")
}

step "Generating the calculator's flash: 4 MiB, class-1 OS 02.00.0000, known BIOS build"
"$imagegen" -o "$work/calculator.bin" --size 0x400000 --class 1 --bios-row 7

step "Starting the simulated calculator (USB stand-in and serial line)"
"$sim" --flash "$work/calculator.bin" --usb --serial >"$work/sim.txt" 2>&1 &
sim_pid=$!
usb="" serial=""
for _ in $(seq 1 100); do
  usb=$(sed -n 's/^usb: //p' "$work/sim.txt")
  serial=$(sed -n 's/^serial: //p' "$work/sim.txt")
  if [ -n "$usb" ] && [ -n "$serial" ]; then break; fi
  if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ -z "$usb" ] || [ -z "$serial" ]; then
  cat "$work/sim.txt"
  echo "DEMO FAILED: the simulated calculator did not start"
  exit 1
fi
echo "usb: $usb"
echo "serial: $serial"

step "Device information (ostrel info --device $usb)"
"$ostrel" info --device "$usb" || fail "ostrel info"

step "Flash backup over USB, with the storage memory (4 MiB)"
"$ostrel" backup-flash "$work/usb.bin" --include-smem --device "$usb" 2>"$work/usb.log" ||
  fail "backup over USB (see the messages below)"
grep -v '^Progress: ' "$work/usb.log" | grep -E '^(Error|Warning)' || true

step "Flash backup over the serial line (0x270000 bytes)"
"$ostrel" --verbose backup-flash "$work/serial.bin" --serial "$serial" 2>"$work/serial.log" ||
  fail "backup over the serial line"
grep -E 'switching to 115200 baud|Error|Warning' "$work/serial.log" | sed 's/^[0-9:.]*://' || true
grep -q 'switching to 115200 baud' "$work/serial.log" || fail "the serial line was not raised to 115200 baud"

step "Checking both images (ostrel check)"
for image in usb serial; do
  if "$ostrel" check "$work/$image.bin" >"$work/$image.check" 2>&1; then
    echo "$image.bin: check OK ($(grep -E '^(OSVERSION|BIOSIMAGETYPE)=' "$work/$image.check" | tr '\n' ' '))"
  else
    cat "$work/$image.check"
    fail "ostrel check $image.bin"
  fi
done

step "Comparing with the simulated calculator's flash"
if cmp "$work/usb.bin" "$work/calculator.bin"; then
  echo "usb.bin equals the calculator's whole flash ($(stat -c %s "$work/usb.bin") bytes)"
else
  fail "usb.bin differs from the calculator's flash"
fi
serial_size=$(stat -c %s "$work/serial.bin" 2>/dev/null || echo 0)
if [ "$serial_size" -eq $((0x270000)) ] && cmp -n "$serial_size" "$work/serial.bin" "$work/calculator.bin"; then
  echo "serial.bin equals the first $serial_size bytes of the calculator's flash"
else
  fail "serial.bin ($serial_size bytes) differs from the calculator's flash"
fi

echo
if [ ${#failures[@]} -eq 0 ]; then
  echo "DEMO PASSED: USB and serial backups verified and equal to the calculator's flash byte for byte"
  exit 0
fi
echo "DEMO FAILED: ${#failures[@]} problem(s): ${failures[*]}"
exit 1
