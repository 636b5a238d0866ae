#!/usr/bin/env bash
# Installs what is missing, builds the release programs and runs the demonstration: a
# simulated calculator (a generated 4 MiB flash with a class-1 OS image and a known BIOS
# build) is backed up over its USB stand-in and over its serial line, both images are
# checked, and both are compared byte for byte with the flash the calculator was given.
# A third backup goes through libusb to the same calculator emulated on the USB level
# (umockdev), found by its vendor and product ids as a real one is. Then the OS recovery
# rewrites a simulated calculator's flash through an uploaded test program (ostrel recover
# --helper): over USB on an fx-9860GII unit, and over the serial line on an fx-7400GII unit
# with a 2 MiB image (the one model whose updater uses the 3-pin cable), that one started
# from its OS, so the recovery first restarts it into its boot code; each flash is backed
# up again and compared with the image. No calculator is needed. Exit status 0 only when
# everything matched.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target ostrel ostrel-sim ostrel-imagegen ostrel-usb-sim

ostrel="$build/src/cli/ostrel"
sim="$build/sim/ostrel-sim"
imagegen="$build/tools/imagegen/ostrel-imagegen"
usbsim="$build/sim/usb/ostrel-usb-sim"

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-demo-XXXXXX")
sim_pid=""
stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=""
}
cleanup() {
  stop_simulator
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

# start_simulator LOG ARGS...: starts ostrel-sim with both endpoints and sets $usb and
# $serial to them; with SERIAL_ONLY=1 only the serial line (a model without USB).
start_simulator() {
  local log=$1
  shift
  local endpoints=(--usb --serial)
  [ "${SERIAL_ONLY:-0}" = 1 ] && endpoints=(--serial)
  "$sim" "$@" "${endpoints[@]}" >"$log" 2>&1 &
  sim_pid=$!
  usb="" serial=""
  for _ in $(seq 1 100); do
    usb=$(sed -n 's/^usb: //p' "$log")
    serial=$(sed -n 's/^serial: //p' "$log")
    if { [ -n "$usb" ] || [ "${SERIAL_ONLY:-0}" = 1 ]; } && [ -n "$serial" ]; then break; fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if { [ -z "$usb" ] && [ "${SERIAL_ONLY:-0}" != 1 ]; } || [ -z "$serial" ]; then
    cat "$log"
    echo "DEMO FAILED: the simulated calculator did not start"
    exit 1
  fi
  [ -n "$usb" ] && echo "usb: $usb"
  echo "serial: $serial"
}

step "Starting the simulated calculator (USB stand-in and serial line)"
start_simulator "$work/sim.txt" --flash "$work/calculator.bin"

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

step "Flash backup through libusb, the calculator emulated on the USB level and found by its ids"
# No delay per answer here: a real fx-9860G needs about 30 ms per 256-byte block, some
# five minutes for this image (ostrel-usb-sim --packet-delay 30 shows it).
"$usbsim" --flash "$work/calculator.bin" --packet-delay 0 --stats -- \
  "$ostrel" backup-flash "$work/libusb.bin" --usb 2>"$work/libusb.log" ||
  fail "backup through libusb (see the messages below)"
grep -E '^(Error|Warning|ostrel-usb-sim)' "$work/libusb.log" || true

step "Checking the images (ostrel check)"
for image in usb serial libusb; do
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
libusb_size=$(stat -c %s "$work/libusb.bin" 2>/dev/null || echo 0)
if [ "$libusb_size" -eq $((0x270000)) ] && cmp -n "$libusb_size" "$work/libusb.bin" "$work/calculator.bin"; then
  echo "libusb.bin equals the first $libusb_size bytes of the calculator's flash"
else
  fail "libusb.bin ($libusb_size bytes) differs from the calculator's flash"
fi
serial_size=$(stat -c %s "$work/serial.bin" 2>/dev/null || echo 0)
if [ "$serial_size" -eq $((0x270000)) ] && cmp -n "$serial_size" "$work/serial.bin" "$work/calculator.bin"; then
  echo "serial.bin equals the first $serial_size bytes of the calculator's flash"
else
  fail "serial.bin ($serial_size bytes) differs from the calculator's flash"
fi

stop_simulator

# recover_and_compare NAME IMAGE END CABLE-OPTION...: rewrites the running simulated
# calculator's flash from IMAGE, backs it up again and compares 0x10000..END with the
# image (sector 0, the boot code, is never written).
recover_and_compare() {
  local name=$1 image=$2 end=$3
  shift 3
  if "$ostrel" --yes recover "$image" --helper "$work/helper.bin" "$@" 2>"$work/$name-recover.log"; then
    grep -E 'OS ERROR screen|Flash rewritten|Erasing|Writing' "$work/$name-recover.log" | tail -n 4 || true
  else
    tail -n 5 "$work/$name-recover.log"
    fail "ostrel recover ($name)"
    return
  fi
  # The calculator reboots into its receive mode after the recovery.
  sleep 3
  if ! "$ostrel" backup-flash "$work/$name-after.bin" "$@" 2>"$work/$name-backup.log"; then
    tail -n 5 "$work/$name-backup.log"
    fail "backup after the recovery ($name)"
    return
  fi
  if cmp -i $((0x10000)) -n $((end - 0x10000)) "$work/$name-after.bin" "$image"; then
    echo "$name: the flash from 0x10000 to $(printf '0x%X' "$end") equals the image"
  else
    fail "$name: the flash after the recovery differs from the image"
  fi
}

step "OS recovery over USB: an fx-9860GII unit rewritten from a new OS image"
"$imagegen" --program -o "$work/helper.bin"
"$imagegen" -o "$work/new-os.fls" --size 0x270000 --class 1 --bios-row 7 --seed 42
start_simulator "$work/sim-gii.txt" --flash "$work/calculator.bin" --bios-type 2 --caller-code 0 --erase-ms 20
recover_and_compare usb-recovery "$work/new-os.fls" $((0x270000)) --device "$usb"
stop_simulator

step "OS recovery over the serial line: an fx-7400GII unit (2 MiB flash, 3-pin port only) running its OS"
"$imagegen" -o "$work/calculator-7400.bin" --size 0x200000 --class 3 --bios-row 10 --seed 3
"$imagegen" -o "$work/new-os-7400.fls" --class 3 --bios-row 10 --seed 4
# The model's own program record: BIOS type 5 and caller code 3, its OS starts the program,
# which then restarts the unit into its boot code ("77"); the second pass runs there.
SERIAL_ONLY=1 start_simulator "$work/sim-7400.txt" --model fx-7400GII --flash "$work/calculator-7400.bin" --erase-ms 20
recover_and_compare serial-recovery "$work/new-os-7400.fls" $((0x200000)) --serial "$serial"
stop_simulator

echo
if [ ${#failures[@]} -eq 0 ]; then
  echo "DEMO PASSED: USB, serial and libusb backups verified and equal to the calculator's flash byte for byte;"
  echo "OS recovery over USB (fx-9860GII) and over serial (fx-7400GII) verified by a backup of the rewritten flash"
  exit 0
fi
echo "DEMO FAILED: ${#failures[@]} problem(s): ${failures[*]}"
exit 1
