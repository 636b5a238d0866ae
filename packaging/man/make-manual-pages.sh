#!/usr/bin/env bash
# make-manual-pages.sh OUTDIR VERSION OSTREL OSTREL_GUI OSTREL_SIM OSTREL_IMAGEGEN
# Writes the manual pages (section 1, gzip-compressed) of the programs and of each command
# of ostrel into OUTDIR. Their synopsis and options are the programs' own --help, read by
# help2man, so a page always says what the built program does; the text around them comes
# from the NAME.h2m files beside this script. Called by the build (packaging/CMakeLists.txt).
set -euo pipefail
out=$1 version=$2 ostrel=$3 gui=$4 sim=$5 imagegen=$6
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"
mkdir -p "$out"

# The commands of ostrel with their one-line descriptions ("NAME<TAB>DESCRIPTION").
"$ostrel" --help | awk '/^Subcommands:/ { on = 1; next } on && NF == 0 { on = 0 }
  on { name = $1; sub(/^ *[^ ]+ +/, ""); print name "\t" $0 }' > "$work/commands"
[ -s "$work/commands" ] || { echo "make-manual-pages.sh: $ostrel --help lists no commands" >&2; exit 1; }

# See also: every other page.
pages=(ostrel ostrel-gui ostrel-sim ostrel-imagegen)
while IFS=$'\t' read -r name _; do pages+=("ostrel-$name"); done < "$work/commands"

# page NAME DESCRIPTION PROGRAM [COMMAND]: one page, through a wrapper of that name, so that
# the help and the page show the name the user types.
page() {
  local name=$1 description=$2 program=$3 command=${4-}
  local wrapper="$work/bin/$name" include="$work/$name.h2m" other
  mkdir -p "$work/bin"
  if [ -n "$command" ]; then
    printf '#!/bin/bash\nexec -a ostrel %q %q "$@"\n' "$program" "$command"
  else
    printf '#!/bin/bash\nexec -a %q %q "$@"\n' "$name" "$program"
  fi > "$wrapper"
  chmod +x "$wrapper"
  : > "$include"
  [ -f "$here/$name.h2m" ] && cat "$here/$name.h2m" >> "$include"
  printf '[SEE ALSO]\n' >> "$include"
  for other in "${pages[@]}"; do
    [ "$other" = "$name" ] || printf '.BR %s (1)\n' "$other"
  done | sed '$!s/$/ ,/' >> "$include"
  help2man --no-info --version-string="$version" --name="$description" \
    --source="Ostrel Maintenance $version" --manual="Ostrel Maintenance" \
    --include="$include" --output="$work/$name.1" "$wrapper"
  gzip -9n -c "$work/$name.1" > "$out/$name.1.gz"
}

page ostrel "back up, check and recover fx-9860G-family calculators" "$ostrel"
page ostrel-gui "the maintenance window for fx-9860G-family calculators" "$gui"
page ostrel-sim "a simulated fx-9860G-family calculator in link receive mode" "$sim"
page ostrel-imagegen "write flash images of fx-9860G-family calculators for trials" "$imagegen"
while IFS=$'\t' read -r name description; do
  # help2man sets the description in the NAME line after a dash; start it in lower case.
  page "ostrel-$name" "${description,}" "$ostrel" "$name"
done < "$work/commands"
