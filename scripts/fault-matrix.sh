#!/usr/bin/env bash
# Runs every fault the simulated calculator can inject, at a set of sites (each kind of
# packet, the first, a middle and the last data block, each step of the recovery program),
# against every link operation (info, backup-flash, backup-ram, recover, upload-run) on
# every model preset of the simulator over its own cable (the USB stand-in, or the serial
# line for the fx-7400GII), and a backup of two units whose flash fails its check. Each run
# gets a fresh simulated calculator and an older file at the operation's target. Prints one
# table row per operation and unit, and the total:
#   runs       runs made
#   hangs      runs still going after MATRIX_LIMIT seconds (far beyond the link time-outs)
#   crashes    runs ended by a signal or a sanitizer report
#   false-ok   exit status 0, yet the result differs from the calculator's memory (the
#              backup from its flash or RAM, the recovered flash from the image, the
#              uploaded program from the calculator's RAM)
#   destroyed  user files changed by a run that did not complete (the older backup at the
#              target, the image, the program)
#   no-cause   failures whose last line on stderr does not say why
#   recovery   recovery invariants broken: sector 0 erased, written or asked for; the OS
#              header block at 0xA0010000 written while the rest of the OS was not
#   signal     runs stopped with Ctrl-C (SIGINT at 2, 20, 40, 60 and 80 % of the time the run
#              without a fault took) that did not end as a stop (130) or a success
# Every column but "runs" must be 0; the script exits non-zero otherwise, and lists the
# runs behind each count (their folders under the work folder are kept).
#
# Usage: scripts/fault-matrix.sh [OPERATION...]
# Environment: MATRIX_JOBS (runs at a time, default 6: most of a faulted run is waiting for
# a time-out), MATRIX_LIMIT (seconds before a run counts as a hang, default 150),
# MATRIX_UNITS (unit names, space-separated: a part of the matrix), MATRIX_BUILD (release
# build folder, default build/release), MATRIX_KEEP=1 keeps the work
# folder.
set -euo pipefail
cd "$(dirname "$0")/.."

operations=("$@")
[ ${#operations[@]} -eq 0 ] && operations=(info backup-flash backup-ram upload-run recover)
jobs=${MATRIX_JOBS:-6}
limit=${MATRIX_LIMIT:-150}
build=${MATRIX_BUILD:-build/release}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j 2 --target ostrel ostrel-sim ostrel-imagegen >/dev/null

ostrel=$(realpath "$build/src/cli/ostrel")
sim=$(realpath "$build/sim/ostrel-sim")
imagegen=$(realpath "$build/tools/imagegen/ostrel-imagegen")

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-fault-matrix-XXXXXX")
[ "${MATRIX_KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
# The runs must not read or change the user's settings.
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"

# The calculators: every model preset of the simulator over its own cable (the fx-7400GII
# has only the 3-pin port, the others are reached over USB), each with a flash that holds a
# valid OS image of the kind the model runs, and a new OS image of that kind for the
# recovery (written up to its image end). Two more units carry a flash whose OS checksum is
# wrong: a backup of it must fail its check and never replace the older file at the target.
# MATRIX_UNITS picks units by name (default: all).
#   unit             model         cable   class bios-row flash     image end  operations
unit_table="
fx-9860GII        fx-9860GII    usb     1 7  0x400000 0x270000 all
fx-9860G          fx-9860G      usb     0 1  0x400000 0x270000 all
fx-7400GII        fx-7400GII    serial  3 10 0x200000 0x200000 all
fx-9860GII-2      fx-9860GII-2  usb     1 11 0x400000 0x270000 all
fx-9750GII-2      fx-9750GII-2  usb     1 11 0x400000 0x270000 all
fx-9860GII-unverified fx-9860GII usb    1 7  0x400000 0x270000 backup-flash
fx-7400GII-unverified fx-7400GII serial 3 10 0x200000 0x200000 backup-flash
"
declare -A unit_model unit_cable unit_end unit_operations
units=()
while read -r name model cable class row flash end unit_ops; do
  [ -n "$name" ] || continue
  if [ -n "${MATRIX_UNITS:-}" ] && [[ " $MATRIX_UNITS " != *" $name "* ]]; then continue; fi
  units+=("$name")
  unit_model[$name]=$model unit_cable[$name]=$cable unit_end[$name]=$((end)) unit_operations[$name]=$unit_ops
  checksum=()
  [[ $name == *-unverified ]] && checksum=(--wrong-checksum)
  "$imagegen" -o "$work/calculator-$name.bin" --size "$flash" --class "$class" --bios-row "$row" --seed 3 \
    "${checksum[@]}" >/dev/null
  "$imagegen" -o "$work/new-os-$name.fls" --size "$end" --class "$class" --bios-row "$row" --seed 42 >/dev/null
done <<<"$unit_table"
"$imagegen" --program -o "$work/helper.bin" >/dev/null
printf 'an older file that a failed operation must leave as it is\n' >"$work/older"

# The operation's command line after "ostrel --yes"; TARGET is the file it writes, if any.
command_line() {
  local operation=$1 dir=$2
  case $operation in
    info) echo info ;;
    backup-flash) echo "backup-flash $dir/target.bin" ;;
    backup-ram) echo "backup-ram $dir/target.ram" ;;
    upload-run) echo "upload-run $dir/program.bin" ;;
    recover) echo "recover $dir/image.fls --helper $dir/helper.bin" ;;
  esac
}

# run ID OPERATION UNIT FAULT: one run in $work/runs/ID; writes its verdicts to
# $work/runs/ID/verdict (one word per broken property, "ok" when none). Call it in a
# subshell: it sets an EXIT trap that stops its simulator.
run() {
  local id=$1 operation=$2 unit=$3 fault=$4
  local dir="$work/runs/$id" cable=${unit_cable[$unit]}
  mkdir -p "$dir/state"
  cp "$work/older" "$dir/target.bin"
  cp "$work/older" "$dir/target.ram"
  cp "$work/new-os-$unit.fls" "$dir/image.fls"
  local end=${unit_end[$unit]}
  cp "$work/helper.bin" "$dir/helper.bin"
  cp "$work/helper.bin" "$dir/program.bin"
  local fault_option=() signal_after=""
  if [[ $fault == signal@* ]]; then
    signal_after=${fault#signal@}  # milliseconds after the start; the calculator has no fault
  elif [ "$fault" != none ]; then
    fault_option=(--fault "$fault")
  fi
  local endpoint_option=(--usb) link_option=(--device)
  [ "$cable" = serial ] && endpoint_option=(--serial) link_option=(--serial)
  "$sim" --model "${unit_model[$unit]}" --flash "$work/calculator-$unit.bin" --caller-code 0 --erase-ms 5 \
    --write-ms 5 --restart-ms 300 "${fault_option[@]}" "${endpoint_option[@]}" --save-state "$dir/state" \
    --log "$dir/packets.txt" >"$dir/sim.out" 2>"$dir/sim.err" &
  local sim_pid=$! endpoint=""
  # The run is a background subshell of its own: whatever ends it ends its simulator too.
  trap 'kill -TERM "${sim_pid:-}" 2>/dev/null || true' EXIT
  for _ in $(seq 1 200); do
    endpoint=$(sed -n "s/^$cable: //p" "$dir/sim.out" 2>/dev/null || true)
    [ -n "$endpoint" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -z "$endpoint" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    echo setup >"$dir/verdict"
    return
  fi
  local status=0 started
  started=$(date +%s%N)
  # shellcheck disable=SC2046
  timeout -k 5 "$limit" "$ostrel" --yes $(command_line "$operation" "$dir") "${link_option[@]}" "$endpoint" \
    >"$dir/stdout" 2>"$dir/stderr" </dev/null &
  local ostrel_pid=$!
  if [ -n "$signal_after" ]; then
    # A user's Ctrl-C at that moment (timeout passes it on to the program).
    sleep "$(printf '%d.%03d' $((signal_after / 1000)) $((signal_after % 1000)))"
    kill -INT "$ostrel_pid" 2>/dev/null || true
  fi
  wait "$ostrel_pid" || status=$?
  echo "$status" >"$dir/status"
  echo $((($(date +%s%N) - started) / 1000000)) >"$dir/milliseconds"
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true

  local verdicts=()
  # A stopped run ends as a stop (130) or, when the work was done first, with success.
  if [ -n "$signal_after" ] && [ "$status" -ne 0 ] && [ "$status" -ne 130 ]; then verdicts+=(signal); fi
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    verdicts+=(hang)
  elif { [ "$status" -gt 128 ] && ! { [ -n "$signal_after" ] && [ "$status" -eq 130 ]; }; } || grep -qE 'ERROR: AddressSanitizer|runtime error:|terminate called' "$dir/stderr"; then
    verdicts+=(crash)
  fi
  local state="$dir/state"
  if [ "$status" -eq 0 ]; then
    case $operation in
      # The same device information as the run without a fault printed.
      info) cmp -s "$dir/stdout" "$work/runs/base-info-$unit/stdout" || verdicts+=(false-ok) ;;
      # The whole OS area (the whole flash of a 2 MiB unit), verified: a flash that fails
      # its check never gives a backup.
      backup-flash)
        [[ $unit != *-unverified ]] && [ "$(stat -c %s "$dir/target.bin")" -eq "$end" ] &&
          cmp -s -n "$end" "$dir/target.bin" "$state/flash.bin" || verdicts+=(false-ok) ;;
      backup-ram) cmp -s "$dir/target.ram" "$state/ram.bin" || verdicts+=(false-ok) ;;
      recover)
        cmp -s -i $((0x10000)) -n $((end - 0x10000)) "$dir/image.fls" "$state/flash.bin" || verdicts+=(false-ok) ;;
      upload-run)
        # The program lies in RAM at its load address, its run parameter (bytes 32..35) set.
        local load offset size
        load=$(sed -n 's/^load //p' "$state/status.txt")
        offset=$(((0x$load & 0x1FFFFFFF) - 0x08000000))
        size=$(stat -c %s "$dir/program.bin")
        if [ "$(sed -n 's/^uploads //p' "$state/status.txt")" -lt 1 ] || [ "$offset" -lt 0 ] ||
          ! cmp -s -n 32 -i "0:$offset" "$dir/program.bin" "$state/ram.bin" ||
          ! cmp -s -n $((size - 36)) -i "36:$((offset + 36))" "$dir/program.bin" "$state/ram.bin"; then
          verdicts+=(false-ok)
        fi ;;
    esac
  else
    for file in target.bin target.ram; do cmp -s "$work/older" "$dir/$file" || verdicts+=(destroyed); done
    # The last line must say why: a few words beyond the program's name and "Error:", not
    # a bare code or a progress line.
    local last words
    last=$(grep -v '^[[:space:]]*$' "$dir/stderr" | tail -n 1 | sed -E 's/^ostrel: //; s/^Error: //' || true)
    words=$( (grep -oE '[[:alpha:]]{2,}' <<<"$last" || true) | wc -l)
    if [ "$words" -lt 4 ] || [[ $last =~ ^Progress: ]]; then
      [[ " ${verdicts[*]} " == *" hang "* || " ${verdicts[*]} " == *" crash "* ]] || verdicts+=(no-cause)
    fi
  fi
  cmp -s "$work/new-os-$unit.fls" "$dir/image.fls" || verdicts+=(destroyed)
  cmp -s "$work/helper.bin" "$dir/helper.bin" && cmp -s "$work/helper.bin" "$dir/program.bin" || verdicts+=(destroyed)
  # Sector 0 is never touched; the OS header sector is written only once the rest is in.
  if grep -q '^sector 0 ' "$state/status.txt" 2>/dev/null; then verdicts+=(recovery); fi
  if awk '$1 == "sector" && $2 == 1 && $4 > 0 {found = 1} END {exit !found}' "$state/status.txt" 2>/dev/null &&
    ! cmp -s -i $((0x20000)) -n $((end - 0x20000)) "$dir/image.fls" "$state/flash.bin"; then
    verdicts+=(recovery)
  fi
  [ ${#verdicts[@]} -eq 0 ] && verdicts=(ok)
  printf '%s\n' "${verdicts[@]}" | sort -u >"$dir/verdict"
}

# Sites per operation. The counts of blocks, RAM writes and sectors come from a run
# without a fault.
packet_sites() {
  local operation=$1 cable=$2
  local sites=(check device-info)
  [ "$operation" = backup-flash ] || [ "$operation" = backup-ram ] && sites+=(request)
  [ "$cable" = serial ] && sites+=(link-settings)
  echo "${sites[@]}"
}

# A run without a fault: it must succeed (a unit whose flash fails its check must fail with
# its cause, the older file kept).
baseline() {
  local operation=$1 unit=$2
  (run "base-$operation-$unit" "$operation" "$unit" none)
  local dir="$work/runs/base-$operation-$unit" expected=0
  [[ $unit == *-unverified ]] && expected=1
  if [ "$(cat "$dir/verdict")" != ok ] || [ "$(cat "$dir/status")" != "$expected" ]; then
    echo "fault-matrix.sh: $operation on $unit ends with $(cat "$dir/status") without a fault, not $expected" \
      "(see below); fix that first" >&2
    tail -n 5 "$dir/stderr" >&2
    exit 1
  fi
}

other_sites() {
  local operation=$1 unit=$2
  local dir="$work/runs/base-$operation-$unit" sites=()
  case $operation in
    backup-flash | backup-ram)
      local blocks
      blocks=$(sed -n 's/^blocks //p' "$dir/state/status.txt")
      sites+=(block:1 "block:$((blocks / 2))" "block:$blocks") ;;
    upload-run | recover)
      local uploads
      uploads=$(grep -c '^[a-z]* 02 35 36 ' "$dir/packets.txt" || true)
      sites+=(upload upload-block:1 "upload-block:$uploads") ;;
  esac
  if [ "$operation" = recover ]; then
    local writes sectors
    writes=$(grep -c '^[a-z]* 01 37 30 ' "$dir/packets.txt" || true)
    mapfile -t sectors < <(awk '$1 == "sector" && $3 > 0 {print $2}' "$dir/state/status.txt")
    local first=${sectors[0]} middle=${sectors[$((${#sectors[@]} / 2))]} last=${sectors[-1]}
    sites+=("upload-block:$((uploads / 2))" os-bios os-bios-record contrast ram-write:1
      "ram-write:$((writes / 2))" "ram-write:$writes" "erase:$first" "erase:$middle" "erase:$last"
      "write:$first" "write:$middle" "write:$last" write:1 reboot)
  fi
  echo "${sites[@]}"
}

site_faults=(no-answer drop corrupt bad-checksum error:00 error+data:04 stall disconnect double ack-instead stale-ack)
block_faults=(repeat-block swap-blocks foreign-packet)
global_faults=(no-answer extra-blocks:2 no-roleswap roleswap-announce short-blocks)

# operation_applies OPERATION UNIT: whether the unit's row takes the operation.
operation_applies() {
  [ "${unit_operations[$2]}" = all ] || [[ " ${unit_operations[$2]} " == *" $1 "* ]]
}

plan="$work/plan"
: >"$plan"
for operation in "${operations[@]}"; do
  for unit in "${units[@]}"; do
    operation_applies "$operation" "$unit" || continue
    cable=${unit_cable[$unit]}
    baseline "$operation" "$unit"
    read -r -a sites <<<"$(packet_sites "$operation" "$cable") $(other_sites "$operation" "$unit")"
    faults=("${global_faults[@]}")
    for site in "${sites[@]}"; do
      for fault in "${site_faults[@]}"; do faults+=("$fault@$site"); done
      if [[ $site == block:* ]]; then
        for fault in "${block_faults[@]}"; do faults+=("$fault@$site"); done
      fi
      # Data the calculator sends escaped: a block, the device information, the OS/BIOS record.
      if [[ $site == block:* || $site == device-info || $site == os-bios-record ]]; then faults+=("bad-escape@$site"); fi
    done
    # Ctrl-C at five moments spread over the run without a fault.
    base_ms=$(cat "$work/runs/base-$operation-$unit/milliseconds")
    if [[ $unit != *-unverified ]]; then
      for share in 2 20 40 60 80; do faults+=("signal@$((base_ms * share / 100))"); done
    fi
    for fault in "${faults[@]}"; do echo "$operation $unit $fault" >>"$plan"; done
  done
done

echo "fault-matrix.sh: $(wc -l <"$plan") runs, $jobs at a time (work folder $work)" >&2
n=0
while read -r operation unit fault; do
  n=$((n + 1))
  id=$(printf '%04d' "$n")
  echo "$id $operation $unit $fault" >>"$work/ids"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run "$id" "$operation" "$unit" "$fault" &
done <"$plan"
wait

columns=(hang crash false-ok destroyed no-cause recovery signal)
row() { printf '%-13s %-22s %-7s %5s %6s %8s %9s %10s %9s %9s %7s\n' "$@"; }
row operation unit cable runs hangs crashes false-ok destroyed no-cause recovery signal
failed=0
total_runs=0
declare -A totals
for operation in "${operations[@]}"; do
  for unit in "${units[@]}"; do
    operation_applies "$operation" "$unit" || continue
    runs=0
    declare -A counts=()
    while read -r id op un fault; do
      [ "$op" = "$operation" ] && [ "$un" = "$unit" ] || continue
      runs=$((runs + 1))
      while read -r verdict; do
        counts[$verdict]=$((${counts[$verdict]:-0} + 1))
        [ "$verdict" != ok ] && echo "$verdict: $operation $unit $fault ($work/runs/$id)" >>"$work/broken"
      done < <(cat "$work/runs/$id/verdict" 2>/dev/null || echo setup)
    done <"$work/ids"
    total_runs=$((total_runs + runs))
    values=()
    for column in "${columns[@]}"; do
      values+=("${counts[$column]:-0}")
      totals[$column]=$((${totals[$column]:-0} + ${counts[$column]:-0}))
    done
    row "$operation" "$unit" "${unit_cable[$unit]}" "$runs" "${values[@]}"
    unset counts
  done
done
values=()
for column in "${columns[@]}"; do
  values+=("${totals[$column]:-0}")
  [ "${totals[$column]:-0}" -eq 0 ] || failed=1
done
row total "" "" "$total_runs" "${values[@]}"
if grep -q '^setup' "$work/broken" 2>/dev/null; then failed=1; fi
if [ "$failed" -ne 0 ]; then
  trap - EXIT
  sort "$work/broken" >&2
  echo "fault-matrix.sh: broken runs above; each folder holds the run's stderr, status and the calculator's state" >&2
  exit 1
fi
