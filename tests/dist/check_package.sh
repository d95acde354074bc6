#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks what it installs and needs.
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/*.deb)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
status=0
for want in \
  ./usr/bin/kbc-q7 \
  ./usr/bin/kbcctl \
  ./usr/share/man/man1/kbcctl.1 \
  ./lib/udev/rules.d/60-kbc-q7.rules \
  ./usr/share/applications/io.github.kbcq7.KbcQ7.desktop \
  ./usr/share/metainfo/io.github.kbcq7.KbcQ7.metainfo.xml \
  ./usr/share/icons/hicolor/scalable/apps/io.github.kbcq7.KbcQ7.svg; do
  grep -qx -- "$want" <<<"$files" || { echo "missing from the package: $want"; status=1; }
done
# Nothing of the tests or the build goes in.
if grep -E 'test|emulated|\.a$|include/' <<<"$files"; then
  echo "the package holds files it should not"
  status=1
fi
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libusb-0.1-4 libqt6widgets6 libqt6network6; do
  grep -q "$lib" <<<"$depends" || { echo "no dependency on $lib: $depends"; status=1; }
done
exit $status
