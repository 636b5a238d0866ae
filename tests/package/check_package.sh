#!/usr/bin/env bash
# check_package.sh DEB
# check_package.sh --build BUILD_TREE    (makes the package of that build tree first, with cpack)
#
# Checks the Debian package as a user gets it: lintian finds no error, the desktop entry and
# the AppStream metadata validate, the files are where Debian's tools look for them (the udev
# rule where udev reads packaged rules), the dependencies are computed and installable here,
# and, unpacked into a scratch root, the programs run against the simulated calculator, every
# manual page formats without a warning and the bash completion completes. Exits with 77
# (a skipped test) when a tool it needs is not installed.
set -euo pipefail

for tool in dpkg-deb lintian desktop-file-validate appstreamcli man bash; do
  if ! command -v "$tool" > /dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

if [ "${1-}" = "--build" ]; then
  command -v cpack > /dev/null || { echo "SKIPPED: cpack is not installed"; exit 77; }
  # gzip instead of xz: the same package, made faster (a test build's programs are large).
  cpack -G DEB --config "$2/CPackConfig.cmake" -B "$work/out" -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip \
    > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack could not make the package"; }
  deb=$(echo "$work"/out/ostrel_*.deb)
else
  deb=$(realpath "$1")
fi
[ -f "$deb" ] || fail "no package $deb"
echo "package: $(basename "$deb")"

# lintian: errors fail (warnings and notes are printed).
status=0
lintian --fail-on error "$deb" > "$work/lintian.txt" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.txt" || true
[ "$status" -eq 0 ] || fail "lintian reports errors"

# The files, and no test tool.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's#^\./#/#' > "$work/files"
for path in /usr/bin/ostrel /usr/bin/ostrel-gui /usr/bin/ostrel-sim /usr/bin/ostrel-imagegen \
            /usr/lib/udev/rules.d/60-ostrel.rules /usr/share/applications/ostrel.desktop \
            /usr/share/metainfo/org.ostrel.Maintenance.metainfo.xml \
            /usr/share/icons/hicolor/scalable/apps/ostrel.svg /usr/share/icons/hicolor/48x48/apps/ostrel.png \
            /usr/share/icons/hicolor/256x256/apps/ostrel.png /usr/share/bash-completion/completions/ostrel \
            /usr/share/doc/ostrel/copyright /usr/share/doc/ostrel/changelog.gz /usr/share/man/man1/ostrel.1.gz; do
  grep -qx "$path" "$work/files" || fail "$path is not in the package"
done
! grep -q 'usb-sim' "$work/files" || fail "the USB-level emulator is in the package"

# Dependencies: the computed libraries, Qt's platform plugins, and all installable here.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libusb-1.0-0 qt6-qpa-plugins libc6; do
  [[ ", $depends" == *", $package "* || ", $depends," == *", $package,"* ]] || fail "Depends lacks $package: $depends"
done
if command -v apt-get > /dev/null; then
  apt-get install --simulate --no-install-recommends "$deb" > "$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt cannot install the package here"; }
fi
for script in postinst postrm; do
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO "./$script" > "$work/$script"
  sh -n "$work/$script" || fail "the $script script does not parse"
done

# Unpacked into a scratch root: metadata, programs, manual pages, completion.
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/ostrel.desktop" || fail "the desktop entry does not validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.ostrel.Maintenance.metainfo.xml" ||
  fail "the AppStream metadata does not validate"
# The menu entry starts the packaged window and names an icon the package has.
desktop=$root/usr/share/applications/ostrel.desktop
[ -x "$root/usr/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")" ] || fail "the menu entry starts no packaged program"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$(sed -n 's/^Icon=//p' "$desktop").svg" ] ||
  fail "the menu entry names no packaged icon"

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config PATH="$root/usr/bin:$PATH"
mkdir -p "$HOME"
cd "$work"
ostrel info --simulate > info.txt 2>&1 || fail "ostrel info --simulate: exit status $?"
grep -q '^OScodeversion: ' info.txt || fail "ostrel info --simulate printed no device information"
ostrel backup-flash flash.bin --simulate > backup.txt 2>&1 || fail "ostrel backup-flash --simulate: exit status $?"
grep -q '^Verification: OK' backup.txt || fail "the simulated backup was not verified"
for program in ostrel-gui ostrel-sim ostrel-imagegen; do
  "$program" --help > /dev/null || fail "$program --help: exit status $?"
done

commands=$(ostrel --help | awk '/^Subcommands:/ { on = 1; next } on && NF == 0 { on = 0 } on { print $1 }')
pages=(ostrel ostrel-gui ostrel-sim ostrel-imagegen)
for command in $commands; do pages+=("ostrel-$command"); done
for page in "${pages[@]}"; do
  file=$root/usr/share/man/man1/$page.1.gz
  [ -f "$file" ] || fail "no manual page $page(1)"
  MANWIDTH=80 man --warnings -l -P cat "$file" > page.txt 2> warnings.txt || fail "man -l $page.1.gz failed"
  [ ! -s warnings.txt ] || { cat warnings.txt; fail "$page(1) formats with warnings"; }
  grep -q "^NAME" page.txt || fail "$page(1) has no NAME section"
done
echo "manual pages: ${#pages[@]}"

completion=$root/usr/share/bash-completion/completions/ostrel
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _ostrel; printf "%s\n" "${COMPREPLY[@]}"' \
    complete "$completion" "$@"
}
[ "$(complete_words ostrel backup-f)" = "backup-flash" ] || fail "completion of a command"
[ "$(complete_words ostrel recover --include-s)" = "--include-smem" ] || fail "completion of an option"
[ "$(complete_words ostrel check flash.b)" = "flash.bin" ] || fail "completion of a file"
echo "PASSED: $(basename "$deb")"
