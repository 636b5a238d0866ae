#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, makes an optimised build with
# Debian's hardening flags (build/package, without the tests) and packs it with CPack.
# Prints the package's path last: build/package/package/ostrel_VERSION_ARCH.deb, which
#   sudo apt install ./ostrel_VERSION_ARCH.deb
# installs with everything it needs.
#   --check   also check the package as tests/package/check_package.sh does (lintian, the
#             metadata, the unpacked programs, manual pages and completion)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=build/package
# Debian's flags (stack protector, fortified functions, read-only relocations, immediate
# binding), without debugging information: the package's programs are stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /') $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS | sed 's/\(^\| \)-g\( \|$\)/ /') $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CFLAGS CXXFLAGS LDFLAGS
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target ostrel ostrel-gui ostrel-sim ostrel-imagegen \
  ostrel_manual_pages ostrel_icons ostrel_changelog
rm -f "$build"/package/ostrel_*.deb
(cd "$build" && cpack -G DEB)
deb=$(echo "$build"/package/ostrel_*.deb)
if [ "${1-}" = "--check" ]; then
  tests/package/check_package.sh "$deb"
fi
echo "Package: $deb"
